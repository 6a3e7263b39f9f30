// The POSIX serial channel on pseudo-terminals: configuration as the kernel
// reports it back, immediate reads, complete writes, purge, exclusive opens
// and the COM names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "PtyTestEnv.h"
#include "platform/PortDirectory.h"
#include "platform/PosixSerial.h"

using testsupport::PtyPair;

namespace {

termios Settings(const PtyPair& pty) {
    termios tio {};
    EXPECT_EQ(::tcgetattr(pty.DeviceFd(), &tio), 0);
    return tio;
}

}  // namespace

TEST(PosixSerial, ConfigurationReadsBack) {
    testsupport::PtyPortDir dir;
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    // Start from a cooked, odd line so every field has to change.
    termios start = Settings(pty);
    start.c_cflag = (start.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
    start.c_iflag |= IXON | IXOFF | ICRNL;
    start.c_lflag |= ICANON | ECHO | ISIG;
    start.c_oflag |= OPOST;
    ASSERT_EQ(::tcsetattr(pty.DeviceFd(), TCSANOW, &start), 0);

    auto port = platform::OpenSerialDevice(pty.DevicePath());
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->Configure(115200));
    const termios tio = Settings(pty);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
}

TEST(PosixSerial, EverySpeedInUse) {
    testsupport::PtyPortDir dir;
    PtyPair pty;
    auto port = platform::OpenSerialDevice(pty.DevicePath());
    ASSERT_NE(port, nullptr);
    const std::pair<int, speed_t> classic[] = {{4800, B4800},     {9600, B9600},     {19200, B19200},
                                               {38400, B38400},   {57600, B57600},   {115200, B115200},
                                               {921600, B921600}};
    for (const auto& [baud, code] : classic) {
        ASSERT_TRUE(port->Configure(baud)) << baud;
        const termios tio = Settings(pty);
        EXPECT_EQ(::cfgetospeed(&tio), code) << baud;
        EXPECT_EQ(testsupport::TerminalSpeed(pty.DeviceFd()), baud);
    }
    ASSERT_TRUE(port->Configure(14400));  // outside the classic table
    EXPECT_EQ(testsupport::TerminalSpeed(pty.DeviceFd()), 14400);
    // No speed at all would hang up the line: refused, speed kept.
    EXPECT_FALSE(port->Configure(0));
    EXPECT_EQ(testsupport::TerminalSpeed(pty.DeviceFd()), 14400);
}

TEST(PosixSerial, ReadReturnsAtOnceAndWriteSendsEverything) {
    testsupport::PtyPortDir dir;
    PtyPair pty;
    auto port = platform::OpenSerialDevice(pty.DevicePath());
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->Configure(115200));

    char buffer[80];
    std::uint32_t got = 99;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(port->Read(buffer, sizeof buffer, &got));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(got, 0u);

    ASSERT_TRUE(pty.WriteFromDevice("$ORVIK001,1*2B\r\n"));
    std::string received;
    for (int i = 0; i < 100 && received.size() < 16; ++i) {
        ASSERT_TRUE(port->Read(buffer, sizeof buffer, &got));
        received.append(buffer, got);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(received, "$ORVIK001,1*2B\r\n");

    // Far more than the terminal buffers: the write has to wait for the
    // other end and still deliver every byte, in order.
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    std::string seen;
    std::thread reader([&] { seen = pty.ReadAtDevice(big.size(), 10000); });
    std::uint32_t written = 0;
    EXPECT_TRUE(port->Write(big.data(), static_cast<std::uint32_t>(big.size()), &written));
    reader.join();
    EXPECT_EQ(written, big.size());
    EXPECT_TRUE(seen == big);
}

TEST(PosixSerial, PurgeDropsPendingInput) {
    testsupport::PtyPortDir dir;
    PtyPair pty;
    auto port = platform::OpenSerialDevice(pty.DevicePath());
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->Configure(38400));
    ASSERT_TRUE(pty.WriteFromDevice("stale bytes"));
    for (int i = 0; i < 200 && pty.PendingForPort() < 11; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(pty.PendingForPort(), 11);
    EXPECT_TRUE(port->Purge());
    EXPECT_EQ(pty.PendingForPort(), 0);
    char buffer[16];
    std::uint32_t got = 1;
    EXPECT_TRUE(port->Read(buffer, sizeof buffer, &got));
    EXPECT_EQ(got, 0u);
}

TEST(PosixSerial, ExclusiveOpenAndClose) {
    testsupport::PtyPortDir dir;
    PtyPair pty;
    auto port = platform::OpenSerialDevice(pty.DevicePath());
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(platform::OpenSerialDevice(pty.DevicePath()), nullptr);
    EXPECT_FALSE(platform::SerialDeviceAvailable(pty.DevicePath()));

    EXPECT_TRUE(port->Close());
    EXPECT_FALSE(port->Close());  // twice: nothing happens
    char byte = 'x';
    std::uint32_t count = 7;
    EXPECT_FALSE(port->Read(&byte, 1, &count));
    EXPECT_EQ(count, 0u);
    count = 7;
    EXPECT_FALSE(port->Write(&byte, 1, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(port->Purge());
    EXPECT_FALSE(port->Configure(9600));

    EXPECT_TRUE(platform::SerialDeviceAvailable(pty.DevicePath()));
    EXPECT_NE(platform::OpenSerialDevice(pty.DevicePath()), nullptr);
}

TEST(PosixSerial, OnlyTerminalsOpen) {
    EXPECT_EQ(platform::OpenSerialDevice("/dev/null"), nullptr);
    EXPECT_EQ(platform::OpenSerialDevice("/nonexistent/ttyUSB0"), nullptr);
    EXPECT_EQ(platform::OpenSerialDevice(""), nullptr);
    char file[] = "/tmp/pellora-notatty-XXXXXX";
    const int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(platform::OpenSerialDevice(file), nullptr);
    ::close(fd);
    ::unlink(file);
}

TEST(PosixSerial, DescriptorZeroIsAnOpenPort) {
    testsupport::PtyPortDir dir;
    PtyPair pty;
    const int savedStdin = ::dup(0);
    ASSERT_GE(savedStdin, 0);
    ::close(0);  // the next descriptor handed out is 0
    auto port = platform::OpenSerialDevice(pty.DevicePath());
    const bool opened = port != nullptr;
    bool wrote = false;
    if (opened) {
        std::uint32_t written = 0;
        wrote = port->Write("ping", 4, &written) && written == 4;
        port->Close();
    }
    ::dup2(savedStdin, 0);
    ::close(savedStdin);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(wrote);
    EXPECT_EQ(pty.ReadAtDevice(4, 1000), "ping");
}

TEST(PosixSerial, BackendOpensByComName) {
    testsupport::PtyPortDir dir;
    PtyPair pty;
    std::string error;
    ASSERT_TRUE(platform::RegisterPortEntry(dir.Path(), 12, pty.DevicePath(), "", &error)) << error;
    platform::PosixSerialBackend backend;
    for (const char* name : {"COM12", "//.//COM12", "\\\\.\\COM12"}) {
        auto port = backend.Open(name);
        ASSERT_NE(port, nullptr) << name;
        std::uint32_t written = 0;
        EXPECT_TRUE(port->Write(name, 2, &written));
        EXPECT_EQ(pty.ReadAtDevice(2, 1000), std::string(name, 2));
    }
    for (const char* name : {"COM0", "COM51", "COM13x", "/dev/null"}) {
        EXPECT_EQ(backend.Open(name), nullptr) << name;
    }
    // The process-wide default is this backend.
    EXPECT_NE(platform::GetSerialBackend().Open("COM12"), nullptr);
}
