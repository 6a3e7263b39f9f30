// The program's one serial port: names from the combo selections, open and
// close rules, the bridge searches, thread safety, and the whole road to a
// simulated device on a pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "FakeSerial.h"
#include "PtyTestEnv.h"
#include "device/SerialLink.h"
#include "platform/PosixSerial.h"
#include "platform/Trace.h"
#include "sim/DeviceSimulator.h"
#include "support/UtilityManager.h"

using testsupport::FakeSerialBackend;

namespace {

ComPortInfo Port(const std::string& friendly) {
    ComPortInfo p;
    p.friendlyName = friendly;
    return p;
}

SerialLink::PortLister Listing(std::vector<ComPortInfo> ports) {
    return [ports](std::vector<ComPortInfo>& out, bool) { out = ports; };
}

}  // namespace

TEST(SerialLinkNames, ComboSelectionsGiveNameAndSpeed) {
    FakeSerialBackend fake;
    platform::ScopedSerialBackend use(fake);
    SerialLink link;
    struct Case {
        int index;
        const char* name;
    };
    for (const Case& c : {Case{0, "COM1"}, Case{8, "COM9"}, Case{9, "//.//COM10"}, Case{11, "//.//COM12"},
                          Case{49, "//.//COM50"}, Case{-1, "COM0"}}) {
        link.ClosePortReset();
        EXPECT_EQ(link.ApplyPortSettings(c.index, -1), 1);
        EXPECT_EQ(link.linkPortName.get(), c.name);
        EXPECT_EQ(fake.OpenedNames().back(), c.name);
    }
    // No baud selection keeps 115200; the combo maps 0..6.
    EXPECT_EQ(fake.Bauds().back(), 115200);
    const int bauds[] = {4800, 9600, 14400, 19200, 38400, 57600, 115200};
    for (int i = 0; i < 7; ++i) {
        link.ClosePortReset();
        link.ApplyPortSettings(0, i);
        EXPECT_EQ(fake.Bauds().back(), bauds[i]);
    }
    link.ApplyPortSettings(0, 7);  // out of range: kept
    EXPECT_EQ(link.linkBaudRate.load(), 115200);
    portLinked = 0;
}

TEST(SerialLinkNames, PortLinkedFollowsTheOpen) {
    FakeSerialBackend fake;
    platform::ScopedSerialBackend use(fake);
    SerialLink link;
    fake.SetOpenFails(true);
    portLinked = 1;
    link.ApplyPortSettings(2, -1);
    EXPECT_EQ(portLinked.load(), 0);
    EXPECT_EQ(link.GetPortHandle(), 0);
    fake.SetOpenFails(false);
    link.ApplyPortSettings(2, -1);
    EXPECT_EQ(portLinked.load(), 1);
    EXPECT_NE(link.GetPortHandle(), 0);
    // Already open: no second open.
    link.ApplyPortSettings(2, -1);
    EXPECT_EQ(fake.OpenedNames().size(), 1u);
    portLinked = 0;
}

TEST(SerialLinkNames, NoSuchPortOnTheRealBackend) {
    testsupport::PtyPortDir dir;
    SerialLink link;
    EXPECT_EQ(link.ApplyPortSettings(-1, -1), 1);  // COM0
    EXPECT_EQ(portLinked.load(), 0);
    EXPECT_FALSE(link.IsPortOpen());
}

