#include "ui/templates/Template135.h"

using namespace platform;
using namespace dialog135;

namespace res {

const DialogTemplate& Template135() {
    static const DialogTemplate t{
        135,
        "",
        {0, 0, 276, 166},
        kChild,
        {
            {kGroupFrame, ControlKind::GroupBox, {7, 7, 262, 152}, 0, "Combine Photo Link in Track Log"},
            {kSourceLabel, ControlKind::Static, {20, 24, 97, 9}, kVisible, "Source File(*.trl):"},
            {kSourceEdit, ControlKind::Edit, {20, 39, 117, 12}, kVisible | kReadOnly | kBorder, ""},
            {kBrowseSource, ControlKind::Button, {124, 21, 14, 14}, kVisible, "..."},
            {kPhotoFolderLabel, ControlKind::Static, {20, 60, 97, 11}, kVisible, "JPEG(*.jpg) Photo Directory:"},
            {kPhotoFolderEdit, ControlKind::Edit, {20, 75, 117, 12}, kVisible | kReadOnly | kBorder, ""},
            {kBrowsePhotoFolder, ControlKind::Button, {124, 58, 13, 14}, kVisible, "..."},
            {kPhotoCombineSetting, ControlKind::Button, {20, 94, 119, 14}, kVisible, "Photo Combine Setting..."},
            {kConvert, ControlKind::Button, {148, 21, 107, 28}, kVisible, "Convert"},
            {kStatusText, ControlKind::Static, {148, 58, 107, 13}, kVisible | kCenter | kBorder,
             "Convert Status Message"},
            {kSummaryText, ControlKind::Static, {148, 77, 107, 31}, kVisible | kBorder, ""},
            {kPhotoList, ControlKind::ListBox, {20, 114, 234, 39}, kVisible | kBorder | kHScroll | kVScroll, ""},
        },
    };
    return t;
}

}  // namespace res
