// Dialog template 143: the logger settings page, the track logger's
// recording options (record mode, interval, distance) and its log memory
// (upload and clear). The main window keeps the page hidden; its controls
// exist all the same. Captions are the template's own; the page loads string
// texts over those the string table has.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template143();
}  // namespace res

namespace dialog143 {
// The recording options.
constexpr int kSettingFrame = 1031;
constexpr int kRecordStyleFrame = 1041;
constexpr int kOverwrite = 1074;
constexpr int kFullAndStop = 1073;
constexpr int kBySecond = 1122;
constexpr int kByDistance = 1123;
constexpr int kIntervalCombo = 1096;
constexpr int kIntervalUnit = 1176;
constexpr int kDistanceCombo = 1097;
constexpr int kDistanceUnit = 1033;
constexpr int kSettingStatus = 1050;
// The log memory.
constexpr int kProcessingFrame = 1034;
constexpr int kUploadLabel = 1035;
constexpr int kUpload = 1036;
constexpr int kUploadProgress = 1037;
constexpr int kUploadPercent = 1038;
constexpr int kClearLabel = 1039;
constexpr int kClear = 1007;
constexpr int kProcessStatus = 1048;
// Hidden controls.
constexpr int kIntervalLabel = 1126;
constexpr int kDistanceLabel = 1127;
constexpr int kEnableRecording = 1001;
constexpr int kUnusedProgress = 1009;
constexpr int kUnusedPercent = 1040;
constexpr int kRead = 1082;
constexpr int kReadLabel = 1083;
}  // namespace dialog143
