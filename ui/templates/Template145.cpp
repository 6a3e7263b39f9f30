#include "ui/templates/Template145.h"

using namespace platform;
using namespace dialog145;

namespace res {

const DialogTemplate& Template145() {
    static const DialogTemplate t{
        145,
        "Photo Combine Setting",
        {0, 0, 250, 176},
        kPopup | kSysMenu | kModalFrame,
        {
            {kZoneLabel, ControlKind::Static, {7, 9, 120, 9}, kVisible, "Time Zone For Photos(UTC+-)"},
            {kZoneCombo, ControlKind::ComboBox, {130, 7, 50, 160}, kVisible | kVScroll, ""},
            {kCalibrateLabel, ControlKind::Static, {7, 26, 236, 18}, kVisible,
             "Calibrate Time(Speed up(+) or slow down(-) your camera time to equal to device showing time):"},
            // Each label stands before its edit, each spin after it.
            {kDaysLabel, ControlKind::Static, {7, 48, 50, 9}, kVisible, "Day"},
            {kDaysEdit, ControlKind::Edit, {7, 59, 34, 12}, kVisible | kBorder, ""},
            {kDaysSpin, ControlKind::Spin, {41, 59, 10, 12}, kVisible, ""},
            {kHoursLabel, ControlKind::Static, {67, 48, 50, 9}, kVisible, "Hour"},
            {kHoursEdit, ControlKind::Edit, {67, 59, 34, 12}, kVisible | kBorder, ""},
            {kHoursSpin, ControlKind::Spin, {101, 59, 10, 12}, kVisible, ""},
            {kMinutesLabel, ControlKind::Static, {127, 48, 50, 9}, kVisible, "Min"},
            {kMinutesEdit, ControlKind::Edit, {127, 59, 34, 12}, kVisible | kBorder, ""},
            {kMinutesSpin, ControlKind::Spin, {161, 59, 10, 12}, kVisible, ""},
            {kSecondsLabel, ControlKind::Static, {187, 48, 50, 9}, kVisible, "Sec"},
            {kSecondsEdit, ControlKind::Edit, {187, 59, 34, 12}, kVisible | kBorder, ""},
            {kSecondsSpin, ControlKind::Spin, {221, 59, 10, 12}, kVisible, ""},
            {kDiscardLabel, ControlKind::Static, {7, 78, 236, 38}, kVisible, "Photo Discarded Threshold"},
            {kWriteGpsFrame, ControlKind::GroupBox, {7, 118, 236, 30}, kVisible, "Write GPS in Photo"},
            {kWriteGps, ControlKind::CheckBox, {14, 131, 222, 12}, kVisible,
             "Write GPS in Photo(Create New GPS Photo File)"},
            {kOk, ControlKind::DefaultButton, {130, 155, 52, 14}, kVisible, "OK"},
            {kCancel, ControlKind::Button, {188, 155, 52, 14}, kVisible, "Cancel"},
        },
    };
    return t;
}

}  // namespace res
