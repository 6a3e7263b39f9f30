// The photo combine settings dialog: it opens showing the calibration and
// zone kept in the settings object (the spins' writes while it initialises
// store nothing), typing stores the calibration at once, OK alone stores the
// "write GPS" box, the first opening of a run derives the zone from the
// machine's Bias, and the page's Default makes the next opening show "0".
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

struct Calibration {
    int days = 0, hours = 0, minutes = 0, seconds = 0;
    friend bool operator==(const Calibration&, const Calibration&) = default;
};

Calibration StoredCalibration() {
    Calibration c;
    theUtility.GetCalibration(c.days, c.hours, c.minutes, c.seconds);
    return c;
}

int StoredZone() {
    int zone = 0;
    theUtility.GetPhotoTimeZone(zone);
    return zone;
}

bool StoredWriteGps() {
    bool write = false;
    theUtility.GetWriteGpsInPhoto(write);
    return write;
}

// Puts the photo settings back after each test.
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
        ASSERT_NE(field, nullptr);
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, text);
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
    // The spins wrote 0 into every edit while the dialog initialised; none
    // of that reached the settings.
    EXPECT_EQ(StoredCalibration(), (Calibration{1, -2, 30, -15}));
    EXPECT_EQ(dialog.GetDlgItemText(kDaysEdit), "1");
    EXPECT_EQ(dialog.GetDlgItemText(kHoursEdit), "-2");
    EXPECT_EQ(dialog.GetDlgItemText(kMinutesEdit), "30");
    EXPECT_EQ(dialog.GetDlgItemText(kSecondsEdit), "-15");
    EXPECT_EQ(ZoneShown(dialog), "-3");
    EXPECT_EQ(StoredZone(), -3);
    // The spins' ranges, each at 0.
    const int spins[] = {kDaysSpin, kHoursSpin, kMinutesSpin, kSecondsSpin};
    const int highs[] = {30, 23, 59, 59};
    for (int i = 0; i < 4; ++i) {
        auto* spin = dialog.Item<platform::SpinWidget>(spins[i]);
        ASSERT_NE(spin, nullptr);
        EXPECT_EQ(spin->Low(), -highs[i]);
        EXPECT_EQ(spin->High(), highs[i]);
        EXPECT_EQ(spin->Pos(), 0);
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
    EXPECT_EQ(seconds, 86400 - 7200 + 1800 - 15);  // 80985
    EXPECT_EQ(seconds, 80985);
    EXPECT_EQ(StoredCalibration(), (Calibration{1, -2, 30, -15}));

    // Letters count as 0; an edit takes at most 3 characters.
    Type(dialog, kMinutesEdit, "ab");
    Type(dialog, kDaysEdit, "-100");
    EXPECT_EQ(dialog.GetDlgItemText(kDaysEdit), "-10");
    EXPECT_EQ(StoredCalibration(), (Calibration{-10, -2, 0, -15}));

    // A spin steps its edit's number and stores it, as typing does.
    dialog.Item<platform::SpinWidget>(kHoursSpin)->Step(1);
    EXPECT_EQ(dialog.GetDlgItemText(kHoursEdit), "-1");
    EXPECT_EQ(StoredCalibration(), (Calibration{-10, -1, 0, -15}));
}

