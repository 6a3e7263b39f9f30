// The GPS status page (template 129): a fixed display. It fills its fields
// once with the sample fix of GpsStatusValues.h, lists the time zones with
// "+8" selected and checks "Hot Start"; nothing on it acts: a time zone or a
// reset mode may be chosen, but no field changes and no reset is ever sent.
// The main window creates it hidden and without a tab; page commands 0 to 3
// leave it open and unchanged.
#pragma once

#include "ui/Page.h"

class CPageGPSStatus : public CPage {
public:
    CPageGPSStatus();

    bool OnInitDialog() override;

private:
    // The reset modes choose one of them, as radio buttons of one group do.
    void CheckResetMode(int id);
};
