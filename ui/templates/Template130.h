// Dialog template 130: the track-log setting page. Read of the logger's
// recording settings, the settings themselves, and the track log's Upload
// and Clear with their progress. The radio buttons are not exclusive by
// themselves: the page checks and unchecks them.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template130();
}  // namespace res

namespace dialog130 {
// Read.
constexpr int kReadLabel = 1083;
constexpr int kRead = 1082;
constexpr int kReadStatus = 1050;
// The settings.
constexpr int kSettingFrame = 1031;
constexpr int kEnableRecording = 1001;
constexpr int kRecordModeFrame = 1041;
constexpr int kRecordCycle = 1074;
constexpr int kRecordOnce = 1073;
constexpr int kLogByTime = 1003;
constexpr int kInterval = 1005;
constexpr int kSecondLabel = 1032;
constexpr int kLogByDistance = 1004;
constexpr int kMeter = 1014;
constexpr int kFoot = 1015;
constexpr int kDistance = 1006;
constexpr int kDistanceUnit = 1033;
// Upload and Clear.
constexpr int kProcessingFrame = 1034;
constexpr int kStatus = 1048;
constexpr int kUploadLabel = 1035;
constexpr int kUpload = 1036;
constexpr int kUploadProgress = 1037;
constexpr int kUploadPercent = 1038;
constexpr int kClearLabel = 1039;
constexpr int kClear = 1007;
constexpr int kClearProgress = 1009;
constexpr int kClearPercent = 1040;
}  // namespace dialog130
