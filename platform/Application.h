// Start-up helpers of the Qt application: the display check and the look
// (style and the font with Japanese glyphs).
#pragma once

#include <string>

class QApplication;

namespace platform {

// Empty when a window can be shown, else one line that says why not: no
// display named, or an X display named where no server answers.
std::string DisplayProblem();
// The style and font every window of the program uses.
void InitApplicationLook(QApplication& app);

}  // namespace platform
