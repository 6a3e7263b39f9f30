// The logger settings page against the simulated track logger: Read fills
// the choices from the logger's values, Apply sends exactly what changed and
// remembers only what the logger acknowledged, Clear erases and recomputes
// the free record count; without a port Read, Clear, Apply and Upload fail
// and send nothing. Waits run eight times faster than real time.
#include <gtest/gtest.h>

#include <tuple>

#include "LoggerSimWindow.h"

namespace {

using namespace dialog143;
using Bodies = std::vector<std::string>;

class LoggerPageSimTest : public ::testing::Test, protected testsupport::LoggerSimWindow {
protected:
    LoggerPageSimTest() : LoggerSimWindow(8) {}

    void Choose(int combo, int row) {
        logger->SetCurSel(combo, row);
        logger->SendCommand(combo, platform::notify::kSelChange);
    }
    // The rows shown, and "overwrite" checked alone.
    void ExpectShown(int interval, int distance) {
        EXPECT_EQ(logger->GetCurSel(kIntervalCombo), interval);
        EXPECT_EQ(logger->GetCurSel(kDistanceCombo), distance);
        EXPECT_TRUE(logger->IsDlgButtonChecked(kOverwrite));
        EXPECT_FALSE(logger->IsDlgButtonChecked(kFullAndStop));
    }
    // What the program remembers the logger to hold.
    static void ExpectRemembered(int interval, int distance, int mode) {
        EXPECT_EQ(std::tuple(theUtility.logIntervalSent.load(), theUtility.logDistanceSent.load(), theUtility.recordModeSent.load()),
                  std::tuple(interval, distance, mode));
    }
    // The settings sent since the last Apply (or the link), this Apply's included.
    Bodies Apply() {
        logger->ApplyAll();
        Bodies sent = Sent("PMTK182,1,");
        device->ClearTranscript();
        return sent;
    }
    std::string SettingStatus() const { return logger->GetDlgItemText(kSettingStatus); }
};

TEST_F(LoggerPageSimTest, ReadFillsTheChoicesAndApplyThenSendsNothing) {
    ConnectLogger([](sim::DeviceProfile& p) {
        p.logIntervalTenths = 150;
        p.logDistanceTenths = 1500;
        p.recordMode = 1;
    });
    logger->OnButtonRead();
    EXPECT_EQ(SettingStatus(), "Update Setting Successfully.");
    ExpectShown(3, 2);  // "15" s, "150" m
    ExpectRemembered(150, 1500, 1);
    EXPECT_EQ(Sent(), (Bodies{"PMTK182,2,6", "PMTK182,2,3", "PMTK182,2,4"}));
    EXPECT_TRUE(Apply().empty());
}

TEST_F(LoggerPageSimTest, ReadKeepsValuesBelowTheMinimumHalfSecondsAndOddModes) {
    ConnectLogger([](sim::DeviceProfile& p) {
        p.logIntervalTenths = 3;
        p.logDistanceTenths = 30;
    });
    theUtility.logIntervalSent = 100;
    theUtility.logDistanceSent = 3000;
    Answer({{"PMTK182,2,6", {sim::Reply::Sentence("PMTK182,3,6,7")}}});
    logger->OnButtonRead();
    // Below the lists: the first rows, the remembered values kept. Mode 7 is
    // shown and kept as overwrite.
    ExpectShown(0, 0);
    ExpectRemembered(100, 3000, 1);
    EXPECT_EQ(logger->recordMode, 1);
    // 5.5 s stays 55 tenths: Apply sends no rounded interval back (only the
    // page's distance, which differs from the remembered 3000).
    state->Update([](sim::DeviceProfile& p) { p.logIntervalTenths = 55; });
    logger->OnButtonRead();
    ExpectShown(1, 0);
    EXPECT_EQ(Apply(), (Bodies{"PMTK182,1,4,1000"}));
    EXPECT_EQ(state->Profile().logIntervalTenths, 55);
}

TEST_F(LoggerPageSimTest, ApplyOnAFreshLinkSendsTheDefaultsOnceAndTheDeviceKeepsThem) {
    ConnectLogger();
    logger->DefaultAll();
    EXPECT_EQ(Apply(), (Bodies{"PMTK182,1,3,50", "PMTK182,1,4,1000", "PMTK182,1,6,2"}));
    EXPECT_EQ(SettingStatus(), "Apply Setting Successfully.");
    EXPECT_TRUE(Apply().empty());

    Choose(kIntervalCombo, 6);
    Choose(kDistanceCombo, 5);
    logger->SendCommand(kOverwrite);
    EXPECT_EQ(Apply(), (Bodies{"PMTK182,1,3,1200", "PMTK182,1,4,10000", "PMTK182,1,6,1"}));
    const sim::DeviceProfile p = state->Profile();
    EXPECT_EQ(std::tuple(p.logIntervalTenths, p.logDistanceTenths, p.recordMode), std::tuple(1200, 10000, 1));

    // What Apply set is what Read finds.
    logger->SetDefaults();
    logger->OnButtonRead();
    ExpectShown(6, 5);

    // Switching recording off sends nothing for interval and distance.
    logger->CheckDlgButton(kEnableRecording, false);
    logger->SendCommand(kEnableRecording);
    EXPECT_FALSE(logger->IsDlgItemEnabled(kIntervalCombo));
    EXPECT_TRUE(Apply().empty());
}

TEST_F(LoggerPageSimTest, TheImperialTableSendsFeetInTenthsOfAMetre) {
    ConnectLogger();
    logger->distanceInFeet = 1;
    theUtility.logIntervalSent = 50;
    theUtility.recordModeSent = 2;
    logger->SetDefaults();
    EXPECT_EQ(logger->logDistanceTenths, 304);
    Choose(kDistanceCombo, 3);
    EXPECT_EQ(Apply(), (Bodies{"PMTK182,1,4,914"}));
    EXPECT_EQ(state->Profile().logDistanceTenths, 914);
}

TEST_F(LoggerPageSimTest, AnUnconfirmedSettingKeepsTheOldValueAndShowsAFailure) {
    ConnectLogger();
    Answer({{"PMTK182,1,", {sim::Reply::Sentence("PMTK001,182,1,2")}}});
    logger->DefaultAll();
    EXPECT_EQ(Apply().size(), 3u);
    ExpectRemembered(0, 0, 0);
    EXPECT_EQ(SettingStatus(), "Setting Failed! The device did not confirm it.");
    // The next Apply tries again; now the logger takes them.
    Answer({});
    EXPECT_EQ(Apply().size(), 3u);
    EXPECT_EQ(theUtility.logIntervalSent, 50);
}

struct ClearCase {
    const char* name;
    sim::Replies eraseReply;    // empty: the logger's own
    sim::Replies addressReply;  // answer to the end-address query
    const char* status;
    int freeCount;  // -1: unchanged
    const char* shown;
    long addressQueries;
    std::uint32_t endAddress;  // remembered when the count is new
};

void PrintTo(const ClearCase& c, std::ostream* os) { *os << c.name; }

class LoggerClearTest : public LoggerPageSimTest, public ::testing::WithParamInterface<ClearCase> {};

TEST_P(LoggerClearTest, ClearErasesAndRecomputesTheFreeCount) {
    const ClearCase& c = GetParam();
    ConnectLogger();
    theUtility.freeRecordCount = 77;
    std::map<std::string, sim::Replies> answers{{"PMTK182,2,8", c.addressReply}};
    if (!c.eraseReply.empty()) answers["PMTK182,6,1"] = c.eraseReply;
    Answer(answers);
    logger->SendCommand(kClear);
    EXPECT_EQ(logger->GetDlgItemText(kProcessStatus), c.status);
    EXPECT_EQ(theUtility.freeRecordCount, c.freeCount < 0 ? 77 : c.freeCount);
    EXPECT_EQ(page->GetDlgItemText(dialog133::kMemoryUsage), c.shown);
    EXPECT_EQ(SentCount("PMTK182,2,8"), c.addressQueries);
    ExpectUnlocked();
    if (c.freeCount >= 0) {
        EXPECT_EQ(theUtility.logEndAddress, c.endAddress);
    }
}

const char* const kCleared = "Clear Device Track Log Data Successfully.";

INSTANTIATE_TEST_SUITE_P(
    Answers, LoggerClearTest,
    ::testing::Values(
        ClearCase{"Address1000", {}, {sim::Reply::Sentence("PMTK182,3,8,00001000")}, kCleared, 130816, "130816", 1,
                  0x1000},
        ClearCase{"PastTheEnd", {}, {sim::Reply::Sentence("PMTK182,3,8,00200010")}, kCleared, 0, "0", 1, 0x200010},
        ClearCase{"EraseRefused", {sim::Reply::Sentence("PMTK001,182,6,2")}, {},
                  "Clear Failed! The device did not confirm the erase.", -1, "", 0, 0},
        ClearCase{"AddressNeverAnswered", {}, {}, "Cleared. The free record count could not be read.", -1, "",
                  CPageMTKTracklogSetting::kEndAddressPolls, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoggerPageSimTest, WithoutAPortNothingIsSentAndTheFailuresAreShown) {
    StartUnlinked();
    logger->OnButtonRead();
    EXPECT_EQ(SettingStatus(), "Connection to Device Failed");
    logger->OnButtonClear();
    EXPECT_EQ(logger->GetDlgItemText(kProcessStatus), "Clear Failed! No Device Connected! ");
    logger->DefaultAll();
    logger->SendMessage(WM_PAGE_COMMAND, PAGECMD_APPLY);
    EXPECT_EQ(logger->PageCommandCount(PAGECMD_APPLY), 1);
    EXPECT_EQ(theUtility.logIntervalSent, 0);
    // Upload asks for no folder.
    const std::size_t asked = ui.Calls().size();
    RunUpload();
    EXPECT_EQ(logger->GetDlgItemText(kProcessStatus), "Upload Failed! No Device Connected! ");
    ExpectUnlocked();
    EXPECT_EQ(ui.Calls().size(), asked);
    EXPECT_TRUE(device->Received().empty());
}

}  // namespace
