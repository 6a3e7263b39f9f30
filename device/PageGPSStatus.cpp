#include "device/PageGPSStatus.h"

#include "device/GpsStatusValues.h"
#include "ui/templates/Template129.h"

using namespace dialog129;

namespace {
constexpr int kResetModes[] = {kHotStart, kWarmStart, kColdStart, kFactoryReset};
}  // namespace

CPageGPSStatus::CPageGPSStatus() : CPage(res::Template129()) {
    for (int id : kResetModes) {
        OnNotify(id, platform::notify::kClicked, [this, id] { CheckResetMode(id); });
    }
}

bool CPageGPSStatus::OnInitDialog() {
    CPage::OnInitDialog();
    const gpsstatus::SampleFix& fix = gpsstatus::kSampleFix;
    SetDlgItemText(kUtcTime, fix.utcTime);
    SetDlgItemText(kLocalTime, fix.localTime);
    SetDlgItemText(kLatitude, fix.latitude);
    SetDlgItemText(kLongitude, fix.longitude);
    SetDlgItemText(kAltitude, fix.altitude);
    SetDlgItemText(kSpeed, fix.speed);
    ClearItems(kTimeZone);
    for (const char* zone : gpsstatus::kTimeZones) {
        AddItem(kTimeZone, zone);
    }
    SetCurSel(kTimeZone, gpsstatus::kSelectedTimeZone);
    CheckResetMode(kResetModes[gpsstatus::kCheckedResetMode]);
    return true;
}

void CPageGPSStatus::CheckResetMode(int id) {
    for (int mode : kResetModes) {
        CheckDlgButton(mode, mode == id);
    }
}
