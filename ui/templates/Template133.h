// Dialog template 133: the update page, a three-step wizard (connect, update
// file, update). The captions in the table are the template's own; the page
// replaces most of them by string-table texts.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template133();
}  // namespace res

namespace dialog133 {
constexpr int kWarning = 1237;  // drawn in red
// Step 1: the port and the device.
constexpr int kPortFrame = 1171;
constexpr int kPortLabel = 1238;
constexpr int kPortCombo = 1116;
constexpr int kAutoDetect = 1005;
constexpr int kConnect = 1002;
constexpr int kConnectStatus = 1003;
// Step 2: the device's versions and the update file.
constexpr int kDeviceFrame = 1009;
constexpr int kDeviceTypeLabel = 1010;
constexpr int kDeviceType = 1011;
constexpr int kHardwareLabel = 2;
constexpr int kHardware = 1199;
constexpr int kFirmwareLabel = 1012;
constexpr int kFirmware = 1013;
constexpr int kSelectFile = 1192;
constexpr int kForceUpdate = 1239;
constexpr int kFilePath = 1198;
constexpr int kFileProductLabel = 1200;
constexpr int kFileProduct = 1213;
constexpr int kFileVersionLabel = 1201;
constexpr int kFileVersion = 1212;
constexpr int kFileHardwareLabel = 1202;
constexpr int kFileHardware1 = 1214;  // hardware entries 1 to 5: 1214 .. 1218
constexpr int kFileHardware5 = 1218;
constexpr int kFileVerdict = 1228;
// Step 3: the update.
constexpr int kUpdateFrame = 1231;
constexpr int kExecute = 1224;
constexpr int kProgress = 1093;
constexpr int kPercent = 1234;
constexpr int kUpdateState = 1233;
// Hidden controls.
constexpr int kBaudCombo = 1117;
constexpr int kLinkStatusLabel = 1004;
// The connection picture has no id in the template; the page reaches it by
// this one.
constexpr int kConnectionPicture = 0x7F01;
constexpr int kMemoryUsageLabel = 1014;
constexpr int kMemoryUsage = 1007;
constexpr int kUserNameLabel = 1170;
constexpr int kUserName = 1161;
constexpr int kWriteName = 1095;
constexpr int kFileHardwareLabel2 = 1203;  // labels of entries 2 to 10: 1203 .. 1211
constexpr int kFileHardwareLabel10 = 1211;
constexpr int kFileExtra1 = 1219;  // the five extra header fields: 1219 .. 1223
constexpr int kFileExtra5 = 1223;
constexpr int kUnusedCombo1 = 1229;
constexpr int kUnusedCombo2 = 1230;
constexpr int kUnusedFrame = 1235;
}  // namespace dialog133
