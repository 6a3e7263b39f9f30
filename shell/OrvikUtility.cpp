#include "shell/OrvikUtility.h"

#include "shell/OrvikUtilityDlg.h"
#include "support/Tool.h"
#include "ui/StringTable.h"

bool COrvikUtilityApp::InitInstance() {
    // Texts the utility class loads by id come from the program's table.
    CTool::SetStringLoader([](unsigned id) { return res::LoadString(static_cast<int>(id)); });
    COrvikUtilityDlg dialog;
    dialog.DoModal();
    return false;
}
