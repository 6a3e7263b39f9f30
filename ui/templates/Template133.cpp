#include "ui/templates/Template133.h"

using namespace platform;
using namespace dialog133;

namespace res {

const DialogTemplate& Template133() {
    static const DialogTemplate t{
        133,
        "",
        {0, 0, 320, 266},
        kChild,
        {
            {kWarning, ControlKind::Static, {8, 3, 304, 22}, kVisible, "Warning"},
            // Step 1: the port and the device.
            {kPortFrame, ControlKind::GroupBox, {4, 27, 312, 52}, kVisible, "COM Port :"},
            {kPortLabel, ControlKind::Static, {12, 42, 42, 11}, kVisible, "COM Select"},
            {kPortCombo, ControlKind::ComboBox, {56, 40, 60, 120}, kVisible | kVScroll, ""},
            {kAutoDetect, ControlKind::Button, {122, 39, 94, 14}, kVisible, "Auto Detect"},
            {kConnect, ControlKind::Button, {222, 39, 86, 14}, kVisible, "Connect"},
            {kConnectStatus, ControlKind::Static, {12, 58, 296, 18}, kVisible, "Connect Status Message"},
            // Step 2: the device's versions and the update file.
            {kDeviceFrame, ControlKind::GroupBox, {4, 82, 312, 120}, kVisible, "Device Information"},
            {kDeviceTypeLabel, ControlKind::Static, {12, 97, 76, 11}, kVisible, "Device Type"},
            {kDeviceType, ControlKind::Edit, {90, 95, 54, 12}, kVisible | kReadOnly, ""},
            {kHardwareLabel, ControlKind::Static, {12, 112, 76, 11}, kVisible, "Hardware Version"},
            {kHardware, ControlKind::Edit, {90, 110, 54, 12}, kVisible | kReadOnly, ""},
            {kFirmwareLabel, ControlKind::Static, {12, 127, 76, 11}, kVisible, "Firmware Version"},
            {kFirmware, ControlKind::Edit, {90, 125, 54, 12}, kVisible | kReadOnly, ""},
            {kSelectFile, ControlKind::Button, {150, 94, 80, 14}, kVisible, "Select File"},
            {kForceUpdate, ControlKind::Button, {236, 94, 72, 14}, kVisible, "ForceUpdate"},
            {kFilePath, ControlKind::Edit, {150, 111, 158, 12}, kVisible | kReadOnly, ""},
            {kFileProductLabel, ControlKind::Static, {150, 127, 68, 11}, kVisible, "Product"},
            {kFileProduct, ControlKind::Edit, {220, 125, 88, 12}, kVisible | kReadOnly, ""},
            {kFileVersionLabel, ControlKind::Static, {150, 142, 68, 11}, kVisible, "File Version"},
            {kFileVersion, ControlKind::Edit, {220, 140, 88, 12}, kVisible | kReadOnly, ""},
            {kFileHardwareLabel, ControlKind::Static, {12, 158, 76, 11}, kVisible, "Hardware"},
            {kFileHardware1, ControlKind::Edit, {90, 156, 40, 12}, kVisible | kReadOnly, ""},
            {kFileHardware1 + 1, ControlKind::Edit, {134, 156, 40, 12}, kVisible | kReadOnly, ""},
            {kFileHardware1 + 2, ControlKind::Edit, {178, 156, 40, 12}, kVisible | kReadOnly, ""},
            {kFileHardware1 + 3, ControlKind::Edit, {222, 156, 40, 12}, kVisible | kReadOnly, ""},
            {kFileHardware5, ControlKind::Edit, {266, 156, 42, 12}, kVisible | kReadOnly, ""},
            {kFileVerdict, ControlKind::Static, {12, 174, 296, 24}, kVisible, ""},
            // Step 3: the update.
            {kUpdateFrame, ControlKind::GroupBox, {4, 205, 312, 58}, kVisible, "FW Update"},
            {kExecute, ControlKind::Button, {12, 218, 80, 14}, kVisible, "Execute"},
            {kProgress, ControlKind::ProgressBar, {98, 220, 176, 10}, kVisible, ""},
            {kPercent, ControlKind::Static, {280, 220, 28, 11}, kVisible | kRight, "%"},
            {kUpdateState, ControlKind::Static, {12, 238, 296, 22}, kVisible, "Update State"},
            // Hidden controls.
            {kBaudCombo, ControlKind::ComboBox, {0, 0, 40, 80}, 0, ""},
            {kLinkStatusLabel, ControlKind::Static, {0, 0, 40, 8}, 0, "Connect Status"},
            {kConnectionPicture, ControlKind::BitmapStatic, {0, 0, 16, 16}, 0, "", 131},
            {kMemoryUsageLabel, ControlKind::Static, {0, 0, 40, 8}, 0, "Memory Usage"},
            {kMemoryUsage, ControlKind::Edit, {0, 0, 40, 12}, 0, ""},
            {kUserNameLabel, ControlKind::Static, {0, 0, 40, 8}, 0, "User Name"},
            {kUserName, ControlKind::Edit, {0, 0, 60, 12}, 0, ""},
            {kWriteName, ControlKind::Button, {0, 0, 40, 14}, 0, "Write Name"},
            {kFileHardwareLabel2, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV2"},
            {kFileHardwareLabel2 + 1, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV3"},
            {kFileHardwareLabel2 + 2, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV4"},
            {kFileHardwareLabel2 + 3, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV5"},
            {kFileHardwareLabel2 + 4, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV6"},
            {kFileHardwareLabel2 + 5, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV7"},
            {kFileHardwareLabel2 + 6, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV8"},
            {kFileHardwareLabel2 + 7, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV9"},
            {kFileHardwareLabel10, ControlKind::Static, {0, 0, 20, 8}, 0, "HardV10"},
            {kFileExtra1, ControlKind::Edit, {0, 0, 30, 12}, kReadOnly, ""},
            {kFileExtra1 + 1, ControlKind::Edit, {0, 0, 30, 12}, kReadOnly, ""},
            {kFileExtra1 + 2, ControlKind::Edit, {0, 0, 30, 12}, kReadOnly, ""},
            {kFileExtra1 + 3, ControlKind::Edit, {0, 0, 30, 12}, kReadOnly, ""},
            {kFileExtra5, ControlKind::Edit, {0, 0, 30, 12}, kReadOnly, ""},
            {kUnusedCombo1, ControlKind::ComboBox, {0, 0, 30, 60}, 0, ""},
            {kUnusedCombo2, ControlKind::ComboBox, {0, 0, 30, 60}, 0, ""},
            {kUnusedFrame, ControlKind::GroupBox, {0, 0, 30, 30}, 0, ""},
            {kNoId, ControlKind::GroupBox, {0, 0, 30, 30}, 0, ""},
            {kNoId, ControlKind::GroupBox, {0, 0, 30, 30}, 0, ""},
        },
    };
    return t;
}

}  // namespace res
