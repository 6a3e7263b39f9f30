#include "ui/templates/Template102.h"

using namespace platform;
using namespace dialog102;

namespace res {

const DialogTemplate& Template102() {
    static const DialogTemplate t{
        102,
        "",
        {0, 0, 342, 304},
        kPopup | kSysMenu | kMinimizeBox | kMaximizeBox | kModalFrame,
        {
            {kAbout, ControlKind::Button, {195, 287, 142, 13}, kVisible, "Button1"},
            {kOk, ControlKind::DefaultButton, {50, 287, 141, 13}, kVisible, "OK"},
            {kCancel, ControlKind::Button, {65, 239, 23, 13}, 0, "Cancel"},
            {kTab, ControlKind::Tab, {5, 0, 332, 284}, kVisible | kRaggedRight, "Tab1"},
            {kSmallBitmap, ControlKind::BitmapStatic, {18, 233, 122, 22}, 0, "", 135},
            {kApplyAll, ControlKind::Button, {72, 243, 6, 8}, 0, "Apply All"},
            {kDefaultAll, ControlKind::Button, {76, 244, 6, 6}, 0, "Default All"},
            {kBanner, ControlKind::BitmapStatic, {0, 29, 380, 51}, kDisabled, "", 129},
        },
    };
    return t;
}

}  // namespace res
