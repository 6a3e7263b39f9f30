// The track-log setting page in the main window against the simulated
// logger on a pseudo-terminal: Read fills the page, Apply sends only what
// changed, Upload reads three blocks into a file equal to the golden KML (and
// the raw bytes) and refuses a second start meanwhile; a silent logger, an
// output file that cannot be made and Clear are reported as failures.
#include <gtest/gtest.h>

#include "PageRun.h"
#include "PhotoFiles.h"  // ReadBytes
#include "SimWindow.h"
#include "shell/OrvikUtilityDlg.h"
#include "sim/BlockTarget.h"
#include "support/ProcessZone.h"
#include "support/UtilityManager.h"  // portLinked
#include "tracklog/PageTrackLogSetting.h"
#include "ui/templates/Template130.h"

using namespace std::chrono_literals;
using namespace dialog130;
using Strings = std::vector<std::string>;
constexpr const char* kUploaded = "Upload Successfully. Please power off and then power on device.";

namespace {

// Three blocks: the first and the last hold one record each, the middle one
// none (the records of the golden two-record KML, at UTC+8).
std::vector<std::uint8_t> ThreeBlocks() {
    std::vector<std::uint8_t> data(3 * kBlockLogBlockBytes, 0xFF);
    const auto first = EncodeBlockLogRecord({1215000000, 247500000, 12750, 1209787200});
    const auto second = EncodeBlockLogRecord({-1, -247500001, -50, 1209787260});
    std::copy(first.begin(), first.end(), data.begin() + 3 * 16);
    std::copy(second.begin(), second.end(), data.begin() + 2 * 512 + 7 * 16);
    return data;
}

class TrackLogPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetChosenZoneOffset(8 * 3600);
        ASSERT_TRUE(w.StartDevice("L-731"));
        target = sim::AttachBlockTarget(*w.device, {.logData = ThreeBlocks()});
        w.StartWindow();
        w.Connect();
        ASSERT_EQ(portLinked.load(), 1);
        page = static_cast<CPageTrackLogSetting*>(w.window->Page(COrvikUtilityDlg::kSlotTrackLogSetting));
        w.device->ClearTranscript();
    }
    void TearDown() override {
        if (page) page->JoinWorker();
        ClearChosenZone();
    }
    Strings Sent() const {
        Strings bodies;
        for (const auto& s : w.device->Received()) bodies.push_back(s.body);
        return bodies;
    }
    std::string Text(int id) const { return page->GetDlgItemText(id); }

    testsupport::SimWindow w{10};
    std::shared_ptr<sim::BlockTarget> target;
    CPageTrackLogSetting* page = nullptr;
    testsupport::TempFolder dir{"tlpage"};
};

TEST_F(TrackLogPageTest, ReadFillsThePageAndApplySendsOnlyWhatChanged) {
    w.state->Update([](sim::DeviceProfile& p) {
        p.logIntervalTenths = 30, p.logDistanceTenths = 75, p.recordMode = 2, p.recording = false;
    });
    page->SendCommand(kRead);
    EXPECT_EQ(Text(kReadStatus), "Update Setting Successfully.");
    EXPECT_EQ(Sent(), (Strings{"PMTK182,2", "PMTK182,2,6", "PMTK182,2,3", "PMTK182,2,4", "PMTK182,10"}));
    EXPECT_EQ(Text(kInterval) + " " + Text(kDistance), "30 75");
    EXPECT_TRUE(page->IsDlgButtonChecked(kRecordOnce) && !page->IsDlgButtonChecked(kRecordCycle));
    EXPECT_TRUE(page->IsDlgButtonChecked(kLogByTime) && page->IsDlgButtonChecked(kEnableRecording));
    EXPECT_TRUE(w.state->Profile().recording);

    // Nothing changed: Apply sends nothing.
    w.device->ClearTranscript();
    page->SendMessage(WM_PAGE_COMMAND, PAGECMD_APPLY);
    EXPECT_EQ(Sent(), Strings{});

    // By distance, 328 ft (sent as 100 m with item 5), a new interval.
    page->SendCommand(kLogByDistance);
    EXPECT_FALSE(page->IsDlgItemEnabled(kInterval));
    page->SendCommand(kFoot);
    EXPECT_EQ(Text(kDistance) + " " + Text(kDistanceUnit), "245 Foot");  // 75 m, truncated
    page->SendCommand(kFoot);  // a second click converts nothing
    EXPECT_EQ(Text(kDistance), "245");
    page->SetDlgItemText(kDistance, "328");
    page->SetDlgItemText(kInterval, "15");
    page->SendMessage(WM_PAGE_COMMAND, PAGECMD_APPLY);
    EXPECT_EQ(Sent(), (Strings{"PMTK182,1,1,3", "PMTK182,1,3,15", "PMTK182,1,5,100"}));
    EXPECT_EQ(w.state->Profile().logIntervalTenths, 15);
    EXPECT_EQ(Text(kReadStatus), "Update Setting Successfully.");  // all answered
    page->SendCommand(kMeter);
    EXPECT_EQ(Text(kDistance), "100");

    // Default All: the defaults shown, recording switched on.
    w.device->ClearTranscript();
    page->SendMessage(WM_PAGE_COMMAND, PAGECMD_DEFAULT);
    EXPECT_EQ(Sent(), Strings{"PMTK182,10"});
    EXPECT_EQ(Text(kInterval) + " " + Text(kDistance), "10 100");
}

