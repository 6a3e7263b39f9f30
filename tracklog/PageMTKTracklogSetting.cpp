#include "tracklog/PageMTKTracklogSetting.h"

#include "device/PageDeviceSetting.h"
#include "shell/OrvikUtilityDlg.h"
#include "shell/Templates.h"

CPageMTKTracklogSetting::CPageMTKTracklogSetting() : CPage(res::Template143()) {}

bool CPageMTKTracklogSetting::OnInitDialog() {
    CPage::OnInitDialog();
    // The engine reaches the port through the update page.
    if (mainDialog) {
        SetLink(mainDialog->DevicePage());
    }
    return true;
}
