// Dialog template 129: the GPS status page. A fixed display of one GPS fix
// (UTC and local time, position, altitude, speed), a time-zone choice and a
// "Reset Device" group; the page fills it once and nothing on it acts.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template129();
}  // namespace res

namespace dialog129 {
// The fix, each edit after its label.
constexpr int kUtcTime = 1016;
constexpr int kLocalTime = 1018;
constexpr int kLatitude = 1008;
constexpr int kLongitude = 1009;
constexpr int kAltitude = 1011;
constexpr int kSpeed = 1010;
// "Select Time Zone of Country (UTC)".
constexpr int kTimeZone = 1013;
// "Reset Device".
constexpr int kResetFrame = 1020;
constexpr int kResetModeLabel = 1021;
constexpr int kHotStart = 1026;
constexpr int kWarmStart = 1027;
constexpr int kColdStart = 1028;
constexpr int kFactoryReset = 1012;
constexpr int kReset = 1001;
}  // namespace dialog129
