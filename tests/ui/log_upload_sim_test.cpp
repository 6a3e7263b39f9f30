// The log upload end to end: the Upload button of the logger page against
// the simulated logger on a CP210x bridge. Mirel.trl must equal the logger's
// memory byte for byte and the .trl files its ground truth, also with a
// corrupted packet, packets split across writes, position sentences between
// the replies and a wrapped log; a stall ends as timed out with the speed put
// back and everything closed; a cancelled dialog still puts the speed back.
// Waits run twenty times faster than real time, in proportion.
#include <gtest/gtest.h>

#include "LoggerSimWindow.h"
#include "UiTestUtil.h"
#include "sim/LogImage.h"
#include "support/ProcessZone.h"
#include "tracklog/StepByStepDlg.h"
#include "ui/templates/Template143.h"
#include "ui/templates/Template144.h"
#include "ui/templates/Template146.h"

namespace fs = std::filesystem;
using namespace dialog143;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Result = LogUploader::Result;

// How "Transform to File" is answered: Cancel, or the track-log folder with
// or without "Write Total Track Log".
enum class Choice { Cancel, Folder, FolderAndTotal };

class LogUploadTest : public ::testing::Test, protected testsupport::LoggerSimWindow {
protected:
    static constexpr std::size_t kSectors = 5;

    LogUploadTest() : LoggerSimWindow(20) { SetChosenZoneOffset(9 * 3600); }
    ~LogUploadTest() override { ClearChosenZone(); }

    // The logger holds `log` (wrapped from slot `wrapStart` unless 0).
    void ConnectWithLog(const sim::LogImage& log, std::size_t wrapStart = 0, const Change& change = {}) {
        image = wrapStart ? log.BuildWrapped(kSectors, wrapStart) : log.Build(kSectors);
        ASSERT_NO_FATAL_FAILURE(ConnectLogger([&](sim::DeviceProfile& p) {
            p.logEndAddress = static_cast<std::uint32_t>(kSectors * 0x10000 - 0x1000);
            if (change) change(p);
        }));
        state->WriteMemory(0, image);
        theUtility.logEndAddress = 0x10000;  // Connect read it; the upload asks for it again
    }
    // Runs the upload to its end; `during` is polled while it runs.
    void Upload(Choice choice, const std::function<void()>& during = [] {}) {
        ui.QueueFolderAnswer(out.string());
        driver = testsupport::AnswerModal<CStepByStepDlg>([choice](CStepByStepDlg& dlg) {
            if (choice == Choice::Cancel) return dlg.SendCommand(dialog144::kCancel);
            dlg.SendCommand(dialog144::kBrowseTrackLog);
            if (choice == Choice::FolderAndTotal) {
                dlg.CheckDlgButton(dialog144::kWriteTotal, true);
                dlg.SendCommand(dialog144::kWriteTotal);
            }
            dlg.SendCommand(dialog144::kOk);
        });
        ASSERT_NO_FATAL_FAILURE(RunUpload(during));
    }

    // The segment files: .trl, not the memory dump.
    std::map<std::string, Bytes> TrlFiles() const {
        auto files = testsupport::ReadFolder(out);
        std::erase_if(files, [](const auto& f) {
            return f.first == CPageMTKTracklogSetting::kRawDumpName || !f.first.ends_with(".trl");
        });
        return files;
    }
    std::string Status() const { return logger->GetDlgItemText(kProcessStatus); }
    // Unlocked, the status list's OK enabled, and (on a logger still there)
    // the bridge back at 38400.
    void ExpectEverythingBack(bool speedRestored = true) {
        ExpectUnlocked();
        ASSERT_NE(logger->fileStatusDialog, nullptr);
        EXPECT_TRUE(logger->fileStatusDialog->IsDlgItemEnabled(dialog146::kOk));
        if (!speedRestored) return;
        EXPECT_GE(SentCount("PMTK182,14,38400"), 1);
        EXPECT_EQ(state->Profile().linkBaud, 38400);
    }

    Bytes image;
    std::unique_ptr<QTimer> driver;
};

std::vector<std::string> Names(const std::map<std::string, Bytes>& files) {
    std::vector<std::string> names;
    for (const auto& [name, bytes] : files) names.push_back(name);
    return names;
}

struct UploadCase {
    const char* name;
    bool wrapped, corrupt, split, nmea;
    int firstPacketDelayMs = 0;
};

void PrintTo(const UploadCase& c, std::ostream* os) { *os << c.name; }

class LogUploadCaseTest : public LogUploadTest, public ::testing::WithParamInterface<UploadCase> {};

