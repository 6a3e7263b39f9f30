// The serial-port lister and the COM numbering, over a fake /sys and /dev
// tree built like the kernel's, and over pseudo-terminals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "PtyTestEnv.h"
#include "device/ComPortList.h"
#include "platform/ComPortName.h"
#include "platform/PortDirectory.h"
#include "platform/SerialPortScan.h"
#include "platform/PosixSerial.h"

namespace fs = std::filesystem;
using platform::PortNumbering;
using platform::PortScanRoots;

namespace {

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text << "\n";
}

// /sys/class/tty, /sys/devices and /dev as the kernel lays them out.
class FakeTree {
public:
    FakeTree() {
        char templ[] = "/tmp/pellora-sysfs-XXXXXX";
        root_ = ::mkdtemp(templ);
        fs::create_directories(root_ / "sys/class/tty");
        fs::create_directories(root_ / "dev");
        fs::create_directories(root_ / "ports");
        fs::permissions(root_ / "ports", fs::perms::owner_all);
    }
    ~FakeTree() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    PortScanRoots Roots() const {
        PortScanRoots r;
        r.sysRoot = (root_ / "sys").string();
        r.devRoot = (root_ / "dev").string();
        r.portDir = PortDir();
        return r;
    }
    std::string PortDir() const { return (root_ / "ports").string(); }
    std::string Node(const std::string& name) const { return (root_ / "dev" / name).string(); }

    // A console without hardware.
    void AddVirtual(const std::string& name) {
        const fs::path dir = root_ / "sys/devices/virtual/tty" / name;
        fs::create_directories(dir);
        Link(name, dir);
    }
    // A legacy port; type 0 marks a placeholder.
    void AddLegacy(const std::string& name, int type) {
        const fs::path dev = root_ / "sys/devices/pnp0" / ("00:0" + name.substr(4));
        const fs::path dir = dev / "tty" / name;
        fs::create_directories(dir);
        WriteFile(dir / "type", std::to_string(type));
        fs::create_directory_symlink(dev, dir / "device");
        Link(name, dir);
    }
    // A USB serial device: usb device / interface / port / tty.
    void AddUsb(const std::string& name, const std::string& driver, const std::string& vendor,
                const std::string& productId, const std::string& product) {
        const fs::path usb = root_ / "sys/devices/pci0000:00/usb1" / ("1-" + std::to_string(++usbCount_));
        WriteFile(usb / "idVendor", vendor);
        WriteFile(usb / "idProduct", productId);
        if (!product.empty()) WriteFile(usb / "product", product);
        const fs::path port = usb / (usb.filename().string() + ":1.0") / ("port-" + name);
        const fs::path dir = port / "tty" / name;
        fs::create_directories(dir);
        const fs::path drivers = root_ / "sys/bus/usb-serial/drivers" / driver;
        fs::create_directories(drivers);
        fs::create_directory_symlink(drivers, port / "driver");
        fs::create_directory_symlink(port, dir / "device");
        Link(name, dir);
    }
    void Remove(const std::string& name) {
        fs::remove(root_ / "sys/class/tty" / name);
        fs::remove(root_ / "dev" / name);
    }

private:
    void Link(const std::string& name, const fs::path& dir) {
        fs::create_directory_symlink(dir, root_ / "sys/class/tty" / name);
        WriteFile(root_ / "dev" / name, "");
    }
    fs::path root_;
    int usbCount_ = 0;
};

std::vector<ComPortInfo> List(const FakeTree& tree, PortNumbering& numbering, bool skipBusy = false) {
    std::vector<ComPortInfo> ports;
    ListComPorts(ports, skipBusy, tree.Roots(), numbering);
    return ports;
}

const ComPortInfo* Find(const std::vector<ComPortInfo>& ports, const std::string& name) {
    for (const auto& p : ports) {
        if (p.portName == name) return &p;
    }
    return nullptr;
}

