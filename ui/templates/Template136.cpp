#include "ui/templates/Template136.h"

using namespace platform;
using namespace dialog136;

namespace res {

const DialogTemplate& Template136() {
    static const DialogTemplate t{
        136,
        "",
        {0, 0, 276, 166},
        kChild,
        {
            {kGroupFrame, ControlKind::GroupBox, {7, 7, 262, 152}, kVisible, "Track Log File Format Conversion"},
            // Each label stands before its field.
            {kSourceLabel, ControlKind::Static, {20, 24, 97, 9}, kVisible, "Source File(*.trl):"},
            {kSourceEdit, ControlKind::Edit, {20, 39, 118, 12}, kVisible | kReadOnly | kBorder, ""},
            {kBrowseSource, ControlKind::Button, {124, 21, 14, 14}, kVisible, "..."},
            {kZoneLabel, ControlKind::Static, {20, 56, 97, 9}, kVisible, "Time Zone(UTC+-):"},
            {kZoneCombo, ControlKind::ComboBox, {20, 67, 50, 120}, kVisible | kVScroll, ""},
            {kOutputLabel, ControlKind::Static, {20, 87, 97, 9}, kVisible, "Output Format:"},
            {kOutputText, ControlKind::CheckBox, {26, 99, 112, 10}, kVisible | kGroup, "Text(*.txt)"},
            {kOutputKml, ControlKind::CheckBox, {26, 111, 112, 10}, kVisible, "Google Earth(*.kml)"},
            {kOutputNmea, ControlKind::CheckBox, {26, 123, 112, 10}, kVisible, "NMEA(*.txt)"},
            {kOutputGpx, ControlKind::CheckBox, {26, 135, 112, 10}, kVisible, "GPX(*.gpx)"},
            {kConvert, ControlKind::Button, {148, 21, 107, 28}, kVisible, "Convert"},
            {kStatusText, ControlKind::Static, {148, 58, 107, 13}, kVisible | kCenter | kBorder,
             "Convert Status Message"},
            // Hidden controls.
            {kFormatLabel, ControlKind::Static, {148, 87, 107, 9}, 0, "Convert Format:"},
            {kRadioText, ControlKind::RadioButton, {154, 99, 101, 10}, kDisabled | kGroup, "Text File(*.txt)"},
            {kRadioKml, ControlKind::RadioButton, {154, 111, 101, 10}, kDisabled, "Google Earth File(*.kml)"},
            {kRadioNmea, ControlKind::RadioButton, {154, 123, 101, 10}, kDisabled, "NMEA($GPRMC)(*.txt)"},
            {kRadioGpx, ControlKind::RadioButton, {154, 135, 101, 10}, kDisabled, "GPX(*.gpx)"},
        },
    };
    return t;
}

}  // namespace res
