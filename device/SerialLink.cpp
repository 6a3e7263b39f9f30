#include "device/SerialLink.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "platform/ComPortName.h"
#include "platform/Trace.h"
#include "support/UtilityManager.h"

namespace {

// Friendly names of the bridges the device may sit behind.
const char* const kGpsBridgeTexts[] = {
    "CP210x USB to UART Bridge Controller",
    "Silicon Labs CP210x USB to UART Bridge",
    "USB to UART Bridge",
    "GPS USB Serial Interface Driver",
    "STMicroelectronics Virtual COM Port",
};

// The bridges of the loggers.
const char* const kLoggerBridgeTexts[] = {
    "CP210x USB to UART Bridge Controller",
    "Prolific USB-to-Serial",
};

// Speeds of the baud combo, by index.
const int kComboBauds[] = {4800, 9600, 14400, 19200, 38400, 57600, 115200};

}  // namespace

SerialLink::SerialLink() = default;

SerialLink::~SerialLink() {
    std::lock_guard lock(mutex_);
    CloseLocked();
}

void SerialLink::ApplyConfigLocked(int baud) {
    // Configuration failures are not fatal: a port that opened is used with
    // whatever configuration took.
    channel_->Configure(baud);
    channel_->SetQueues(kInQueue, kOutQueue);
}

bool SerialLink::CloseLocked() {
    bool closed = false;
    if (channel_) {
        channel_->Purge();
        closed = channel_->Close();
        channel_.reset();
    }
    linkPortHandle = 0;
    return closed;
}

int SerialLink::OpenPort() {
    std::lock_guard lock(mutex_);
    // Reopening must not leave the old descriptor behind.
    CloseLocked();
    channel_ = platform::GetSerialBackend().Open(linkPortName.get());
    if (!channel_) {
        linkPortHandle = 0;
        return 0;
    }
    linkPortHandle = nextHandle_++;
    if (nextHandle_ <= 0) {
        nextHandle_ = 1;
    }
    ApplyConfigLocked(linkBaudRate.load());
    return 1;
}

int SerialLink::EnsurePortOpen() {
    if (IsPortOpen()) {
        return 1;
    }
    return OpenPort();
}

void SerialLink::SetPortHighSpeed() {
    std::lock_guard lock(mutex_);
    if (channel_) {
        ApplyConfigLocked(kHighSpeedBaud);
    }
}

void SerialLink::ReapplyPortSettings() {
    std::lock_guard lock(mutex_);
    if (channel_) {
        ApplyConfigLocked(linkBaudRate.load());
    }
}

bool SerialLink::ReadPort(void* buffer, std::uint32_t count, std::uint32_t* got) {
    std::lock_guard lock(mutex_);
    if (got) {
        *got = 0;
    }
    if (!channel_) {
        return false;
    }
    return channel_->Read(buffer, count, got);
}

bool SerialLink::WaitReadable(int timeoutMs, bool* hungUp) {
    if (hungUp) {
        *hungUp = false;
    }
    int fd = -1;
    {
        std::lock_guard lock(mutex_);
        if (!channel_) {
            return false;
        }
        // A descriptor of our own: the port may be closed meanwhile.
        const int handle = channel_->PollHandle();
        fd = handle >= 0 ? ::dup(handle) : -1;
    }
    if (fd < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }
    pollfd pfd{fd, POLLIN, 0};
    const int r = ::poll(&pfd, 1, std::max(timeoutMs, 0));
    ::close(fd);
    if (hungUp && r > 0 && (pfd.revents & (POLLHUP | POLLERR)) != 0) {
        *hungUp = true;
    }
    return r > 0;
}

bool SerialLink::WritePort(const void* buffer, std::uint32_t count, std::uint32_t* written) {
    std::lock_guard lock(mutex_);
    if (written) {
        *written = 0;
    }
    if (!channel_) {
        return false;
    }
    return channel_->Write(buffer, count, written);
}

bool SerialLink::PurgePort() {
    std::lock_guard lock(mutex_);
    return channel_ && channel_->Purge();
}

int SerialLink::ClosePort() {
    std::lock_guard lock(mutex_);
    if (!channel_) {
        return 0;
    }
    if (!CloseLocked()) {
        return 0;
    }
    linkPortName = "COM1";
    return 1;
}

