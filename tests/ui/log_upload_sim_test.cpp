// The log upload end to end: the Upload button of the logger page against
// the simulated logger on a CP210x bridge. Mirel.trl must equal the logger's
// memory byte for byte and the .trl files its ground truth, also with a
// corrupted packet, packets split across writes, position sentences between
// the replies and a wrapped log; a stall ends as timed out with the speed put
// back and everything closed; a cancelled dialog still puts the speed back.
// Waits run twenty times faster than real time, in proportion.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "SimWindow.h"
#include "UiTestUtil.h"
#include "platform/Controls.h"
#include "device/PageDeviceSetting.h"
#include "shell/OrvikUtilityDlg.h"
#include "sim/LogImage.h"
#include "support/ProcessZone.h"
#include "support/UtilityManager.h"
#include "tracklog/PageMTKTracklogSetting.h"
#include "tracklog/StepByStepDlg.h"
#include "ui/templates/Template102.h"
#include "ui/templates/Template133.h"
#include "ui/templates/Template143.h"
#include "ui/templates/Template144.h"
#include "ui/templates/Template146.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct UploadCase {
    const char* name;
    bool wrapped;
    bool corrupt;
    bool split;
    bool nmea;
    int firstPacketDelayMs = 0;
};

void PrintTo(const UploadCase& c, std::ostream* os) { *os << c.name; }

class LogUploadTest : public ::testing::Test, protected testsupport::SimWindow {
protected:
    static constexpr std::size_t kSectors = 5;

    LogUploadTest() : SimWindow(20) {}

    void SetUp() override {
        out = fs::temp_directory_path() / ("pellora-upload-" + std::to_string(::getpid()));
        fs::remove_all(out);
        fs::create_directories(out);
        SetChosenZoneOffset(9 * 3600);
        theUtility.highSpeedLink = 0;
    }
    void TearDown() override {
        ClearChosenZone();
        fs::remove_all(out);
        theUtility.highSpeedLink = 0;
    }

    void ConnectLogger(const sim::LogImage& log, std::size_t wrapStart,
                       const std::function<void(sim::DeviceProfile&)>& change = {}) {
        ASSERT_TRUE(StartDevice("L-731"));
        image = wrapStart ? log.BuildWrapped(kSectors, wrapStart) : log.Build(kSectors);
        state->WriteMemory(0, image);
        state->Update([&](sim::DeviceProfile& p) {
            p.logEndAddress = static_cast<std::uint32_t>(kSectors * 0x10000 - 0x1000);
            if (change) change(p);
        });
        StartWindow();
        logger = window->LoggerPage();
        page->SendCommand(dialog133::kAutoDetect);
        page->notConnected = 1;
        page->ToggleConnection();
        window->SetTickThread(false);
        ASSERT_TRUE(page->IsPortOpen());
        // Connect read an end address; the upload asks for it again.
        theUtility.logEndAddress = 0x10000;
    }

    // Answers "Transform to File" once it is up: the track-log folder, and
    // "Write Total Track Log" when asked for; or Cancel.
    void AnswerDialog(bool ok, bool total) {
        ui.QueueFolderAnswer(out.string());
        driver = std::make_unique<QTimer>();
        QObject::connect(driver.get(), &QTimer::timeout, [this, ok, total] {
            auto* widget = qobject_cast<platform::DialogWidget*>(QApplication::activeModalWidget());
            auto* dlg = widget ? dynamic_cast<CStepByStepDlg*>(widget->Owner()) : nullptr;
            if (!dlg) return;
            driver->stop();
            if (!ok) {
                dlg->SendCommand(dialog144::kCancel);
                return;
            }
            dlg->SendCommand(dialog144::kBrowseTrackLog);
            if (total) {
                dlg->CheckDlgButton(dialog144::kWriteTotal, true);
                dlg->SendCommand(dialog144::kWriteTotal);
            }
            dlg->SendCommand(dialog144::kOk);
        });
        driver->start(5);
    }

