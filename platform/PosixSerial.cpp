// Talks to the kernel's terminal interface directly (termios2), because the C
// library's termios cannot set speeds outside the classic table. This file
// therefore must not include <termios.h>.
#include "platform/PosixSerial.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/SerialPortScan.h"
#include "platform/Trace.h"

namespace platform {
namespace {

// The classic speed codes; any other speed goes through BOTHER.
unsigned SpeedCode(int baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        case 921600: return B921600;
        default: return 0;
    }
}

bool ApplyLineSettings(int fd, int baud) {
    if (baud <= 0) {
        return false;
    }
    termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    // Speed.
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    const unsigned code = SpeedCode(baud);
    tio.c_cflag |= code != 0 ? code : BOTHER;
    tio.c_ispeed = static_cast<speed_t>(baud);
    tio.c_ospeed = static_cast<speed_t>(baud);
    // 8 data bits, no parity, 1 stop bit, receiver on, modem status ignored,
    // no hardware flow control.
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    // Binary bytes both ways: no software flow control, no translation, no echo.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                          IXON | IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    // A read returns at once with what has come, possibly nothing.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::ioctl(fd, TCSETS2, &tio) != 0) {
        return false;
    }
    // DTR and RTS on. Pseudo-terminals have no modem lines and refuse; that
    // is no reason to give up the port.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIS, &lines);
    return true;
}

class PosixSerialChannel final : public SerialChannel {
public:
    explicit PosixSerialChannel(int fd) : fd_(fd) {}
    int PollHandle() const override { return fd_; }
    ~PosixSerialChannel() override { Close(); }

    bool Configure(int baud) override {
        std::lock_guard lock(mutex_);
        return fd_ >= 0 && ApplyLineSettings(fd_, baud);
    }

    bool SetQueues(std::uint32_t, std::uint32_t) override {
        // The kernel sizes its own buffers; the sizes are only a hint.
        std::lock_guard lock(mutex_);
        return fd_ >= 0;
    }

    bool Read(void* buffer, std::uint32_t count, std::uint32_t* got) override {
        std::lock_guard lock(mutex_);
        if (got) *got = 0;
        if (fd_ < 0 || (buffer == nullptr && count != 0)) {
            return false;
        }
        if (count == 0) {
            return true;
        }
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, count);
            if (n >= 0) {
                if (got) *got = static_cast<std::uint32_t>(n);
                return true;
            }
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN || errno == EWOULDBLOCK;  // nothing has come
        }
    }

    bool Write(const void* buffer, std::uint32_t count, std::uint32_t* written) override {
        std::lock_guard lock(mutex_);
        if (written) *written = 0;
        if (fd_ < 0 || (buffer == nullptr && count != 0)) {
            return false;
        }
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        std::uint32_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(fd_, bytes + done, count - done);
            if (n > 0) {
                done += static_cast<std::uint32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // The output queue is full: wait until it drains.
                pollfd pfd {fd_, POLLOUT, 0};
                const int r = ::poll(&pfd, 1, kWriteStallMs);
                if (r < 0 && errno == EINTR) {
                    continue;
                }
                if (r > 0 && (pfd.revents & POLLOUT) != 0) {
                    continue;
                }
            }
            break;  // error, hang-up or no progress for too long
        }
        if (written) *written = done;
        return done == count;
    }

    bool Purge() override {
        std::lock_guard lock(mutex_);
        return fd_ >= 0 && ::ioctl(fd_, TCFLSH, TCIOFLUSH) == 0;
    }

    bool Close() override {
        std::lock_guard lock(mutex_);
        if (fd_ < 0) {
            return false;
        }
        // The descriptor is released even when close reports an error, so
        // the channel is closed either way. The lock goes with it.
        const int r = ::close(fd_);
        fd_ = -1;
        return r == 0 || errno == EINTR;
    }

private:
    std::mutex mutex_;
    int fd_ = -1;  // -1 closed; 0 is a valid descriptor like any other
};

int OpenExclusive(const std::string& devicePath) {
    if (devicePath.empty()) {
        return -1;
    }
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::unique_ptr<SerialChannel> OpenSerialDevice(const std::string& devicePath) {
    const int fd = OpenExclusive(devicePath);
    if (fd < 0) {
        return nullptr;
    }
    termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        ::close(fd);  // not a terminal
        return nullptr;
    }
    return std::make_unique<PosixSerialChannel>(fd);
}

bool SerialDeviceAvailable(const std::string& devicePath) {
    const int fd = OpenExclusive(devicePath);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

std::unique_ptr<SerialChannel> PosixSerialBackend::Open(const std::string& name) {
    const std::string device = ResolvePortDevice(name);
    if (device.empty()) {
        TraceF("No serial device is named %s\n", name.c_str());
        return nullptr;
    }
    auto channel = OpenSerialDevice(device);
    if (!channel) {
        TraceF("Cannot open %s (%s)\n", device.c_str(), name.c_str());
    }
    return channel;
}

}  // namespace platform
