#include "ui/templates/Template134.h"

using namespace platform;
using namespace dialog134;

namespace res {

const DialogTemplate& Template134() {
    static const DialogTemplate t{
        134,
        "",
        {0, 0, 320, 250},
        kChild,
        {
            // The chosen file; each field follows the static that names it.
            {kInfoFrame, ControlKind::GroupBox, {4, 4, 312, 68}, kVisible, "Waypoints Information"},
            {kNameLabel, ControlKind::Static, {12, 20, 82, 11}, kVisible, "Waypoints Name"},
            {kName, ControlKind::Edit, {96, 18, 212, 12}, kVisible | kReadOnly, ""},
            {kVersionLabel, ControlKind::Static, {12, 36, 82, 11}, kVisible, "Waypoints Version"},
            {kVersion, ControlKind::Edit, {96, 34, 212, 12}, kVisible | kReadOnly, ""},
            {kDateLabel, ControlKind::Static, {12, 52, 82, 11}, kVisible, "Waypoints Date"},
            {kDate, ControlKind::Edit, {96, 50, 212, 12}, kVisible | kReadOnly, ""},
            // The download.
            {kProcessingFrame, ControlKind::GroupBox, {4, 78, 312, 86}, kVisible, "Waypoints Processing"},
            {kStatus, ControlKind::Static, {12, 134, 296, 24}, kVisible, "Download Status Message"},
            {kDownloadLabel, ControlKind::Static, {12, 96, 200, 11}, kVisible, "Download Waypoints to the Device"},
            {kDownload, ControlKind::Button, {228, 94, 80, 14}, kVisible, "Download"},
            {kProgress, ControlKind::ProgressBar, {12, 116, 258, 10}, kVisible, ""},
            {kPercent, ControlKind::Static, {274, 116, 34, 11}, kVisible | kRight, "100%"},
        },
    };
    return t;
}

}  // namespace res
