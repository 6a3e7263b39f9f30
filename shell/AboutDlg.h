// The About box: program texts and the product version from the program's
// own version block.
#pragma once

#include "platform/Dialog.h"

class CAboutDlg : public platform::Dialog {
public:
    CAboutDlg();
    bool OnInitDialog() override;
};
