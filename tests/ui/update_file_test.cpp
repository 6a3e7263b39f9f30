// Select File and Force Update on the update page, after a simulated Connect.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "DeviceScript.h"
#include "FakeSerial.h"
#include "FakeWindow.h"
#include "UiTestUtil.h"
#include "device/ComPortList.h"
#include "device/PageDeviceSetting.h"
#include "device/UpdateImage.h"
#include "platform/Clock.h"
#include "platform/Ui.h"
#include "shell/OrvikUtilityDlg.h"
#include "support/UtilityManager.h"
#include "ui/StringTable.h"
#include "ui/templates/Template133.h"

namespace fs = std::filesystem;

namespace {

class UpdateFileTest : public ::testing::Test, protected testsupport::FakeWindow {
protected:
    void SetUp() override {
        folder = testsupport::MakeTempFolder("pellora-zep");
        ASSERT_FALSE(folder.empty());
        ComPortInfo info;
        info.portName = "COM4";
        info.friendlyName = "CP210x USB to UART Bridge Controller (COM4)";
        serial.SetResponder(testsupport::IdentifyingDevice("TK517", "305", "04"));
        ASSERT_TRUE(Start({info}));
    }
    void TearDown() override {
        window.reset();
        fs::remove_all(folder);
    }
    void Connect() {
        page->SendCommand(dialog133::kAutoDetect);
        page->SendCommand(dialog133::kConnect);
        window->SetTickThread(false);
        ASSERT_EQ(page->GetDlgItemText(dialog133::kConnectStatus), res::LoadString(311));
    }
    void Choose(const std::string& path) {
        ui.QueueFileAnswer(path);
        page->SendCommand(dialog133::kSelectFile);
    }
    std::string Verdict() const { return page->GetDlgItemText(dialog133::kFileVerdict); }
    bool TempPayloadExists() const { return fs::exists(fs::path(folder) / "Orvik_FW_Temp.bin"); }

    std::string folder;
};

TEST_F(UpdateFileTest, ANewerMatchingFileEnablesExecute) {
    Connect();
    EXPECT_EQ(page->GetDlgItemText(dialog133::kDeviceType), "ZEP ION");
    EXPECT_EQ(page->GetDlgItemText(dialog133::kFirmware), "V3.05");
    EXPECT_EQ(page->GetDlgItemText(dialog133::kHardware), "V04");
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kSelectFile));
    EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kExecute));
    const auto payload = testsupport::SamplePayload(1000);
    const std::string path = testsupport::WriteZep(folder, "ion_QVR.zep", {"TK517", "V3.10", {"V02", "V04"}}, payload);
    Choose(path);
    EXPECT_EQ(page->GetDlgItemText(dialog133::kFilePath), path);
    EXPECT_EQ(Verdict(), res::LoadString(437));
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kExecute));
    EXPECT_EQ(page->GetDlgItemText(dialog133::kFileProduct), "ZEP ION");
    EXPECT_EQ(page->GetDlgItemText(dialog133::kFileVersion), "V3.10");
    EXPECT_EQ(page->GetDlgItemText(dialog133::kFileHardware1), "V02");
    EXPECT_EQ(page->GetDlgItemText(dialog133::kFileHardware1 + 1), "V04");
    EXPECT_EQ(page->GetDlgItemText(dialog133::kFileHardware1 + 2), "");
    EXPECT_TRUE(TempPayloadExists());
    EXPECT_EQ(page->tempPayloadPath, folder + "/Orvik_FW_Temp.bin");
    const auto calls = ui.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].request.defaultExtension, "_QVR");
    EXPECT_EQ(calls[0].request.fileName, "*.zep");
    EXPECT_EQ(calls[0].request.filter, "_QVR (*.zep)|*.zep|");
}

