#include "ui/templates/Template143.h"

using namespace platform;
using namespace dialog143;

namespace res {

const DialogTemplate& Template143() {
    static const DialogTemplate t{
        143,
        "",
        {0, 0, 320, 250},
        kChild,
        {
            // The recording options.
            {kSettingFrame, ControlKind::GroupBox, {4, 4, 312, 110}, kVisible, "Track Log Setting"},
            {kRecordStyleFrame, ControlKind::GroupBox, {12, 16, 140, 42}, kVisible, "Record Style"},
            {kOverwrite, ControlKind::RadioButton, {20, 28, 124, 11}, kVisible | kGroup, "Overwrite"},
            {kFullAndStop, ControlKind::RadioButton, {20, 42, 124, 11}, kVisible | kGroup, "Full and Stop"},
            {kNoId, ControlKind::GroupBox, {160, 16, 148, 42}, kVisible, ""},
            {kBySecond, ControlKind::RadioButton, {168, 28, 132, 11}, kVisible | kGroup, "By Second"},
            {kByDistance, ControlKind::RadioButton, {168, 42, 132, 11}, kVisible | kGroup, "By Distance"},
            {kIntervalCombo, ControlKind::ComboBox, {20, 64, 60, 100}, kVisible | kVScroll, ""},
            {kIntervalUnit, ControlKind::Static, {84, 66, 60, 11}, kVisible, "Sec."},
            {kDistanceCombo, ControlKind::ComboBox, {168, 64, 60, 100}, kVisible | kVScroll, ""},
            {kDistanceUnit, ControlKind::Static, {232, 66, 70, 11}, kVisible, "Meter"},
            {kSettingStatus, ControlKind::Static, {12, 82, 296, 28}, kVisible, "Setting  Status Messasge"},
            // The log memory.
            {kProcessingFrame, ControlKind::GroupBox, {4, 118, 312, 128}, kVisible, "Track Log Processing"},
            {kUploadLabel, ControlKind::Static, {12, 133, 220, 11}, kVisible, "Upload Device Track Log Data to PC"},
            {kUpload, ControlKind::Button, {240, 130, 68, 14}, kVisible, "Upload"},
            {kUploadProgress, ControlKind::ProgressBar, {12, 150, 254, 10}, kVisible, ""},
            {kUploadPercent, ControlKind::Static, {270, 150, 38, 11}, kVisible | kRight, "100%"},
            {kClearLabel, ControlKind::Static, {12, 169, 220, 11}, kVisible, "Clear Device Track Log Data"},
            {kClear, ControlKind::Button, {240, 166, 68, 14}, kVisible, "Clear"},
            {kProcessStatus, ControlKind::Static, {12, 186, 296, 56}, kVisible, "Upload/Clear Status Message"},
            // Hidden controls.
            {kIntervalLabel, ControlKind::Static, {0, 0, 40, 8}, 0, "Second"},
            {kDistanceLabel, ControlKind::Static, {0, 0, 40, 8}, 0, "Distance"},
            {kEnableRecording, ControlKind::CheckBox, {0, 0, 100, 10}, 0, "Enable Track Log Recording"},
            {kUnusedProgress, ControlKind::ProgressBar, {0, 0, 40, 8}, 0, ""},
            {kUnusedPercent, ControlKind::Static, {0, 0, 20, 8}, 0, "100%"},
            {kRead, ControlKind::Button, {0, 0, 40, 14}, 0, "Read"},
            {kReadLabel, ControlKind::Static, {0, 0, 80, 8}, 0, "Read Setting from Device"},
        },
    };
    return t;
}

}  // namespace res