TEST_F(TrackLogPageTest, UploadWritesTheGoldenKmlAndRefusesASecondStartMeanwhile) {
    page->outputMode = kOutputKml;
    testsupport::RunWithFile(*page, w.ui, dir / "track.kml", {kUpload}, false);
    ASSERT_TRUE(page->IsWorkerRunning());
    // While it runs every other start is refused at once, and the window stays.
    for (int id : {kUpload, kRead, kClear}) page->SendCommand(id);
    page->SendMessage(WM_PAGE_COMMAND, PAGECMD_DEFAULT);
    w.window->OnClose();
    EXPECT_TRUE(w.window->IsWindowVisible());
    EXPECT_EQ(w.ui.Calls().size(), 1u);
    ASSERT_TRUE(testsupport::FinishWorker(*page));
    EXPECT_EQ(Text(kStatus) + " " + Text(kUploadPercent), std::string(kUploaded) + " 100%");
    EXPECT_EQ(target->Errors(), Strings{});
    EXPECT_TRUE(target->Completed());
    EXPECT_EQ(ReadBytes(dir / "track.kml"), ReadBytes(std::string(PELLORA_TEST_DATA_DIR) + "/blocklog/two_records.kml"));
    EXPECT_EQ(Sent(), Strings{});  // no Read, no Default All

    // A second read-out, raw: the file holds the blocks' bytes.
    target->SetOptions({.logData = ThreeBlocks()});
    page->outputMode = kOutputRaw;
    ASSERT_TRUE(testsupport::RunWithFile(*page, w.ui, dir / "track.trl", {kUpload}));
    EXPECT_EQ(Text(kStatus), kUploaded);
    EXPECT_EQ(ReadBytes(dir / "track.trl"), ThreeBlocks());
}

TEST_F(TrackLogPageTest, FailuresAreReportedNeverShownAsSuccess) {
    // An output file that cannot be made: reported, nothing sent.
    testsupport::RunWithFile(*page, w.ui, dir / "no-such-folder/track.trl", {kUpload}, false);
    EXPECT_FALSE(page->IsWorkerRunning());
    EXPECT_EQ(Text(kStatus), "Cannot create the output file.");
    EXPECT_EQ(Sent(), Strings{});
    ASSERT_EQ(w.ui.MessageTexts().size(), 1u);
    EXPECT_NE(w.ui.MessageTexts()[0].find("no-such-folder"), std::string::npos);

    // A read-out whose file cannot be put in place (its name became a folder) could not be written.
    testsupport::RunWithFile(*page, w.ui, dir / "taken.trl", {kUpload}, false);
    std::filesystem::create_directories(std::string(dir / "taken.trl") + "/inside");
    ASSERT_TRUE(testsupport::FinishWorker(*page));
    EXPECT_EQ(Text(kStatus), "Cannot write the output file.");
    w.device->ClearTranscript();
    // Clear sends nothing to the logger, so it clears nothing and says so.
    page->SendCommand(kClear);
    ASSERT_TRUE(testsupport::FinishWorker(*page));
    EXPECT_EQ(Text(kStatus), "Clear Failed.");
    EXPECT_EQ(Sent(), Strings{});

    // A silent logger: Read ends with no reply and keeps the fields; Upload
    // gives up after its attempts and leaves no file.
    page->SetDlgItemText(kInterval, "42");
    w.state->Update([](sim::DeviceProfile& p) { p.logger = false; });
    target->SetOptions({.logData = ThreeBlocks(), .silent = true});
    page->SendCommand(kRead);
    EXPECT_EQ(Text(kReadStatus), "Get no response from device.");
    EXPECT_EQ(Text(kInterval), "42");
    page->SendMessage(WM_PAGE_COMMAND, PAGECMD_APPLY);
    EXPECT_EQ(Text(kReadStatus), "Apply Setting Failed.");
    page->SetDlgItemText(kReadStatus, "");
    page->SendCommand(kEnableRecording);  // the switch goes out at once
    EXPECT_EQ(Text(kReadStatus), "Apply Setting Failed.");

    ASSERT_TRUE(testsupport::RunWithFile(*page, w.ui, dir / "silent.trl", {kUpload}));
    EXPECT_EQ(Text(kStatus), "Upload Failed.");
    EXPECT_FALSE(std::filesystem::exists(dir / "silent.trl"));
    ASSERT_TRUE(testsupport::WaitUntil([this] { return w.ui.MessageTexts().size() == 3; }, 10s));
    EXPECT_EQ(w.ui.MessageTexts()[2], "Get no response from device. Please restart device again.");
    EXPECT_TRUE(w.window->IsWindowVisible());  // the program is not closed
}

}  // namespace
