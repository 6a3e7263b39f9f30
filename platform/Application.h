// Start-up helpers of the Qt application: the guarded start of the toolkit
// and the look (style and the font with Japanese glyphs).
#pragma once

#include <memory>

class QApplication;

namespace platform {

// Builds the application object. The toolkit's own connection is the test of
// the display: it picks its platform as it always does (QT_QPA_PLATFORM when
// set, else Wayland where it can use it, else X through DISPLAY). Where none
// can show a window, the process writes "<program>: <why>" as one line to
// standard error and ends with status 1 instead of the toolkit's abort; the
// toolkit's messages of that attempt are dropped. Otherwise they are passed on
// once the object stands. No connection of its own is opened, so a display
// server sees nothing but the toolkit's one client.
// `argc` must outlive the returned object, as the toolkit requires.
std::unique_ptr<QApplication> StartApplication(int& argc, char** argv, const char* program);

// The style and font every window of the program uses.
void InitApplicationLook(QApplication& app);

}  // namespace platform
