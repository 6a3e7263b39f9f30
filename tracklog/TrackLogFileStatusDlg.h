// "Track Log File Status": the modeless list of the files an upload wrote,
// one line per file, in a list that widens to its longest line.
//
// The logger settings page owns it and calls it on the UI thread only: the
// upload worker's lines reach it through the page, which hands them to the
// UI thread in batches. OK sends kWmCloseStatusDialog to the notify window,
// whose owner destroys the dialog once OK's handler has returned; the dialog
// touches nothing of itself after that message. While OK is disabled, Enter
// does nothing.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Dialog.h"
#include "ui/HListBox.h"

// The file-status dialog asks its owner to destroy it (wParam 0, lParam 0).
constexpr unsigned kWmCloseStatusDialog = platform::kWmUser + 200;

class CTrackLogFileStatusDlg : public platform::Dialog {
public:
    CTrackLogFileStatusDlg();

    void SetNotifyWindow(platform::Dialog* window) { notifyWindow = window; }
    bool OnInitDialog() override;
    void OnOK() override;
    void LoadCaptions();
    // Appends the lines in order; without a window they are dropped.
    void AddLines(const std::vector<std::string>& lines);
    // Stores a value and four bytes that nothing reads.
    void SetStatus(int value, const void* bytes);

    CHListBox fileList;

private:
    int statusValue_ = 0;
    std::array<std::uint8_t, 4> statusBytes_{};
    platform::Dialog* notifyWindow = nullptr;
};