void SerialLink::ClosePortReset() {
    ClosePort();
}

void SerialLink::SetPortByIndex(std::uint8_t index) {
    std::lock_guard lock(mutex_);
    // Close first, so no descriptor is left behind and the port opens again.
    CloseLocked();
    // Index 50 and up names no port; the open then fails.
    const int number = static_cast<int>(index) + 1;
    const auto port = platform::ComPort::FromNumber(number);
    linkPortName = port ? port->Name() : "COM" + std::to_string(number);
}

int SerialLink::ApplyPortSettings(int portComboIndex, int baudComboIndex) {
    // COM10 and up carry the device-namespace prefix, with forward slashes.
    // No selection (-1) names "COM0", which does not open.
    const long long number = static_cast<long long>(portComboIndex) + 1;
    const auto port = number <= platform::ComPort::kLast ? platform::ComPort::FromNumber(static_cast<int>(number))
                                                         : std::nullopt;
    linkPortName = port ? port->LinkName() : "COM" + std::to_string(number);
    if (baudComboIndex >= 0 && baudComboIndex < static_cast<int>(std::size(kComboBauds))) {
        linkBaudRate = kComboBauds[baudComboIndex];
    }
    portLinked = EnsurePortOpen();
    return 1;
}

namespace {
std::mutex g_defaultListerMutex;
SerialLink::PortLister g_defaultLister;
}  // namespace

void SerialLink::SetDefaultPortLister(PortLister lister) {
    std::lock_guard lock(g_defaultListerMutex);
    g_defaultLister = std::move(lister);
}

bool SerialLink::ListPorts(std::vector<ComPortInfo>& ports) {
    PortLister lister;
    {
        std::lock_guard lock(mutex_);
        lister = lister_;
    }
    if (!lister) {
        std::lock_guard lock(g_defaultListerMutex);
        lister = g_defaultLister;
    }
    try {
        if (lister) {
            lister(ports, false);
        } else {
            ListComPorts(ports, false);
        }
        return true;
    } catch (const std::exception& e) {
        platform::TraceF("Port list failed: %s\n", e.what());
    } catch (...) {
        platform::Trace("Port list failed\n");
    }
    // A lister that fails finds no port.
    ports.clear();
    return false;
}

void SerialLink::SetPortLister(PortLister lister) {
    std::lock_guard lock(mutex_);
    lister_ = std::move(lister);
}

int SerialLink::FindGpsPort(std::string& out) {
    std::vector<ComPortInfo> ports;
    ListPorts(ports);
    for (const ComPortInfo& port : ports) {
        bool match = false;
        for (const char* text : kGpsBridgeTexts) {
            match = match || port.friendlyName.find(text) != std::string::npos;
        }
        if (!match) {
            continue;
        }
        const auto found = platform::ComPort::FromFriendlyName(port.friendlyName);
        if (!found) {
            continue;  // no usable port name in it
        }
        out = found->Name();
        return 1;
    }
    return 0;
}

int SerialLink::CheckDevicePort() {
    {
        std::lock_guard lock(mutex_);
        if (channel_) {
            channel_->SetQueues(kInQueue, kOutQueue);
        }
    }
    std::vector<ComPortInfo> ports;
    ListPorts(ports);
    for (const ComPortInfo& port : ports) {
        bool candidate = false;
        for (const char* text : kLoggerBridgeTexts) {
            candidate = candidate || port.friendlyName.find(text) != std::string::npos;
        }
        if (!candidate) {
            continue;
        }
        const auto found = platform::ComPort::FromFriendlyName(port.friendlyName);
        if (!found) {
            continue;
        }
        const std::string cut = found->Name();
        const std::string current = linkPortName.get();
        if (current.empty() || current == cut || current == found->PrefixedName()) {
            linkPortName = cut;
            platform::TraceF("Connected to %s\n", cut.c_str());
            return 1;
        }
    }
    return 0;
}

bool SerialLink::IsPortOpen() const {
    std::lock_guard lock(mutex_);
    return linkPortHandle != 0;
}

PortHandle SerialLink::GetPortHandle() const {
    std::lock_guard lock(mutex_);
    return linkPortHandle;
}