void BuildMachine(FakeTree& tree) {
    tree.AddVirtual("tty1");
    tree.AddLegacy("ttyS0", 4);
    tree.AddLegacy("ttyS1", 0);
    tree.AddLegacy("ttyS3", 4);
    tree.AddUsb("ttyUSB0", "cp210x", "10c4", "ea60", "CP2102 USB to UART Bridge Controller");
    tree.AddUsb("ttyUSB1", "pl2303", "067b", "2303", "USB-Serial Controller");
    tree.AddUsb("ttyACM0", "cdc_acm", "0483", "5740", "STM32 Virtual ComPort");
    tree.AddUsb("ttyACM1", "cdc_acm", "1546", "01a7", "u-blox 7 - GPS/GNSS Receiver");
    tree.AddUsb("ttyUSB10", "ftdi_sio", "0403", "6001", "FT232R USB UART");
}

}  // namespace

TEST(PortList, NumbersNamesAndDescriptionsOfAMachine) {
    FakeTree tree;
    BuildMachine(tree);
    PortNumbering numbering;
    const auto ports = List(tree, numbering);

    struct Want {
        const char* port;
        const char* node;
        const char* friendly;
        int usb;
    };
    // Legacy ports keep k+1; the rest take the lowest free number from COM3
    // in name order (ttyUSB10 after ttyUSB1).
    const Want want[] = {
        {"COM1", "ttyS0", "Communications Port (COM1)", 0},
        {"COM3", "ttyACM0", "STMicroelectronics Virtual COM Port (COM3)", 1},
        {"COM4", "ttyS3", "Communications Port (COM4)", 0},
        {"COM5", "ttyACM1", "u-blox 7 - GPS/GNSS Receiver (COM5)", 1},
        {"COM6", "ttyUSB0", "CP210x USB to UART Bridge Controller (COM6)", 1},
        {"COM7", "ttyUSB1", "Prolific USB-to-Serial (COM7)", 1},
        {"COM8", "ttyUSB10", "FT232R USB UART (COM8)", 1},
    };
    ASSERT_EQ(ports.size(), std::size(want));
    for (std::size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(want[i].port);
        EXPECT_EQ(ports[i].portName, want[i].port);
        EXPECT_EQ(ports[i].devicePath, tree.Node(want[i].node));
        EXPECT_EQ(ports[i].friendlyName, want[i].friendly);
        EXPECT_EQ(ports[i].isUsbDevice, want[i].usb);
        EXPECT_EQ(ports[i].description + " (" + want[i].port + ")", want[i].friendly);
    }
}

TEST(PortList, NumbersAreKeptForTheRun) {
    FakeTree tree;
    BuildMachine(tree);
    PortNumbering numbering;
    List(tree, numbering);

    tree.Remove("ttyACM0");  // unplugged: COM3 stays reserved for it
    tree.AddUsb("ttyUSB2", "ch341", "1a86", "7523", "USB Serial");
    auto ports = List(tree, numbering);
    EXPECT_EQ(Find(ports, "COM3"), nullptr);
    ASSERT_NE(Find(ports, "COM5"), nullptr);
    EXPECT_EQ(Find(ports, "COM5")->devicePath, tree.Node("ttyACM1"));
    ASSERT_NE(Find(ports, "COM9"), nullptr);
    EXPECT_EQ(Find(ports, "COM9")->devicePath, tree.Node("ttyUSB2"));

    tree.AddUsb("ttyACM0", "cdc_acm", "0483", "5740", "");  // plugged in again
    ports = List(tree, numbering);
    ASSERT_NE(Find(ports, "COM3"), nullptr);
    EXPECT_EQ(Find(ports, "COM3")->devicePath, tree.Node("ttyACM0"));
    EXPECT_EQ(Find(ports, "COM9")->devicePath, tree.Node("ttyUSB2"));
}

