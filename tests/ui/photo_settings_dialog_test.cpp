// The photo combine settings dialog: it opens on the settings' calibration
// and zone (the spins' writes while it initialises store nothing), typing
// stores at once, OK alone stores the "write GPS" box; the first opening of a
// run takes the zone of the machine's Bias, and after Default it shows "0".
#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>
#include <memory>

#include "ExportPageTest.h"
#include "export/PhotoCSDlg.h"
#include "platform/Controls.h"
#include "ui/templates/Template145.h"

namespace {

using namespace dialog145;

class PhotoSettingsTest : public testsupport::ExportPageTest {
protected:
    static std::unique_ptr<CPhotoCSDlg> Open(int bias = -540) {
        auto dialog = std::make_unique<CPhotoCSDlg>();
        dialog->machineBias = [bias] { return bias; };
        EXPECT_TRUE(dialog->Create(static_cast<QWidget*>(nullptr)));
        return dialog;
    }
    static std::vector<int> Stored() {  // zone, d, h, m, s, write GPS
        int zone = 0, d = 0, h = 0, m = 0, s = 0;
        bool gps = false;
        theUtility.GetPhotoTimeZone(zone);
        theUtility.GetCalibration(d, h, m, s);
        theUtility.GetWriteGpsInPhoto(gps);
        return {zone, d, h, m, s, gps};
    }
    static void Type(CPhotoCSDlg& dialog, int edit, const char* text) {
        auto* field = dialog.Item<QLineEdit>(edit);
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, text);
    }
    static std::string Shown(const CPhotoCSDlg& dialog) {
        return dialog.GetItemText(kZoneCombo, dialog.GetCurSel(kZoneCombo));
    }
};

TEST_F(PhotoSettingsTest, OpensOnTheStoredValuesAndTypingStoresAtOnce) {
    theUtility.SetCalibration(1, -2, 30, -15);
    theUtility.SetPhotoTimeZone(-3);
    auto dialog = Open();
    // The spins wrote 0 into every edit while the dialog initialised.
    EXPECT_EQ(Stored(), (std::vector<int>{-3, 1, -2, 30, -15, 0}));
    std::string shown = Shown(*dialog);
    for (int edit : {kDaysEdit, kHoursEdit, kMinutesEdit, kSecondsEdit}) shown += " " + dialog->GetDlgItemText(edit);
    EXPECT_EQ(shown, "-3 1 -2 30 -15");
    for (const auto& [id, high] :
         {std::pair{kDaysSpin, 30}, {kHoursSpin, 23}, {kMinutesSpin, 59}, {kSecondsSpin, 59}}) {
        auto* spin = dialog->Item<platform::SpinWidget>(id);
        ASSERT_NE(spin, nullptr);
        EXPECT_EQ(std::vector<int>({spin->Low(), spin->High(), spin->Pos()}), std::vector<int>({-high, high, 0})) << id;
    }
    for (const auto& [edit, text] :
         {std::pair{kDaysEdit, "-1"}, {kHoursEdit, "2"}, {kMinutesEdit, "-30"}, {kSecondsEdit, "15"}}) {
        Type(*dialog, edit, text);
    }
    int seconds = 0;
    dialog->GetCalibrationSeconds(seconds);
    EXPECT_EQ(seconds, -80985);  // -86400 + 7200 - 1800 + 15
    EXPECT_EQ(Stored(), (std::vector<int>{-3, -1, 2, -30, 15, 0}));
    // Letters count as 0; an edit takes at most 3 characters; a spin steps
    // its edit's number and stores it as typing does.
    Type(*dialog, kMinutesEdit, "ab");
    Type(*dialog, kDaysEdit, "-100");
    dialog->Item<platform::SpinWidget>(kHoursSpin)->Step(1);
    EXPECT_EQ(dialog->GetDlgItemText(kDaysEdit) + " " + dialog->GetDlgItemText(kHoursEdit), "-10 3");
    EXPECT_EQ(Stored(), (std::vector<int>{-3, -10, 3, 0, 15, 0}));
}

TEST_F(PhotoSettingsTest, CancelKeepsOnlyWhatWasTypedAndOkStoresEverything) {
    for (bool ok : {false, true}) {
        auto dialog = Open();
        EXPECT_FALSE(dialog->IsDlgButtonChecked(kWriteGps));
        Type(*dialog, kSecondsEdit, "20");
        dialog->Item<QAbstractButton>(kWriteGps)->click();
        Select(*dialog, kZoneCombo, 4);  // "+9"
        dialog->SendCommand(ok ? kOk : kCancel);
        EXPECT_EQ(dialog->ModalResult(), ok ? platform::kIdOk : platform::kIdCancel);
        EXPECT_EQ(Stored(), (std::vector<int>{ok ? 9 : 0, 0, 0, 0, 20, ok}));
    }
}

// The first opening of a run follows the default-zone rule: whole hours of
// the standard Bias with the sign inverted (less than an hour from UTC is
// "0"), stored at once; later openings show the stored zone, and the first
// after the page's Default shows "0".
TEST_F(PhotoSettingsTest, TheZoneOfEachOpening) {
    for (const auto& [bias, label] : {std::pair{-540, "+9"}, {-480, "+8"}, {300, "-5"}, {-345, "+5"}, {0, "0"},
                                      {30, "0"}, {720, "-12"}}) {
        theUtility.zoneInitialised = 0;
        auto dialog = Open(bias);
        EXPECT_EQ(Shown(*dialog), label) << bias;
        EXPECT_EQ(dialog->zoneOffset, std::atoi(label)) << bias;
        EXPECT_EQ(Stored()[0], std::atoi(label)) << bias;
        Select(*dialog, kZoneCombo, 16);  // "-3"
        dialog->SendCommand(kOk);
    }
    EXPECT_EQ(Shown(*Open()), "-3");
    theUtility.photoZoneReset = 1;
    auto dialog = Open();
    EXPECT_EQ(Shown(*dialog), "0");
    EXPECT_EQ(dialog->zoneOffset, 0);
    EXPECT_EQ(theUtility.photoZoneReset.load(), 0);
}

}  // namespace
