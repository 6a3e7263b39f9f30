// The logger settings page against the simulated track logger: Read fills
// the choices from the logger's values, Apply sends exactly what changed and
// remembers only what the logger acknowledged, Clear erases and recomputes
// the free record count. Waits run eight times faster than real time.
#include <gtest/gtest.h>

#include <algorithm>

#include "SimWindow.h"
#include "device/PageDeviceSetting.h"
#include "shell/OrvikUtilityDlg.h"
#include "support/UtilityManager.h"
#include "tracklog/PageMTKTracklogSetting.h"
#include "ui/templates/Template102.h"
#include "ui/templates/Template133.h"
#include "ui/templates/Template143.h"

namespace {

using namespace dialog143;

class LoggerPageSimTest : public ::testing::Test, protected testsupport::SimWindow {
protected:
    LoggerPageSimTest() : SimWindow(8) {}

    void SetUp() override {
        theUtility.logIntervalSent = 0;
        theUtility.logDistanceSent = 0;
        theUtility.recordModeSent = 0;
        theUtility.freeRecordCount = 0;
        theUtility.logEndAddress = 0;
    }

    // A track logger on the port, linked the way the update page links it.
    void ConnectLogger(const std::function<void(sim::DeviceProfile&)>& change = {}) {
        ASSERT_TRUE(StartDevice("L-731"));
        state->Update([&](sim::DeviceProfile& p) {
            p.eraseDelayMs = 200;
            if (change) change(p);
        });
        StartWindow();
        logger = window->LoggerPage();
        page->SendCommand(dialog133::kAutoDetect);
        page->notConnected = 1;
        page->ToggleConnection();
        window->SetTickThread(false);
        ASSERT_TRUE(page->IsPortOpen());
        device->ClearTranscript();
    }

    // Answers one sentence body itself and everything else as the logger.
    void Override(const std::string& body, sim::Replies replies) {
        auto live = state;
        device->SetBehaviour("PMTK182", [live, body, replies](const sim::Sentence& s, sim::SimContext&) {
            return s.body == body ? replies : live->Answer(s);
        });
    }
    // Answers every sentence of a command with one reply.
    void OverrideCommand(const std::string& prefix, sim::Replies replies) {
        auto live = state;
        device->SetBehaviour("PMTK182", [live, prefix, replies](const sim::Sentence& s, sim::SimContext&) {
            return s.body.rfind(prefix, 0) == 0 ? replies : live->Answer(s);
        });
    }

    std::vector<std::string> Sent() const {
        std::vector<std::string> out;
        for (const auto& s : device->Received()) out.push_back(s.body);
        return out;
    }
    std::vector<std::string> SettingsSent() const {
        std::vector<std::string> out;
        for (const auto& body : Sent()) {
            if (body.rfind("PMTK182,1,", 0) == 0) out.push_back(body);
        }
        return out;
    }

    CPageMTKTracklogSetting* logger = nullptr;
};

TEST_F(LoggerPageSimTest, ReadFillsTheChoicesAndApplyThenSendsNothing) {
    ConnectLogger([](sim::DeviceProfile& p) {
        p.logIntervalTenths = 150;
        p.logDistanceTenths = 1500;
        p.recordMode = 1;
    });
    logger->OnButtonRead();
    EXPECT_EQ(logger->GetDlgItemText(kSettingStatus), "Update Setting Successfully.");
    EXPECT_EQ(logger->GetCurSel(kIntervalCombo), 3);  // "15"
    EXPECT_EQ(logger->GetCurSel(kDistanceCombo), 2);  // "150"
    EXPECT_TRUE(logger->IsDlgButtonChecked(kOverwrite));
    EXPECT_FALSE(logger->IsDlgButtonChecked(kFullAndStop));
    EXPECT_EQ(theUtility.logIntervalSent, 150);
    EXPECT_EQ(theUtility.logDistanceSent, 1500);
    EXPECT_EQ(theUtility.recordModeSent, 1);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"PMTK182,2,6", "PMTK182,2,3", "PMTK182,2,4"}));
    device->ClearTranscript();
    logger->ApplyAll();
    EXPECT_TRUE(SettingsSent().empty());
}

