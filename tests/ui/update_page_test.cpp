// The update page's step 1 against a scripted port: the port search, the
// retries of the identification, refused and unknown devices, the hidden
// Write Name and track-logger connect.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "FakeSerial.h"
#include "FakeWindow.h"
#include "UiTestUtil.h"
#include "device/ComPortList.h"
#include "device/CommandEngine.h"
#include "device/PageDeviceSetting.h"
#include "device/PageDownloadFW.h"
#include "platform/Clock.h"
#include "platform/Ui.h"
#include "shell/OrvikUtilityDlg.h"
#include "support/UtilityManager.h"
#include "ui/StringTable.h"
#include "ui/templates/Template102.h"
#include "ui/templates/Template133.h"

namespace {

ComPortInfo Port(int number, const std::string& driver) {
    ComPortInfo info;
    info.portName = "COM" + std::to_string(number);
    info.devicePath = "/dev/fake" + std::to_string(number);
    info.friendlyName = driver + " (" + info.portName + ")";
    info.description = driver;
    info.isUsbDevice = 1;
    return info;
}

int Count(const std::vector<std::string>& writes, const std::string& sentence) {
    return static_cast<int>(std::count(writes.begin(), writes.end(), sentence));
}

class UpdatePageTest : public ::testing::Test, protected testsupport::FakeWindow {
protected:
    void Start(std::vector<ComPortInfo> ports) { ASSERT_TRUE(FakeWindow::Start(std::move(ports))); }
    std::string Status() const { return page->GetDlgItemText(dialog133::kConnectStatus); }
    // Connects to a device that names itself a ZEP ION and answers nothing else.
    void ConnectAModelOnlyDevice() {
    serial.SetResponder([](const std::string& w) {
        return w == FrameSentence("PQVR810") ? FrameSentence("PQVR852,TK517") : std::string();
    });
    Start({Port(4, "CP210x USB to UART Bridge Controller")});
    page->SendCommand(dialog133::kAutoDetect);
    page->SendCommand(dialog133::kConnect);
    }
};

TEST_F(UpdatePageTest, StartFindsTheBridgeAndPresetsThePort) {
    Start({Port(1, "Communications Port"), Port(12, "CP210x USB to UART Bridge Controller")});
    EXPECT_EQ(page->autoPortFound, 1);
    EXPECT_EQ(page->GetCurSel(dialog133::kPortCombo), 11);
    EXPECT_EQ(page->selectedPortName, "COM12");
    EXPECT_EQ(page->GetItemCount(dialog133::kPortCombo), 50);
    EXPECT_EQ(page->GetItemText(dialog133::kPortCombo, 49), "COM50");
    EXPECT_EQ(page->GetItemCount(dialog133::kBaudCombo), 7);
    EXPECT_EQ(page->GetCurSel(dialog133::kBaudCombo), -1);
    EXPECT_EQ(page->linkBaudRate, 115200);
    std::string name;
    int baud = 0, handle = 1;
    theUtility.GetPort(name, baud, handle);
    EXPECT_EQ(name, "COM12");
    EXPECT_EQ(baud, 115200);
    EXPECT_EQ(handle, 0);
    // Step 1 only: Connect waits for Auto Detect.
    using namespace dialog133;
    for (int id : {kConnect, kPortCombo, kSelectFile, kExecute, kForceUpdate}) {
        EXPECT_FALSE(page->IsDlgItemEnabled(id)) << id;
    }
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kAutoDetect));
    EXPECT_EQ(Status(), "接続先");
    EXPECT_EQ(page->GetDlgItemText(dialog133::kWarning), res::LoadString(401));
    EXPECT_TRUE(page->GetDlgItemTextColor(dialog133::kWarning) == (platform::Rgb{255, 0, 0}));
    EXPECT_EQ(page->GetDlgItemText(dialog133::kConnect), "接続");
    EXPECT_EQ(page->GetDlgItemText(dialog133::kAutoDetect), "接続先の自動設定");
    EXPECT_EQ(page->ConnectionPicture(), 131);
    EXPECT_EQ(page->notConnected, 1);
    EXPECT_EQ(theUtility.modelType, 0);
}

TEST_F(UpdatePageTest, AutoDetectFallsBackToCom1WithoutABridge) {
    Start({Port(1, "Communications Port"), Port(5, "USB Serial Device")});
    page->SendCommand(dialog133::kAutoDetect);
    EXPECT_EQ(Status(), res::LoadString(449));
    EXPECT_EQ(page->GetCurSel(dialog133::kPortCombo), 0);
    EXPECT_EQ(page->selectedPortName, "COM1");
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kPortCombo));
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kConnect));
    EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kAutoDetect));
}

TEST_F(UpdatePageTest, AutoDetectIgnoresANameWithoutAValidPortNumber) {
    Start({Port(51, "CP210x USB to UART Bridge Controller")});
    page->SendCommand(dialog133::kAutoDetect);
    EXPECT_EQ(Status(), res::LoadString(449));
    EXPECT_EQ(page->autoPortFound, 0);
}

