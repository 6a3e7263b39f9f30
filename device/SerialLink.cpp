#include "device/SerialLink.h"

#include <cstdio>

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

void SerialLink::CloseLocked() {
    if (channel_) {
        channel_->Purge();
        channel_->Close();
        channel_.reset();
    }
    linkPortHandle_ = 0;
}

int SerialLink::OpenPort() {
    std::lock_guard lock(mutex_);
    CloseLocked();
    channel_ = platform::GetSerialBackend().Open(linkPortName);
    if (!channel_) {
        linkPortHandle_ = 0;
        return 0;
    }
    linkPortHandle_ = nextHandle_++;
    ApplyConfigLocked(linkBaudRate);
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
        ApplyConfigLocked(linkBaudRate);
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
    CloseLocked();
    linkPortName = "COM1";
    return 1;
}

void SerialLink::ClosePortReset() {
    ClosePort();
}

void SerialLink::SetPortByIndex(std::uint8_t index) {
    std::lock_guard lock(mutex_);
    // Close first, so no descriptor is left behind.
    CloseLocked();
    linkPortName = "COM" + std::to_string(static_cast<int>(index) + 1);
}

bool SerialLink::IsPortOpen() const {
    std::lock_guard lock(mutex_);
    return linkPortHandle_ != 0;
}

PortHandle SerialLink::GetPortHandle() const {
    std::lock_guard lock(mutex_);
    return linkPortHandle_;
}
