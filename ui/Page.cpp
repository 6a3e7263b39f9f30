#include "ui/Page.h"

#include <QWidget>

bool CPage::OnInitDialog() {
    Dialog::OnInitDialog();
    host = nullptr;
    QWidget* parent = GetWidget() ? GetWidget()->parentWidget() : nullptr;
    QWidget* grandparent = parent ? parent->parentWidget() : nullptr;
    if (auto* window = qobject_cast<platform::DialogWidget*>(grandparent)) {
        host = dynamic_cast<PageHost*>(window->Owner());
    }
    return true;
}

platform::LResult CPage::OnMessage(unsigned message, platform::WParam wParam, platform::LParam) {
    if (message == WM_PAGE_COMMAND) {
        OnPageCommand(wParam);
    }
    return 0;
}

void CPage::OnPageCommand(platform::WParam wParam) {
    if (wParam < 4) {
        ++pageCommands_[wParam];
    }
    switch (wParam) {
        case PAGECMD_OK: OnOK(); break;
        case PAGECMD_CANCEL: OnCancel(); break;
        case PAGECMD_APPLY: ApplyAll(); break;
        case PAGECMD_DEFAULT: DefaultAll(); break;
        default: break;
    }
}

int CPage::PageCommandCount(unsigned command) const { return command < 4 ? pageCommands_[command].load() : 0; }
