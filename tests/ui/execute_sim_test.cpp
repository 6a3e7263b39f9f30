// Execute on the update page against the simulator: the flash download
// through the library stand-in, and the serial update in encrypted sentences.
#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <filesystem>

#include "DeviceScript.h"
#include "SimWindow.h"
#include "UiTestUtil.h"
#include "device/PageDeviceSetting.h"
#include "flashlib/FlashFiles.h"
#include "shell/OrvikUtilityDlg.h"
#include "sim/FlashTarget.h"
#include "sim/SerialUpdateTarget.h"
#include "support/UtilityManager.h"
#include "ui/StringTable.h"
#include "ui/templates/Template102.h"
#include "ui/templates/Template133.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class ExecuteTest : public ::testing::Test, protected testsupport::SimWindow {
protected:
    ExecuteTest() : testsupport::SimWindow(4) {}
    void SetUp() override {
        folder = testsupport::MakeTempFolder("pellora-exec");
        programFolder = testsupport::MakeTempFolder("pellora-program");
        ASSERT_FALSE(folder.empty());
        ASSERT_TRUE(platform::flashfiles::WriteFlashFiles(programFolder, false, nullptr, nullptr));
    }
    void TearDown() override {
        fs::remove_all(folder);
        fs::remove_all(programFolder);
    }

    // Connects to the device, chooses an update file made of the payload and
    // runs Execute to its end, with the waits `speed` times faster.
    void ConnectChooseExecute(const testsupport::ZepHeader& header, const std::vector<std::uint8_t>& payload,
                              unsigned speed) {
        StartWindow();
        page->Flash().SetProgramFolder(programFolder);
        Connect();
        ASSERT_EQ(page->GetDlgItemText(dialog133::kConnectStatus), res::LoadString(311));
        ui.QueueFileAnswer(testsupport::WriteZep(folder, "update_QVR.zep", header, payload));
        page->SendCommand(dialog133::kSelectFile);
        ASSERT_TRUE(page->IsDlgItemEnabled(dialog133::kExecute)) << page->GetDlgItemText(dialog133::kFileVerdict);
        platform::ScaledClock fast(speed);
        platform::ScopedClock fastScope(fast);
        page->SendCommand(dialog133::kExecute);
        EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kSelectFile));
        EXPECT_FALSE(window->IsDlgItemEnabled(dialog102::kOk));
        ASSERT_TRUE(testsupport::WaitUntil([this] { return !page->IsWorkerRunning(); }, 60s));
        page->JoinWorker();
        QApplication::processEvents();
    }

    std::vector<int> States() const {
        std::vector<int> ids;
        for (const auto& line : traces.Lines()) {
            int id = 0;
            if (std::sscanf(line.c_str(), "Update state %d", &id) == 1) ids.push_back(id);
        }
        return ids;
    }
    std::string State() const { return page->GetDlgItemText(dialog133::kUpdateState); }
    bool TempPayloadExists() const { return fs::exists(fs::path(folder) / "Orvik_FW_Temp.bin"); }
    void ExpectLockedAfterRun() {
        EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kSelectFile));
        EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kExecute));
        EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kForceUpdate));
        EXPECT_TRUE(window->IsDlgItemEnabled(dialog102::kOk));
        EXPECT_TRUE(window->IsDlgItemEnabled(dialog102::kAbout));
        EXPECT_FALSE(TempPayloadExists());
        EXPECT_FALSE(page->IsPortOpen());
    }

    std::string folder;
    std::string programFolder;
    testsupport::TraceCapture traces;
};

TEST_F(ExecuteTest, AnL731IsFlashedAndChecksItself) {
    ASSERT_TRUE(StartDevice("L-731"));
    sim::FlashTarget target(*device, {.chip = "MT3318"});
    const auto payload = testsupport::SamplePayload(20000, 7);
    ConnectChooseExecute({"L731", "V1.10", {"V01"}}, payload, 20);
    EXPECT_TRUE(target.Completed());
    EXPECT_EQ(target.StoredImage(), payload);
    EXPECT_GE(target.SelfChecksAfterFlash(), 1);
    const std::vector<int> states = States();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.front(), 405);
    for (int id : {406, 407, 408, 409, 410, 445}) {
        EXPECT_NE(std::find(states.begin(), states.end(), id), states.end()) << id;
    }
    EXPECT_EQ(states.back(), 411);
    EXPECT_EQ(State(), res::LoadString(411));
    EXPECT_EQ(page->GetDlgItemText(dialog133::kPercent), "100%");
    EXPECT_EQ(page->GetProgressPos(dialog133::kProgress), 100);
    EXPECT_TRUE(window->IsDlgItemEnabled(dialog102::kDefaultAll));
    EXPECT_TRUE(window->tabControl.IsItemEnabled(0));
    ExpectLockedAfterRun();
}