TEST_F(UpdatePageTest, DefaultAllRestoresTheDetectedPortAndSpeed) {
    Start({Port(7, "Silicon Labs CP210x USB to UART Bridge")});
    page->SetCurSel(dialog133::kPortCombo, 2);
    page->SendCommand(dialog133::kPortCombo, platform::notify::kSelChange);
    EXPECT_EQ(page->selectedPortName, "COM3");
    page->SetCurSel(dialog133::kBaudCombo, 0);
    page->SendCommand(dialog133::kBaudCombo, platform::notify::kSelChange);
    EXPECT_EQ(page->linkBaudRate, 4800);
    window->SendCommand(dialog102::kDefaultAll);  // Default All
    EXPECT_EQ(page->GetCurSel(dialog133::kPortCombo), 6);
    EXPECT_EQ(page->selectedPortName, "COM7");
    EXPECT_EQ(page->linkBaudRate, 115200);
    EXPECT_EQ(page->GetCurSel(dialog133::kBaudCombo), -1);
}

TEST_F(UpdatePageTest, ASilentDeviceGetsThreeAndThreeTriesThen315) {
    Start({Port(4, "CP210x USB to UART Bridge Controller")});
    page->SendCommand(dialog133::kAutoDetect);
    page->SendCommand(dialog133::kConnect);
    const auto writes = serial.Writes();
    EXPECT_EQ(Count(writes, "$PQVR810*3C\r\n"), 3);
    EXPECT_EQ(Count(writes, "$ORVIK731,1*61\r\n"), 3);
    EXPECT_EQ(Count(writes, "$PQVR829*" + FrameSentence("PQVR829").substr(9)), 0);
    EXPECT_EQ(writes.back(), "$ORVIK731,2*62\r\n");  // the disconnect
    EXPECT_EQ(writes.size(), 7u);
    EXPECT_EQ(serial.OpenedNames(), (std::vector<std::string>{"COM4"}));
    EXPECT_EQ(Status(), res::LoadString(315));
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kConnect));
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kForceUpdate));
    EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kSelectFile));
    EXPECT_FALSE(page->IsPortOpen());
    EXPECT_EQ(page->GetDlgItemText(dialog133::kDeviceType), " ");
    EXPECT_TRUE(window->IsDlgItemEnabled(dialog102::kOk));
    EXPECT_TRUE(window->IsDlgItemEnabled(dialog102::kAbout));
    EXPECT_TRUE(window->TickThreadRunning());
    window->SetTickThread(false);
}

TEST_F(UpdatePageTest, TheWindowKeepsRunningWhileItIdentifiesButDoesNotClose) {
    Start({Port(4, "CP210x USB to UART Bridge Controller")});
    page->SendCommand(dialog133::kAutoDetect);
    page->SendCommand(dialog133::kConnect);  // a first try fails and offers Force Update
    ASSERT_TRUE(page->IsDlgItemEnabled(dialog133::kForceUpdate));
    std::string statusSeen;
    bool connectEnabled = true;
    bool forceUpdateEnabled = true;
    QTimer::singleShot(0, [&] {
        statusSeen = Status();
        connectEnabled = page->IsDlgItemEnabled(dialog133::kConnect);
        forceUpdateEnabled = page->IsDlgItemEnabled(dialog133::kForceUpdate);
        window->GetWidget()->close();  // the close box during the polls
    });
    page->SendCommand(dialog133::kConnect);
    EXPECT_EQ(statusSeen, res::LoadString(310));
    EXPECT_FALSE(connectEnabled);
    EXPECT_FALSE(forceUpdateEnabled);
    EXPECT_TRUE(window->IsWindowVisible());
    EXPECT_EQ(Status(), res::LoadString(315));
    window->SetTickThread(false);
}

TEST_F(UpdatePageTest, AKnownModelGetsFiveAndFiveVersionTries) {
    ConnectAModelOnlyDevice();
    const auto writes = serial.Writes();
    EXPECT_EQ(Count(writes, FrameSentence("PQVR810")), 1);
    EXPECT_EQ(Count(writes, FrameSentence("PQVR829")), 5);
    EXPECT_EQ(Count(writes, FrameSentence("PQVR832")), 5);
    EXPECT_EQ(Count(writes, "$ORVIK731,1*61\r\n"), 0);
    EXPECT_EQ(theUtility.modelType, 7);
    EXPECT_EQ(page->GetDlgItemText(dialog133::kDeviceType), "ZEP ION");
    EXPECT_EQ(Status(), res::LoadString(315));
    window->SetTickThread(false);
}

TEST_F(UpdatePageTest, APortThatDoesNotOpenFailsAtOnceAndSendsNothing) {
    serial.SetOpenFails(true);
    Start({Port(4, "CP210x USB to UART Bridge Controller")});
    page->SendCommand(dialog133::kAutoDetect);
    const auto sleptBefore = clock.TotalSleptMs();
    page->SendCommand(dialog133::kConnect);
    EXPECT_TRUE(serial.Writes().empty());
    EXPECT_EQ(Status(), res::LoadString(315));
    EXPECT_EQ(clock.TotalSleptMs(), sleptBefore);
    EXPECT_EQ(portLinked, 0);
    window->SetTickThread(false);
}

