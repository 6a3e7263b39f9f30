#include "platform/PortDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

#include "platform/Trace.h"

namespace platform {
namespace {

constexpr std::size_t kMaxTextBytes = 126;

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

std::string ErrnoText(int err) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "(err=%x)", static_cast<unsigned>(err));
    return buf;
}

// Printable text of a device-supplied or user-supplied name: first line only,
// control characters dropped, blanks trimmed, cut at a character boundary.
std::string CleanText(std::string_view raw) {
    std::string out;
    for (char ch : raw) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n' || c == '\r' || c == 0) {
            break;
        }
        if (c < 0x20 || c == 0x7F) {
            continue;
        }
        out += ch;
    }
    if (out.size() > kMaxTextBytes) {
        std::size_t cut = kMaxTextBytes;
        // Do not split a UTF-8 sequence.
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        out.resize(cut);
    }
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    const auto last = out.find_last_not_of(' ');
    return out.substr(first, last - first + 1);
}

std::string ReadSmallFile(const std::string& path, std::size_t limit = 512) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rbe"), &std::fclose);
    if (!f) {
        return {};
    }
    std::string data(limit, '\0');
    const std::size_t n = std::fread(data.data(), 1, limit, f.get());
    data.resize(n);
    return data;
}

std::string ReadAttribute(const std::string& path) { return CleanText(ReadSmallFile(path)); }

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string ReadLink(const std::string& path) {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    if (n <= 0) {
        return {};
    }
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string Canonical(const std::string& path) {
    char buf[PATH_MAX];
    if (::realpath(path.c_str(), buf) == nullptr) {
        return path;
    }
    return buf;
}

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

// A directory we may take entries from: ours, and nobody else may write it.
bool IsTrustedDirectory(const std::string& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return false;
    }
    if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        TraceF("Port directory %s ignored: not private to this user\n", dir.c_str());
        return false;
    }
    return true;
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

std::string EntryPath(const std::string& dir, int number) { return dir + "/" + ComPortName(number); }

}  // namespace

int ParseComPortName(std::string_view name) {
    if (StartsWith(name, "//.//")) {
        name.remove_prefix(5);
    } else if (StartsWith(name, "\\\\.\\")) {
        name.remove_prefix(4);
    }
    if (!StartsWith(name, "COM")) {
        return 0;
    }
    name.remove_prefix(3);
    if (name.empty() || name.size() > 2 || name[0] == '0') {
        return 0;
    }
    int n = 0;
    for (char c : name) {
        if (c < '0' || c > '9') {
            return 0;
        }
        n = n * 10 + (c - '0');
    }
    return n >= 1 && n <= kMaxComPort ? n : 0;
}

std::string ComPortName(int number) { return "COM" + std::to_string(number); }

std::string DefaultPortDirectory() {
    if (const char* dir = std::getenv("PELLORA_PORT_DIR"); dir && *dir) {
        return dir;
    }
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) {
        return std::string(run) + "/pellora/ports";
    }
    return "/tmp/pellora-" + std::to_string(::geteuid()) + "/ports";
}

bool EnsurePortDirectory(const std::string& dir, std::string* error) {
    if (dir.empty()) {
        if (error) *error = "no port directory";
        return false;
    }
    // Create every missing component, private to the user.
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            const std::string part = dir.substr(0, pos);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                if (error) *error = "cannot create " + part + ": " + std::strerror(errno);
                return false;
            }
        }
    }
    if (!IsTrustedDirectory(dir)) {
        if (error) *error = dir + " is not a private directory of this user";
        return false;
    }
    return true;
}

