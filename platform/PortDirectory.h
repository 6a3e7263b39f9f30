// COM port names on Linux.
//
// The program names its serial ports "COM1" to "COM50". Here every serial
// device of the machine gets such a name:
//  - ttyS<k> is COM<k+1>;
//  - every other serial device takes the lowest free number from COM3 upward
//    and keeps it for the rest of the run, even while it is unplugged;
//  - a port directory overrides and extends both. It holds entries "COMn",
//    each a symbolic link to a tty device, and optional "COMn.name" files with
//    the friendly driver text. A user names a port by hand this way, and the
//    device simulator shows its pseudo-terminal as a USB bridge.
// No number above 50 is ever given; a device that finds none free is not
// listed. "COMn", "//.//COMn" and "\\.\COMn" all name the same port.
#pragma once

#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

constexpr int kMaxComPort = 50;
// Devices without a fixed number are numbered from here.
constexpr int kFirstFreeComPort = 3;

// The number n of "COMn", "//.//COMn" or "\\.\COMn" when it lies in 1..50,
// else 0. Digits only, no sign, no leading zero, upper-case "COM".
int ParseComPortName(std::string_view name);
// "COM" followed by the number.
std::string ComPortName(int number);

// The port directory in force: $PELLORA_PORT_DIR, else
// $XDG_RUNTIME_DIR/pellora/ports, else /tmp/pellora-<uid>/ports.
std::string DefaultPortDirectory();
// Creates the directory (and missing parents) private to the user.
bool EnsurePortDirectory(const std::string& dir, std::string* error);

struct PortDirectoryEntry {
    int number = 0;
    std::string devicePath;  // the link's target, made absolute
    std::string driverText;  // contents of COMn.name; empty without one
    bool hasName = false;
};

// The live entries of a directory, by number. Entries whose target is gone are
// left out, and so is a directory that is not the user's own or that others
// may write to.
std::vector<PortDirectoryEntry> ReadPortDirectory(const std::string& dir);

// Makes the entry COMn -> devicePath, with COMn.name when driverText is not
// empty. An entry left behind by a device that is gone is replaced; a live one
// is not touched and the call fails.
bool RegisterPortEntry(const std::string& dir, int number, const std::string& devicePath,
                       const std::string& driverText, std::string* error);
// Removes COMn and COMn.name, but only while COMn still points at devicePath.
void RemovePortEntry(const std::string& dir, int number, const std::string& devicePath);

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
// when the kernel's list of terminals cannot be read.
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