TEST(PortList, NeverAboveCom50) {
    FakeTree tree;
    tree.AddLegacy("ttyS60", 4);  // COM61 would be too high: numbered like the rest
    for (int i = 0; i < 60; ++i) {
        tree.AddUsb("ttyUSB" + std::to_string(i), "ftdi_sio", "0403", "6001", "FT232R USB UART");
    }
    PortNumbering numbering;
    const auto ports = List(tree, numbering);
    ASSERT_EQ(ports.size(), 48u);  // COM3 to COM50
    std::set<std::string> names;
    for (const auto& p : ports) {
        const int n = platform::ComPort::Parse(p.portName)->Number();
        EXPECT_GE(n, 3);
        EXPECT_LE(n, 50);
        names.insert(p.portName);
    }
    EXPECT_EQ(names.size(), ports.size());
    EXPECT_EQ(Find(ports, "COM3")->devicePath, tree.Node("ttyS60"));
}

TEST(PortList, DirectoryNamesPortsByHand) {
    testsupport::PtyPortDir guard;
    FakeTree tree;
    BuildMachine(tree);
    testsupport::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    std::string error;
    // A pseudo-terminal shown as a bridge on COM3, the legacy port's COM1
    // taken by another terminal, and the CP210x renamed to COM20.
    ASSERT_TRUE(platform::RegisterPortEntry(tree.PortDir(), 3, pty.DevicePath(), "Prolific USB-to-Serial", &error)) << error;
    testsupport::PtyPair other;
    ASSERT_TRUE(platform::RegisterPortEntry(tree.PortDir(), 1, other.DevicePath(), "", &error)) << error;
    ASSERT_TRUE(platform::RegisterPortEntry(tree.PortDir(), 20, tree.Node("ttyUSB0"), "", &error)) << error;

    PortNumbering numbering;
    const auto ports = List(tree, numbering);
    const ComPortInfo* com3 = Find(ports, "COM3");
    ASSERT_NE(com3, nullptr);
    EXPECT_EQ(com3->devicePath, pty.DevicePath());
    EXPECT_EQ(com3->friendlyName, "Prolific USB-to-Serial (COM3)");
    EXPECT_EQ(com3->isUsbDevice, 1);

    const ComPortInfo* com1 = Find(ports, "COM1");
    ASSERT_NE(com1, nullptr);
    EXPECT_EQ(com1->devicePath, other.DevicePath());
    EXPECT_EQ(com1->friendlyName, "COM1");  // no driver text: the bare name
    EXPECT_EQ(com1->description, "COM1");
    EXPECT_EQ(com1->isUsbDevice, 0);

    const ComPortInfo* com20 = Find(ports, "COM20");
    ASSERT_NE(com20, nullptr);
    EXPECT_EQ(com20->friendlyName, "CP210x USB to UART Bridge Controller (COM20)");
    EXPECT_EQ(com20->isUsbDevice, 1);

    int bridge = 0;
    int legacy = 0;
    for (const auto& p : ports) {
        bridge += p.devicePath == tree.Node("ttyUSB0") ? 1 : 0;
        legacy += p.devicePath == tree.Node("ttyS0") ? 1 : 0;
    }
    EXPECT_EQ(bridge, 1);  // under its hand-made name only
    EXPECT_EQ(legacy, 1);  // still listed, under a free number
    EXPECT_EQ(platform::ResolvePortDevice("//.//COM20", tree.Roots(), numbering), tree.Node("ttyUSB0"));
    EXPECT_EQ(platform::ResolvePortDevice("\\\\.\\COM3", tree.Roots(), numbering), pty.DevicePath());
}

TEST(PortList, SkipBusyLeavesOutPortsHeldOpen) {
    testsupport::PtyPortDir guard;
    FakeTree tree;
    testsupport::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    std::string error;
    ASSERT_TRUE(platform::RegisterPortEntry(tree.PortDir(), 4, pty.DevicePath(), "X", &error)) << error;
    PortNumbering numbering;
    {
        auto held = platform::OpenSerialDevice(pty.DevicePath());
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(List(tree, numbering, true).size(), 0u);
        EXPECT_EQ(List(tree, numbering, false).size(), 1u);
    }
    EXPECT_EQ(List(tree, numbering, true).size(), 1u);
}

