// Dialog template 136: the format conversion page (a track-log file, the
// time zone of its local times, the output formats and Convert). The
// captions in the table are the template's own; the page replaces seven of
// them by string-table texts. The four radio buttons and their label are
// hidden and disabled: the check boxes choose the outputs.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template136();
}  // namespace res

namespace dialog136 {
constexpr int kGroupFrame = 1062;
constexpr int kSourceLabel = 1071;
constexpr int kSourceEdit = 1075;
constexpr int kBrowseSource = 1074;
constexpr int kZoneLabel = 1072;
constexpr int kZoneCombo = 1085;
constexpr int kOutputLabel = 1070;
constexpr int kOutputText = 1152;
constexpr int kOutputKml = 1153;
constexpr int kOutputNmea = 1154;
constexpr int kOutputGpx = 1155;
constexpr int kConvert = 1065;
constexpr int kStatusText = 1066;
// Hidden controls.
constexpr int kFormatLabel = 1081;
constexpr int kRadioText = 1067;
constexpr int kRadioKml = 1068;
constexpr int kRadioNmea = 1069;
constexpr int kRadioGpx = 1073;
}  // namespace dialog136
