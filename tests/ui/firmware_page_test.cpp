// The firmware page: its refusals, the agent by model code, the busy flag
// against the main window's close, the final text after each kind of
// failure (against a recording flash library), a whole download against the
// simulated device, and the Bluetooth address operations of both pages
// against the simulator.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "FakeWindow.h"
#include "FlashLibraryRecorder.h"
#include "PageRun.h"
#include "SimWindow.h"
#include "device/PageDeviceSetting.h"
#include "device/PageDownloadFW.h"
#include "flashlib/FlashFiles.h"
#include "shell/OrvikUtilityDlg.h"
#include "sim/FlashTarget.h"
#include "support/UtilityManager.h"
#include "ui/StringTable.h"
#include "ui/templates/Template147.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace dialog147;

namespace {

// The program's folder, where the build wrote the download agents.
const std::string kProgramFolder = fs::path(PELLORA_UPDATE_PATH).parent_path().string();
// A firmware image with its header, in a fresh folder beside the flash files.
struct FirmwareFiles {
    testsupport::TempFolder dir{"pellora-fw"};
    std::string folder = dir.path;
    std::vector<std::uint8_t> payload = testsupport::SamplePayload(40 * 1024 + 7, 5);
    std::string image = testsupport::WriteZep(folder, "L731_fw.bin", {"L731", "V1.10", {"V01"}}, payload);
    std::string temp = folder + "/Orvik_FW_Temp.bin";
    FirmwareFiles() { platform::flashfiles::WriteFlashFiles(folder, true, nullptr, nullptr); }
};

// Chooses the file with the hidden "..." and presses Download; waits for the end.
void Download(CPageDownloadFW* fw, platform::ScriptedUi& ui, const std::string& file, bool wait = true) {
    ASSERT_TRUE(testsupport::RunWithFile(*fw, ui, file, {kBrowse, kDownload}, wait));
}

class FirmwarePageTest : public ::testing::Test, protected testsupport::FakeWindow {
protected:
    void SetUp() override {
        ASSERT_TRUE(Start());
        fw = window->FirmwarePage();
        fw->Flash().SetProgramFolder(files.folder);
        theUtility.SetPort("COM3", 115200, 0);
        theUtility.modelType = 3;
    }
    testsupport::FlashLibraryRecorder library;
    platform::ScopedFlashLibrary scopedLibrary{library};
    FirmwareFiles files;
    CPageDownloadFW* fw = nullptr;
};

TEST_F(FirmwarePageTest, RefusesWithoutFileImageOrPortAndLocksNothing) {
    EXPECT_FALSE(fw->IsDlgItemEnabled(kDownload));
    fw->SendCommand(kDownload);  // no file chosen
    const std::string bad = testsupport::WriteZep(files.folder, "bad.bin", {}, files.payload);
    fs::resize_file(bad, fs::file_size(bad) - 1);  // the CRC no longer matches
    theUtility.SetPort("", 115200, 0);  // no COM port: never the page's 8 or an earlier one
    Download(fw, ui, bad, false);       // the file is judged first
    Download(fw, ui, files.image, false);
    ASSERT_EQ(ui.MessageTexts(), (std::vector<std::string>{res::LoadString(412), res::LoadString(415),
                                                           res::LoadString(413)}));
    EXPECT_EQ(ui.Calls().back().type, platform::mb::kIconStop);
    EXPECT_EQ(ui.Calls().back().caption, "Pellora Update");
    EXPECT_FALSE(fw->IsWorkerRunning());
    EXPECT_TRUE(library.Calls().empty());
    EXPECT_FALSE(fs::exists(files.temp));
}

TEST_F(FirmwarePageTest, AgentFollowsTheModelCode) {
    const std::string agent = "LoadDa da " + files.folder + "/MTK_AllInOne_DA_MT33";
    const struct { int model; std::vector<std::string> calls; } kCases[] = {
        {0, {"LoadDa da "}},  // no device identified: empty path, no parameter
        {7, {"SetDaParameter da 0x100800", agent + "18_v1.bin"}},
        {5, {"SetDaParameter da 0xC00", agent + "29_v1.bin"}},
    };
    for (const auto& c : kCases) {
        library.Clear();
        theUtility.modelType = c.model;
        Download(fw, ui, files.image);
        std::vector<std::string> agentCalls;
        for (const auto& call : library.Calls()) {
            if (call.rfind("LoadDa", 0) == 0 || call.rfind("SetDaParameter", 0) == 0) agentCalls.push_back(call);
        }
        EXPECT_EQ(agentCalls, c.calls) << "model " << c.model;
    }
}

TEST_F(FirmwarePageTest, BusyFromDownloadToTheWorkersEndAndTheWindowStaysOpen) {
    std::atomic<bool> inRun{false}, release{false};
    library.duringRun = [&] {
        inRun = true;
        while (!release) std::this_thread::sleep_for(1ms);
    };
    Download(fw, ui, files.image, false);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return inRun.load(); }, 10s));
    EXPECT_TRUE(fw->downloadBusy.IsBusy());
    EXPECT_FALSE(fw->IsDlgItemEnabled(kDownload));
    EXPECT_FALSE(window->IsDlgItemEnabled(1));
    window->GetWidget()->close();
    EXPECT_TRUE(window->IsWindowVisible());
    fw->SendCommand(kDownload);  // a second Download while busy starts nothing
    EXPECT_EQ(fw->WriteNextBtMac(), BluetoothAddressOps::StepResult::kBusy);
    release = true;
    ASSERT_TRUE(testsupport::FinishWorker(*fw));
    EXPECT_EQ(library.Runs().size(), 1u);
    EXPECT_EQ(library.Runs()[0].port[platform::flashrecord::kPortNumber], 3);
    EXPECT_EQ(fw->GetDlgItemText(kStatus), res::LoadString(411));
    EXPECT_EQ(fw->GetDlgItemText(kPercent), "100%");
    EXPECT_FALSE(fs::exists(files.temp));
    EXPECT_TRUE(fw->IsDlgItemEnabled(kDownload));
    EXPECT_TRUE(window->IsDlgItemEnabled(1));

    // The next run takes the port the settings object names then.
    library.duringRun = nullptr;
    theUtility.SetPort("COM12", 115200, 0);
    Download(fw, ui, files.image);
    ASSERT_EQ(library.Runs().size(), 2u);
    EXPECT_EQ(library.Runs()[1].port[platform::flashrecord::kPortNumber], 12);
    window->GetWidget()->close();
    EXPECT_FALSE(window->IsWindowVisible());
}

