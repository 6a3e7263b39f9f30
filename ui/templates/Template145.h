// Dialog template 145: "Photo Combine Setting", the modal dialog of the photo
// zone, the camera clock's calibration (days, hours, minutes, seconds, each
// an edit of at most 3 characters with a spin after it) and "Write GPS in
// Photo". The captions in the table are the template's own; the dialog
// replaces most of them by string-table texts.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template145();
}  // namespace res

namespace dialog145 {
constexpr int kZoneLabel = 1086;
constexpr int kZoneCombo = 1087;
constexpr int kCalibrateLabel = 1147;
constexpr int kDaysLabel = 1139;
constexpr int kHoursLabel = 1140;
constexpr int kMinutesLabel = 1141;
constexpr int kSecondsLabel = 1142;
constexpr int kDaysEdit = 1131;
constexpr int kHoursEdit = 1132;
constexpr int kMinutesEdit = 1133;
constexpr int kSecondsEdit = 1134;
constexpr int kDaysSpin = 1135;
constexpr int kHoursSpin = 1136;
constexpr int kMinutesSpin = 1137;
constexpr int kSecondsSpin = 1138;
constexpr int kDiscardLabel = 1184;
constexpr int kWriteGpsFrame = 1186;
constexpr int kWriteGps = 1187;
constexpr int kOk = 1;
constexpr int kCancel = 2;
}  // namespace dialog145