// Containers and sandboxes may hide /sys/class/tty: the ports named by hand
// are still found, as they still open.
TEST(PortList, WithoutSysfsTheDirectoryIsListed) {
    testsupport::PtyPortDir guard;
    FakeTree tree;
    testsupport::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    std::string error;
    ASSERT_TRUE(platform::RegisterPortEntry(tree.PortDir(), 7, pty.DevicePath(),
                                            "CP210x USB to UART Bridge Controller", &error)) << error;
    PortScanRoots roots = tree.Roots();
    roots.sysRoot = "/nonexistent-sys";
    PortNumbering numbering;
    std::vector<ComPortInfo> ports;
    ASSERT_NO_THROW(ListComPorts(ports, false, roots, numbering));
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].friendlyName, "CP210x USB to UART Bridge Controller (COM7)");
    EXPECT_EQ(ports[0].devicePath, pty.DevicePath());
    EXPECT_EQ(platform::ResolvePortDevice("COM7", roots, numbering), pty.DevicePath());
}

TEST(PortList, UnreadableSysfsThrowsItsText) {
    PortScanRoots roots;
    roots.sysRoot = "/nonexistent-sys";
    roots.portDir = "/nonexistent-ports";
    PortNumbering numbering;
    std::vector<ComPortInfo> ports(2);
    try {
        ListComPorts(ports, false, roots, numbering);
        FAIL() << "no exception";
    } catch (const platform::PortScanError& e) {
        EXPECT_NE(std::string(e.what()).find("Could not read /nonexistent-sys/class/tty"), std::string::npos);
    }
    EXPECT_TRUE(ports.empty());
}

TEST(PortList, DescriptionRules) {
    EXPECT_EQ(DescriptionFromFriendlyName("CP210x USB to UART Bridge Controller (COM3)"),
              "CP210x USB to UART Bridge Controller");
    EXPECT_EQ(DescriptionFromFriendlyName("COM3"), "COM3");
    EXPECT_EQ(DescriptionFromFriendlyName("Port (COM3) spare"), "Port (COM3) spare");
    EXPECT_EQ(DescriptionFromFriendlyName(" (COM3)"), " (COM3)");
    EXPECT_EQ(DescriptionFromFriendlyName("A (b) (COM3)"), "A (b) (COM3)");
    EXPECT_EQ(DescriptionFromFriendlyName(""), "");
}

// One parser for port names and the port at the end of a friendly name; 0
// stands for none.
TEST(PortNames, ParseSpellAndFindInFriendlyNames) {
    using platform::ComPort;
    const auto number = [](std::optional<ComPort> port) { return port ? port->Number() : 0; };
    const std::vector<std::pair<std::string, int>> names = {
        {"COM1", 1}, {"COM50", 50}, {"//.//COM10", 10}, {"\\\\.\\COM12", 12}, {"COM0", 0}, {"COM51", 0},
        {"COM07", 0}, {"com3", 0}, {"COM", 0}, {"COM3x", 0}, {"COM-1", 0}, {"COM99999999999", 0}, {"", 0},
        {"//.//", 0}, {"/dev/ttyS0", 0}, {" COM3", 0}};
    for (const auto& [text, n] : names) EXPECT_EQ(number(ComPort::Parse(text)), n) << text;
    // The driver's own text in front can neither move the port nor hide it.
    const std::vector<std::pair<std::string, int>> friendly = {
        {"CP210x USB to UART Bridge Controller (COM4)", 4}, {"Bridge (COM1) (COM23)", 23},
        {"Bridge (rev 2) (COM5)", 5}, {"Bridge (COM7) spare", 7}, {"COM4", 0}, {"Bridge (COM51)", 0},
        {"Bridge ( COM4)", 0}, {"(COM4", 0}};
    for (const auto& [text, n] : friendly) EXPECT_EQ(number(ComPort::FromFriendlyName(text)), n) << text;

    EXPECT_EQ(number(ComPort::FromNumber(51)), 0);
    const ComPort nine = *ComPort::FromNumber(9);
    const ComPort twelve = *ComPort::FromNumber(12);
    EXPECT_EQ(nine.ComboIndex(), 8);
    EXPECT_EQ(nine.LinkName(), "COM9");
    EXPECT_EQ(twelve.Name(), "COM12");
    EXPECT_EQ(twelve.LinkName(), "//.//COM12");
    EXPECT_EQ(twelve.PrefixedName(), twelve.LinkName());
}