TEST(SerialLinkLifecycle, CloseLeavesThePortClosedForGood) {
    FakeSerialBackend fake;
    platform::ScopedSerialBackend use(fake);
    SerialLink link;
    EXPECT_EQ(link.GetPortHandle(), 0);
    link.linkPortName = "COM4";
    ASSERT_EQ(link.OpenPort(), 1);
    const PortHandle first = link.GetPortHandle();
    EXPECT_NE(first, 0);

    EXPECT_EQ(link.ClosePort(), 1);
    EXPECT_EQ(link.GetPortHandle(), 0);
    EXPECT_FALSE(link.IsPortOpen());
    EXPECT_EQ(link.linkPortName.get(), "COM1");
    const auto events = fake.Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "purge");
    EXPECT_EQ(events.back(), "close");

    // Again: nothing happens, nothing is touched.
    fake.ClearRecord();
    link.linkPortName = "COM4";
    EXPECT_EQ(link.ClosePort(), 0);
    link.ClosePortReset();
    EXPECT_EQ(link.linkPortName.get(), "COM4");
    char buffer[8] = {};
    std::uint32_t count = 5;
    EXPECT_FALSE(link.ReadPort(buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 0u);
    count = 5;
    EXPECT_FALSE(link.WritePort("x", 1, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(link.PurgePort());
    link.SetPortHighSpeed();
    link.ReapplyPortSettings();
    EXPECT_TRUE(fake.Events().empty());

    ASSERT_EQ(link.EnsurePortOpen(), 1);
    EXPECT_NE(link.GetPortHandle(), first);  // a fresh handle, never 0
    EXPECT_NE(link.GetPortHandle(), 0);
}

TEST(SerialLinkLifecycle, ReopenAndIndexSelectionCloseFirst) {
    FakeSerialBackend fake;
    platform::ScopedSerialBackend use(fake);
    SerialLink link;
    link.OpenPort();
    link.OpenPort();
    EXPECT_EQ(fake.OpenChannels(), 1);
    link.SetPortByIndex(11);
    EXPECT_EQ(fake.OpenChannels(), 0);
    EXPECT_EQ(link.GetPortHandle(), 0);
    EXPECT_EQ(link.linkPortName.get(), "COM12");
    link.SetPortByIndex(255);
    EXPECT_EQ(link.linkPortName.get(), "COM256");
}

TEST(SerialLinkLifecycle, SpeedSwitches) {
    FakeSerialBackend fake;
    platform::ScopedSerialBackend use(fake);
    SerialLink link;
    link.linkBaudRate = 38400;
    link.OpenPort();
    link.SetPortHighSpeed();
    link.ReapplyPortSettings();
    EXPECT_EQ(fake.Bauds(), (std::vector<int>{38400, 921600, 38400}));
}

TEST(SerialLinkLifecycle, ReadsWritesAndClosesFromManyThreads) {
    FakeSerialBackend fake;
    fake.SetResponder([](const std::string& w) { return w; });
    platform::ScopedSerialBackend use(fake);
    SerialLink link;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            char buffer[64];
            std::uint32_t n = 0;
            while (!stop) {
                link.WritePort("$PMTK000*32\r\n", 13, &n);
                link.ReadPort(buffer, sizeof buffer, &n);
                link.PurgePort();
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 2000; ++i) {
            link.EnsurePortOpen();
            if (i % 3 == 0) link.SetPortByIndex(static_cast<std::uint8_t>(i % 50));
            link.ClosePortReset();
        }
        stop = true;
    });
    for (auto& t : threads) t.join();
    EXPECT_EQ(fake.OpenChannels(), 0);
    EXPECT_EQ(link.GetPortHandle(), 0);
}

TEST(SerialLinkSearch, FindGpsPortTakesTheFirstBridge) {
    SerialLink link;
    std::string out = "unchanged";
    link.SetPortLister(Listing({Port("Communications Port (COM1)"), Port("u-blox GNSS (COM4)")}));
    EXPECT_EQ(link.FindGpsPort(out), 0);
    EXPECT_EQ(out, "unchanged");

    for (const char* text : {"CP210x USB to UART Bridge Controller", "Silicon Labs CP210x USB to UART Bridge",
                             "Another USB to UART Bridge", "GPS USB Serial Interface Driver",
                             "STMicroelectronics Virtual COM Port"}) {
        link.SetPortLister(Listing({Port("Communications Port (COM1)"), Port(std::string(text) + " (COM17)"),
                                    Port("CP210x USB to UART Bridge Controller (COM18)")}));
        ASSERT_EQ(link.FindGpsPort(out), 1) << text;
        EXPECT_EQ(out, "COM17");
    }
    // Names without a usable "(COMn)" are passed over. The port is the last
    // "(COMn)": a driver text with parentheses of its own (a device's product
    // string) neither hides the port nor moves it.
    link.SetPortLister(Listing({Port("CP210x USB to UART Bridge Controller"),
                                Port("CP210x USB to UART Bridge Controller (COM0)"),
                                Port("CP210x USB to UART Bridge Controller (COM51)"),
                                Port("CP210x USB to UART Bridge Controller (rev 2)"),
                                Port("Evil (COM2) USB to UART Bridge (COM23)")}));
    ASSERT_EQ(link.FindGpsPort(out), 1);
    EXPECT_EQ(out, "COM23");
}

TEST(SerialLinkSearch, ListerFailureFindsNothing) {
    SerialLink link;
    link.SetPortLister([](std::vector<ComPortInfo>& out, bool) {
        out.push_back(Port("CP210x USB to UART Bridge Controller (COM3)"));
        throw std::runtime_error("Could not read /sys/class/tty");
    });
    std::string out;
    EXPECT_EQ(link.FindGpsPort(out), 0);
    EXPECT_EQ(link.CheckDevicePort(), 0);
    link.SetPortLister([](std::vector<ComPortInfo>&, bool) { throw 42; });
    EXPECT_EQ(link.FindGpsPort(out), 0);
}

