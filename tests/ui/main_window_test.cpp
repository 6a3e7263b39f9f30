// The main window: start-up state, page commands, banner, tick thread and
// the three close sequences, against a scripted serial port.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTimer>
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <memory>

#include "FakeSerial.h"
#include "FakeWindow.h"
#include "UiTestUtil.h"
#include "device/CommandEngine.h"
#include "device/PageDeviceSetting.h"
#include "device/PageDownloadFW.h"
#include "platform/Clock.h"
#include "platform/Controls.h"
#include "platform/Ui.h"
#include "shell/OrvikUtilityDlg.h"
#include "support/UtilityManager.h"
#include "tracklog/PageMTKTracklogSetting.h"
#include "tracklog/TrackLogRecord.h"
#include "ui/Page.h"
#include "ui/PageHost.h"
#include "ui/templates/Template100.h"
#include "ui/templates/Template102.h"

using namespace std::chrono_literals;

namespace {

// A device that acknowledges the sentences the close sequences send.
std::string Acknowledge(const std::string& written) {
    if (written.rfind("$ORVIK731,", 0) == 0) {
        const std::string code = written.substr(10, written.find('*') - 10);
        return FrameSentence("ORVIK001," + code + ",0");
    }
    if (written.rfind("$PMTK182,14", 0) == 0) {
        return FrameSentence("PMTK001,182,3");
    }
    return {};
}

class MainWindowTest : public ::testing::Test, protected testsupport::FakeWindow {
protected:
    void SetUp() override {
        theUtility.modelType = 0;
        theUtility.highSpeedLink = 0;
        serial.SetResponder(Acknowledge);
        ASSERT_TRUE(Start());
    }
    void TearDown() override { theUtility.highSpeedLink = 0; }

