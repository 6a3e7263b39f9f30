#include "ui/templates/Template130.h"

using namespace platform;
using namespace dialog130;

namespace res {

const DialogTemplate& Template130() {
    static const DialogTemplate t{
        130,
        "",
        {0, 0, 320, 250},
        kChild,
        {
            // Read.
            {kReadLabel, ControlKind::Static, {12, 7, 110, 11}, kVisible, "Read Setting from Device"},
            {kRead, ControlKind::Button, {126, 4, 60, 14}, kVisible, "Read"},
            {kReadStatus, ControlKind::Static, {12, 21, 296, 20}, kVisible, "Read Status Messasge"},
            // The settings.
            {kSettingFrame, ControlKind::GroupBox, {4, 42, 312, 106}, kVisible, "Track Log Setting"},
            {kEnableRecording, ControlKind::CheckBox, {12, 54, 160, 11}, kVisible, "Enable Track Log Recording"},
            {kRecordModeFrame, ControlKind::GroupBox, {12, 67, 296, 28}, kVisible, "Record in Flash Mode"},
            {kRecordCycle, ControlKind::RadioButton, {20, 79, 130, 11}, kVisible | kGroup, "Record in Flash with Cycle"},
            {kRecordOnce, ControlKind::RadioButton, {160, 79, 130, 11}, kVisible, "Record in Flash Once"},
            {kLogByTime, ControlKind::RadioButton, {12, 101, 80, 11}, kVisible | kGroup, "Log by Time"},
            {kInterval, ControlKind::Edit, {96, 99, 50, 13}, kVisible | kNumber, ""},
            {kSecondLabel, ControlKind::Static, {150, 101, 50, 11}, kVisible, "Second"},
            {kLogByDistance, ControlKind::RadioButton, {12, 117, 80, 11}, kVisible, "Log by Distance"},
            {kMeter, ControlKind::RadioButton, {210, 117, 46, 11}, kVisible | kGroup, "Meter"},
            {kFoot, ControlKind::RadioButton, {260, 117, 46, 11}, kVisible, "Foot"},
            {kDistance, ControlKind::Edit, {96, 115, 50, 13}, kVisible | kNumber, ""},
            {kDistanceUnit, ControlKind::Static, {150, 117, 50, 11}, kVisible, "Meter"},
            // Upload and Clear.
            {kProcessingFrame, ControlKind::GroupBox, {4, 150, 312, 97}, kVisible, "Track Log Processing"},
            {kStatus, ControlKind::Static, {12, 162, 296, 22}, kVisible, "Upload/Clear Status Message"},
            {kUploadLabel, ControlKind::Static, {12, 189, 150, 11}, kVisible, "Upload Device Track Log Data to PC"},
            {kUpload, ControlKind::Button, {166, 186, 60, 14}, kVisible, "Upload"},
            {kUploadProgress, ControlKind::ProgressBar, {12, 203, 260, 10}, kVisible, ""},
            {kUploadPercent, ControlKind::Static, {278, 203, 30, 11}, kVisible | kRight, "100%"},
            {kClearLabel, ControlKind::Static, {12, 219, 150, 11}, kVisible, "Clear Device Track Log Data"},
            {kClear, ControlKind::Button, {166, 216, 60, 14}, kVisible, "Clear"},
            {kClearProgress, ControlKind::ProgressBar, {12, 233, 260, 10}, kVisible, ""},
            {kClearPercent, ControlKind::Static, {278, 233, 30, 11}, kVisible | kRight, "100%"},
        },
    };
    return t;
}

}  // namespace res
