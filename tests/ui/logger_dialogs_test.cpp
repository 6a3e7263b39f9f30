// The upload's dialogs with scripted choosers: "Transform to File" refuses
// OK without a folder and records each combination of choices, also when a
// worker shows it; the file-status list takes a worker's lines on the UI
// thread, widens to its longest line, ignores Enter while OK is disabled and
// is freed only after its own OK handler returned; the files of an upload and
// their KML are written without the UI thread.
#include <gtest/gtest.h>

#include <QPointer>
#include <QTest>
#include <atomic>
#include <future>
#include <thread>
#include <tuple>

#include "FakeWindow.h"
#include "LoggerSimWindow.h"
#include "TempDir.h"
#include "UiTestUtil.h"
#include "sim/LogImage.h"
#include "tracklog/StepByStepDlg.h"
#include "tracklog/TrackLogFileStatusDlg.h"
#include "ui/templates/Template144.h"
#include "ui/templates/Template146.h"

namespace fs = std::filesystem;
using namespace dialog144;

namespace {

class StepByStepTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dialog.Create(static_cast<QWidget*>(nullptr))); }
    void Check(int id, bool on) {
        dialog.CheckDlgButton(id, on);
        dialog.SendCommand(id);
    }

    platform::ScriptedUi ui;
    platform::ScopedUi uiScope{ui};
    testsupport::TempDir temp;
    const fs::path& dir = temp.path;
    CStepByStepDlg dialog;
};

TEST_F(StepByStepTest, OkWithoutAFolderIsRefused) {
    dialog.SendCommand(kOk);
    const auto calls = ui.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(std::tie(calls[0].kind, calls[0].text, calls[0].caption),
              std::tuple("message", "Please select the track log file directory.", "Pellora Update"));
    EXPECT_EQ(calls[0].type, platform::mb::kIconStop);
    EXPECT_EQ(dialog.ModalResult(), 0);
    EXPECT_TRUE(dialog.IsWindowVisible() || dialog.HasWindow());

    // A second browse that is cancelled clears the choice again, but keeps
    // the folder shown.
    ui.QueueFolderAnswer(dir.string());
    dialog.SendCommand(kBrowseTrackLog);
    EXPECT_EQ(dialog.GetWriteTotalLog(), 1);
    ui.QueueFolderAnswer("");
    dialog.SendCommand(kBrowseTrackLog);
    EXPECT_EQ(dialog.GetWriteTotalLog(), 0);
    EXPECT_EQ(dialog.GetTrackLogDirectory(), dir.string());
    EXPECT_EQ(dialog.GetDlgItemText(kTrackLogFolder), dir.string());
    dialog.SendCommand(kOk);
    EXPECT_EQ(ui.MessageTexts().size(), 2u);
}

// The choices besides the track-log folder; photos take the KML output.
struct ChoiceCase {
    const char* name;
    bool writeTotal;
    bool combine;  // check "Combine JPG file" and choose a photo folder
    bool kml;      // check the KML box and choose a path
    bool text;
};

void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.name; }

class StepByStepChoicesTest : public StepByStepTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(StepByStepChoicesTest, OkRecordsTheChoices) {
    const ChoiceCase& c = GetParam();
    const bool kmlOpened = c.kml && !c.combine;
    ui.QueueFolderAnswer(dir.string());
    dialog.SendCommand(kBrowseTrackLog);
    if (c.writeTotal) Check(kWriteTotal, true);
    if (c.combine) {
        Check(kCombineJpg, true);
        ui.QueueFolderAnswer((dir / "photos").string());
        dialog.SendCommand(kBrowsePhoto);
    }
    for (const auto& [on, box, browse, file] :
         {std::tuple(c.kml, kKmlFile, kBrowseKml, "out.kml"), std::tuple(c.text, kTextFile, kBrowseText, "out.txt")}) {
        if (!on) continue;
        Check(box, true);
        ui.QueueFileAnswer((dir / file).string());
        dialog.SendCommand(browse);
    }
    dialog.SendCommand(kOk);
    EXPECT_EQ(dialog.ModalResult(), platform::kIdOk);
    EXPECT_EQ(dialog.GetWriteTotalLog(), 1);
    EXPECT_EQ(dialog.GetTrackLogDirectory(), dir.string());
    EXPECT_EQ(dialog.GetTransformOption(), c.writeTotal ? 1 : 0);
    EXPECT_EQ(dialog.GetCombinePhoto(), c.combine ? 1 : 0);
    EXPECT_EQ(dialog.GetPhotoDirectory(), c.combine ? (dir / "photos").string() : "");
    EXPECT_EQ(dialog.kmlFileStream != nullptr, kmlOpened);
    EXPECT_EQ(dialog.kmlFileHandle > 0, kmlOpened);
    EXPECT_EQ(dialog.textFileStream != nullptr, c.text);
    EXPECT_EQ(dialog.sourceFileStream, nullptr);
    EXPECT_TRUE(ui.MessageTexts().empty());
    for (const auto& call : ui.Calls()) {
        if (call.kind != "save") continue;
        EXPECT_TRUE(call.request.overwritePrompt);
        EXPECT_TRUE(call.request.fileName == "*.kml" || call.request.fileName == "*.txt");
    }
    dialog.CloseOutputs(true);
    EXPECT_EQ(fs::exists(dir / "out.kml"), kmlOpened);
    EXPECT_EQ(fs::exists(dir / "out.txt"), c.text);
}