    void Upload() {
        logger->SendCommand(dialog143::kUpload);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return !logger->IsWorkerRunning(); }, std::chrono::seconds(90)));
        QApplication::processEvents();
    }

    std::map<std::string, Bytes> TrlFiles() const {
        std::map<std::string, Bytes> files;
        for (const auto& entry : fs::directory_iterator(out)) {
            const std::string name = entry.path().filename().string();
            if (name != CPageMTKTracklogSetting::kRawDumpName && entry.path().extension() == ".trl") {
                files[name] = ReadFile(entry.path());
            }
        }
        return files;
    }
    std::vector<std::string> SentBodies() const {
        std::vector<std::string> bodies;
        for (const auto& s : device->Received()) bodies.push_back(s.body);
        return bodies;
    }
    bool Sent(const std::string& body) const {
        const auto bodies = SentBodies();
        return std::find(bodies.begin(), bodies.end(), body) != bodies.end();
    }
    void ExpectEverythingBack() {
        EXPECT_EQ(theUtility.highSpeedLink, 0);
        EXPECT_TRUE(Sent("PMTK182,14,38400"));
        EXPECT_TRUE(logger->IsDlgItemEnabled(dialog143::kUpload));
        EXPECT_TRUE(logger->IsDlgItemEnabled(dialog143::kClear));
        EXPECT_TRUE(window->IsDlgItemEnabled(dialog102::kApplyAll));
        EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kConnect));
        ASSERT_NE(logger->fileStatusDialog, nullptr);
        EXPECT_TRUE(logger->fileStatusDialog->IsDlgItemEnabled(dialog146::kOk));
        EXPECT_FALSE(logger->IsTimerRunning(CPageMTKTracklogSetting::watchdogTimerId));
        EXPECT_EQ(state->Profile().linkBaud, 38400);
    }

    fs::path out;
    Bytes image;
    CPageMTKTracklogSetting* logger = nullptr;
    std::unique_ptr<QTimer> driver;
};

class LogUploadCaseTest : public LogUploadTest, public ::testing::WithParamInterface<UploadCase> {};

TEST_P(LogUploadCaseTest, MirelTrlIsTheMemoryAndTheTrlFilesItsSegments) {
    const UploadCase& c = GetParam();
    const sim::LogImage log =
        sim::LogImage::Synthetic(kSectors * sim::LogImage::kSlotsPerSector - 40, 1767225600u, 2003, 401);
    ConnectLogger(log, c.wrapped ? 9001 : 0, [&](sim::DeviceProfile& p) {
        if (c.corrupt) p.corruptPacketOnce = 0x20000 + 5 * 2048;
        p.nmeaBetweenPackets = c.nmea;
        p.firstPacketDelayMs = c.firstPacketDelayMs;
    });
    if (c.split) {
        sim::FaultOptions faults;
        faults.splitParts = 3;
        faults.splitPauseMs = 1;
        device->SetFaults(faults);
    }
    AnswerDialog(true, true);
    Upload();
    EXPECT_EQ(logger->LastUploadResult(), LogUploader::Result::kDone);
    EXPECT_TRUE(ReadFile(out / "Mirel.trl") == image) << "Mirel.trl differs from the logger's memory";
    std::map<std::string, Bytes> expected;
    std::vector<std::string> lines;
    for (const auto& f : log.ExpectedFiles(theUtility.GetUserName(), 9 * 3600, true)) {
        expected[f.name] = f.bytes;
        lines.push_back(" " + (out / f.name).string());
    }
    const auto files = TrlFiles();
    std::vector<std::string> names, expectedNames;
    for (const auto& [name, bytes] : files) names.push_back(name);
    for (const auto& [name, bytes] : expected) expectedNames.push_back(name);
    EXPECT_EQ(names, expectedNames);
    EXPECT_TRUE(files == expected) << "the .trl files differ from the ground truth";
    ASSERT_NE(logger->fileStatusDialog, nullptr);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return logger->fileStatusDialog->fileList.GetCount() >= 1; },
                                       std::chrono::seconds(5)));
    EXPECT_TRUE(logger->fileStatusDialog->IsWindowVisible());
    // Each .trl file, then the KML the format page wrote of it.
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return logger->fileStatusDialog->fileList.GetCount() == static_cast<int>(2 * lines.size()); },
        std::chrono::seconds(5)));
    auto* list = logger->fileStatusDialog->Item<platform::ListBoxWidget>(dialog146::kFileList);
    std::vector<std::string> shown, kmlLines;
    for (int i = 0; i < list->count(); ++i) shown.push_back(list->item(i)->text().toStdString());
    EXPECT_EQ(std::vector<std::string>(shown.begin(), shown.begin() + lines.size()), lines);
    for (const auto& line : std::vector<std::string>(shown.begin() + lines.size(), shown.end())) {
        EXPECT_EQ(line.substr(line.size() - 4), ".kml") << line;
        EXPECT_TRUE(fs::file_size(line.substr(1)) > 0) << line;
    }
    EXPECT_EQ(logger->GetProgressPos(dialog143::kUploadProgress), 100);
    EXPECT_EQ(logger->GetDlgItemText(dialog143::kUploadPercent), "100%");
    EXPECT_EQ(logger->GetDlgItemText(dialog143::kProcessStatus).rfind("Upload Completed. Total mins: ", 0), 0u);
    EXPECT_TRUE(Sent("PMTK182,14,921600"));
    EXPECT_TRUE(Sent("PMTK182,2,8"));
    ExpectEverythingBack();
    const auto requests = state->ReadRequests();
    EXPECT_EQ(requests.size(), kSectors + (c.corrupt ? 1 : 0));
    // Every block is asked for from its start; a damaged packet's block once
    // more from that packet on.
    for (std::uint32_t a = 0; a < kSectors * 0x10000; a += 0x10000) {
        EXPECT_NE(std::find(requests.begin(), requests.end(), std::make_pair(a, 0x10000u)), requests.end()) << a;
    }
    if (c.corrupt) {
        EXPECT_NE(std::find(requests.begin(), requests.end(), std::make_pair(0x22800u, 0xD800u)), requests.end());
    }
    EXPECT_TRUE(page->IsPortOpen());
}

