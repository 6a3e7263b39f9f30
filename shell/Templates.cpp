#include "shell/Templates.h"

using namespace platform;

namespace res {

const DialogTemplate& Template102() {
    static const DialogTemplate t{
        102,
        "",
        {0, 0, 342, 290},
        kPopup | kSysMenu | kMinimizeBox | kMaximizeBox | kModalFrame,
        {
            {1095, ControlKind::Button, {195, 271, 142, 13}, kVisible, "Button1"},
            {1, ControlKind::DefaultButton, {50, 271, 141, 13}, kVisible, "OK"},
            {2, ControlKind::Button, {65, 239, 23, 13}, 0, "Cancel"},
            {1006, ControlKind::Tab, {5, 0, 332, 268}, kVisible | kRaggedRight, "Tab1"},
            {1047, ControlKind::BitmapStatic, {18, 233, 122, 22}, 0, "", 135},
            {1001, ControlKind::Button, {72, 243, 6, 8}, 0, "Apply All"},
            {1002, ControlKind::Button, {76, 244, 6, 6}, 0, "Default All"},
            {1046, ControlKind::BitmapStatic, {0, 29, 380, 51}, kDisabled, "", 129},
        },
    };
    return t;
}

const DialogTemplate& Template100() {
    static const DialogTemplate t{
        100,
        "About OrvikUtility",
        {0, 0, 206, 60},
        kPopup | kSysMenu | kModalFrame,
        {
            {kNoId, ControlKind::IconStatic, {156, 5, 20, 20}, kVisible, "", 128},
            {1179, ControlKind::Static, {8, 23, 120, 8}, kVisible, "版权所有"},
            {1, ControlKind::DefaultButton, {153, 42, 50, 14}, kVisible, "确定"},
            {1180, ControlKind::Static, {8, 7, 137, 10}, kVisible, "关于"},
            {1181, ControlKind::Static, {145, 15, 46, 8}, 0, "Static"},
            {1225, ControlKind::Static, {8, 39, 141, 12}, kVisible, "Static"},
        },
    };
    return t;
}

namespace {
DialogTemplate EmptyPage(int id, int w, int h) { return DialogTemplate{id, "", {0, 0, w, h}, kChild, {}}; }
}  // namespace

const DialogTemplate& Template129() {
    static const DialogTemplate t = EmptyPage(129, 320, 250);
    return t;
}
const DialogTemplate& Template130() {
    static const DialogTemplate t = EmptyPage(130, 320, 250);
    return t;
}
const DialogTemplate& Template133() {
    static const DialogTemplate t = EmptyPage(133, 320, 250);
    return t;
}
const DialogTemplate& Template134() {
    static const DialogTemplate t = EmptyPage(134, 320, 250);
    return t;
}
const DialogTemplate& Template135() {
    static const DialogTemplate t = EmptyPage(135, 276, 166);
    return t;
}
const DialogTemplate& Template136() {
    static const DialogTemplate t = EmptyPage(136, 320, 250);
    return t;
}
const DialogTemplate& Template143() {
    static const DialogTemplate t = EmptyPage(143, 320, 250);
    return t;
}
const DialogTemplate& Template147() {
    static const DialogTemplate t = EmptyPage(147, 320, 250);
    return t;
}

}  // namespace res
