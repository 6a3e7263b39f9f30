// What both ways of updating a device report to the update page. Calls come
// from the update worker's thread; the page hands them to the UI thread.
#pragma once

#include <string>

class UpdateProgressHost {
public:
    virtual ~UpdateProgressHost() = default;
    // The update state line (static 1233): a string-table id.
    virtual void SetStateText(int stringId) = 0;
    // The progress bar (1093, range 0 .. 100): always a value in the range.
    virtual void SetProgressBar(int position) = 0;
    // The percentage text (static 1234), such as "42%".
    virtual void SetPercentText(const std::string& text) = 0;
    // Enables the main window's buttons: all (Default All 1002, OK 1, About
    // 1095, Cancel 2, Apply All 1001) after a success, else OK and About only.
    virtual void EnableMainButtons(bool all) = 0;
};
