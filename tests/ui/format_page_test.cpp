// The format conversion page over a scripted user: the default zone from the
// machine's zone, Convert of small.trl into the golden outputs of
// tests/data/tracks/page/ in the chosen zone, the messages under caption 300
// (no source; an output that cannot be created, and no done text then),
// Default All through the page command, and the writers the log upload calls
// on the page against the upload's and segment's golden files.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "export/PageTrackLogFormat.h"
#include "export/TimeZoneRule.h"
#include "platform/Ui.h"
#include "support/ProcessZone.h"
#include "support/UtilityManager.h"
#include "ui/StringTable.h"
#include "ui/templates/Template136.h"

namespace {

namespace fs = std::filesystem;
using namespace dialog136;
using track_writers::OutputStatus;

const fs::path kTracks = fs::path(PELLORA_TEST_DATA_DIR) / "tracks";

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class FormatPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        TearDown();
        fs::create_directories(folder);
        fs::copy_file(kTracks / "small.trl", source);
    }
    void TearDown() override {
        ClearChosenZone();
        theUtility.SetPhotoTimeZone(0);
        fs::remove_all(folder);
    }
    // Creates the page on a machine offsetSeconds east of UTC.
    void Create(CPageTrackLogFormat& page, long offsetSeconds = 8 * 3600) {
        page.machineStandardOffset = [offsetSeconds] { return offsetSeconds; };
        ASSERT_TRUE(page.Create(static_cast<QWidget*>(nullptr)));
    }
    void Choose(const fs::path& path, int row, std::initializer_list<int> boxes) {
        ui.QueueFileAnswer(path.string());
        page.SendCommand(kBrowseSource);
        page.SetCurSel(kZoneCombo, row);
        page.SendCommand(kZoneCombo, platform::notify::kSelChange);
        for (int box : boxes) page.Item<QAbstractButton>(box)->click();
    }
    std::string Shown() const {
        std::string s = page.GetItemText(kZoneCombo, page.GetCurSel(kZoneCombo));
        for (int box : {kOutputText, kOutputKml, kOutputNmea, kOutputGpx}) {
            s += page.IsDlgButtonChecked(box) ? " 1" : " 0";
        }
        for (int flag : {page.outputText, page.outputKml, page.outputNmea, page.outputGpx}) {
            s += " " + std::to_string(flag);
        }
        return s + " zone " + std::to_string(page.zone);
    }

    const fs::path folder = fs::temp_directory_path() / ("pellora-format-page-" + std::to_string(::getpid()));
    const fs::path source = folder / "small.trl";
    platform::ScriptedUi ui;
    platform::ScopedUi uiScope{ui};
    CPageTrackLogFormat page;
};

TEST_F(FormatPageTest, StartsWithKmlAndTheRowOfTheMachinesZone) {
    Create(page, 5 * 3600 + 45 * 60);  // UTC+5:45 gives "+5"
    ASSERT_EQ(page.GetItemCount(kZoneCombo), zone_rule::kRowCount);
    EXPECT_EQ(page.GetItemText(kZoneCombo, 0) + page.GetItemText(kZoneCombo, 25), "+13-12");
    EXPECT_EQ(Shown(), "+5 0 1 0 0 0 1 0 0 zone 5");
    int stored = 0;
    theUtility.GetPhotoTimeZone(stored);
    EXPECT_EQ(stored, 5);
    EXPECT_EQ(page.currentFormat, 1);
    EXPECT_FALSE(page.IsDlgItemVisible(kRadioKml));
    CPageTrackLogFormat onUtc;  // a machine on UTC selects "0"
    Create(onUtc, 0);
    EXPECT_EQ(onUtc.GetCurSel(kZoneCombo), zone_rule::kUtcRow);
}

TEST_F(FormatPageTest, ConvertWritesTheFourOutputsInTheChosenZone) {
    Create(page, -5 * 3600);
    Choose(source, 5, {kOutputText, kOutputNmea, kOutputGpx});  // "+8", the zone of the golden files
    ASSERT_EQ(ui.Calls().size(), 1u);
    EXPECT_EQ(ui.Calls()[0].request.defaultExtension + " " + ui.Calls()[0].request.fileName, "TRL *.trl");
    EXPECT_EQ(page.GetDlgItemText(kSourceEdit), source.string());
    EXPECT_EQ(Shown(), "+8 1 1 1 1 1 1 1 1 zone 8");
    page.SendCommand(kConvert);

    EXPECT_EQ(ui.Calls().size(), 1u) << "no message box";
    EXPECT_EQ(ChosenZoneOffset(), 8L * 3600);
    EXPECT_TRUE(page.LastResult().AllWritten());
    EXPECT_EQ(page.GetDlgItemText(kStatusText), res::LoadString(361));
    for (const char* name : {"small.txt", "small.kml", "smallNMEA.txt", "small.gpx"}) {
        EXPECT_EQ(ReadBytes(folder / name), ReadBytes(kTracks / "page" / name)) << name;
    }
    EXPECT_EQ(ReadBytes(source), ReadBytes(kTracks / "small.trl"));

    // No output chosen: the zone of the row is still applied.
    Choose(source, 25, {kOutputText, kOutputKml, kOutputNmea, kOutputGpx});
    page.SendCommand(kConvert);
    EXPECT_EQ(ChosenZoneOffset(), -12L * 3600);
    EXPECT_EQ(ui.MessageTexts().size(), 0u);
}

