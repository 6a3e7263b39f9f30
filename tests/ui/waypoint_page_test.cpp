// The waypoint page in the main window, offscreen, against the simulated
// logger's side of the block transfer (sim/BlockTarget) behind a scripted
// port, in virtual time: a file downloaded byte for byte with the page's
// final texts, a second click and the close box during that transfer,
// silent and refusing devices, a file that cannot be read, the texts of the
// chosen file, and the window closed under a running transfer.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAccessible>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>

#include "FakeWindow.h"
#include "UiTestUtil.h"
#include "platform/UiThread.h"
#include "shell/OrvikUtilityDlg.h"
#include "sim/BlockTarget.h"
#include "support/ProcessZone.h"
#include "support/UtilityManager.h"
#include "tracklog/PageWayPointSetting.h"
#include "ui/StringTable.h"
#include "ui/templates/Template134.h"

namespace {

using namespace std::chrono_literals;
using namespace dialog134;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kDone = "Download Successfully. Please power off and then power on device.";
// 7 March 2008, 14:15 at UTC+8.
constexpr std::int64_t kInstant = 1204870500;

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class WaypointPageTest : public ::testing::Test, protected testsupport::FakeWindow {
protected:
    void SetUp() override {
        serial.SetResponder([this](const std::string& written) { return Answer(written); });
        ASSERT_TRUE(Start());
        waypoints = dynamic_cast<CPageWayPointSetting*>(window->Page(COrvikUtilityDlg::kSlotWayPoint));
        ASSERT_NE(waypoints, nullptr);
        folder = ::testing::TempDir() + "pellora-waypage-" + std::to_string(::getpid());
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        Release();
        if (waypoints) waypoints->JoinWorker();
        std::filesystem::remove_all(folder);
    }

    // The device's answer; with `hold` set the first packet waits for Release.
    std::string Answer(const std::string& written) {
        if (!written.empty() && written[0] == '\x01') {
            std::unique_lock lock(gate);
            if (hold && !held) {
                held = true;
                opened.notify_all();
                opened.wait(lock, [this] { return !hold; });
            }
        }
        return target->Feed(written);
    }
    void Release() {
        std::lock_guard lock(gate);
        hold = false;
        opened.notify_all();
    }

    // A copy of `bytes` named `name`, last written at kInstant.
    std::string WriteFile(const std::string& name, const Bytes& bytes) {
        const std::string path = folder + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        const struct timespec times[2] = {{kInstant, 0}, {kInstant, 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        return path;
    }
    // Download clicked with `path` chosen; returns once the worker has ended
    // and the UI thread has taken all it handed over.
    void Download(const std::string& path) {
        ui.QueueFileAnswer(path);
        waypoints->SendCommand(kDownload);
        ASSERT_TRUE(testsupport::WaitUntil([this] { return !waypoints->IsWorkerRunning(); }, 60s));
        platform::PumpMessages();
    }
    std::string Text(int id) const { return waypoints->GetDlgItemText(id); }

    CPageWayPointSetting* waypoints = nullptr;
    std::shared_ptr<sim::BlockTarget> target = std::make_shared<sim::BlockTarget>();
    std::string folder;
    std::mutex gate;
    std::condition_variable opened;
    bool hold = false;
    bool held = false;
};

TEST_F(WaypointPageTest, DownloadsACrLfFileByteForByteAndIgnoresASecondClick) {
    const Bytes file = ReadBytes(std::string(PELLORA_TEST_DATA_DIR) + "/blocks/waypoints_crlf.mpt");
    ASSERT_EQ(file.size(), 412u);
    const std::string path = WriteFile("waypoints_crlf.mpt", file);

    hold = true;
    ui.QueueFileAnswer(path);
    waypoints->SendCommand(kDownload);
    {
        std::unique_lock lock(gate);
        ASSERT_TRUE(opened.wait_for(lock, 60s, [this] { return held; }));
    }
    // The first packet is on the line: a second click asks for no file and
    // sends nothing, and the window does not close.
    EXPECT_TRUE(waypoints->IsWorkerRunning());
    const std::size_t writes = serial.Writes().size();
    waypoints->SendCommand(kDownload);
    window->HandleCloseBox();
    EXPECT_EQ(serial.Writes().size(), writes);
    EXPECT_EQ(window->ModalResult(), 0);
    EXPECT_TRUE(window->IsWindowVisible());
    Release();
    ASSERT_TRUE(testsupport::WaitUntil([this] { return !waypoints->IsWorkerRunning(); }, 60s));
    platform::PumpMessages();

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

    EXPECT_EQ(Text(kName), "waypoints_crlf.mpt");
    EXPECT_EQ(Text(kStatus), kDone);
    EXPECT_EQ(Text(kPercent), "100%");
    EXPECT_EQ(waypoints->GetProgressPos(kProgress), 100);
    // A screen reader reads the status line's text.
    QAccessibleInterface* status = QAccessible::queryAccessibleInterface(waypoints->GetDlgItem(kStatus));
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text(QAccessible::Name).toStdString(), kDone);

    // The page's next run starts from an empty bar and goes through again.
    target = std::make_shared<sim::BlockTarget>();
    Download(path);
    EXPECT_TRUE(target->Completed());
    EXPECT_EQ(Text(kStatus), kDone);
}

TEST_F(WaypointPageTest, ShowsTheFileDateAndAnnouncesThePaddedSize) {
    SetChosenZoneOffset(8 * 3600);
    const std::string path = WriteFile("route.mpt", Bytes(513, 'A'));
    Download(path);
    ClearChosenZone();
    EXPECT_EQ(Text(kName), "route.mpt");
    EXPECT_EQ(Text(kDate), "2008/03/07 02:15 PM");
    EXPECT_EQ(target->AnnouncedSize(), 1024u);
    EXPECT_EQ(target->Received().size(), 1024u);
    EXPECT_EQ(Text(kStatus), kDone);
}

TEST_F(WaypointPageTest, CancellingTheChooserLeavesTheStartTextsAndSendsNothing) {
    Download("");
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
    const std::string path = f.missingFile ? folder + "/missing.mpt" : WriteFile("route.mpt", Bytes(700, 'B'));
    Download(path);
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
    ui.QueueFileAnswer(WriteFile("route.mpt", Bytes(2000, 'C')));
    waypoints->SendCommand(kDownload);
    // The window goes while the worker may still wait for the device: the
    // page stops and joins it before the port's page goes.
    window.reset();
    waypoints = nullptr;
    EXPECT_FALSE(target->Completed());
}

}  // namespace
