#include "device/ComPortList.h"

#include "platform/PosixSerial.h"

std::string DescriptionFromFriendlyName(const std::string& friendlyName) {
    const auto open = friendlyName.find(" (");
    const auto close = friendlyName.find(')');
    if (open != std::string::npos && open > 0 && close != std::string::npos &&
        close + 1 == friendlyName.size()) {
        return friendlyName.substr(0, open);
    }
    return friendlyName;
}

void ListComPorts(std::vector<ComPortInfo>& ports, bool skipBusy,
                  const platform::PortScanRoots& roots, platform::PortNumbering& numbering) {
    ports.clear();
    for (const platform::SerialPortEntry& entry : platform::ScanSerialPorts(roots, numbering)) {
        ComPortInfo info;
        info.devicePath = entry.devicePath;
        info.portName = entry.portName;
        if (!entry.driverText.empty()) {
            info.friendlyName = entry.driverText + " (" + entry.portName + ")";
        }
        info.isUsbDevice = entry.isUsb ? 1 : 0;
        ports.push_back(std::move(info));
    }
    if (skipBusy) {
        std::erase_if(ports, [](const ComPortInfo& p) { return !platform::SerialDeviceAvailable(p.devicePath); });
    }
    for (ComPortInfo& p : ports) {
        if (p.friendlyName.empty()) {
            p.friendlyName = p.portName;
        }
        if (p.description.empty()) {
            p.description = DescriptionFromFriendlyName(p.friendlyName);
        }
    }
}

void ListComPorts(std::vector<ComPortInfo>& ports, bool skipBusy) {
    ListComPorts(ports, skipBusy, platform::PortScanRoots{}, platform::PortNumbering::Process());
}
