// Dialog template 134: the waypoint page. It shows the chosen waypoint file
// ("*.mpt": name, version, date) and sends it to the logger with Download,
// with a status line, a progress bar and its percentage.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template134();
}  // namespace res

namespace dialog134 {
// The chosen file.
constexpr int kInfoFrame = 1041;
constexpr int kNameLabel = 1030;
constexpr int kName = 1031;
constexpr int kVersionLabel = 1032;
constexpr int kVersion = 1035;
constexpr int kDateLabel = 1033;
constexpr int kDate = 1034;
// The download.
constexpr int kProcessingFrame = 1042;
constexpr int kStatus = 1045;
constexpr int kDownloadLabel = 1043;
constexpr int kDownload = 1000;
constexpr int kProgress = 1008;
constexpr int kPercent = 1044;
}  // namespace dialog134