TEST_F(FirmwarePageTest, SuccessOnlyWhenBothLoadsAndTheRunSucceed) {
    const struct { const char* name; std::uint32_t* result; } kFaults[] = {
        {"agent", &library.loadDaResult}, {"image", &library.loadImageResult}, {"run", &library.runResult}};
    for (const auto& fault : kFaults) {
        library.loadDaResult = library.loadImageResult = library.runResult = 0;
        *fault.result = 0x0105;
        Download(fw, ui, files.image);
        EXPECT_EQ(fw->GetDlgItemText(kStatus), res::LoadString(413)) << fault.name;
        EXPECT_FALSE(fs::exists(files.temp)) << fault.name;
    }
}

class FirmwarePageOnSimulator : public ::testing::Test {
protected:
    // An L-731 with hardware 02: by the hardware the update page would take
    // the MT3329 agent; by the model code the firmware page takes MT3318.
    void Start(sim::FlashTargetOptions options) {
        ASSERT_TRUE(sim.StartDevice("L-731", "", "02"));
        target = std::make_unique<sim::FlashTarget>(*sim.device, options);
        sim.StartWindow();
        fw = sim.window->FirmwarePage();
        fw->Flash().SetProgramFolder(kProgramFolder);
        sim.Connect();
        ASSERT_TRUE(fw->IsDlgItemEnabled(kDownload));
    }
    void TearDown() override { target.reset(); }
    platform::FlashStandIn library;
    platform::ScopedFlashLibrary scopedLibrary{library};
    testsupport::SimWindow sim{20};
    std::unique_ptr<sim::FlashTarget> target;
    FirmwareFiles files;
    CPageDownloadFW* fw = nullptr;
};