std::vector<PortDirectoryEntry> ReadPortDirectory(const std::string& dir) {
    std::vector<PortDirectoryEntry> entries;
    if (dir.empty() || !IsTrustedDirectory(dir)) {
        return entries;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), &::closedir);
    if (!d) {
        return entries;
    }
    while (dirent* ent = ::readdir(d.get())) {
        const std::string name = ent->d_name;
        const int number = ParseComPortName(name);
        if (number == 0 || name != ComPortName(number)) {
            continue;
        }
        const std::string link = dir + "/" + name;
        struct stat st {};
        if (::lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            continue;
        }
        std::string target = ReadLink(link);
        if (target.empty()) {
            continue;
        }
        if (target[0] != '/') {
            target = dir + "/" + target;
        }
        if (!Exists(target)) {
            continue;  // left behind by a device that is gone
        }
        PortDirectoryEntry entry;
        entry.number = number;
        entry.devicePath = target;
        const std::string nameFile = link + ".name";
        if (::lstat(nameFile.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            entry.hasName = true;
            entry.driverText = CleanText(ReadSmallFile(nameFile));
        }
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(),
              [](const PortDirectoryEntry& a, const PortDirectoryEntry& b) { return a.number < b.number; });
    return entries;
}

bool RegisterPortEntry(const std::string& dir, int number, const std::string& devicePath,
                       const std::string& driverText, std::string* error) {
    if (number < 1 || number > kMaxComPort) {
        if (error) *error = "port number out of range: " + std::to_string(number);
        return false;
    }
    if (devicePath.empty() || devicePath[0] != '/') {
        if (error) *error = "device path must be absolute: " + devicePath;
        return false;
    }
    if (!EnsurePortDirectory(dir, error)) {
        return false;
    }
    const std::string link = EntryPath(dir, number);
    bool made = false;
    for (int attempt = 0; attempt < 2 && !made; ++attempt) {
        if (::symlink(devicePath.c_str(), link.c_str()) == 0) {
            made = true;
            break;
        }
        if (errno != EEXIST) {
            if (error) *error = "cannot create " + link + ": " + std::strerror(errno);
            return false;
        }
        struct stat st {};
        if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            if (error) *error = link + " is not a port entry";
            return false;
        }
        if (Exists(link)) {
            if (error) *error = ComPortName(number) + " is taken by " + ReadLink(link);
            return false;
        }
        ::unlink(link.c_str());  // stale: its device is gone
    }
    if (!made) {
        if (error) *error = "cannot create " + link;
        return false;
    }
    const std::string nameFile = link + ".name";
    if (driverText.empty()) {
        ::unlink(nameFile.c_str());
        return true;
    }
    std::string temp = nameFile + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    bool ok = fd >= 0;
    if (ok) {
        const std::string text = CleanText(driverText) + "\n";
        ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ok = (::close(fd) == 0) && ok;
        ok = ok && ::rename(temp.c_str(), nameFile.c_str()) == 0;
        if (!ok) {
            ::unlink(temp.c_str());
        }
    }
    if (!ok) {
        if (error) *error = "cannot write " + nameFile;
        ::unlink(link.c_str());
        return false;
    }
    return true;
}

void RemovePortEntry(const std::string& dir, int number, const std::string& devicePath) {
    if (number < 1 || number > kMaxComPort) {
        return;
    }
    const std::string link = EntryPath(dir, number);
    if (ReadLink(link) != devicePath) {
        return;  // someone else's entry now
    }
    // The name goes first: while the link stands nobody else can claim the number.
    ::unlink((link + ".name").c_str());
    ::unlink(link.c_str());
}

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
    const std::vector<PortDirectoryEntry> entries = ReadPortDirectory(dir);
    const std::vector<SysfsDevice> devices = ReadSysfsDevices(roots);

    std::vector<SerialPortEntry> ports;
    std::set<int> taken;
    std::map<std::string, std::size_t> byTarget;  // canonical target -> index in ports
    for (const PortDirectoryEntry& e : entries) {
        SerialPortEntry port;
        port.number = e.number;
        port.portName = ComPortName(e.number);
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
            ports.push_back({fixed, ComPortName(fixed), dev.node, dev.driverText, dev.isUsb, false});
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
            ports.push_back({it->second, ComPortName(it->second), dev->node, dev->driverText, dev->isUsb, false});
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
        ports.push_back({number, ComPortName(number), dev->node, dev->driverText, dev->isUsb, false});
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
    const int number = ParseComPortName(name);
    if (number == 0) {
        return {};
    }
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
