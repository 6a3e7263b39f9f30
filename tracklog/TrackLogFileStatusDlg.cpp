#include "tracklog/TrackLogFileStatusDlg.h"

#include <cstring>

#include "platform/Controls.h"
#include "support/UtilityManager.h"
#include "ui/StringTable.h"
#include "ui/templates/Template146.h"

using namespace dialog146;

CTrackLogFileStatusDlg::CTrackLogFileStatusDlg() : Dialog(res::Template146()) {}

bool CTrackLogFileStatusDlg::OnInitDialog() {
    Dialog::OnInitDialog();
    EnableDialogTheme(GetWidget());
    fileList.Attach(Item<platform::ListBoxWidget>(kFileList));
    LoadCaptions();
    fileList.ResetContent();
    return true;
}

void CTrackLogFileStatusDlg::LoadCaptions() {
    // String 382 is the title when the table has it; else the template's.
    if (res::HasString(382)) SetWindowText(res::LoadString(382));
    SetDlgItemText(kOk, res::LoadString(301));
    SetDlgItemAccessibleName(kFileList, GetWindowText());
}

void CTrackLogFileStatusDlg::AddLines(const std::vector<std::string>& lines) {
    if (HasWindow() && fileList.Control()) fileList.AddStrings(lines);
}

void CTrackLogFileStatusDlg::OnOK() {
    if (notifyWindow) notifyWindow->SendMessage(kWmCloseStatusDialog, 0, 0);
    // The owner may have released this dialog by now: nothing more here.
}

void CTrackLogFileStatusDlg::SetStatus(int value, const void* bytes) {
    statusValue_ = value;
    if (bytes) std::memcpy(statusBytes_.data(), bytes, statusBytes_.size());
}
