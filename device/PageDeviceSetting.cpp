#include "device/PageDeviceSetting.h"

#include "shell/Templates.h"
#include "support/UtilityManager.h"

CPageDeviceSetting::CPageDeviceSetting() : CPage(res::Template133()) {}

CPageDeviceSetting::~CPageDeviceSetting() {
    if (devicePageInstance.load() == this) {
        devicePageInstance = nullptr;
    }
}

bool CPageDeviceSetting::OnInitDialog() {
    CPage::OnInitDialog();
    devicePageInstance = this;
    linkBaudRate = 115200;
    theUtility.modelType = 0;
    return true;
}
