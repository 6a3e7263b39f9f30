#include "shell/OrvikUtility.h"

#include "shell/OrvikUtilityDlg.h"

bool COrvikUtilityApp::InitInstance() {
    COrvikUtilityDlg dialog;
    dialog.DoModal();
    return false;
}
