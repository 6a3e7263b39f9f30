#include "device/PageDownloadFW.h"

#include "support/UtilityManager.h"
#include "ui/templates/Template147.h"

CPageDownloadFW::CPageDownloadFW() : CPage(res::Template147()) {}

CPageDownloadFW::~CPageDownloadFW() {
    if (downloadPageInstance.load() == this) {
        downloadPageInstance = nullptr;
    }
}

bool CPageDownloadFW::OnInitDialog() {
    CPage::OnInitDialog();
    downloadPageInstance = this;
    return true;
}
