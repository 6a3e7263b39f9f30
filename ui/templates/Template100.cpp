#include "ui/templates/Template100.h"

using namespace platform;
using namespace dialog100;

namespace res {

const DialogTemplate& Template100() {
    static const DialogTemplate t{
        100,
        "About OrvikUtility",
        {0, 0, 206, 60},
        kPopup | kSysMenu | kModalFrame,
        {
            {kNoId, ControlKind::IconStatic, {156, 5, 20, 20}, kVisible, "", 128},
            {kCopyright, ControlKind::Static, {8, 23, 120, 11}, kVisible, "版权所有"},
            {kOk, ControlKind::DefaultButton, {153, 42, 50, 14}, kVisible, "确定"},
            {kTitle, ControlKind::Static, {8, 7, 137, 11}, kVisible, "关于"},
            {kVersion, ControlKind::Static, {145, 15, 46, 8}, 0, "Static"},
            {kProducts, ControlKind::Static, {8, 39, 141, 12}, kVisible, "Static"},
        },
    };
    return t;
}

}  // namespace res