    // Opens the update page's port on the scripted device.
    void Connect() {
        CPageDeviceSetting* device = window->DevicePage();
        device->linkPortName = "COM3";
        device->linkBaudRate = 115200;
        ASSERT_EQ(device->OpenPort(), 1);
        portLinked = 1;
        serial.ClearRecord();
    }
};

TEST_F(MainWindowTest, CaptionsAndVisibilityAfterStartUp) {
    EXPECT_EQ(window->GetWindowText(), "Pellora Update");
    EXPECT_EQ(window->GetDlgItemText(dialog102::kOk), "閉じる");
    EXPECT_EQ(window->GetDlgItemText(dialog102::kAbout), "Pellora Update について");
    EXPECT_EQ(window->GetDlgItemText(dialog102::kCancel), "中止");
    EXPECT_EQ(window->GetDlgItemText(dialog102::kApplyAll), "");
    EXPECT_EQ(window->GetDlgItemText(dialog102::kDefaultAll), "");
    EXPECT_TRUE(window->IsDlgItemVisible(dialog102::kOk));
    EXPECT_TRUE(window->IsDlgItemVisible(dialog102::kAbout));
    EXPECT_TRUE(window->IsDlgItemVisible(dialog102::kTab));
    for (int hidden : {dialog102::kCancel, dialog102::kApplyAll, dialog102::kDefaultAll, dialog102::kBanner,
                       dialog102::kSmallBitmap}) {
        EXPECT_FALSE(window->IsDlgItemVisible(hidden)) << hidden;
    }
    EXPECT_EQ(window->GetDlgItemBitmap(dialog102::kSmallBitmap), 132);

    // One tab, for the update page, with an empty label.
    EXPECT_EQ(tabCount, 1);
    EXPECT_EQ(window->tabControl.GetItemCount(), 1);
    EXPECT_EQ(window->tabControl.Control()->GetItemText(0), "");
    EXPECT_EQ(window->tabControl.GetCurSel(), 0);
    EXPECT_EQ(window->TabPage(0), window->Page(0));
    EXPECT_EQ(window->CurrentTab(), 0);

    // Eight pages, children of the tab control at (8, 28); only the update
    // page is shown.
    QWidget* tab = window->GetDlgItem(dialog102::kTab);
    for (int slot = 0; slot < COrvikUtilityDlg::kPageCount; ++slot) {
        CPage* page = window->Page(slot);
        ASSERT_NE(page, nullptr) << slot;
        EXPECT_EQ(page->GetWidget()->parentWidget(), tab) << slot;
        EXPECT_EQ(page->GetWidget()->pos(), QPoint(8, 28)) << slot;
        EXPECT_EQ(page->host, static_cast<PageHost*>(window.get())) << slot;
        EXPECT_EQ(page->IsWindowVisible(), slot == 0) << slot;
    }
    EXPECT_EQ(devicePageInstance.load(), window->DevicePage());
    EXPECT_EQ(downloadPageInstance.load(), window->FirmwarePage());
    EXPECT_EQ(window->LoggerPage()->GetLink(), window->DevicePage());
}

TEST_F(MainWindowTest, ApplyAndDefaultAllReachOnlyTheUpdatePage) {
    window->SendCommand(dialog102::kApplyAll);  // Apply All, hidden: sent as a click would be
    window->SendCommand(dialog102::kDefaultAll);  // Default All
    window->SendCommand(dialog102::kDefaultAll);
    CPage* device = window->Page(0);
    EXPECT_EQ(device->PageCommandCount(PAGECMD_APPLY), 1);
    EXPECT_EQ(device->PageCommandCount(PAGECMD_DEFAULT), 2);
    EXPECT_EQ(device->PageCommandCount(PAGECMD_OK), 0);
    EXPECT_EQ(device->PageCommandCount(PAGECMD_CANCEL), 0);
    for (int slot = 1; slot < COrvikUtilityDlg::kPageCount; ++slot) {
        for (unsigned command = 0; command < 4; ++command) {
            EXPECT_EQ(window->Page(slot)->PageCommandCount(command), 0) << slot;
        }
    }
    // 4 and above do nothing, on any page.
    for (int slot = 0; slot < COrvikUtilityDlg::kPageCount; ++slot) {
        window->Page(slot)->SendMessage(WM_PAGE_COMMAND, 4, 0);
        window->Page(slot)->SendMessage(WM_PAGE_COMMAND, 1000, 0);
    }
    EXPECT_EQ(device->PageCommandCount(PAGECMD_APPLY), 1);
    EXPECT_EQ(device->PageCommandCount(PAGECMD_DEFAULT), 2);
    // Pages ignore OK and Cancel: they stay open.
    device->SendMessage(WM_PAGE_COMMAND, PAGECMD_CANCEL, 0);
    EXPECT_TRUE(device->IsWindowVisible());
    EXPECT_TRUE(window->IsWindowVisible());
}

TEST_F(MainWindowTest, BannerFollowsTheModelCode) {
    for (int model = 0; model <= 7; ++model) {
        theUtility.modelType = model;
        window->UpdateBanner();
        const bool modelBanner = (model == 3 || model == 4 || model == 7);
        EXPECT_EQ(window->GetDlgItemBitmap(dialog102::kBanner), modelBanner ? 141 : 129) << model;
        EXPECT_EQ(window->GetDlgItemBitmap(dialog102::kSmallBitmap), 132) << model;
        EXPECT_EQ(window->CurrentTab(), 0);
        EXPECT_TRUE(window->Page(0)->IsWindowVisible());
    }
    // The bitmaps keep their sizes.
    EXPECT_EQ(platform::ResourceBitmap(129).size(), QSize(570, 90));
    EXPECT_EQ(platform::ResourceBitmap(141).size(), QSize(570, 90));
    EXPECT_EQ(platform::ResourceBitmap(133).size(), QSize(570, 90));
    EXPECT_EQ(platform::ResourceBitmap(135).size(), QSize(183, 39));
    EXPECT_EQ(platform::ResourceBitmap(132).size(), QSize(183, 39));
}

TEST_F(MainWindowTest, SelectTabOutOfRangeIsIgnored) {
    window->SelectTab(1);
    window->SelectTab(8);
    window->SelectTab(-1);
    EXPECT_EQ(window->CurrentTab(), 0);
    EXPECT_TRUE(window->Page(0)->IsWindowVisible());
    window->ShowCurrentTab();
    EXPECT_TRUE(window->Page(0)->IsWindowVisible());
    EXPECT_TRUE(window->Page(0)->IsWindowEnabled());
}

TEST_F(MainWindowTest, TickThreadsEndTogetherWithinASecond) {
    testsupport::TraceCapture traces;
    window->SetTickThread(true);
    window->SetTickThread(true);
    EXPECT_TRUE(testsupport::WaitUntil([] { return theUtility.tickThreadEnded == 0; }, 1000ms));
    std::this_thread::sleep_for(1100ms);
    EXPECT_GE(traces.Count("Main Dialog OnTimer\n"), 1);
    const auto start = std::chrono::steady_clock::now();
    window->SetTickThread(false);
    EXPECT_TRUE(testsupport::WaitUntil([] { return theUtility.tickThreadEnded == 1; }, 1200ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1200ms);
    EXPECT_FALSE(window->TickThreadRunning());
    // It starts again after it ended.
    window->SetTickThread(true);
    EXPECT_TRUE(testsupport::WaitUntil([] { return theUtility.tickThreadEnded == 0; }, 1000ms));
    window->SetTickThread(false);
    EXPECT_EQ(theUtility.tickThreadEnded, 1);
}

TEST_F(MainWindowTest, CloseButtonPurgesAndClosesWithoutASentence) {
    Connect();
    window->SendCommand(dialog102::kOk);
    EXPECT_TRUE(serial.Writes().empty());
    EXPECT_EQ(serial.Events(), (std::vector<std::string>{"purge", "purge", "close"}));
    EXPECT_FALSE(window->DevicePage()->IsPortOpen());
    EXPECT_EQ(window->ModalResult(), platform::kIdOk);
    EXPECT_FALSE(window->IsWindowVisible());
}

TEST_F(MainWindowTest, EscapeSendsTheDisconnectSentenceThenCloses) {
    Connect();
    QTest::keyClick(window->GetWidget(), Qt::Key_Escape);
    EXPECT_EQ(serial.Writes(), (std::vector<std::string>{"$ORVIK731,2*62\r\n"}));
    const auto events = serial.Events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[events.size() - 2], "purge");
    EXPECT_EQ(events.back(), "close");
    EXPECT_FALSE(window->DevicePage()->IsPortOpen());
    EXPECT_EQ(window->ModalResult(), platform::kIdCancel);
}

TEST_F(MainWindowTest, CloseBoxSwitchesAHighSpeedLoggerBackFirst) {
    Connect();
    theUtility.highSpeedLink = 1;
    const auto sleptBefore = clock.TotalSleptMs();
    window->GetWidget()->close();
    // The speed command goes out in 16-byte pieces while the link is fast.
    EXPECT_EQ(serial.AllWritten(), FrameSentence("PMTK182,14,38400") + "$ORVIK731,2*62\r\n$ORVIK731,2*62\r\n");
    EXPECT_EQ(serial.Writes().front(), "$PMTK182,14,3840");
    // Speed restored at the stored rate between the speed command and the
    // disconnect sentence, after a 500 ms pause.
    const auto events = serial.Events();
    auto speed = std::find(events.begin(), events.end(), "baud 115200");
    ASSERT_NE(speed, events.end());
    EXPECT_LT(speed - events.begin(), std::find(events.begin(), events.end(), "write $ORVIK731,2*62\r\n") - events.begin());
    EXPECT_GE(clock.TotalSleptMs() - sleptBefore, 500u);
    EXPECT_EQ(theUtility.highSpeedLink, 0);
    EXPECT_EQ(window->LoggerPage()->stopReceive, 1);
    EXPECT_EQ(events.back(), "close");
    EXPECT_EQ(window->ModalResult(), platform::kIdCancel);
}

TEST_F(MainWindowTest, CloseBoxWithoutAPortSendsNothing) {
    window->GetWidget()->close();
    EXPECT_TRUE(serial.Events().empty());
    EXPECT_EQ(window->ModalResult(), platform::kIdCancel);
    EXPECT_FALSE(window->IsWindowVisible());
}

TEST_F(MainWindowTest, CloseIsRefusedWhileAWorkerRuns) {
    Connect();
    ASSERT_TRUE(window->FirmwarePage()->downloadBusy.TryBegin());
    window->GetWidget()->close();
    QTest::keyClick(window->GetWidget(), Qt::Key_Escape);
    window->SendCommand(dialog102::kOk);
    EXPECT_TRUE(window->IsWindowVisible());
    EXPECT_TRUE(serial.Writes().empty());
    EXPECT_TRUE(window->DevicePage()->IsPortOpen());
    window->FirmwarePage()->downloadBusy.End();
    window->SendCommand(dialog102::kOk);
    EXPECT_FALSE(window->IsWindowVisible());
}

TEST_F(MainWindowTest, EnterRunsTheCloseButton) {
    Connect();
    QTest::keyClick(window->GetWidget(), Qt::Key_Return);
    EXPECT_TRUE(serial.Writes().empty());
    EXPECT_FALSE(window->DevicePage()->IsPortOpen());
    EXPECT_EQ(window->ModalResult(), platform::kIdOk);
}

TEST_F(MainWindowTest, AboutBoxOpensFromItsButtonAndCloses) {
    bool seen = false;
    std::string version;
    std::string title;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        auto* dialog = qobject_cast<platform::DialogWidget*>(box);
        ASSERT_NE(dialog, nullptr);
        seen = true;
        title = dialog->Owner()->GetWindowText();
        version = dialog->Owner()->GetDlgItemText(dialog100::kVersion);
        EXPECT_EQ(dialog->Owner()->GetDlgItemText(dialog100::kTitle), "Pellora Update   V3.02");
        EXPECT_EQ(dialog->Owner()->GetDlgItemText(dialog100::kProducts), "適合製品　：　ZEP ION");
        EXPECT_EQ(dialog->Owner()->GetDlgItemText(dialog100::kOk), "閉じる");
        QTest::keyClick(box, Qt::Key_Return);
    });
    window->SendCommand(dialog102::kAbout);
    EXPECT_TRUE(seen);
    EXPECT_EQ(title, "Pellora Update");
    EXPECT_EQ(version, " 3.0.0.0");
    EXPECT_TRUE(window->IsWindowVisible());
}

