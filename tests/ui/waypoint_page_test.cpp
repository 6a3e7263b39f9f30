// The waypoint page in the main window, offscreen, against the simulated
// logger's side of the block transfer (sim/BlockTarget) behind a scripted
// port, in virtual time: a file downloaded byte for byte with the page's
// final texts, a second click and the close box during that transfer, the
// texts of the next file, silent and refusing devices, a file that cannot be
// read, and the window closed under a running transfer.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QAccessible>
#include <atomic>
#include <thread>

#include "FakeWindow.h"
#include "PageRun.h"
#include "PhotoFiles.h"  // ReadBytes, WriteBytes
#include "shell/OrvikUtilityDlg.h"
#include "sim/BlockTarget.h"
#include "support/ProcessZone.h"
#include "tracklog/PageWayPointSetting.h"
#include "ui/StringTable.h"
#include "ui/templates/Template134.h"

namespace {

using namespace std::chrono_literals;
using namespace dialog134;
using Bytes = std::vector<std::uint8_t>;
using testsupport::RunWithFile;

constexpr const char* kDone = "Download Successfully. Please power off and then power on device.";
constexpr std::int64_t kInstant = 1204870500;  // 7 March 2008, 14:15 at UTC+8

class WaypointPageTest : public ::testing::Test, protected testsupport::FakeWindow {
protected:
    void SetUp() override {
        // The device's answer; while `hold` is set the first packet waits on the line.
        serial.SetResponder([this](const std::string& written) {
            if (written.starts_with('\x01') && hold) {
                held = true;
                while (hold) std::this_thread::sleep_for(1ms);
            }
            return target->Feed(written);
        });
        ASSERT_TRUE(Start());
        waypoints = dynamic_cast<CPageWayPointSetting*>(window->Page(COrvikUtilityDlg::kSlotWayPoint));
        ASSERT_NE(waypoints, nullptr);
    }
    void TearDown() override {
        hold = false;
        if (waypoints) waypoints->JoinWorker();
    }
    // A copy of `bytes` named `name`, last written at kInstant.
    std::string WriteFile(const std::string& name, const Bytes& bytes) {
        const std::string path = folder / name;
        WriteBytes(path, bytes);
        const struct timespec times[2] = {{kInstant, 0}, {kInstant, 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        return path;
    }
    std::string Text(int id) const { return waypoints->GetDlgItemText(id); }

    CPageWayPointSetting* waypoints = nullptr;
    std::shared_ptr<sim::BlockTarget> target = std::make_shared<sim::BlockTarget>();
    testsupport::TempFolder folder{"pellora-waypage"};
    std::atomic<bool> hold{false}, held{false};
};

TEST_F(WaypointPageTest, DownloadsACrLfFileByteForByteIgnoresASecondClickAndShowsTheNextFilesDate) {
    const Bytes file = ReadBytes(std::string(PELLORA_TEST_DATA_DIR) + "/blocks/waypoints_crlf.mpt");
    ASSERT_EQ(file.size(), 412u);
    hold = true;
    RunWithFile(*waypoints, ui, WriteFile("waypoints_crlf.mpt", file), {kDownload}, false);
    ASSERT_TRUE(testsupport::WaitUntil([this] { return held.load(); }, 60s));
    // The first packet is on the line: a second click asks for no file and
    // sends nothing, and the window does not close.
    EXPECT_TRUE(waypoints->IsWorkerRunning());
    const std::size_t writes = serial.Writes().size();
    waypoints->SendCommand(kDownload);
    window->HandleCloseBox();
    EXPECT_EQ(serial.Writes().size(), writes);
    EXPECT_EQ(window->ModalResult(), 0);
    EXPECT_TRUE(window->IsWindowVisible());
    hold = false;
    ASSERT_TRUE(testsupport::FinishWorker(*waypoints));

    const auto calls = ui.Calls();
    ASSERT_EQ(calls.size(), 1u) << "a chooser for the second click, or a message box";
    EXPECT_EQ(calls[0].kind + " " + calls[0].request.defaultExtension + " " + calls[0].request.fileName, "open mpt *.mpt");
    EXPECT_EQ(target->Errors(), std::vector<std::string>{});
    EXPECT_TRUE(target->Completed());
    EXPECT_EQ(target->HeaderTag(), "$WRT");
    Bytes padded = file;
    padded.resize(512, 0xFF);
    EXPECT_EQ(target->Received(), padded);
    EXPECT_EQ(target->Elements().front(), "wake-up");
    EXPECT_EQ(Text(kName) + "|" + Text(kStatus) + "|" + Text(kPercent), std::string("waypoints_crlf.mpt|") + kDone + "|100%");
    EXPECT_EQ(waypoints->GetProgressPos(kProgress), 100);
    // A screen reader reads the status line's text.
    QAccessibleInterface* status = QAccessible::queryAccessibleInterface(waypoints->GetDlgItem(kStatus));
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text(QAccessible::Name).toStdString(), kDone);

    // The page's next run starts afresh: the new file's texts, its size
    // announced padded.
    target = std::make_shared<sim::BlockTarget>();
    SetChosenZoneOffset(8 * 3600);
    ASSERT_TRUE(RunWithFile(*waypoints, ui, WriteFile("route.mpt", Bytes(513, 'A')), {kDownload}));
    ClearChosenZone();
    EXPECT_TRUE(target->Completed());
    EXPECT_EQ(Text(kName) + "|" + Text(kDate) + "|" + Text(kStatus), std::string("route.mpt|2008/03/07 02:15 PM|") + kDone);
    EXPECT_EQ(target->AnnouncedSize(), 1024u);
    EXPECT_EQ(target->Received().size(), 1024u);
}

TEST_F(WaypointPageTest, CancellingTheChooserLeavesTheStartTextsAndSendsNothing) {
    ASSERT_TRUE(RunWithFile(*waypoints, ui, "", {kDownload}));
    EXPECT_TRUE(serial.Writes().empty());
    EXPECT_EQ(Text(kName) + "|" + Text(kVersion) + "|" + Text(kDate) + "|" + Text(kStatus) + "|" + Text(kPercent),
              "Default File Name|Default File Version|Default File Date||0%");
    EXPECT_EQ(waypoints->GetProgressPos(kProgress), 0);
}

struct Failure {
    const char* name;
    sim::BlockTargetOptions device;
    const char* text;
    unsigned icon;
    bool missingFile = false;
};

void PrintTo(const Failure& f, std::ostream* os) { *os << f.name; }

class WaypointPageFailure : public WaypointPageTest, public ::testing::WithParamInterface<Failure> {};

// The worker ends, the status line and a message box tell the failure, and
// the success text never shows.
TEST_P(WaypointPageFailure, IsReportedAndTheWorkerEnds) {
    const Failure& f = GetParam();
    target = std::make_shared<sim::BlockTarget>(f.device);
    ASSERT_TRUE(RunWithFile(*waypoints, ui, f.missingFile ? folder / "missing.mpt" : WriteFile("route.mpt", Bytes(700, 'B')),
                            {kDownload}));
    EXPECT_EQ(Text(kStatus), f.text);
    EXPECT_NE(waypoints->GetProgressPos(kProgress), 100);
    EXPECT_FALSE(target->Completed());
    EXPECT_EQ(target->Errors(), std::vector<std::string>{});
    ASSERT_EQ(ui.MessageTexts(), std::vector<std::string>{f.text});
    EXPECT_EQ(ui.Calls().back().type, f.icon);
    EXPECT_EQ(ui.Calls().back().caption, res::LoadString(300));
    EXPECT_TRUE(!f.missingFile || serial.Events().empty()) << "the port was touched for a file that cannot be read";
}

INSTANTIATE_TEST_SUITE_P(
    Devices, WaypointPageFailure,
    ::testing::Values(
        Failure{"SilentDevice", {.silent = true}, "Get no response from device. Please restart device again.", 0},
        Failure{"FallsSilentAfterAPacket", {.silentAfter = 1}, "The device stopped answering during the transfer.", 0},
        Failure{"StoppedAtTheHeader", {.refuse = sim::BlockStage::kHeaderStop}, "The device refused the file.",
                platform::mb::kIconStop},
        Failure{"FileThatCannotBeRead", {}, "The file cannot be opened.", 0, true}),
    [](const ::testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

TEST_F(WaypointPageTest, ClosingTheWindowDuringATransferJoinsTheWorker) {
    target = std::make_shared<sim::BlockTarget>(sim::BlockTargetOptions{.silentAfter = 1});
    RunWithFile(*waypoints, ui, WriteFile("route.mpt", Bytes(2000, 'C')), {kDownload}, false);
    // The window goes while the worker may still wait for the device: the
    // page stops and joins it before the port's page goes.
    window.reset();
    waypoints = nullptr;
    EXPECT_FALSE(target->Completed());
}

}  // namespace
