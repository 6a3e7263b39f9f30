#include "ui/templates/Template146.h"

using namespace platform;
using namespace dialog146;

namespace res {

const DialogTemplate& Template146() {
    static const DialogTemplate t{
        146,
        "Track Log File Status",
        {0, 0, 250, 115},
        kPopup | kSysMenu | kModalFrame,
        {
            {kFileList, ControlKind::ListBox, {6, 6, 238, 84}, kVisible | kBorder | kVScroll | kHScroll, ""},
            {kOk, ControlKind::DefaultButton, {100, 96, 50, 14}, kVisible, "OK"},
        },
    };
    return t;
}

}  // namespace res
