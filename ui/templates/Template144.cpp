#include "ui/templates/Template144.h"

using namespace platform;
using namespace dialog144;

namespace res {

const DialogTemplate& Template144() {
    static const DialogTemplate t{
        144,
        "",
        {0, 0, 129, 121},
        kPopup | kSysMenu,
        {
            {kPrompt, ControlKind::Static, {6, 5, 117, 11}, kVisible, "Please select the directory:"},
            {kTrackLogLabel, ControlKind::Static, {6, 18, 90, 11}, kVisible, "TrackLog File Directory"},
            {kBrowseTrackLog, ControlKind::Button, {100, 16, 23, 12}, kVisible, "..."},
            {kTrackLogFolder, ControlKind::Static, {6, 30, 117, 20}, kVisible | kBorder, ""},
            {kCombineJpg, ControlKind::CheckBox, {6, 56, 92, 10}, kVisible, "Combine JPG file"},
            {kBrowsePhoto, ControlKind::Button, {100, 55, 23, 12}, kVisible, "..."},
            {kPhotoFolder, ControlKind::Static, {6, 68, 117, 12}, kVisible | kBorder, ""},
            {kWriteTotal, ControlKind::CheckBox, {6, 85, 117, 10}, kVisible, "Write Total Track Log"},
            {kTextFile, ControlKind::CheckBox, {0, 0, 60, 10}, 0, "Text File[.txt]"},
            {kTextPath, ControlKind::Static, {0, 0, 60, 11}, 0, ""},
            {kBrowseText, ControlKind::Button, {0, 0, 20, 12}, 0, "..."},
            {kKmlFile, ControlKind::CheckBox, {0, 0, 60, 10}, 0, "Google Earth File[.kml]"},
            {kKmlPath, ControlKind::Static, {0, 0, 60, 11}, 0, ""},
            {kBrowseKml, ControlKind::Button, {0, 0, 20, 12}, 0, "..."},
            {kOk, ControlKind::DefaultButton, {12, 102, 50, 14}, kVisible, "OK"},
            {kCancel, ControlKind::Button, {67, 102, 50, 14}, kVisible, "Cancel"},
        },
    };
    return t;
}

}  // namespace res