TEST_F(UpdateFileTest, EqualOlderAndMismatchedFiles) {
    Connect();
    const auto payload = testsupport::SamplePayload(300);
    Choose(testsupport::WriteZep(folder, "same_QVR.zep", {"TK-517", "V3.05", {"V04"}}, payload));
    EXPECT_EQ(Verdict(), res::LoadString(438));
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kExecute));
    Choose(testsupport::WriteZep(folder, "old_QVR.zep", {"TK517", "V2.99", {"V04"}}, payload));
    EXPECT_EQ(Verdict(), res::LoadString(439));
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kExecute));
    Choose(testsupport::WriteZep(folder, "rvn_QVR.zep", {"TK515", "V9.99", {"V04"}}, payload));
    EXPECT_EQ(Verdict(), res::LoadString(435));
    EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kExecute));
    EXPECT_FALSE(TempPayloadExists());
    Choose(testsupport::WriteZep(folder, "hw_QVR.zep", {"TK517", "V9.99", {"V01", "V02"}}, payload));
    EXPECT_EQ(Verdict(), res::LoadString(436));
    EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kExecute));
    // Execute without a passed file only asks for one.
    page->SendCommand(dialog133::kExecute);
    EXPECT_EQ(ui.MessageTexts().back(), res::LoadString(412));
}

TEST_F(UpdateFileTest, AFileOfAnotherMakerOrBrokenFileIsRefused) {
    Connect();
    const auto payload = testsupport::SamplePayload(300);
    Choose(testsupport::WriteZep(folder, "ion_ABC.zep", {"TK517", "V3.10", {"V04"}}, payload));
    auto calls = ui.Calls();
    ASSERT_EQ(calls.back().kind, "message");
    EXPECT_EQ(calls.back().text, res::LoadString(444));
    EXPECT_EQ(calls.back().caption, "WARNING!!");
    EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kExecute));
    EXPECT_EQ(page->GetDlgItemText(dialog133::kFileProduct), "");

    const std::string path = testsupport::WriteZep(folder, "cut_QVR.zep", {"TK517", "V3.10", {"V04"}}, payload);
    fs::resize_file(path, 200);
    Choose(path);
    calls = ui.Calls();
    EXPECT_EQ(calls.back().text, res::LoadString(415));
    EXPECT_EQ(calls.back().caption, "Pellora Update");
    EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kExecute));
    EXPECT_FALSE(TempPayloadExists());
}

TEST_F(UpdateFileTest, ACancelledChooserChangesNothing) {
    Connect();
    Choose(testsupport::WriteZep(folder, "ion_QVR.zep", {"TK517", "V3.10", {"V04"}},
                                 testsupport::SamplePayload(10)));
    ASSERT_TRUE(page->IsDlgItemEnabled(dialog133::kExecute));
    Choose("");
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kExecute));
    EXPECT_EQ(Verdict(), res::LoadString(437));
}

TEST_F(UpdateFileTest, ForceUpdateTakesFilesForTheStandInDevice) {
    serial.SetResponder(nullptr);  // a device that does not answer
    page->SendCommand(dialog133::kAutoDetect);
    page->SendCommand(dialog133::kConnect);
    window->SetTickThread(false);
    ASSERT_EQ(page->GetDlgItemText(dialog133::kConnectStatus), res::LoadString(315));
    ASSERT_TRUE(page->IsDlgItemEnabled(dialog133::kForceUpdate));
    page->SendCommand(dialog133::kForceUpdate);
    EXPECT_EQ(page->forceUpdateMode, 1);
    EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kConnect));
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kSelectFile));
    EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kExecute));
    EXPECT_EQ(page->GetDlgItemText(dialog133::kWarning), res::LoadString(452));
    Choose(testsupport::WriteZep(folder, "any_QVR.zep", {"Pellora", "V0.01", {"V01"}},
                                 testsupport::SamplePayload(50)));
    EXPECT_EQ(Verdict(), res::LoadString(116));
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kExecute));
}

}  // namespace