INSTANTIATE_TEST_SUITE_P(Combinations, StepByStepChoicesTest,
                         ::testing::Values(ChoiceCase{"FolderOnly", false, false, false, false},
                                           ChoiceCase{"WriteTotal", true, false, false, false},
                                           ChoiceCase{"Kml", false, false, true, false},
                                           ChoiceCase{"Text", false, false, false, true},
                                           ChoiceCase{"PhotosTakeTheKml", true, true, true, false},
                                           ChoiceCase{"Everything", true, true, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StepByStepTest, PhotoFolderOnlyWhileCombineIsChecked) {
    ui.QueueFolderAnswer((dir / "photos").string());
    dialog.SendCommand(kBrowsePhoto);
    EXPECT_TRUE(ui.Calls().empty());
    EXPECT_EQ(dialog.GetCombinePhoto(), 0);
    Check(kCombineJpg, true);
    dialog.SendCommand(kBrowsePhoto);
    EXPECT_EQ(dialog.GetCombinePhoto(), 1);
    EXPECT_EQ(dialog.GetDlgItemText(kPhotoFolder), (dir / "photos").string());
    Check(kCombineJpg, false);
    EXPECT_EQ(dialog.GetCombinePhoto(), 0);
    EXPECT_EQ(dialog.GetPhotoDirectory(), "");
    EXPECT_EQ(dialog.GetDlgItemText(kPhotoFolder), "");
    // Unchecking an output forgets its path.
    Check(kKmlFile, true);
    ui.QueueFileAnswer((dir / "a.kml").string());
    dialog.SendCommand(kBrowseKml);
    EXPECT_EQ(dialog.kmlFilePath, (dir / "a.kml").string());
    Check(kKmlFile, false);
    EXPECT_EQ(dialog.kmlFilePath, "");
    EXPECT_EQ(dialog.GetDlgItemText(kKmlPath), "");
}

TEST(StepByStepWorkerTest, AWorkerWaitsWhileTheUiThreadRunsTheDialog) {
    platform::ScriptedUi ui;
    platform::ScopedUi uiScope{ui};
    ui.QueueFolderAnswer("/tmp");
    // The UI thread answers the dialog once it is up.
    const auto driver = testsupport::AnswerModal<CStepByStepDlg>([](CStepByStepDlg& dlg) {
        dlg.CheckDlgButton(kWriteTotal, true);
        dlg.SendCommand(kWriteTotal);
        dlg.SendCommand(kBrowseTrackLog);
        dlg.SendCommand(kOk);
    });
    TransformChoices choices;
    std::atomic<int> result{-100};
    std::thread worker([&] { result = CStepByStepDlg::ShowFromWorker(choices); });
    EXPECT_TRUE(testsupport::WaitUntil([&] { return result.load() != -100; }, std::chrono::seconds(20)));
    worker.join();
    EXPECT_EQ(result.load(), platform::kIdOk);
    EXPECT_EQ(choices.GetTrackLogDirectory(), "/tmp");
    EXPECT_EQ(std::tuple(choices.GetWriteTotalLog(), choices.GetTransformOption()), std::tuple(1, 1));
}

class StatusDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fake.Start());
        logger = fake.window->LoggerPage();
    }
    testsupport::FakeWindow fake;
    CPageMTKTracklogSetting* logger = nullptr;
};

TEST_F(StatusDialogTest, AWorkersLinesReachTheListOnTheUiThreadAndEnterWaitsForOk) {
    CTrackLogFileStatusDlg* dlg = logger->OpenStatusDialog();
    ASSERT_NE(dlg, nullptr);
    EXPECT_FALSE(dlg->IsWindowVisible());
    EXPECT_FALSE(dlg->IsDlgItemEnabled(dialog146::kOk));
    dlg->ShowWindow(true);
    QTest::keyClick(dlg->GetWidget(), Qt::Key_Return);  // OK is disabled: the dialog stays
    ASSERT_EQ(logger->fileStatusDialog.get(), dlg);
    const std::string longLine = "/home/user/tracks/" + std::string(300, 'x') + "/Orvik_20240601_120000.trl";
    std::vector<std::string> lines;
    for (int i = 0; i < 600; ++i) lines.push_back("/home/user/tracks/line" + std::to_string(i) + ".trl");
    lines.push_back(longLine);
    std::thread worker([&] {
        for (const std::string& line : lines) logger->AddStatusLine(line);
    });
    worker.join();
    EXPECT_EQ(dlg->fileList.GetCount(), 0);  // only the UI thread adds them
    EXPECT_TRUE(testsupport::WaitUntil([&] { return dlg->fileList.GetCount() == 601; }, std::chrono::seconds(5)));
    auto* list = dlg->Item<platform::ListBoxWidget>(dialog146::kFileList);
    ASSERT_NE(list, nullptr);
    for (int i = 0; i < list->count(); ++i) ASSERT_EQ(list->item(i)->text().toStdString(), lines[i]) << i;
    EXPECT_EQ(dlg->fileList.GetHorizontalExtent(), dlg->fileList.TextExtent(longLine));
    EXPECT_GT(dlg->fileList.GetHorizontalExtent(), list->width());
    dlg->EnableDlgItem(dialog146::kOk, true);
    QTest::keyClick(dlg->GetWidget(), Qt::Key_Return);
    EXPECT_EQ(logger->fileStatusDialog, nullptr);
}