TEST_F(FormatPageTest, FailuresAreShownUnderCaption300) {
    Create(page);
    page.SendCommand(kConvert);  // no source: string 380 and nothing else
    ASSERT_EQ(ui.Calls().size(), 1u);
    const platform::ScriptedUi::Call none = ui.Calls()[0];
    EXPECT_EQ(none.kind + " " + none.text + "|" + none.caption, "message " + res::LoadString(380) + "|Pellora Update");
    EXPECT_EQ(none.type, platform::mb::kIconStop);
    EXPECT_FALSE(ChosenZoneOffset().has_value());

    // A GPX output that cannot be created: its box, the KML written, no done text.
    fs::create_directory(folder / "small.gpx");
    page.SetDlgItemText(kStatusText, "before");
    Choose(source, 5, {kOutputGpx});
    page.SendCommand(kConvert);
    const auto calls = ui.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].caption, res::LoadString(300));
    EXPECT_EQ(calls[2].type, platform::mb::kIconStop);
    EXPECT_NE(calls[2].text.find("GPX output not written: cannot create " + (folder / "small.gpx").string()),
              std::string::npos) << calls[2].text;
    EXPECT_EQ(page.LastResult().Output(track_writers::TrackFormat::Gpx).status, OutputStatus::CannotCreate);
    EXPECT_EQ(page.GetDlgItemText(kStatusText), "");
    EXPECT_EQ(ReadBytes(folder / "small.kml"), ReadBytes(kTracks / "page" / "small.kml"));
}

TEST_F(FormatPageTest, DefaultAllPutsZoneZeroAndKmlAloneBack) {
    Create(page);
    theUtility.SetPhotoTimeZone(4);
    Choose(source, 2, {kOutputText, kOutputKml, kOutputGpx});
    page.SendMessage(WM_PAGE_COMMAND, 4);  // ignored
    EXPECT_EQ(Shown(), "+11 1 0 0 1 1 0 0 1 zone 11");
    page.SendMessage(WM_PAGE_COMMAND, PAGECMD_DEFAULT);
    EXPECT_EQ(Shown(), "0 0 1 0 0 0 1 0 0 zone 0");
    EXPECT_EQ(page.currentFormat, 1);
    int stored = 0;
    theUtility.GetPhotoTimeZone(stored);
    EXPECT_EQ(stored, 4);  // the settings' zone is not changed
}

TEST_F(FormatPageTest, TheWritersTheLogUploadCallsGiveItsFiles) {
    zone_rule::ApplyZone(8);
    const std::string kml = CPageTrackLogFormat::MakeOutputFileName(source.string(), 1);
    EXPECT_EQ(kml, (folder / "small.kml").string());
    EXPECT_EQ(CPageTrackLogFormat::WriteKml(source.string(), kml), OutputStatus::Written);
    EXPECT_EQ(ReadBytes(kml), ReadBytes(kTracks / "segment" / "small.kml"));
    EXPECT_EQ(CPageTrackLogFormat::WriteKml(source.string(), source.string()), OutputStatus::SameAsSource);

    std::FILE* in = std::fopen(source.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    for (const char* name : {"small.txt", "small.kml"}) {
        const fs::path out = folder / ("upload-" + std::string(name));
        std::FILE* file = std::fopen(out.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        const bool text = fs::path(name).extension() == ".txt";
        EXPECT_TRUE(text ? CPageTrackLogFormat::WriteText(in, file) : CPageTrackLogFormat::WriteKml(in, file));
        std::fclose(file);
        EXPECT_EQ(ReadBytes(out), ReadBytes(kTracks / "upload" / name)) << name;
    }
    std::fclose(in);
    EXPECT_EQ(CPageTrackLogFormat::HexToInt("0x1aF"), 0x1AFu);
}

}  // namespace