TEST_F(LoggerPageSimTest, ReadKeepsValuesBelowTheMinimumHalfSecondsAndOddModes) {
    ConnectLogger([](sim::DeviceProfile& p) {
        p.logIntervalTenths = 3;
        p.logDistanceTenths = 30;
    });
    theUtility.logIntervalSent = 100;
    theUtility.logDistanceSent = 3000;
    Override("PMTK182,2,6", {sim::Reply::Sentence("PMTK182,3,6,7")});
    logger->OnButtonRead();
    EXPECT_EQ(logger->GetCurSel(kIntervalCombo), 0);
    EXPECT_EQ(logger->GetCurSel(kDistanceCombo), 0);
    EXPECT_EQ(theUtility.logIntervalSent, 100);
    EXPECT_EQ(theUtility.logDistanceSent, 3000);
    // Mode 7 is shown and kept as overwrite.
    EXPECT_TRUE(logger->IsDlgButtonChecked(kOverwrite));
    EXPECT_EQ(logger->recordMode, 1);
    EXPECT_EQ(theUtility.recordModeSent, 1);
    // 5.5 s stays 55 tenths: Apply sends no rounded interval back (only the
    // page's distance, which differs from the remembered 3000).
    state->Update([](sim::DeviceProfile& p) { p.logIntervalTenths = 55; });
    logger->OnButtonRead();
    EXPECT_EQ(logger->GetCurSel(kIntervalCombo), 1);
    device->ClearTranscript();
    logger->ApplyAll();
    EXPECT_EQ(SettingsSent(), (std::vector<std::string>{"PMTK182,1,4,1000"}));
    EXPECT_EQ(state->Profile().logIntervalTenths, 55);
}

TEST_F(LoggerPageSimTest, ApplyOnAFreshLinkSendsTheDefaultsOnceAndTheDeviceKeepsThem) {
    ConnectLogger();
    logger->DefaultAll();
    logger->ApplyAll();
    EXPECT_EQ(SettingsSent(), (std::vector<std::string>{"PMTK182,1,3,50", "PMTK182,1,4,1000", "PMTK182,1,6,2"}));
    EXPECT_EQ(logger->GetDlgItemText(kSettingStatus), "Apply Setting Successfully.");
    device->ClearTranscript();
    logger->ApplyAll();
    EXPECT_TRUE(SettingsSent().empty());

    logger->SetCurSel(kIntervalCombo, 6);
    logger->SendCommand(kIntervalCombo, platform::notify::kSelChange);
    logger->SetCurSel(kDistanceCombo, 5);
    logger->SendCommand(kDistanceCombo, platform::notify::kSelChange);
    logger->SendCommand(kOverwrite);
    logger->ApplyAll();
    EXPECT_EQ(SettingsSent(), (std::vector<std::string>{"PMTK182,1,3,1200", "PMTK182,1,4,10000", "PMTK182,1,6,1"}));
    const sim::DeviceProfile p = state->Profile();
    EXPECT_EQ(p.logIntervalTenths, 1200);
    EXPECT_EQ(p.logDistanceTenths, 10000);
    EXPECT_EQ(p.recordMode, 1);

    // What Apply set is what Read finds.
    logger->SetDefaults();
    logger->OnButtonRead();
    EXPECT_EQ(logger->GetCurSel(kIntervalCombo), 6);
    EXPECT_EQ(logger->GetCurSel(kDistanceCombo), 5);
    EXPECT_TRUE(logger->IsDlgButtonChecked(kOverwrite));

    // Switching recording off sends nothing for interval and distance.
    device->ClearTranscript();
    logger->CheckDlgButton(kEnableRecording, false);
    logger->SendCommand(kEnableRecording);
    EXPECT_FALSE(logger->IsDlgItemEnabled(kIntervalCombo));
    logger->ApplyAll();
    EXPECT_TRUE(SettingsSent().empty());
}

TEST_F(LoggerPageSimTest, TheImperialTableSendsFeetInTenthsOfAMetre) {
    ConnectLogger();
    logger->distanceInFeet = 1;
    theUtility.logIntervalSent = 50;
    theUtility.recordModeSent = 2;
    logger->SetDefaults();
    EXPECT_EQ(logger->logDistanceTenths, 304);
    logger->SetCurSel(kDistanceCombo, 3);
    logger->SendCommand(kDistanceCombo, platform::notify::kSelChange);
    logger->ApplyAll();
    EXPECT_EQ(SettingsSent(), (std::vector<std::string>{"PMTK182,1,4,914"}));
    EXPECT_EQ(state->Profile().logDistanceTenths, 914);
}

