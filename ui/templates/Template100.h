// Dialog template 100: the About box.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template100();
}  // namespace res

namespace dialog100 {
constexpr int kOk = 1;
constexpr int kCopyright = 1179;  // string 385
constexpr int kTitle = 1180;      // string 386
constexpr int kVersion = 1181;    // hidden: the product version
constexpr int kProducts = 1225;   // string 433
}  // namespace dialog100