TEST(SerialLinkSearch, CheckDevicePortAcceptance) {
    SerialLink link;
    std::vector<std::string> traces;
    platform::SetTraceSink([&](const std::string& t) { traces.push_back(t); });
    link.SetPortLister(Listing({Port("GPS USB Serial Interface Driver (COM5)"), Port("Prolific USB-to-Serial"),
                                Port("Prolific USB-to-Serial (COM12)")}));
    struct Case {
        const char* current;
        int result;
        const char* after;
    };
    for (const Case& c : {Case{"", 1, "COM12"}, Case{"COM12", 1, "COM12"}, Case{"//.//COM12", 1, "COM12"},
                          Case{"COM5", 0, "COM5"}, Case{"COM1", 0, "COM1"}, Case{"\\\\.\\COM9", 0, "\\\\.\\COM9"}}) {
        link.linkPortName = c.current;
        EXPECT_EQ(link.CheckDevicePort(), c.result) << c.current;
        EXPECT_EQ(link.linkPortName.get(), c.after) << c.current;
    }
    platform::SetTraceSink({});
    EXPECT_EQ(std::count(traces.begin(), traces.end(), "Connected to COM12\n"), 3);

    // The CP210x text counts as well; the first candidate that fits wins.
    link.SetPortLister(Listing({Port("CP210x USB to UART Bridge Controller (COM3)"),
                                Port("Prolific USB-to-Serial (COM7)")}));
    link.linkPortName = "COM7";
    EXPECT_EQ(link.CheckDevicePort(), 1);
    link.linkPortName = "COM3";
    EXPECT_EQ(link.CheckDevicePort(), 1);
}

// The whole road: the simulator registered as a CP210x bridge, found by name,
// opened, configured, talked to and closed.
class SerialLinkOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        sim::SimOptions options;
        options.port = "COM23";
        device_ = std::make_unique<sim::DeviceSimulator>(options);
        std::string error;
        ASSERT_TRUE(device_->Start(&error)) << error;
        // Only the port directory: a bridge on the test machine must not win.
        const std::string emptySys = dir_.Path() + "/sys";
        std::filesystem::create_directories(emptySys + "/class/tty");
        link_.SetPortLister([this, emptySys](std::vector<ComPortInfo>& out, bool busy) {
            platform::PortScanRoots roots;
            roots.sysRoot = emptySys;
            ListComPorts(out, busy, roots, numbering_);
        });
    }
    void TearDown() override {
        if (device_) device_->Stop();
    }
    std::string ReadFor(std::size_t want, int polls = 400) {
        std::string got;
        char buffer[80];
        for (int i = 0; i < polls && got.size() < want; ++i) {
            std::uint32_t n = 0;
            link_.ReadPort(buffer, sizeof buffer, &n);
            got.append(buffer, n);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return got;
    }

    testsupport::PtyPortDir dir_;
    platform::PortNumbering numbering_;
    std::unique_ptr<sim::DeviceSimulator> device_;
    SerialLink link_;
};

TEST_F(SerialLinkOnPty, FindsOpensAndTalks) {
    std::vector<ComPortInfo> ports;
    ListComPorts(ports, false);  // the real lister sees the entry too
    bool seen = false;
    for (const auto& p : ports) seen = seen || p.friendlyName == "CP210x USB to UART Bridge Controller (COM23)";
    EXPECT_TRUE(seen);

    std::string found;
    ASSERT_EQ(link_.FindGpsPort(found), 1);
    EXPECT_EQ(found, "COM23");
    link_.ApplyPortSettings(22, -1);
    ASSERT_EQ(portLinked.load(), 1);
    EXPECT_EQ(link_.linkPortName.get(), "//.//COM23");

    // Pending bytes go with a purge.
    device_->Send("left over");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(link_.PurgePort());
    EXPECT_EQ(ReadFor(1, 20), "");

    device_->SetBehaviour("PQVR810", [](const sim::Sentence&, sim::SimContext&) {
        return sim::Replies{sim::Reply::Sentence("PQVR852,TK515")};
    });
    const std::string query = sim::Frame("PQVR810");
    std::uint32_t written = 0;
    ASSERT_TRUE(link_.WritePort(query.data(), static_cast<std::uint32_t>(query.size()), &written));
    EXPECT_EQ(ReadFor(sim::Frame("PQVR852,TK515").size()), sim::Frame("PQVR852,TK515"));

    EXPECT_EQ(link_.CheckDevicePort(), 1);  // a CP210x: the logger's bridge
    EXPECT_EQ(link_.linkPortName.get(), "COM23");
    portLinked = 0;
}

TEST_F(SerialLinkOnPty, ClosedAndReselectedPortsLeaveNothingHeld) {
    link_.ApplyPortSettings(22, -1);
    ASSERT_TRUE(link_.IsPortOpen());
    EXPECT_FALSE(platform::SerialDeviceAvailable(device_->DevicePath()));
    link_.SetPortByIndex(22);  // closes; the descriptor and its lock are gone
    EXPECT_TRUE(platform::SerialDeviceAvailable(device_->DevicePath()));

    SerialLink other;
    other.linkPortName = "COM23";
    ASSERT_EQ(other.OpenPort(), 1);
    EXPECT_EQ(link_.EnsurePortOpen(), 0);  // held by the other link
    EXPECT_EQ(link_.GetPortHandle(), 0);
    EXPECT_EQ(other.ClosePort(), 1);
    EXPECT_EQ(other.ClosePort(), 0);
    link_.linkPortName = "COM23";
    EXPECT_EQ(link_.EnsurePortOpen(), 1);
    portLinked = 0;
}