TEST_F(UpdatePageTest, AnUnknownModelNameForgetsTheEarlierModel) {
    theUtility.modelType = 7;
    serial.SetResponder([](const std::string& w) {
        return w == FrameSentence("PQVR810") ? FrameSentence("PQVR852,XY999") : std::string();
    });
    Start({Port(4, "CP210x USB to UART Bridge Controller")});
    theUtility.modelType = 7;  // as if an earlier Connect had found a ZEP ION
    page->SendCommand(dialog133::kAutoDetect);
    page->SendCommand(dialog133::kConnect);
    EXPECT_EQ(theUtility.modelType, 0);
    EXPECT_EQ(Count(serial.Writes(), FrameSentence("PQVR829")), 0);
    EXPECT_EQ(Status(), res::LoadString(315));
    EXPECT_EQ(window->GetDlgItemBitmap(dialog102::kBanner), 129);
    window->SetTickThread(false);
}

TEST_F(UpdatePageTest, ALaterConnectWithoutAModelAnswerForgetsTheEarlierModel) {
    ConnectAModelOnlyDevice();
    ASSERT_EQ(theUtility.modelType, 7);
    serial.SetResponder([](const std::string&) { return std::string(); });
    serial.ClearRecord();
    page->SendCommand(dialog133::kConnect);
    EXPECT_EQ(theUtility.modelType, 0);
    EXPECT_EQ(page->GetDlgItemText(dialog133::kDeviceType), " ");
    EXPECT_EQ(Count(serial.Writes(), FrameSentence("PQVR829")), 0);
    EXPECT_EQ(Count(serial.Writes(), FrameSentence("PQVR832")), 0);
    EXPECT_EQ(Status(), res::LoadString(315));
    window->SetTickThread(false);
}

TEST_F(UpdatePageTest, WriteNameStoresOnlyValidNames) {
    Start({});
    theUtility.SetUserName("");
    auto write = [&](const std::string& name) {
        page->SetDlgItemText(dialog133::kUserName, name);
        page->SendCommand(dialog133::kWriteName);
        return theUtility.GetUserName();
    };
    EXPECT_EQ(write("walker"), "walker");  // port closed: stored, nothing sent
    EXPECT_TRUE(serial.Writes().empty());
    EXPECT_EQ(write("two words"), "walker");
    EXPECT_EQ(write("../up"), "walker");
    EXPECT_EQ(write("a/b"), "walker");
    EXPECT_EQ(write("tab\there"), "walker");
    EXPECT_EQ(write("seventeen-chars-x"), "walker");
    EXPECT_EQ(write("sixteen-chars-xy"), "sixteen-chars-xy");
    const auto calls = ui.Calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].caption, "Pellora Update");
    EXPECT_EQ(calls[0].type & 0xF0, platform::mb::kIconStop);
    EXPECT_TRUE(window->IsDlgItemEnabled(dialog102::kOk));
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kConnect));
}

TEST_F(UpdatePageTest, TrackLoggerConnectWithoutAnAnswerStaysDisconnected) {
    Start({Port(4, "CP210x USB to UART Bridge Controller")});
    page->SetCurSel(dialog133::kPortCombo, 3);
    page->ToggleConnection();
    EXPECT_FALSE(page->IsPortOpen());
    EXPECT_EQ(page->notConnected, 1);
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"read Address: Timeout!"}));
    EXPECT_EQ(Count(serial.Writes(), FrameSentence("PMTK400")), 1);
    EXPECT_EQ(page->ConnectionPicture(), 131);
}

TEST_F(UpdatePageTest, TrackLoggerConnectReadsTheLogEndAddress) {
    serial.SetResponder([](const std::string& w) {
        if (w == FrameSentence("PMTK400")) return FrameSentence("PMTK001,400,3");
        if (w == FrameSentence("PMTK182,2,8")) return FrameSentence("PMTK182,3,8,0001A000");
        return std::string();
    });
    Start({Port(4, "CP210x USB to UART Bridge Controller")});
    page->SetCurSel(dialog133::kPortCombo, 3);
    page->ToggleConnection();
    EXPECT_TRUE(page->IsPortOpen());
    EXPECT_EQ(page->notConnected, 0);
    EXPECT_EQ(theUtility.logEndAddress, 0x1A000);
    EXPECT_EQ(theUtility.modelType, 3);
    EXPECT_EQ(page->ConnectionPicture(), 130);
    serial.ClearRecord();
    page->ToggleConnection();  // and off again
    EXPECT_FALSE(page->IsPortOpen());
    EXPECT_EQ(page->notConnected, 1);
    EXPECT_EQ(serial.Writes(), (std::vector<std::string>{"$ORVIK731,2*62\r\n"}));
}

}  // namespace
