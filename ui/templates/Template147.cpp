#include "ui/templates/Template147.h"

using namespace platform;
using namespace dialog147;

namespace res {

const DialogTemplate& Template147() {
    static const DialogTemplate t{
        147,
        "",
        {0, 0, 320, 250},
        kChild,
        {
            {kFrame, ControlKind::GroupBox, {4, 4, 312, 120}, kVisible, "Download and Update Firmware"},
            {kWarning, ControlKind::Static, {12, 18, 296, 11}, kVisible, "Download Warning"},
            {kFileLabel, ControlKind::Static, {12, 34, 80, 10}, 0, "Select ROM File"},
            {kFilePath, ControlKind::Edit, {94, 32, 180, 12}, kReadOnly, ""},
            {kBrowse, ControlKind::Button, {280, 31, 28, 14}, 0, "..."},
            {kDownload, ControlKind::Button, {12, 52, 80, 14}, kVisible | kDisabled, "Download"},
            {kStatus, ControlKind::Static, {12, 72, 296, 18}, kVisible, "Download Status"},
            {kProgress, ControlKind::ProgressBar, {12, 94, 260, 10}, kVisible, ""},
            {kPercent, ControlKind::Static, {278, 94, 30, 11}, kVisible | kRight, "0%"},
        },
    };
    return t;
}

}  // namespace res