TEST_F(FirmwarePageOnSimulator, StoresTheImageWithTheModelsAgentAndReportsARefusal) {
    Start({.chip = "MT3318"});
    Download(fw, sim.ui, files.image);
    EXPECT_EQ(target->StoredImage(), files.payload);
    EXPECT_EQ(target->StoredAgent(), platform::flashfiles::DefaultAgentCode("MT3318"));
    EXPECT_EQ(fw->GetDlgItemText(kStatus), res::LoadString(411));
    EXPECT_FALSE(fs::exists(files.temp));

    target->SetOptions({.chip = "MT3318", .refuseImageBlock = 1});
    Download(fw, sim.ui, files.image);
    EXPECT_FALSE(target->Completed());
    EXPECT_EQ(fw->GetDlgItemText(kStatus), res::LoadString(413));
    EXPECT_TRUE(fw->IsDlgItemEnabled(kDownload));
}

TEST_F(FirmwarePageOnSimulator, BluetoothAddressThroughBothPages) {
    Start({});
    RegistryStore::Instance().Clear();
    sim.state->Update([](sim::DeviceProfile& p) { p.btAddress = "0016A4FFFFFE"; });
    const auto writes = [&] {
        std::vector<std::string> out;
        for (const auto& s : sim.device->Received()) if (s.tag == "PMTK392") out.push_back(s.raw);
        return out;
    };
    ASSERT_TRUE(fw->ReadBtMac());
    EXPECT_EQ(fw->Bluetooth().address, (BtAddress{0xFE, 0xFF, 0xFF, 0xA4, 0x16, 0x00}));
    EXPECT_EQ(fw->Bluetooth().StoredAddress(), fw->Bluetooth().address);

    // The update page writes an address back in the order it was read.
    sim.page->Bluetooth().address = {0x01, 0x02, 0x80, 0xA4, 0x16, 0x00};
    EXPECT_EQ(sim.page->WriteBtMac(), BluetoothAddressOps::WriteResult::kConfirmed);
    EXPECT_EQ(writes().back(), "$PMTK392,0016A4,800201*43\r\n");
    ASSERT_TRUE(sim.page->ReadBtMac());
    EXPECT_EQ(sim.page->Bluetooth().address, (BtAddress{0x01, 0x02, 0x80, 0xA4, 0x16, 0x00}));

    // Stepping on the firmware page's own open port, past 0xFFFFFF.
    BluetoothAddressOps& bt = fw->Bluetooth();
    bt.address = {0xFE, 0xFF, 0xFF, 0xA4, 0x16, 0x00};
    bt.limit = {0x00, 0x00, 0x00, 0xA5, 0x16, 0x00};
    EXPECT_EQ(fw->WriteNextBtMac(), BluetoothAddressOps::StepResult::kPortClosed);
    ASSERT_EQ(fw->OpenPort(), 1);
    while (fw->WriteNextBtMac() == BluetoothAddressOps::StepResult::kSent) {}
    EXPECT_EQ(bt.statusText, "BT_MAC Out of range");
    fw->ClosePort();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return writes().size() == 4; }, 5s));
    const std::vector<std::string> all = writes();
    EXPECT_EQ(std::vector<std::string>(all.begin() + 1, all.end()),
              (std::vector<std::string>{"$PMTK392,0016A4,FFFFFE*4B\r\n", "$PMTK392,0016A4,FFFFFF*48\r\n",
                                        "$PMTK392,0016A5,000000*49\r\n"}));

    // No COM port in the settings object: nothing is opened or sent.
    const std::size_t before = sim.device->Received().size();
    theUtility.SetPort("", 115200, 0);
    EXPECT_FALSE(fw->ReadBtMac());
    EXPECT_EQ(sim.page->WriteBtMac(), BluetoothAddressOps::WriteResult::kPortFailed);
    EXPECT_EQ(sim.device->Received().size(), before);
    RegistryStore::Instance().Clear();
}

}  // namespace
