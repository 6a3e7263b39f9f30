#include "shell/AboutDlg.h"

#include <cstdio>

#include "shell/FileVersionInfo.h"
#include "ui/StringTable.h"
#include "ui/templates/Template100.h"

using namespace dialog100;

CAboutDlg::CAboutDlg() : Dialog(res::Template100()) {}

bool CAboutDlg::OnInitDialog() {
    Dialog::OnInitDialog();
    SetWindowText(res::LoadString(300));
    SetDlgItemText(kCopyright, res::LoadString(385));
    SetDlgItemText(kTitle, res::LoadString(386));
    SetDlgItemText(kOk, res::LoadString(301));
    SetDlgItemText(kProducts, res::LoadString(433));
    CFileVersionInfo info;
    if (info.ReadFromModule()) {
        char text[256] = {};
        std::snprintf(text, sizeof(text), " %d.%d.%d.%d", info.GetProductVersionPart(3),
                      info.GetProductVersionPart(2), info.GetProductVersionPart(1), info.GetProductVersionPart(0));
        SetDlgItemText(kVersion, text);
    }
    return true;
}