TEST_F(PhotoSettingsTest, OkStoresTheWriteGpsBoxAndCancelKeepsOnlyWhatWasTyped) {
    {
        CPhotoCSDlg dialog;
        ASSERT_TRUE(dialog.Create(static_cast<QWidget*>(nullptr)));
        Type(dialog, kSecondsEdit, "20");
        dialog.Item<QAbstractButton>(kWriteGps)->click();
        dialog.SetCurSel(kZoneCombo, 4);  // "+9"
        dialog.SendCommand(kZoneCombo, platform::notify::kSelChange);
        dialog.SendCommand(kCancel);
        EXPECT_EQ(dialog.ModalResult(), platform::kIdCancel);
        EXPECT_EQ(StoredCalibration(), (Calibration{0, 0, 0, 20}));
        EXPECT_FALSE(StoredWriteGps());
        EXPECT_EQ(StoredZone(), 0);  // the zone changes with a typed calibration or OK
    }
    {
        CPhotoCSDlg dialog;
        ASSERT_TRUE(dialog.Create(static_cast<QWidget*>(nullptr)));
        EXPECT_EQ(dialog.GetDlgItemText(kSecondsEdit), "20");
        EXPECT_FALSE(dialog.IsDlgButtonChecked(kWriteGps));
        dialog.Item<QAbstractButton>(kWriteGps)->click();
        dialog.SetCurSel(kZoneCombo, 4);
        dialog.SendCommand(kZoneCombo, platform::notify::kSelChange);
        dialog.SendCommand(kOk);
        EXPECT_EQ(dialog.ModalResult(), platform::kIdOk);
        int zone = 0, seconds = 0;
        dialog.GetZoneOffset(zone);
        dialog.GetCalibrationSeconds(seconds);
        EXPECT_EQ(zone, 9);
        EXPECT_EQ(seconds, 20);
        EXPECT_TRUE(StoredWriteGps());
        EXPECT_EQ(StoredZone(), 9);
    }
}

TEST_F(PhotoSettingsTest, TheFirstOpeningTakesTheMachinesZoneAndLaterOnesTheStoredOne) {
    theUtility.zoneInitialised = 0;
    theUtility.SetPhotoTimeZone(0);
    {
        CPhotoCSDlg dialog;
        dialog.machineBias = [] { return -540; };  // UTC+9
        ASSERT_TRUE(dialog.Create(static_cast<QWidget*>(nullptr)));
        int zone = 0;
        dialog.GetZoneOffset(zone);
        EXPECT_EQ(zone, 9);
        EXPECT_EQ(ZoneShown(dialog), "+9");
        EXPECT_EQ(StoredZone(), 9);
        dialog.SetCurSel(kZoneCombo, 16);  // "-3"
        dialog.SendCommand(kZoneCombo, platform::notify::kSelChange);
        dialog.SendCommand(kOk);
    }
    CPhotoCSDlg again;
    again.machineBias = [] { return -540; };
    ASSERT_TRUE(again.Create(static_cast<QWidget*>(nullptr)));
    EXPECT_EQ(ZoneShown(again), "-3");
}

TEST_F(PhotoSettingsTest, AfterTheDefaultCommandTheNextOpeningShowsZoneZero) {
    theUtility.SetPhotoTimeZone(7);
    theUtility.photoZoneReset = 1;
    CPhotoCSDlg dialog;
    ASSERT_TRUE(dialog.Create(static_cast<QWidget*>(nullptr)));
    EXPECT_EQ(ZoneShown(dialog), "0");
    int zone = -1;
    dialog.GetZoneOffset(zone);
    EXPECT_EQ(zone, 0);
    EXPECT_EQ(theUtility.photoZoneReset.load(), 0);
}

TEST(ZoneLabelTest, BiasGivesTheLabelOfTheZoneTable) {
    const struct {
        int bias;
        const char* label;
    } kCases[] = {{-540, "+9"}, {-480, "+8"}, {300, "-5"}, {-330, "+5"}, {-345, "+5"}, {0, "-0"}, {720, "-12"}};
    for (const auto& c : kCases) {
        EXPECT_EQ(CPhotoCSDlg::ZoneLabelFromBias(c.bias), c.label) << "Bias " << c.bias;
    }
    EXPECT_EQ(CPhotoCSDlg::kZoneLabels[0], std::string("+13"));
    EXPECT_EQ(CPhotoCSDlg::kZoneLabels[13], std::string("0"));
    EXPECT_EQ(CPhotoCSDlg::kZoneLabels[25], std::string("-12"));
}

}  // namespace
