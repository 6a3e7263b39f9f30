// "Track Log File Status": the modeless list of the files an upload wrote,
// one line per file, in a list that widens to its longest line.
//
// The logger settings page owns it. AddLine may be called from any thread:
// the line is handed to the UI thread and dropped when the window is gone by
// then. OK sends kWmCloseStatusDialog to the notify window, whose owner
// destroys the dialog once OK's handler has returned; the dialog touches
// nothing of itself after that message.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/Dialog.h"
#include "shell/HListBox.h"

// The file-status dialog asks its owner to destroy it (wParam 0, lParam 0).
constexpr unsigned kWmCloseStatusDialog = platform::kWmUser + 200;

class CTrackLogFileStatusDlg : public platform::Dialog {
public:
    CTrackLogFileStatusDlg();

    void SetNotifyWindow(platform::Dialog* window) { notifyWindow = window; }
    bool OnInitDialog() override;
    void OnOK() override;
    void LoadCaptions();
    // Appends a line; without a window it is dropped.
    void AddLine(const std::string& text);
    // Stores a value and four bytes that nothing reads.
    void SetStatus(int value, const void* bytes);

    CHListBox fileList;

private:
    int statusValue_ = 0;
    std::array<std::uint8_t, 4> statusBytes_{};
    platform::Dialog* notifyWindow = nullptr;
};
