#include "platform/SerialPortScan.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <set>

#include "platform/ComPortName.h"
#include "platform/PortDirectory.h"
#include "platform/PortFiles.h"
#include "platform/Trace.h"

namespace platform {
namespace {

using portfiles::Canonical;
using portfiles::CleanText;
using portfiles::Exists;
using portfiles::ReadLink;
using portfiles::ReadSmallFile;
using portfiles::StartsWith;

std::string ErrnoText(int err) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "(err=%x)", static_cast<unsigned>(err));
    return buf;
}

std::string ReadAttribute(const std::string& path) { return CleanText(ReadSmallFile(path)); }

// "COMn" of a number the scan hands out (always 1..50).
std::string NameOf(int number) { return ComPort::FromNumber(number)->Name(); }

std::string Parent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Name, number and order of a terminal: letters, then a number compared as a
// number, so ttyUSB2 comes before ttyUSB10.
bool NaturalLess(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        std::size_t i = s.size();
        while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') {
            --i;
        }
        const std::string digits = s.substr(i);
        const long long n = digits.empty() || digits.size() > 9 ? -1 : std::stoll(digits);
        return std::make_pair(s.substr(0, i), n);
    };
    const auto pa = split(a);
    const auto pb = split(b);
    if (pa.first != pb.first) {
        return pa.first < pb.first;
    }
    if (pa.second != pb.second) {
        return pa.second < pb.second;
    }
    return a < b;
}

// ttyS<k> -> k, else -1.
int LegacyIndex(const std::string& name) {
    if (!StartsWith(name, "ttyS") || name.size() == 4 || name.size() > 8) {
        return -1;
    }
    int k = 0;
    for (std::size_t i = 4; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return -1;
        }
        k = k * 10 + (name[i] - '0');
    }
    return k;
}

struct SysfsDevice {
    std::string name;
    std::string node;
    std::string canonical;
    std::string driverText;
    bool isUsb = false;
    int legacyIndex = -1;
};

std::vector<SysfsDevice> ReadSysfsDevices(const PortScanRoots& roots) {
    const std::string classDir = roots.sysRoot + "/class/tty";
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(classDir.c_str()), &::closedir);
    if (!dir) {
        throw PortScanError("Could not read " + classDir + ". " + ErrnoText(errno));
    }
    const std::string sysTop = Canonical(roots.sysRoot);
    std::vector<SysfsDevice> devices;
    while (dirent* ent = ::readdir(dir.get())) {
        const std::string name = ent->d_name;
        if (name.empty() || name[0] == '.') {
            continue;
        }
        const std::string base = classDir + "/" + name;
        const std::string deviceLink = base + "/device";
        struct stat st {};
        // Virtual consoles and the like have no hardware behind them.
        if (::lstat(deviceLink.c_str(), &st) != 0) {
            continue;
        }
        const int legacy = LegacyIndex(name);
        // The kernel keeps placeholders for legacy ports that are not there.
        if (legacy >= 0 && ReadAttribute(base + "/type") == "0") {
            continue;
        }
        SysfsDevice dev;
        dev.name = name;
        dev.node = roots.devRoot + "/" + name;
        if (!Exists(dev.node)) {
            continue;
        }
        dev.canonical = Canonical(dev.node);
        dev.legacyIndex = legacy;

        const std::string driver = BaseName(ReadLink(deviceLink + "/driver"));
        // The USB device is the nearest ancestor that carries vendor and product ids.
        std::string path = Canonical(deviceLink);
        for (int depth = 0; depth < 64 && path.size() > 1 && path != sysTop; ++depth) {
            if (Exists(path + "/idVendor") && Exists(path + "/idProduct")) {
                dev.isUsb = true;
                dev.driverText = UsbDriverText(driver, ReadAttribute(path + "/idVendor"),
                                               ReadAttribute(path + "/idProduct"),
                                               ReadAttribute(path + "/product"));
                break;
            }
            path = Parent(path);
        }
        if (!dev.isUsb) {
            dev.driverText = "Communications Port";
        }
        devices.push_back(std::move(dev));
    }
    std::sort(devices.begin(), devices.end(), [](const SysfsDevice& a, const SysfsDevice& b) {
        // Legacy ports first: their numbers are fixed.
        if ((a.legacyIndex >= 0) != (b.legacyIndex >= 0)) {
            return a.legacyIndex >= 0;
        }
        return NaturalLess(a.name, b.name);
    });
    return devices;
}

}  // namespace

std::string UsbDriverText(const std::string& driver, const std::string& vendorId,
                          const std::string& productId, const std::string& product) {
    if (driver == "cp210x" || (vendorId == "10c4" && StartsWith(productId, "ea"))) {
        return "CP210x USB to UART Bridge Controller";
    }
    if (driver == "pl2303" || vendorId == "067b") {
        return "Prolific USB-to-Serial";
    }
    if (vendorId == "0483" && (productId == "5740" || driver == "cdc_acm")) {
        return "STMicroelectronics Virtual COM Port";
    }
    const std::string own = CleanText(product);
    return own.empty() ? "USB Serial Device" : own;
}

