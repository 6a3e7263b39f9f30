// What every page of the main window has in common: the page command of the
// main window, Enter and Esc that never close a page, and the way back to
// the main window through the page host.
#pragma once

#include <atomic>

#include "platform/Dialog.h"
#include "ui/PageHost.h"

// The main window's page command; wParam selects the action.
constexpr unsigned WM_PAGE_COMMAND = platform::kWmUser + 100;
enum PageCommand : unsigned {
    PAGECMD_OK = 0,
    PAGECMD_CANCEL = 1,
    PAGECMD_APPLY = 2,
    PAGECMD_DEFAULT = 3,
};

class CPage : public platform::Dialog {
public:
    using Dialog::Dialog;

    // The main window: the page's parent's parent, set in OnInitDialog; null
    // for a page created outside a main window.
    PageHost* host = nullptr;

    bool OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}
    void OnClose() override {}
    platform::LResult OnMessage(unsigned message, platform::WParam wParam, platform::LParam lParam) override;

    // The page command; values of 4 and above are ignored.
    virtual void OnPageCommand(platform::WParam wParam);
    virtual void ApplyAll() {}
    virtual void DefaultAll() {}

    // True while a worker thread of the page runs; the main window is not
    // closed (and the page not destroyed) meanwhile.
    virtual bool IsWorkerRunning() const { return false; }

    // How many page commands of each kind reached the page (0 to 3).
    int PageCommandCount(unsigned command) const;

private:
    std::atomic<int> pageCommands_[4] = {};
};
