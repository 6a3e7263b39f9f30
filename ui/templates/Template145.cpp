#include "ui/templates/Template145.h"

using namespace platform;
using namespace dialog145;

namespace res {

const DialogTemplate& Template145() {
    static const DialogTemplate t{
        145,
        "Photo Combine Setting",
        {0, 0, 250, 186},
        kPopup | kSysMenu | kModalFrame,
        {
            {kZoneLabel, ControlKind::Static, {7, 8, 120, 11}, kVisible, "Time Zone For Photos(UTC+-)"},
            {kZoneCombo, ControlKind::ComboBox, {130, 7, 50, 160}, kVisible | kVScroll, ""},
            {kCalibrateLabel, ControlKind::Static, {7, 26, 236, 22}, kVisible,
             "Calibrate Time(Speed up(+) or slow down(-) your camera time to equal to device showing time):"},
            // Each label stands before its edit, each spin after it.
            {kDaysLabel, ControlKind::Static, {7, 50, 50, 11}, kVisible, "Day"},
            {kDaysEdit, ControlKind::Edit, {7, 62, 34, 12}, kVisible | kBorder, ""},
            {kDaysSpin, ControlKind::Spin, {41, 62, 10, 12}, kVisible, ""},
            {kHoursLabel, ControlKind::Static, {67, 50, 50, 11}, kVisible, "Hour"},
            {kHoursEdit, ControlKind::Edit, {67, 62, 34, 12}, kVisible | kBorder, ""},
            {kHoursSpin, ControlKind::Spin, {101, 62, 10, 12}, kVisible, ""},
            {kMinutesLabel, ControlKind::Static, {127, 50, 50, 11}, kVisible, "Min"},
            {kMinutesEdit, ControlKind::Edit, {127, 62, 34, 12}, kVisible | kBorder, ""},
            {kMinutesSpin, ControlKind::Spin, {161, 62, 10, 12}, kVisible, ""},
            {kSecondsLabel, ControlKind::Static, {187, 50, 50, 11}, kVisible, "Sec"},
            {kSecondsEdit, ControlKind::Edit, {187, 62, 34, 12}, kVisible | kBorder, ""},
            {kSecondsSpin, ControlKind::Spin, {221, 62, 10, 12}, kVisible, ""},
            {kDiscardLabel, ControlKind::Static, {7, 79, 236, 46}, kVisible, "Photo Discarded Threshold"},
            {kWriteGpsFrame, ControlKind::GroupBox, {7, 128, 236, 30}, kVisible, "Write GPS in Photo"},
            {kWriteGps, ControlKind::CheckBox, {14, 141, 222, 12}, kVisible,
             "Write GPS in Photo(Create New GPS Photo File)"},
            {kOk, ControlKind::DefaultButton, {130, 166, 52, 14}, kVisible, "OK"},
            {kCancel, ControlKind::Button, {188, 166, 52, 14}, kVisible, "Cancel"},
        },
    };
    return t;
}

}  // namespace res
