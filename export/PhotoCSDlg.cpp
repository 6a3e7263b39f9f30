#include "export/PhotoCSDlg.h"

#include <QLineEdit>
#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "export/TimeZoneRule.h"
#include "support/UtilityManager.h"
#include "ui/StringTable.h"
#include "ui/templates/Template145.h"

using namespace dialog145;

namespace {

constexpr int kZeroZoneRow = zone_rule::kUtcRow;  // "0"
constexpr int kCalibrationChars = 3;

struct SpinRange {
    int spin;
    int low;
    int high;
};
constexpr SpinRange kSpinRanges[] = {
    {kDaysSpin, -30, 30},
    {kHoursSpin, -23, 23},
    {kMinutesSpin, -59, 59},
    {kSecondsSpin, -59, 59},
};
constexpr int kCalibrationEdits[] = {kDaysEdit, kHoursEdit, kMinutesEdit, kSecondsEdit};

}  // namespace

CPhotoCSDlg::CPhotoCSDlg()
    : Dialog(res::Template145()),
      machineBias([] { return static_cast<int>(-zone_rule::MachineStandardOffset(std::time(nullptr)) / 60); }) {
    for (int edit : kCalibrationEdits) {
        OnNotify(edit, platform::notify::kEditChange, [this] { SaveCalibration(); });
    }
    OnNotify(kZoneCombo, platform::notify::kSelChange, [this] { OnSelchangeComboTimeZone(); });
    OnNotify(kWriteGps, platform::notify::kClicked, [this] { OnCheckWriteGps(); });
}

bool CPhotoCSDlg::OnInitDialog() {
    Dialog::OnInitDialog();
    initialising_ = true;
    EnableDialogTheme(GetWidget());
    LoadCaptions();

    theUtility.GetPhotoTimeZone(zoneOffset);
    theUtility.GetCalibration(calibDays, calibHours, calibMinutes, calibSeconds);

    for (int row = 0; row < zone_rule::kRowCount; ++row) AddItem(kZoneCombo, std::string(zone_rule::RowLabel(row)));
    if (theUtility.photoZoneReset.load()) {
        SetCurSel(kZoneCombo, kZeroZoneRow);
        zoneOffset = 0;
        theUtility.photoZoneReset = 0;
    } else {
        InitTimeZone();
    }
    SetCurSel(kZoneCombo, kZeroZoneRow - zoneOffset);

    // The spins write their position 0 into the edits (raising edit changes
    // that must not store anything); then the edits take the calibration.
    for (const SpinRange& range : kSpinRanges) {
        SetSpinRange(range.spin, range.low, range.high);
        SetSpinPos(range.spin, 0);
    }
    for (int edit : kCalibrationEdits) {
        if (auto* field = Item<QLineEdit>(edit)) field->setMaxLength(kCalibrationChars);
    }
    SetDlgItemText(kDaysEdit, std::to_string(calibDays));
    SetDlgItemText(kHoursEdit, std::to_string(calibHours));
    SetDlgItemText(kMinutesEdit, std::to_string(calibMinutes));
    SetDlgItemText(kSecondsEdit, std::to_string(calibSeconds));

    bool write = false;
    theUtility.GetWriteGpsInPhoto(write);
    writeGps = write ? 1 : 0;
    CheckDlgButton(kWriteGps, writeGps != 0);
    initialising_ = false;
    return true;
}

void CPhotoCSDlg::InitTimeZone() {
    // The zone is derived once per run; later openings keep the one stored.
    if (!theUtility.zoneInitialised.load()) {
        const zone_rule::DefaultZone chosen = zone_rule::ChooseDefaultZone(
            theUtility.useSavedZone != 0, theUtility.savedZoneText, -60L * machineBias());
        if (chosen.row) SetCurSel(kZoneCombo, *chosen.row);
        zoneOffset = chosen.zone;
        theUtility.zoneInitialised = 1;
    }
    theUtility.SetPhotoTimeZone(zoneOffset);
}

void CPhotoCSDlg::LoadCaptions() {
    SetWindowText(res::LoadString(365));
    SetDlgItemText(kZoneLabel, res::LoadString(371));
    SetDlgItemText(kCalibrateLabel, res::LoadString(372));
    SetDlgItemText(kDaysLabel, res::LoadString(373));
    SetDlgItemText(kHoursLabel, res::LoadString(374));
    SetDlgItemText(kMinutesLabel, res::LoadString(375));
    SetDlgItemText(kSecondsLabel, res::LoadString(376));
    SetDlgItemText(kDiscardLabel, res::LoadString(393) + "\n(1) " + res::LoadString(394) + "\n(2) " +
                                      res::LoadString(395) + "\n");
    SetDlgItemText(kWriteGpsFrame, res::LoadString(398));
    SetDlgItemText(kWriteGps, res::LoadString(399));
    SetDlgItemText(kCancel, res::LoadString(302));
    SetDlgItemText(kOk, res::LoadString(301));
    NameSilentControls();
}

void CPhotoCSDlg::NameSilentControls() {
    // A field and its spin are named by their label's template caption.
    if (QWidget* window = GetWidget()) window->setAccessibleName(QString::fromStdString(Template().caption));
    NameEmptyByTemplateCaption({kZoneLabel, kCalibrateLabel, kDaysLabel, kHoursLabel, kMinutesLabel, kSecondsLabel,
                                kDiscardLabel, kWriteGpsFrame, kWriteGps});
    SetDlgItemAccessibleName(kZoneCombo, TemplateCaption(kZoneLabel));
    const int labels[] = {kDaysLabel, kHoursLabel, kMinutesLabel, kSecondsLabel};
    const int spins[] = {kDaysSpin, kHoursSpin, kMinutesSpin, kSecondsSpin};
    for (int i = 0; i < 4; ++i) {
        SetDlgItemAccessibleName(kCalibrationEdits[i], TemplateCaption(labels[i]));
        SetDlgItemAccessibleName(spins[i], TemplateCaption(labels[i]));
    }
}

void CPhotoCSDlg::OnSelchangeComboTimeZone() { zoneOffset = kZeroZoneRow - GetCurSel(kZoneCombo); }

void CPhotoCSDlg::SaveCalibration() {
    if (initialising_ || !GetDlgItem(kDaysEdit)) return;
    calibDays = std::atoi(GetDlgItemText(kDaysEdit).c_str());
    calibHours = std::atoi(GetDlgItemText(kHoursEdit).c_str());
    calibMinutes = std::atoi(GetDlgItemText(kMinutesEdit).c_str());
    calibSeconds = std::atoi(GetDlgItemText(kSecondsEdit).c_str());
    calibrationSeconds = calibDays * 86400 + calibHours * 3600 + calibMinutes * 60 + calibSeconds;
    theUtility.SetPhotoTimeZone(zoneOffset);
    theUtility.SetCalibration(calibDays, calibHours, calibMinutes, calibSeconds);
}

void CPhotoCSDlg::OnCheckWriteGps() { writeGps = IsDlgButtonChecked(kWriteGps) ? 1 : 0; }

void CPhotoCSDlg::OnOK() {
    SaveCalibration();
    theUtility.SetWriteGpsInPhoto(writeGps != 0);
    EndDialog(platform::kIdOk);
}

void CPhotoCSDlg::OnCancel() { EndDialog(platform::kIdCancel); }
