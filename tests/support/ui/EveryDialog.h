// The main window with all its pages, and every dialog the program opens (the
// About box, Transform to File, the photo settings, the file status), created
// offscreen: what tests that hold every window to one rule walk over. Each is
// found by its template id.
#pragma once

#include <string>
#include <vector>

#include "FakeWindow.h"
#include "export/PhotoCSDlg.h"
#include "shell/AboutDlg.h"
#include "tracklog/StepByStepDlg.h"
#include "tracklog/TrackLogFileStatusDlg.h"

namespace testsupport {

// A dialog's controls: each of its template's (null when the dialog lacks
// it), then every other shown child window (with no id).
struct Control {
    int id;
    QWidget* widget;
};
std::vector<Control> ControlsOf(const platform::Dialog& dialog);
// "dialog 133 control 1011", or the class of a control with no id.
std::string Describe(const platform::Dialog& dialog, const Control& control);

class EveryDialog {
public:
    bool Start();
    // The main window, then its pages in slot order, then the dialogs.
    const std::vector<const platform::Dialog*>& All() const { return all_; }
    const platform::Dialog* ById(int templateId) const;

    FakeWindow fake;

private:
    CAboutDlg about_;
    CStepByStepDlg transform_;
    CPhotoCSDlg photoSettings_;
    CTrackLogFileStatusDlg fileStatus_;
    std::vector<const platform::Dialog*> all_;
};

}  // namespace testsupport