TEST_F(StatusDialogTest, TheFilesAndTheirKmlAreWrittenWithoutTheUiThread) {
    const auto image = sim::LogImage::Synthetic(90, 1767225600u, 30, 0).Build(1);
    logger->logDecoder.ResetUploadBuffers();
    logger->logDecoder.DecodeSector(LogSector(image.data(), kLogSectorSize));
    CTrackLogFileStatusDlg* dlg = logger->OpenStatusDialog();
    testsupport::TempDir out;
    auto written = std::async(std::launch::async, [&] { logger->WriteUploadFiles(out.path.string(), false, false, ""); });
    // No event is handled meanwhile.
    const bool alone = written.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    EXPECT_TRUE(alone) << "the writing waited for the UI thread";
    const auto ended = [&] { return written.wait_for(std::chrono::seconds(0)) == std::future_status::ready; };
    if (!alone) testsupport::WaitUntil(ended, std::chrono::seconds(20));
    std::vector<std::string> expected;
    for (const char* kind : {".trl", ".kml"}) {
        for (const std::string& name : logger->logDecoder.SegmentFileNames()) {
            if (!name.empty()) expected.push_back(" " + name + kind);
        }
    }
    ASSERT_EQ(expected.size(), 6u);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return dlg->fileList.GetCount() == 6; }, std::chrono::seconds(5)));
    auto* list = dlg->Item<platform::ListBoxWidget>(dialog146::kFileList);
    for (int i = 0; i < list->count(); ++i) EXPECT_EQ(list->item(i)->text().toStdString(), expected[i]);
    EXPECT_GT(fs::file_size(expected.back().substr(1)), 0u);
}

TEST_F(StatusDialogTest, OkHasTheDialogFreedAfterItsHandlerReturned) {
    // Without a dialog the message does nothing.
    logger->SendMessage(kWmCloseStatusDialog);
    EXPECT_EQ(logger->fileStatusDialog, nullptr);

    CTrackLogFileStatusDlg* dlg = logger->OpenStatusDialog();
    dlg->ShowWindow(true);
    dlg->EnableDlgItem(dialog146::kOk, true);
    QPointer<QWidget> window = dlg->GetWidget();
    dlg->SendCommand(dialog146::kOk);
    // Forgotten at once, hidden, and still alive until the handler is done.
    EXPECT_EQ(logger->fileStatusDialog, nullptr);
    ASSERT_FALSE(window.isNull());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(testsupport::WaitUntil([&] { return window.isNull(); }, std::chrono::seconds(5)));

    // The next upload's dialog replaces one still open.
    CTrackLogFileStatusDlg* first = logger->OpenStatusDialog();
    QPointer<QWidget> firstWindow = first->GetWidget();
    CTrackLogFileStatusDlg* second = logger->OpenStatusDialog();
    EXPECT_EQ(logger->fileStatusDialog.get(), second);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return firstWindow.isNull(); }, std::chrono::seconds(5)));
    // Esc takes the base behaviour: no close request reaches the page.
    second->HandleEscape();
    EXPECT_EQ(logger->fileStatusDialog.get(), second);
}

TEST_F(StatusDialogTest, TheWatchdogStopsTheReceiveAndClearsTheBuffer) {
    logger->stopReceive = 0;
    logger->receiveActive = 1;
    logger->receiveBuffer[100] = 'x';
    EXPECT_EQ(logger->StartWatchdogTimer(15000, 1324), 1324u);
    EXPECT_TRUE(logger->IsTimerRunning(1324));
    EXPECT_EQ(logger->blockTimedOut, 0);
    logger->OnTimer(1324);
    EXPECT_FALSE(logger->IsTimerRunning(1324));
    EXPECT_EQ(logger->blockTimedOut, 1);
    EXPECT_EQ(logger->stopReceive, 1);
    EXPECT_EQ(logger->receiveActive, 0);
    EXPECT_EQ(logger->receiveBuffer[100], 0);
    EXPECT_FALSE(logger->StopWatchdogTimer(1324));
    logger->StartWatchdogTimer(15000, 1324);
    EXPECT_TRUE(logger->StopWatchdogTimer(1324));
}

}  // namespace
