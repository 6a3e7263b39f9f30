// The one serial port of the program. The update page owns it (it derives
// from this class), and every other page reaches it through that page.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/SerialBackend.h"

// Handle of the open port as the rest of the program tests it: 0 = closed.
using PortHandle = std::intptr_t;

class SerialLink {
public:
    SerialLink();
    virtual ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // 1 opened, 0 failed (handle 0).
    int OpenPort();
    // TRUE when already open, else the result of OpenPort.
    int EnsurePortOpen();
    void SetPortHighSpeed();
    void ReapplyPortSettings();
    bool ReadPort(void* buffer, std::uint32_t count, std::uint32_t* got);
    bool WritePort(const void* buffer, std::uint32_t count, std::uint32_t* written);
    bool PurgePort();
    // 1 closed, 0 when there was nothing to close. Leaves the port closed.
    int ClosePort();
    void ClosePortReset();
    void SetPortByIndex(std::uint8_t index);

    bool IsPortOpen() const;
    PortHandle GetPortHandle() const;

    std::string linkPortName = "COM1";
    int linkBaudRate = 0;

protected:
    static constexpr int kHighSpeedBaud = 921600;
    static constexpr std::uint32_t kInQueue = 4096;
    static constexpr std::uint32_t kOutQueue = 256;

private:
    void ApplyConfigLocked(int baud);
    void CloseLocked();

    mutable std::mutex mutex_;
    std::unique_ptr<platform::SerialChannel> channel_;
    PortHandle linkPortHandle_ = 0;
    PortHandle nextHandle_ = 1;
};
