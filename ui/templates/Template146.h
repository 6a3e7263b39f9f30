// Dialog template 146: "Track Log File Status", the modeless list of the
// files an upload wrote, one line per file.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template146();
}  // namespace res

namespace dialog146 {
constexpr int kFileList = 1156;
constexpr int kOk = 1;
}  // namespace dialog146