TEST_P(LogUploadCaseTest, MirelTrlIsTheMemoryAndTheTrlFilesItsSegments) {
    const UploadCase& c = GetParam();
    const sim::LogImage log =
        sim::LogImage::Synthetic(kSectors * sim::LogImage::kSlotsPerSector - 40, 1767225600u, 2003, 401);
    ConnectWithLog(log, c.wrapped ? 9001 : 0, [&](sim::DeviceProfile& p) {
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
    Upload(Choice::FolderAndTotal);
    EXPECT_EQ(logger->LastUploadResult(), Result::kDone);
    EXPECT_TRUE(testsupport::ReadFolder(out)["Mirel.trl"] == image) << "Mirel.trl differs from the logger's memory";
    std::map<std::string, Bytes> expected;
    std::vector<std::string> lines;
    for (const auto& f : log.ExpectedFiles(theUtility.GetUserName(), 9 * 3600, true)) {
        expected[f.name] = f.bytes;
        lines.push_back(" " + (out / f.name).string());
    }
    const auto files = TrlFiles();
    EXPECT_EQ(Names(files), Names(expected));
    EXPECT_TRUE(files == expected) << "the .trl files differ from the ground truth";
    // Shown at once; each .trl file, then the KML the format page wrote of it.
    CTrackLogFileStatusDlg* list = logger->fileStatusDialog.get();
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return list->fileList.GetCount() >= 1; }, std::chrono::seconds(5)));
    EXPECT_TRUE(list->IsWindowVisible());
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return list->fileList.GetCount() == static_cast<int>(2 * lines.size()); }, std::chrono::seconds(5)));
    auto* widget = list->Item<platform::ListBoxWidget>(dialog146::kFileList);
    for (int i = 0; i < widget->count(); ++i) {
        const std::string line = widget->item(i)->text().toStdString();
        if (i < static_cast<int>(lines.size())) {
            EXPECT_EQ(line, lines[i]);
        } else {
            EXPECT_EQ(line.substr(line.size() - 4), ".kml") << line;
            EXPECT_TRUE(fs::file_size(line.substr(1)) > 0) << line;
        }
    }
    EXPECT_EQ(logger->GetProgressPos(kUploadProgress), 100);
    EXPECT_EQ(logger->GetDlgItemText(kUploadPercent), "100%");
    EXPECT_EQ(Status().rfind("Upload Completed. Total mins: ", 0), 0u);
    EXPECT_GE(SentCount("PMTK182,14,921600"), 1);
    EXPECT_GE(SentCount("PMTK182,2,8"), 1);
    ExpectEverythingBack();
    // Every block is asked for from its start; a damaged packet's block once
    // more from that packet on.
    auto requests = state->ReadRequests();
    std::vector<std::pair<std::uint32_t, std::uint32_t>> wanted;
    for (std::uint32_t a = 0; a < kSectors * 0x10000; a += 0x10000) wanted.emplace_back(a, 0x10000u);
    if (c.corrupt) wanted.emplace_back(0x22800u, 0xD800u);
    std::sort(requests.begin(), requests.end());
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(requests, wanted);
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

sim::LogImage SmallLog() { return sim::LogImage::Synthetic(100, 1767225600u, 0, 0); }

TEST_F(LogUploadTest, AStallEndsAsTimedOutWithTheSpeedRestoredAndEverythingClosed) {
    ConnectWithLog(SmallLog(), 0, [](sim::DeviceProfile& p) { p.stallReads = true; });
    Upload(Choice::Folder);
    EXPECT_EQ(logger->LastUploadResult(), Result::kTimedOut);
    EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Upload Failed! The device stopped answering."});
    EXPECT_EQ(Status(), "Upload Failed! The device stopped answering.");
    EXPECT_TRUE(fs::is_empty(out)) << "no Mirel.trl and no .trl files after a time-out";
    ExpectEverythingBack();
    // The logger is disconnected: the user connects again.
    EXPECT_FALSE(page->IsPortOpen());
    EXPECT_EQ(LastReceived(), "ORVIK731,2");
    EXPECT_EQ(logger->blockTimedOut, 0);
}

TEST_F(LogUploadTest, ALoggerThatVanishesEndsTheUploadAndUnlocksEverything) {
    ConnectWithLog(SmallLog());
    bool pulled = false;
    Upload(Choice::Folder, [&] {
        if (!pulled && state->ReadRequests().size() >= 2) {
            device->Stop();
            pulled = true;
        }
    });
    EXPECT_TRUE(pulled);
    EXPECT_EQ(logger->LastUploadResult(), Result::kPortLost);
    EXPECT_EQ(Status(), "Upload Failed! The device was disconnected. ");
    ExpectEverythingBack(false);
    EXPECT_FALSE(page->IsPortOpen());
    EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(LogUploadTest, ACancelledDialogOnABridgeStillRestores38400) {
    ConnectWithLog(SmallLog());
    Upload(Choice::Cancel);
    EXPECT_EQ(logger->LastUploadResult(), Result::kCancelled);
    EXPECT_EQ(Status(), "Upload Cancelled.");
    EXPECT_EQ(SentCount("PMTK182,14,921600"), 0);
    ExpectEverythingBack();
    EXPECT_TRUE(state->ReadRequests().empty());
    EXPECT_TRUE(fs::is_empty(out));
}

}  // namespace