INSTANTIATE_TEST_SUITE_P(Logs, LogUploadCaseTest,
                         ::testing::Values(UploadCase{"Plain", false, false, false, false},
                                           UploadCase{"CorruptedPacketResumed", false, true, false, false},
                                           UploadCase{"PacketsSplitAcrossWrites", false, false, true, false},
                                           UploadCase{"PositionSentencesBetweenReplies", false, false, false, true},
                                           UploadCase{"WrappedLog", true, false, false, false},
                                           UploadCase{"LateFirstPackets", false, false, false, false, 150}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogUploadTest, AStallEndsAsTimedOutWithTheSpeedRestoredAndEverythingClosed) {
    ConnectLogger(sim::LogImage::Synthetic(100, 1767225600u, 0, 0), 0,
                  [](sim::DeviceProfile& p) { p.stallReads = true; });
    AnswerDialog(true, false);
    Upload();
    EXPECT_EQ(logger->LastUploadResult(), LogUploader::Result::kTimedOut);
    const auto messages = ui.MessageTexts();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Upload Failed! The device stopped answering.");
    EXPECT_EQ(logger->GetDlgItemText(dialog143::kProcessStatus), messages[0]);
    EXPECT_TRUE(fs::is_empty(out)) << "no Mirel.trl and no .trl files after a time-out";
    ExpectEverythingBack();
    // The logger is disconnected: the user connects again.
    EXPECT_FALSE(page->IsPortOpen());
    EXPECT_EQ(LastReceived(), "ORVIK731,2");
    EXPECT_EQ(logger->blockTimedOut, 0);
}

TEST_F(LogUploadTest, ALoggerThatVanishesEndsTheUploadAndUnlocksEverything) {
    ConnectLogger(sim::LogImage::Synthetic(100, 1767225600u, 0, 0), 0);
    AnswerDialog(true, false);
    logger->SendCommand(dialog143::kUpload);
    bool pulled = false;
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            if (!pulled && state->ReadRequests().size() >= 2) {
                device->Stop();
                pulled = true;
            }
            return pulled && !logger->IsWorkerRunning();
        },
        std::chrono::seconds(90)));
    QApplication::processEvents();
    EXPECT_EQ(logger->LastUploadResult(), LogUploader::Result::kPortLost);
    EXPECT_EQ(logger->GetDlgItemText(dialog143::kProcessStatus), "Upload Failed! The device was disconnected. ");
    EXPECT_EQ(theUtility.highSpeedLink, 0);
    EXPECT_FALSE(page->IsPortOpen());
    EXPECT_TRUE(logger->IsDlgItemEnabled(dialog143::kUpload));
    EXPECT_TRUE(window->IsDlgItemEnabled(dialog102::kOk));
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kConnect));
    ASSERT_NE(logger->fileStatusDialog, nullptr);
    EXPECT_TRUE(logger->fileStatusDialog->IsDlgItemEnabled(dialog146::kOk));
    EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(LogUploadTest, ACancelledDialogOnABridgeStillRestores38400) {
    ConnectLogger(sim::LogImage::Synthetic(100, 1767225600u, 0, 0), 0);
    AnswerDialog(false, false);
    Upload();
    EXPECT_EQ(logger->LastUploadResult(), LogUploader::Result::kCancelled);
    EXPECT_EQ(logger->GetDlgItemText(dialog143::kProcessStatus), "Upload Cancelled.");
    EXPECT_FALSE(Sent("PMTK182,14,921600"));
    ExpectEverythingBack();
    EXPECT_TRUE(state->ReadRequests().empty());
    EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(LogUploadTest, WithoutAPortTheUploadFailsAndUnlocks) {
    ASSERT_TRUE(StartDevice("L-731"));
    StartWindow();
    logger = window->LoggerPage();
    Upload();
    EXPECT_EQ(logger->GetDlgItemText(dialog143::kProcessStatus), "Upload Failed! No Device Connected! ");
    EXPECT_TRUE(logger->IsDlgItemEnabled(dialog143::kUpload));
    EXPECT_TRUE(window->IsDlgItemEnabled(dialog102::kOk));
    EXPECT_TRUE(ui.Calls().empty());
}

}  // namespace