TEST_F(ExecuteTest, AZepIonAtFirmware300IsFlashedAndMustBeReset) {
    ASSERT_TRUE(StartDevice("ZEP ION", "300", "04"));
    sim::FlashTarget target(*device, {.chip = "MT3329"});
    const auto payload = testsupport::SamplePayload(5000, 3);
    ConnectChooseExecute({"TK517", "V3.10", {"V04"}}, payload, 20);
    EXPECT_EQ(target.StoredImage(), payload);
    EXPECT_EQ(State(), res::LoadString(446));
    EXPECT_EQ(page->GetDlgItemText(dialog133::kWarning), res::LoadString(453));
    ExpectLockedAfterRun();
}

struct FlashFault {
    const char* name;
    sim::FlashTargetOptions options;
};

void PrintTo(const FlashFault& fault, std::ostream* out) { *out << fault.name; }

class ExecuteFlashFaultTest : public ExecuteTest, public ::testing::WithParamInterface<FlashFault> {};

TEST_P(ExecuteFlashFaultTest, AFailedTransferEndsWith447) {
    ASSERT_TRUE(StartDevice("L-731"));
    sim::FlashTarget target(*device, GetParam().options);
    ConnectChooseExecute({"L731", "V1.10", {"V01"}}, testsupport::SamplePayload(8000, 5), 20);
    EXPECT_EQ(State(), res::LoadString(447));
    ExpectLockedAfterRun();
}

INSTANTIATE_TEST_SUITE_P(Faults, ExecuteFlashFaultTest,
                         ::testing::Values(FlashFault{"Silent", {.chip = "MT3318", .silent = true}},
                                           FlashFault{"RefusedBlock", {.chip = "MT3318", .refuseImageBlock = 2}},
                                           FlashFault{"CrcMismatch", {.chip = "MT3318", .corruptEndCrc = true}}),
                         [](const ::testing::TestParamInfo<FlashFault>& info) { return info.param.name; });

TEST_F(ExecuteTest, AZepIonAbove300GetsTheSerialUpdate) {
    ASSERT_TRUE(StartDevice("ZEP ION", "305", "04"));
    auto target = sim::InstallSerialUpdateTarget(*device);
    const auto payload = testsupport::SamplePayload(131072, 9);
    ConnectChooseExecute({"TK517", "V3.10", {"V04"}}, payload, 10);
    EXPECT_TRUE(target->Complete());
    EXPECT_EQ(target->Payload(), payload);
    EXPECT_TRUE(ui.MessageTexts().empty());
    EXPECT_EQ(State(), res::LoadString(411));
    EXPECT_EQ(page->GetDlgItemText(dialog133::kPercent), "100%");
    ExpectLockedAfterRun();
}

struct SerialFault {
    const char* name;
    std::size_t payloadSize;
    sim::SerialUpdateOptions options;
    const char* message;
};

void PrintTo(const SerialFault& fault, std::ostream* out) { *out << fault.name; }

class ExecuteSerialFaultTest : public ExecuteTest, public ::testing::WithParamInterface<SerialFault> {};

TEST_P(ExecuteSerialFaultTest, AFailedSerialUpdateIsCleanedUp) {
    const SerialFault& fault = GetParam();
    ASSERT_TRUE(StartDevice("ZEP ION", "305", "04"));
    auto target = sim::InstallSerialUpdateTarget(*device, fault.options);
    ConnectChooseExecute({"TK517", "V3.10", {"V04"}}, testsupport::SamplePayload(fault.payloadSize, 11), 10);
    EXPECT_FALSE(target->Complete());
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{fault.message}));
    EXPECT_EQ(State(), res::LoadString(447));
    ExpectLockedAfterRun();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ExecuteSerialFaultTest,
    ::testing::Values(SerialFault{"TooLarge", 131073, {}, "File size should be less than 128KB!!"},
                      SerialFault{"KeyRefused", 2000, {.refuseKey = true, .keyRefusalValue = 0}, "Fail to send arc4 key"},
                      SerialFault{"ChunkRefused", 2000, {.refuseChunk = 3, .refuseChunkTimes = 9},
                                  "Fail to update golf data"}),
    [](const ::testing::TestParamInfo<SerialFault>& info) { return info.param.name; });

}  // namespace
