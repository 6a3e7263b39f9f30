// The photo combine settings dialog: it opens showing the calibration and
// zone kept in the settings object (the spins' writes while it initialises
// store nothing), typing stores the calibration at once, OK alone stores the
// "write GPS" box, the first opening of a run derives the zone from the
// machine's Bias by the program's zone rule, and after the page's Default
// the next opening shows "0".
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>

#include "export/PhotoCSDlg.h"
#include "platform/Controls.h"
#include "support/UtilityManager.h"
#include "ui/templates/Template145.h"

namespace {

using namespace dialog145;

std::vector<int> Stored() {
    int zone = 0, d = 0, h = 0, m = 0, s = 0;
    bool gps = false;
    theUtility.GetPhotoTimeZone(zone);
    theUtility.GetCalibration(d, h, m, s);
    theUtility.GetWriteGpsInPhoto(gps);
    return {zone, d, h, m, s, gps};
}

class PhotoSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        theUtility.SetPhotoTimeZone(0);
        theUtility.SetCalibration(0, 0, 0, 0);
        theUtility.SetWriteGpsInPhoto(false);
        theUtility.zoneInitialised = 1;
        theUtility.photoZoneReset = 0;
    }
    static void Type(CPhotoCSDlg& dialog, int edit, const char* text) {
        auto* field = dialog.Item<QLineEdit>(edit);
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, text);
    }
    static void ChooseZone(CPhotoCSDlg& dialog, int row) {
        dialog.SetCurSel(kZoneCombo, row);
        dialog.SendCommand(kZoneCombo, platform::notify::kSelChange);
    }
    static std::string ZoneShown(const CPhotoCSDlg& dialog) {
        return dialog.GetItemText(kZoneCombo, dialog.GetCurSel(kZoneCombo));
    }
};

TEST_F(PhotoSettingsTest, OpensWithTheStoredCalibrationAndZone) {
    theUtility.SetCalibration(1, -2, 30, -15);
    theUtility.SetPhotoTimeZone(-3);
    CPhotoCSDlg dialog;
    ASSERT_TRUE(dialog.Create(static_cast<QWidget*>(nullptr)));
    // The spins wrote 0 into every edit while the dialog initialised.
    EXPECT_EQ(Stored(), (std::vector<int>{-3, 1, -2, 30, -15, 0}));
    std::string shown;
    for (int edit : {kDaysEdit, kHoursEdit, kMinutesEdit, kSecondsEdit}) shown += dialog.GetDlgItemText(edit) + " ";
    EXPECT_EQ(shown, "1 -2 30 -15 ");
    EXPECT_EQ(ZoneShown(dialog), "-3");
    const std::pair<int, int> kSpins[] = {{kDaysSpin, 30}, {kHoursSpin, 23}, {kMinutesSpin, 59}, {kSecondsSpin, 59}};
    for (const auto& [id, high] : kSpins) {
        auto* spin = dialog.Item<platform::SpinWidget>(id);
        ASSERT_NE(spin, nullptr);
        EXPECT_EQ(std::vector<int>({spin->Low(), spin->High(), spin->Pos()}), std::vector<int>({-high, high, 0})) << id;
    }
}

TEST_F(PhotoSettingsTest, TypingStoresAtOnceAndGivesTheCalibrationInSeconds) {
    CPhotoCSDlg dialog;
    ASSERT_TRUE(dialog.Create(static_cast<QWidget*>(nullptr)));
    Type(dialog, kDaysEdit, "1");
    Type(dialog, kHoursEdit, "-2");
    Type(dialog, kMinutesEdit, "30");
    Type(dialog, kSecondsEdit, "-15");
    int seconds = 0;
    dialog.GetCalibrationSeconds(seconds);
    EXPECT_EQ(seconds, 80985);  // 86400 - 7200 + 1800 - 15
    EXPECT_EQ(Stored(), (std::vector<int>{0, 1, -2, 30, -15, 0}));
    // Letters count as 0; an edit takes at most 3 characters; a spin steps
    // its edit's number and stores it as typing does.
    Type(dialog, kMinutesEdit, "ab");
    Type(dialog, kDaysEdit, "-100");
    dialog.Item<platform::SpinWidget>(kHoursSpin)->Step(1);
    EXPECT_EQ(dialog.GetDlgItemText(kDaysEdit) + " " + dialog.GetDlgItemText(kHoursEdit), "-10 -1");
    EXPECT_EQ(Stored(), (std::vector<int>{0, -10, -1, 0, -15, 0}));
}

TEST_F(PhotoSettingsTest, CancelKeepsOnlyWhatWasTypedAndOkStoresEverything) {
    for (bool ok : {false, true}) {
        CPhotoCSDlg dialog;
        ASSERT_TRUE(dialog.Create(static_cast<QWidget*>(nullptr)));
        EXPECT_FALSE(dialog.IsDlgButtonChecked(kWriteGps));
        Type(dialog, kSecondsEdit, "20");
        dialog.Item<QAbstractButton>(kWriteGps)->click();
        ChooseZone(dialog, 4);  // "+9"
        dialog.SendCommand(ok ? kOk : kCancel);
        EXPECT_EQ(dialog.ModalResult(), ok ? platform::kIdOk : platform::kIdCancel);
        EXPECT_EQ(Stored(), (std::vector<int>{ok ? 9 : 0, 0, 0, 0, 20, ok}));
    }
}

TEST_F(PhotoSettingsTest, TheFirstOpeningTakesTheMachinesZoneAndLaterOnesTheStoredOne) {
    theUtility.zoneInitialised = 0;
    for (const char* expected : {"+9", "-3"}) {
        CPhotoCSDlg dialog;
        dialog.machineBias = [] { return -540; };  // UTC+9
        ASSERT_TRUE(dialog.Create(static_cast<QWidget*>(nullptr)));
        EXPECT_EQ(ZoneShown(dialog), expected);
        EXPECT_EQ(Stored()[0], std::atoi(expected));
        ChooseZone(dialog, 16);  // "-3"
        dialog.SendCommand(kOk);
    }
}

TEST_F(PhotoSettingsTest, AfterTheDefaultCommandTheNextOpeningShowsZoneZero) {
    theUtility.SetPhotoTimeZone(7);
    theUtility.photoZoneReset = 1;
    CPhotoCSDlg dialog;
    ASSERT_TRUE(dialog.Create(static_cast<QWidget*>(nullptr)));
    EXPECT_EQ(ZoneShown(dialog), "0");
    EXPECT_EQ(dialog.zoneOffset, 0);
    EXPECT_EQ(theUtility.photoZoneReset.load(), 0);
}

// The first opening follows the program's default-zone rule: whole hours of
// the standard Bias with the sign inverted, and a machine on UTC (or less
// than an hour from it) selects "0".
TEST_F(PhotoSettingsTest, TheFirstOpeningTakesTheZoneRowOfTheMachinesBias) {
    const std::pair<int, const char*> kCases[] = {{-480, "+8"}, {300, "-5"}, {-345, "+5"}, {0, "0"}, {30, "0"},
                                                  {720, "-12"}};
    for (const auto& [bias, label] : kCases) {
        theUtility.zoneInitialised = 0;
        CPhotoCSDlg dialog;
        dialog.machineBias = [bias = bias] { return bias; };
        ASSERT_TRUE(dialog.Create(static_cast<QWidget*>(nullptr)));
        EXPECT_EQ(ZoneShown(dialog), label) << bias;
        EXPECT_EQ(dialog.zoneOffset, std::atoi(label)) << bias;
    }
}

}  // namespace
