#include "shell/AboutDlg.h"

#include <cstdio>

#include "shell/FileVersionInfo.h"
#include "shell/StringTable.h"
#include "shell/Templates.h"

CAboutDlg::CAboutDlg() : Dialog(res::Template100()) {}

bool CAboutDlg::OnInitDialog() {
    Dialog::OnInitDialog();
    SetWindowText(res::LoadString(300));
    SetDlgItemText(1179, res::LoadString(385));
    SetDlgItemText(1180, res::LoadString(386));
    SetDlgItemText(1, res::LoadString(301));
    SetDlgItemText(1225, res::LoadString(433));
    CFileVersionInfo info;
    if (info.ReadFromModule()) {
        char text[256] = {};
        std::snprintf(text, sizeof(text), " %d.%d.%d.%d", info.GetProductVersionPart(3),
                      info.GetProductVersionPart(2), info.GetProductVersionPart(1), info.GetProductVersionPart(0));
        SetDlgItemText(1181, text);
    }
    return true;
}