TEST(PortNames, BridgeDriverTexts) {
    // By vendor when the driver is not the usual one; generic and cleaned texts.
    EXPECT_EQ(platform::UsbDriverText("", "10c4", "ea60", ""), "CP210x USB to UART Bridge Controller");
    EXPECT_EQ(platform::UsbDriverText("", "067b", "23a3", ""), "Prolific USB-to-Serial");
    EXPECT_EQ(platform::UsbDriverText("ch341", "1a86", "7523", ""), "USB Serial Device");
    EXPECT_EQ(platform::UsbDriverText("x", "1", "2", "Bad\x01Name\nrest"), "BadName");
}

TEST(PortDirectory, EntriesThatCount) {
    testsupport::PtyPortDir guard;
    FakeTree tree;
    testsupport::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    const fs::path dir = tree.PortDir();
    fs::create_symlink(pty.DevicePath(), dir / "COM2");
    for (const char* name : {"COM0", "COM51", "COM03", "com4"}) {
        fs::create_symlink(pty.DevicePath(), dir / name);
    }
    WriteFile(dir / "COM6", "not a link");
    fs::create_symlink("/dev/pellora-gone", dir / "COM7");  // stale
    WriteFile(dir / "COM2.name", "  GPS USB Serial Interface Driver\r\nsecond line");

    auto entries = platform::ReadPortDirectory(dir.string());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].number, 2);
    EXPECT_EQ(entries[0].devicePath, pty.DevicePath());
    EXPECT_EQ(entries[0].driverText, "GPS USB Serial Interface Driver");

    // A folder others may write to is not trusted.
    fs::permissions(dir, fs::perms::others_write, fs::perm_options::add);
    EXPECT_TRUE(platform::ReadPortDirectory(dir.string()).empty());
}

TEST(PortDirectory, RegisterAndRemove) {
    testsupport::PtyPortDir guard;
    FakeTree tree;
    testsupport::PtyPair a;
    testsupport::PtyPair b;
    const std::string dir = tree.PortDir() + "/nested/ports";  // made on demand
    std::string error;
    ASSERT_TRUE(platform::RegisterPortEntry(dir, 7, a.DevicePath(), "CP210x USB to UART Bridge Controller", &error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A live entry is not taken over.
    EXPECT_FALSE(platform::RegisterPortEntry(dir, 7, b.DevicePath(), "", &error));
    EXPECT_NE(error.find("COM7 is taken"), std::string::npos);
    EXPECT_FALSE(platform::RegisterPortEntry(dir, 51, b.DevicePath(), "", &error));
    EXPECT_FALSE(platform::RegisterPortEntry(dir, 8, "relative/path", "", &error));

    // Someone else's device: left alone.
    platform::RemovePortEntry(dir, 7, b.DevicePath());
    EXPECT_EQ(platform::ResolvePortDevice("COM7", {"/nonexistent", "/dev", dir}, PortNumbering::Process()),
              a.DevicePath());
    platform::RemovePortEntry(dir, 7, a.DevicePath());
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir + "/COM7")));
    EXPECT_FALSE(fs::exists(dir + "/COM7.name"));

    // An entry whose device is gone is replaced.
    fs::create_symlink("/dev/pellora-gone", dir + "/COM9");
    ASSERT_TRUE(platform::RegisterPortEntry(dir, 9, b.DevicePath(), "", &error)) << error;
    EXPECT_EQ(fs::read_symlink(dir + "/COM9"), b.DevicePath());
}

TEST(PortDirectory, DefaultFolder) {
    testsupport::PtyPortDir guard;
    EXPECT_EQ(platform::DefaultPortDirectory(), guard.Path());
    ::unsetenv("PELLORA_PORT_DIR");
    const char* run = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = run ? run : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
    EXPECT_EQ(platform::DefaultPortDirectory(), "/run/user/1234/pellora/ports");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(platform::DefaultPortDirectory(), "/tmp/pellora-" + std::to_string(::geteuid()) + "/ports");
    if (run) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}
