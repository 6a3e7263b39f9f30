// Dialog template 147: the firmware download page.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template147();
}  // namespace res

namespace dialog147 {
constexpr int kFrame = 1188;
constexpr int kWarning = 1190;
constexpr int kFileLabel = 1003;  // hidden
constexpr int kFilePath = 1004;   // hidden
constexpr int kBrowse = 1005;     // hidden
constexpr int kDownload = 1006;
constexpr int kStatus = 1189;
constexpr int kProgress = 1007;
constexpr int kPercent = 1008;
}  // namespace dialog147
