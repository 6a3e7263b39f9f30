// The fixture of the format and photo pages and the photo combine dialog: a
// scripted user that notes the program's zone at each file chooser, a
// temporary folder, and the settings object's photo values and the chosen
// zone put back before and after each test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialog.h"
#include "platform/Ui.h"
#include "support/ProcessZone.h"
#include "support/UtilityManager.h"

namespace testsupport {

class ZoneRecordingUi : public platform::ScriptedUi {
public:
    bool ChooseFile(platform::Dialog* owner, const platform::FileDialogRequest& request, std::string& path) override {
        zoneAtChooser.push_back(ChosenZoneOffset());
        return ScriptedUi::ChooseFile(owner, request, path);
    }
    std::size_t Count(const std::string& kind) const {
        std::size_t n = 0;
        for (const auto& call : Calls()) n += call.kind == kind;
        return n;
    }
    std::vector<std::optional<long>> zoneAtChooser;
};

class ExportPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettings();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        ResetSettings();
        std::filesystem::remove_all(folder);
    }
    static void ResetSettings() {
        theUtility.SetPhotoTimeZone(0);
        theUtility.SetCalibration(0, 0, 0, 0);
        theUtility.SetWriteGpsInPhoto(false);
        theUtility.zoneInitialised = 1;
        theUtility.photoZoneReset = 0;
        ClearChosenZone();
    }
    // The last call was a stop box about a file: text under caption 300.
    void ExpectStopBox(const std::string& text) const {
        const auto calls = ui.Calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().kind + "|" + calls.back().caption + "|" + calls.back().text,
                  "message|Pellora Update|" + text);
        EXPECT_EQ(calls.back().type, platform::mb::kOk | platform::mb::kIconStop);
    }
    static void Select(platform::Dialog& dialog, int combo, int row) {
        dialog.SetCurSel(combo, row);
        dialog.SendCommand(combo, platform::notify::kSelChange);
    }
    static std::string ReadText(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    ZoneRecordingUi ui;
    platform::ScopedUi uiScope{ui};
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("pellora-export-" + std::to_string(::getpid()));
};

}  // namespace testsupport
