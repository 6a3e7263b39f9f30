// "Photo Combine Setting": the modal dialog (template 145) in which the user
// sets the zone of the camera's clock (a whole number of hours east of UTC,
// chosen from the 26-row zone table of export/TimeZoneRule.h), a
// calibration of that clock in days, hours, minutes and seconds, and whether
// matched photos get GPS copies.
//
// The values live in the settings object (theUtility): every change of a
// calibration edit stores the zone and the calibration there at once, so a
// Cancel keeps what was typed; only OK stores the "write GPS" box. The photo
// link page takes GetZoneOffset and GetCalibrationSeconds after an OK.
//
// While the dialog initialises, the spins write their positions into the
// edits; those writes never reach the settings, so the dialog opens showing
// the calibration kept there. UI thread only.
#pragma once

#include <functional>
#include <string>

#include "platform/Dialog.h"

class CPhotoCSDlg : public platform::Dialog {
public:
    CPhotoCSDlg();

    void GetZoneOffset(int& zone) const { zone = zoneOffset; }
    void GetCalibrationSeconds(int& seconds) const { seconds = calibrationSeconds; }

    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    void OnSelchangeComboTimeZone();
    void SaveCalibration();
    void OnCheckWriteGps();

    int zoneOffset = 0;  // hours east of UTC
    int calibrationSeconds = 0;
    int calibDays = 0;
    int calibHours = 0;
    int calibMinutes = 0;
    int calibSeconds = 0;
    int writeGps = 0;

    // The machine's standard-time Bias in minutes (UTC = local + Bias), from
    // which the first opening of a run derives its zone by the program's
    // default-zone rule (export/TimeZoneRule.h). Replaceable for tests.
    std::function<int()> machineBias;

private:
    void LoadCaptions();
    void InitTimeZone();
    void NameSilentControls();

    bool initialising_ = false;
};
