// The serial-port lister: the machine's serial ports, each under its COM name
// with the friendly name by which the update page recognises the device's
// USB-serial bridge.
#pragma once

#include <string>
#include <vector>

#include "platform/SerialPortScan.h"

struct ComPortInfo {
    std::string devicePath;    // what to open
    std::string portName;      // "COMn"
    std::string friendlyName;  // "<driver text> (COMn)", or the port name
    int isUsbDevice = 0;       // behind a USB device
    std::string description;   // friendly name without its trailing "(COMn)"
};

// Empties `ports` and fills it in port-number order. With `skipBusy`, ports
// that cannot be opened at this moment are left out. A failure is thrown as a
// platform::PortScanError carrying its text; ports found before it stay.
void ListComPorts(std::vector<ComPortInfo>& ports, bool skipBusy);
// The same over another tree and numbering (tests).
void ListComPorts(std::vector<ComPortInfo>& ports, bool skipBusy,
                  const platform::PortScanRoots& roots, platform::PortNumbering& numbering);

// The description a friendly name gives: the text before " (" when that stands
// after the start and the first ")" is the last character; else the whole name.
std::string DescriptionFromFriendlyName(const std::string& friendlyName);
