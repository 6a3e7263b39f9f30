// Dialog template 102: the main window.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template102();
}  // namespace res

namespace dialog102 {
constexpr int kOk = 1;  // the close button (string 301)
constexpr int kCancel = 2;
constexpr int kApplyAll = 1001;
constexpr int kDefaultAll = 1002;
constexpr int kTab = 1006;
constexpr int kBanner = 1046;
constexpr int kSmallBitmap = 1047;
constexpr int kAbout = 1095;
}  // namespace dialog102
