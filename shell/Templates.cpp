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
// The update page: a three-step wizard (connect, update file, update).
const DialogTemplate& Template133() {
    static const DialogTemplate t{
        133,
        "",
        {0, 0, 320, 250},
        kChild,
        {
            {1237, ControlKind::Static, {8, 3, 304, 10}, kVisible, "Warning"},
            // Step 1: the port and the device.
            {1171, ControlKind::GroupBox, {4, 15, 312, 52}, kVisible, "COM Port :"},
            {1238, ControlKind::Static, {12, 30, 42, 10}, kVisible, "COM Select"},
            {1116, ControlKind::ComboBox, {56, 28, 60, 120}, kVisible | kVScroll, ""},
            {1005, ControlKind::Button, {122, 27, 94, 14}, kVisible, "Auto Detect"},
            {1002, ControlKind::Button, {222, 27, 86, 14}, kVisible, "Connect"},
            {1003, ControlKind::Static, {12, 46, 296, 18}, kVisible, "Connect Status Message"},
            // Step 2: the device's versions and the update file.
            {1009, ControlKind::GroupBox, {4, 70, 312, 120}, kVisible, "Device Information"},
            {1010, ControlKind::Static, {12, 85, 76, 10}, kVisible, "Device Type"},
            {1011, ControlKind::Edit, {90, 83, 54, 12}, kVisible | kReadOnly, ""},
            {2, ControlKind::Static, {12, 100, 76, 10}, kVisible, "Hardware Version"},
            {1199, ControlKind::Edit, {90, 98, 54, 12}, kVisible | kReadOnly, ""},
            {1012, ControlKind::Static, {12, 115, 76, 10}, kVisible, "Firmware Version"},
            {1013, ControlKind::Edit, {90, 113, 54, 12}, kVisible | kReadOnly, ""},
            {1192, ControlKind::Button, {150, 82, 80, 14}, kVisible, "Select File"},
            {1239, ControlKind::Button, {236, 82, 72, 14}, kVisible, "ForceUpdate"},
            {1198, ControlKind::Edit, {150, 99, 158, 12}, kVisible | kReadOnly, ""},
            {1200, ControlKind::Static, {150, 115, 68, 10}, kVisible, "Product"},
            {1213, ControlKind::Edit, {220, 113, 88, 12}, kVisible | kReadOnly, ""},
            {1201, ControlKind::Static, {150, 130, 68, 10}, kVisible, "File Version"},
            {1212, ControlKind::Edit, {220, 128, 88, 12}, kVisible | kReadOnly, ""},
            {1202, ControlKind::Static, {12, 146, 76, 10}, kVisible, "Hardware"},
            {1214, ControlKind::Edit, {90, 144, 40, 12}, kVisible | kReadOnly, ""},
            {1215, ControlKind::Edit, {134, 144, 40, 12}, kVisible | kReadOnly, ""},
            {1216, ControlKind::Edit, {178, 144, 40, 12}, kVisible | kReadOnly, ""},
            {1217, ControlKind::Edit, {222, 144, 40, 12}, kVisible | kReadOnly, ""},
            {1218, ControlKind::Edit, {266, 144, 42, 12}, kVisible | kReadOnly, ""},
            {1228, ControlKind::Static, {12, 162, 296, 24}, kVisible, ""},
            // Step 3: the update.
            {1231, ControlKind::GroupBox, {4, 193, 312, 54}, kVisible, "FW Update"},
            {1224, ControlKind::Button, {12, 206, 80, 14}, kVisible, "Execute"},
            {1093, ControlKind::ProgressBar, {98, 208, 176, 10}, kVisible, ""},
            {1234, ControlKind::Static, {280, 208, 28, 10}, kVisible | kRight, "%"},
            {1233, ControlKind::Static, {12, 226, 296, 18}, kVisible, "Update State"},
            // Hidden controls.
            {1117, ControlKind::ComboBox, {0, 0, 40, 80}, 0, ""},
            {1004, ControlKind::Static, {0, 0, 40, 8}, 0, "Connect Status"},
            {kConnectionPictureId, ControlKind::BitmapStatic, {0, 0, 16, 16}, 0, "", 131},
            {1014, ControlKind::Static, {0, 0, 40, 8}, 0, "Memory Usage"},
            {1007, ControlKind::Edit, {0, 0, 40, 12}, 0, ""},
            {1170, ControlKind::Static, {0, 0, 40, 8}, 0, "User Name"},
            {1161, ControlKind::Edit, {0, 0, 60, 12}, 0, ""},
            {1095, ControlKind::Button, {0, 0, 40, 14}, 0, "Write Name"},
            {1203, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV2"},
            {1204, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV3"},
            {1205, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV4"},
            {1206, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV5"},
            {1207, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV6"},
            {1208, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV7"},
            {1209, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV8"},
            {1210, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV9"},
            {1211, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV10"},
            {1219, ControlKind::Edit, {0, 0, 30, 12}, kReadOnly, ""},
            {1220, ControlKind::Edit, {0, 0, 30, 12}, kReadOnly, ""},
            {1221, ControlKind::Edit, {0, 0, 30, 12}, kReadOnly, ""},
            {1222, ControlKind::Edit, {0, 0, 30, 12}, kReadOnly, ""},
            {1223, ControlKind::Edit, {0, 0, 30, 12}, kReadOnly, ""},
            {1229, ControlKind::ComboBox, {0, 0, 30, 60}, 0, ""},
            {1230, ControlKind::ComboBox, {0, 0, 30, 60}, 0, ""},
            {1235, ControlKind::GroupBox, {0, 0, 30, 30}, 0, ""},
            {kNoId, ControlKind::GroupBox, {0, 0, 30, 30}, 0, ""},
            {kNoId, ControlKind::GroupBox, {0, 0, 30, 30}, 0, ""},
        },
    };
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
// The firmware download page.
const DialogTemplate& Template147() {
    static const DialogTemplate t{
        147,
        "",
        {0, 0, 320, 250},
        kChild,
        {
            {1188, ControlKind::GroupBox, {4, 4, 312, 120}, kVisible, "Download and Update Firmware"},
            {1190, ControlKind::Static, {12, 18, 296, 10}, kVisible, "Download Warning"},
            {1003, ControlKind::Static, {12, 34, 80, 10}, 0, "Select ROM File"},
            {1004, ControlKind::Edit, {94, 32, 180, 12}, kReadOnly, ""},
            {1005, ControlKind::Button, {280, 31, 28, 14}, 0, "..."},
            {1006, ControlKind::Button, {12, 52, 80, 14}, kVisible | kDisabled, "Download"},
            {1189, ControlKind::Static, {12, 72, 296, 18}, kVisible, "Download Status"},
            {1007, ControlKind::ProgressBar, {12, 94, 260, 10}, kVisible, ""},
            {1008, ControlKind::Static, {278, 94, 30, 10}, kVisible | kRight, "0%"},
        },
    };
    return t;
}

}  // namespace res
