#include "ui/templates/Template133.h"

using namespace platform;
using namespace dialog133;

namespace res {

const DialogTemplate& Template133() {
    static const DialogTemplate t{
        133,
        "",
        {0, 0, 320, 250},
        kChild,
        {
            {kWarning, ControlKind::Static, {8, 3, 304, 10}, kVisible, "Warning"},
            // Step 1: the port and the device.
            {kPortFrame, ControlKind::GroupBox, {4, 15, 312, 52}, kVisible, "COM Port :"},
            {kPortLabel, ControlKind::Static, {12, 30, 42, 10}, kVisible, "COM Select"},
            {kPortCombo, ControlKind::ComboBox, {56, 28, 60, 120}, kVisible | kVScroll, ""},
            {kAutoDetect, ControlKind::Button, {122, 27, 94, 14}, kVisible, "Auto Detect"},
            {kConnect, ControlKind::Button, {222, 27, 86, 14}, kVisible, "Connect"},
            {kConnectStatus, ControlKind::Static, {12, 46, 296, 18}, kVisible, "Connect Status Message"},
            // Step 2: the device's versions and the update file.
            {kDeviceFrame, ControlKind::GroupBox, {4, 70, 312, 120}, kVisible, "Device Information"},
            {kDeviceTypeLabel, ControlKind::Static, {12, 85, 76, 10}, kVisible, "Device Type"},
            {kDeviceType, ControlKind::Edit, {90, 83, 54, 12}, kVisible | kReadOnly, ""},
            {kHardwareLabel, ControlKind::Static, {12, 100, 76, 10}, kVisible, "Hardware Version"},
            {kHardware, ControlKind::Edit, {90, 98, 54, 12}, kVisible | kReadOnly, ""},
            {kFirmwareLabel, ControlKind::Static, {12, 115, 76, 10}, kVisible, "Firmware Version"},
            {kFirmware, ControlKind::Edit, {90, 113, 54, 12}, kVisible | kReadOnly, ""},
            {kSelectFile, ControlKind::Button, {150, 82, 80, 14}, kVisible, "Select File"},
            {kForceUpdate, ControlKind::Button, {236, 82, 72, 14}, kVisible, "ForceUpdate"},
            {kFilePath, ControlKind::Edit, {150, 99, 158, 12}, kVisible | kReadOnly, ""},
            {kFileProductLabel, ControlKind::Static, {150, 115, 68, 10}, kVisible, "Product"},
            {kFileProduct, ControlKind::Edit, {220, 113, 88, 12}, kVisible | kReadOnly, ""},
            {kFileVersionLabel, ControlKind::Static, {150, 130, 68, 10}, kVisible, "File Version"},
            {kFileVersion, ControlKind::Edit, {220, 128, 88, 12}, kVisible | kReadOnly, ""},
            {kFileHardwareLabel, ControlKind::Static, {12, 146, 76, 10}, kVisible, "Hardware"},
            {kFileHardware1, ControlKind::Edit, {90, 144, 40, 12}, kVisible | kReadOnly, ""},
            {kFileHardware1 + 1, ControlKind::Edit, {134, 144, 40, 12}, kVisible | kReadOnly, ""},
            {kFileHardware1 + 2, ControlKind::Edit, {178, 144, 40, 12}, kVisible | kReadOnly, ""},
            {kFileHardware1 + 3, ControlKind::Edit, {222, 144, 40, 12}, kVisible | kReadOnly, ""},
            {kFileHardware5, ControlKind::Edit, {266, 144, 42, 12}, kVisible | kReadOnly, ""},
            {kFileVerdict, ControlKind::Static, {12, 162, 296, 24}, kVisible, ""},
            // Step 3: the update.
            {kUpdateFrame, ControlKind::GroupBox, {4, 193, 312, 54}, kVisible, "FW Update"},
            {kExecute, ControlKind::Button, {12, 206, 80, 14}, kVisible, "Execute"},
            {kProgress, ControlKind::ProgressBar, {98, 208, 176, 10}, kVisible, ""},
            {kPercent, ControlKind::Static, {280, 208, 28, 10}, kVisible | kRight, "%"},
            {kUpdateState, ControlKind::Static, {12, 226, 296, 18}, kVisible, "Update State"},
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