TEST_F(MainWindowTest, RendersToPng) {
    QApplication::processEvents();
    const QImage image = window->GetWidget()->grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), platform::DluToPixelsX(res::Template102().rect.w));
    EXPECT_EQ(image.height(), platform::DluToPixelsY(res::Template102().rect.h));
    const std::string path = testsupport::ArtifactDir() + "/main_window.png";
    EXPECT_TRUE(image.save(QString::fromStdString(path)));
}

}  // namespace

// The upload's KML conversions reach the format and photo pages: a KML for a
// track, a UTF-16 photo KML, and nothing left behind for a missing track.
TEST_F(MainWindowTest, TheUploadsKmlConversionsReachTheFormatAndPhotoPages) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("pellora_conv_" + std::to_string(::getpid()));
    fs::create_directories(dir / "photos");
    const auto record = EncodeTrackLogRecord({1717243200u, 35.5f, 139.25f, 100.0f});
    std::ofstream(dir / "t.trl", std::ios::binary).write(reinterpret_cast<const char*>(record.data()), 16);
    PageHost& host = *window;
    EXPECT_TRUE(host.WriteKml((dir / "t.trl").string(), (dir / "t.kml").string()));
    EXPECT_GT(fs::file_size(dir / "t.kml"), 0u);
    EXPECT_TRUE(host.ConvertWithPhotos((dir / "t.trl").string(), (dir / "p.kml").string(), (dir / "photos").string()));
    std::ifstream photoKml(dir / "p.kml", std::ios::binary);
    EXPECT_EQ(photoKml.get(), 0xFF);
    EXPECT_EQ(photoKml.get(), 0xFE);
    EXPECT_FALSE(host.ConvertWithPhotos((dir / "gone.trl").string(), (dir / "q.kml").string(), dir.string()));
    EXPECT_FALSE(fs::exists(dir / "q.kml"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4);  // no temporary left
    fs::remove_all(dir);
}
