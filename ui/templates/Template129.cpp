#include "ui/templates/Template129.h"

using namespace platform;
using namespace dialog129;

namespace res {

const DialogTemplate& Template129() {
    static const DialogTemplate t{
        129,
        "",
        {0, 0, 320, 250},
        kChild,
        {
            // The fix.
            {kNoId, ControlKind::Static, {12, 10, 70, 11}, kVisible, "GMT"},
            {kUtcTime, ControlKind::Edit, {86, 8, 110, 12}, kVisible | kReadOnly, ""},
            {kNoId, ControlKind::Static, {12, 26, 70, 11}, kVisible, "Local Time"},
            {kLocalTime, ControlKind::Edit, {86, 24, 110, 12}, kVisible | kReadOnly, ""},
            {kNoId, ControlKind::Static, {12, 42, 70, 11}, kVisible, "Latitude"},
            {kLatitude, ControlKind::Edit, {86, 40, 110, 12}, kVisible | kReadOnly, ""},
            {kNoId, ControlKind::Static, {12, 58, 70, 11}, kVisible, "Longitude"},
            {kLongitude, ControlKind::Edit, {86, 56, 110, 12}, kVisible | kReadOnly, ""},
            {kNoId, ControlKind::Static, {12, 74, 70, 11}, kVisible, "Altitude"},
            {kAltitude, ControlKind::Edit, {86, 72, 110, 12}, kVisible | kReadOnly, ""},
            {kNoId, ControlKind::Static, {12, 90, 70, 11}, kVisible, "Speed"},
            {kSpeed, ControlKind::Edit, {86, 88, 110, 12}, kVisible | kReadOnly, ""},
            {kNoId, ControlKind::Static, {12, 110, 160, 11}, kVisible, "Select Time Zone of Country (UTC)"},
            {kTimeZone, ControlKind::ComboBox, {176, 108, 50, 120}, kVisible | kVScroll, ""},
            // Reset Device.
            {kResetFrame, ControlKind::GroupBox, {4, 130, 312, 62}, kVisible, "Reset Device"},
            {kResetModeLabel, ControlKind::Static, {12, 146, 60, 11}, kVisible, "Reset Mode"},
            {kHotStart, ControlKind::RadioButton, {76, 145, 70, 11}, kVisible | kGroup, "Hot Start"},
            {kWarmStart, ControlKind::RadioButton, {150, 145, 70, 11}, kVisible, "Warm Start"},
            {kColdStart, ControlKind::RadioButton, {224, 145, 70, 11}, kVisible, "Cold Start"},
            {kFactoryReset, ControlKind::RadioButton, {76, 160, 90, 11}, kVisible, "Factory Reset"},
            {kReset, ControlKind::Button, {250, 174, 58, 14}, kVisible, "Reset"},
        },
    };
    return t;
}

}  // namespace res