TEST_F(LoggerPageSimTest, AnUnconfirmedSettingKeepsTheOldValueAndShowsAFailure) {
    ConnectLogger();
    OverrideCommand("PMTK182,1,", {sim::Reply::Sentence("PMTK001,182,1,2")});
    logger->DefaultAll();
    logger->ApplyAll();
    EXPECT_EQ(SettingsSent().size(), 3u);
    EXPECT_EQ(theUtility.logIntervalSent, 0);
    EXPECT_EQ(theUtility.logDistanceSent, 0);
    EXPECT_EQ(theUtility.recordModeSent, 0);
    EXPECT_EQ(logger->GetDlgItemText(kSettingStatus), "Setting Failed! The device did not confirm it.");
    // The next Apply tries again; now the logger takes them.
    device->SetBehaviour("PMTK182", [live = state](const sim::Sentence& s, sim::SimContext&) {
        return live->Answer(s);
    });
    device->ClearTranscript();
    logger->ApplyAll();
    EXPECT_EQ(SettingsSent().size(), 3u);
    EXPECT_EQ(theUtility.logIntervalSent, 50);
}

struct ClearCase {
    const char* name;
    sim::Replies eraseReply;    // empty: the logger's own
    sim::Replies addressReply;  // answer to the end-address query
    const char* status;
    int freeCount;  // -1: unchanged
    const char* shown;
    int addressQueries;
};

void PrintTo(const ClearCase& c, std::ostream* os) { *os << c.name; }

class LoggerClearTest : public LoggerPageSimTest, public ::testing::WithParamInterface<ClearCase> {};

TEST_P(LoggerClearTest, ClearErasesAndRecomputesTheFreeCount) {
    const ClearCase& c = GetParam();
    ConnectLogger();
    theUtility.freeRecordCount = 77;
    auto live = state;
    device->SetBehaviour("PMTK182", [live, c](const sim::Sentence& s, sim::SimContext&) {
        if (s.body == "PMTK182,2,8") return c.addressReply;
        if (s.body == "PMTK182,6,1" && !c.eraseReply.empty()) return c.eraseReply;
        return live->Answer(s);
    });
    logger->SendCommand(kClear);
    EXPECT_EQ(logger->GetDlgItemText(kProcessStatus), c.status);
    EXPECT_EQ(theUtility.freeRecordCount, c.freeCount < 0 ? 77 : c.freeCount);
    EXPECT_EQ(page->GetDlgItemText(dialog133::kMemoryUsage), c.shown);
    const auto sent = Sent();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "PMTK182,2,8"), c.addressQueries);
    EXPECT_TRUE(logger->IsDlgItemEnabled(kClear));
    EXPECT_TRUE(window->IsDlgItemEnabled(dialog102::kApplyAll));
    if (c.freeCount >= 0) {
        EXPECT_EQ(theUtility.logEndAddress, c.freeCount == 130816 ? 0x1000 : 0x200010);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, LoggerClearTest,
    ::testing::Values(
        ClearCase{"Address1000", {}, {sim::Reply::Sentence("PMTK182,3,8,00001000")},
                  "Clear Device Track Log Data Successfully.", 130816, "130816", 1},
        ClearCase{"PastTheEnd", {}, {sim::Reply::Sentence("PMTK182,3,8,00200010")},
                  "Clear Device Track Log Data Successfully.", 0, "0", 1},
        ClearCase{"EraseRefused", {sim::Reply::Sentence("PMTK001,182,6,2")}, {},
                  "Clear Failed! The device did not confirm the erase.", -1, "", 0},
        ClearCase{"AddressNeverAnswered", {}, {}, "Cleared. The free record count could not be read.", -1, "",
                  CPageMTKTracklogSetting::kEndAddressPolls}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoggerPageSimTest, WithoutAPortNothingIsSentAndTheFailuresAreShown) {
    ASSERT_TRUE(StartDevice("L-731"));
    StartWindow();
    logger = window->LoggerPage();
    logger->OnButtonRead();
    EXPECT_EQ(logger->GetDlgItemText(kSettingStatus), "Connection to Device Failed");
    logger->OnButtonClear();
    EXPECT_EQ(logger->GetDlgItemText(kProcessStatus), "Clear Failed! No Device Connected! ");
    logger->DefaultAll();
    logger->SendMessage(WM_PAGE_COMMAND, PAGECMD_APPLY);
    EXPECT_EQ(logger->PageCommandCount(PAGECMD_APPLY), 1);
    EXPECT_TRUE(device->Received().empty());
    EXPECT_EQ(theUtility.logIntervalSent, 0);
}

}  // namespace
