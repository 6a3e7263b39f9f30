// The machine's serial ports under their COM names, on Linux.
//
// The program names its serial ports "COM1" to "COM50". Here every serial
// device of the machine gets such a name:
//  - ttyS<k> is COM<k+1>;
//  - every other serial device takes the lowest free number from COM3 upward
//    and keeps it for the rest of the run, even while it is unplugged;
//  - the port directory (PortDirectory.h) overrides and extends both.
// No number above 50 is ever given; a device that finds none free is not
// listed. The kernel's list of terminals is /sys/class/tty; where it cannot be
// read (containers, sandboxes) the port directory's entries are still listed,
// and the scan fails only when neither can be read.
//
// PortNumbering is locked by its own mutex; the scan holds it while it hands
// out numbers.
#pragma once

#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// Devices without a fixed number are numbered from here.
constexpr int kFirstFreeComPort = 3;

// One serial port of the machine under its COM name.
struct SerialPortEntry {
    int number = 0;
    std::string portName;    // "COMn"
    std::string devicePath;  // what to open
    std::string driverText;  // friendly text without the port name; may be empty
    bool isUsb = false;
    bool fromDirectory = false;
};

// Where to look: tests point these at a fake tree.
struct PortScanRoots {
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
    std::string portDir;  // empty: DefaultPortDirectory()
};

class PortScanError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The numbers handed to devices without a fixed one, kept for the run.
class PortNumbering {
public:
    // The numbering of the running program.
    static PortNumbering& Process();

private:
    friend std::vector<SerialPortEntry> ScanSerialPorts(const PortScanRoots&, PortNumbering&);
    std::mutex mutex_;
    std::map<std::string, int> kept_;  // device path -> number
};

// The serial ports of the machine, ordered by number. Throws PortScanError
// when neither the kernel's list of terminals nor the port directory can be
// read.
std::vector<SerialPortEntry> ScanSerialPorts(const PortScanRoots& roots, PortNumbering& numbering);
std::vector<SerialPortEntry> ScanSerialPorts();

// The lowest number from COM3 to COM50 that no listed port holds; 0 if none.
int LowestFreePortNumber(const std::vector<SerialPortEntry>& ports);

// The device path behind a port name; empty when no port has that name.
std::string ResolvePortDevice(const std::string& name, const PortScanRoots& roots,
                              PortNumbering& numbering);
std::string ResolvePortDevice(const std::string& name);

// The friendly driver text of a USB serial device, from the names the kernel
// gives it. Bridges the program looks for get the texts it matches.
std::string UsbDriverText(const std::string& driver, const std::string& vendorId,
                          const std::string& productId, const std::string& product);

}  // namespace platform