PortNumbering& PortNumbering::Process() {
    static PortNumbering numbering;
    return numbering;
}

std::vector<SerialPortEntry> ScanSerialPorts(const PortScanRoots& roots, PortNumbering& numbering) {
    const std::string dir = roots.portDir.empty() ? DefaultPortDirectory() : roots.portDir;
    bool directoryRead = false;
    const std::vector<PortDirectoryEntry> entries = ReadPortDirectory(dir, &directoryRead);
    std::vector<SysfsDevice> devices;
    try {
        devices = ReadSysfsDevices(roots);
    } catch (const PortScanError& e) {
        // The entries named by hand still open; only with neither source is
        // there nothing to list.
        if (!directoryRead) {
            throw;
        }
        TraceF("%s Listing the port directory only.\n", e.what());
    }

    std::vector<SerialPortEntry> ports;
    std::set<int> taken;
    std::map<std::string, std::size_t> byTarget;  // canonical target -> index in ports
    for (const PortDirectoryEntry& e : entries) {
        SerialPortEntry port;
        port.number = e.number;
        port.portName = NameOf(e.number);
        port.devicePath = e.devicePath;
        port.driverText = e.driverText;
        // A hand-named pseudo-terminal with a driver text stands for a USB bridge.
        port.isUsb = e.hasName;
        port.fromDirectory = true;
        taken.insert(e.number);
        byTarget.emplace(Canonical(e.devicePath), ports.size());
        ports.push_back(std::move(port));
    }

    std::vector<const SysfsDevice*> unnumbered;
    for (const SysfsDevice& dev : devices) {
        if (auto it = byTarget.find(dev.canonical); it != byTarget.end()) {
            // Named by hand: the entry's number, the device's own facts.
            SerialPortEntry& port = ports[it->second];
            port.isUsb = dev.isUsb;
            if (port.driverText.empty()) {
                port.driverText = dev.driverText;
            }
            continue;
        }
        const int fixed = dev.legacyIndex + 1;
        if (dev.legacyIndex >= 0 && fixed <= kMaxComPort && taken.count(fixed) == 0) {
            taken.insert(fixed);
            ports.push_back({fixed, NameOf(fixed), dev.node, dev.driverText, dev.isUsb, false});
            continue;
        }
        unnumbered.push_back(&dev);
    }

    std::lock_guard lock(numbering.mutex_);
    auto& kept = numbering.kept_;
    std::vector<const SysfsDevice*> fresh;
    // Devices seen before keep their number while it is still free.
    for (const SysfsDevice* dev : unnumbered) {
        auto it = kept.find(dev->canonical);
        if (it != kept.end() && taken.count(it->second) == 0) {
            taken.insert(it->second);
            ports.push_back({it->second, NameOf(it->second), dev->node, dev->driverText, dev->isUsb, false});
        } else {
            fresh.push_back(dev);
        }
    }
    // Numbers kept for devices that are away stay reserved for them.
    std::set<int> reserved;
    for (const auto& [path, number] : kept) {
        reserved.insert(number);
    }
    for (const SysfsDevice* dev : fresh) {
        int number = 0;
        for (int n = kFirstFreeComPort; n <= kMaxComPort; ++n) {
            if (taken.count(n) == 0 && reserved.count(n) == 0) {
                number = n;
                break;
            }
        }
        if (number == 0) {
            TraceF("No free port number for %s\n", dev->node.c_str());
            continue;
        }
        kept[dev->canonical] = number;
        taken.insert(number);
        reserved.insert(number);
        ports.push_back({number, NameOf(number), dev->node, dev->driverText, dev->isUsb, false});
    }
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortEntry& a, const SerialPortEntry& b) { return a.number < b.number; });
    return ports;
}

std::vector<SerialPortEntry> ScanSerialPorts() {
    return ScanSerialPorts(PortScanRoots{}, PortNumbering::Process());
}

int LowestFreePortNumber(const std::vector<SerialPortEntry>& ports) {
    for (int n = kFirstFreeComPort; n <= kMaxComPort; ++n) {
        const bool used = std::any_of(ports.begin(), ports.end(),
                                      [n](const SerialPortEntry& p) { return p.number == n; });
        if (!used) {
            return n;
        }
    }
    return 0;
}

std::string ResolvePortDevice(const std::string& name, const PortScanRoots& roots,
                              PortNumbering& numbering) {
    const std::optional<ComPort> port = ComPort::Parse(name);
    if (!port) {
        return {};
    }
    const int number = port->Number();
    const std::string dir = roots.portDir.empty() ? DefaultPortDirectory() : roots.portDir;
    for (const PortDirectoryEntry& e : ReadPortDirectory(dir)) {
        if (e.number == number) {
            return e.devicePath;
        }
    }
    try {
        for (const SerialPortEntry& port : ScanSerialPorts(roots, numbering)) {
            if (port.number == number) {
                return port.devicePath;
            }
        }
    } catch (const PortScanError& e) {
        Trace(std::string(e.what()) + "\n");
    }
    return {};
}

std::string ResolvePortDevice(const std::string& name) {
    return ResolvePortDevice(name, PortScanRoots{}, PortNumbering::Process());
}

}  // namespace platform
