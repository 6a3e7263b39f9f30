// The one serial port of the program. The update page owns it (it derives
// from this class), and every other page reaches it through that page.
//
// Every operation takes the one lock, so reads, writes, purges and closes
// from different threads never overlap. Closed means handle 0, always: after
// any close the handle reads 0, never a leftover value that looks open, and
// closing again does nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/ComPortList.h"
#include "platform/SerialBackend.h"

// Handle of the open port as the rest of the program tests it: 0 = closed.
using PortHandle = std::intptr_t;

// A text that several threads read and write; every access works on a copy.
class GuardedText {
public:
    explicit GuardedText(std::string value = {}) : value_(std::move(value)) {}
    GuardedText(const GuardedText&) = delete;
    GuardedText& operator=(const GuardedText&) = delete;

    GuardedText& operator=(std::string value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
        return *this;
    }
    GuardedText& operator=(const char* value) { return *this = std::string(value ? value : ""); }
    std::string get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    operator std::string() const { return get(); }
    bool empty() const {
        std::lock_guard lock(mutex_);
        return value_.empty();
    }
    friend bool operator==(const GuardedText& a, const std::string& b) { return a.get() == b; }

private:
    mutable std::mutex mutex_;
    std::string value_;
};

class SerialLink {
public:
    // Lists the serial ports; the default is ListComPorts. May throw.
    using PortLister = std::function<void(std::vector<ComPortInfo>&, bool skipBusy)>;

    SerialLink();
    virtual ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // Opens linkPortName at linkBaudRate: 1 opened, 0 failed (handle 0). A
    // port that is open already is closed first.
    int OpenPort();
    // 1 when already open, else the result of OpenPort.
    int EnsurePortOpen();
    // The same configuration at 921600 bit/s, if open.
    void SetPortHighSpeed();
    // The configuration at linkBaudRate again, if open.
    void ReapplyPortSettings();
    // Take what has come (possibly nothing) / send every byte. On a closed
    // port both fail with a count of 0 and touch nothing.
    bool ReadPort(void* buffer, std::uint32_t count, std::uint32_t* got);
    bool WritePort(const void* buffer, std::uint32_t count, std::uint32_t* written);
    // Waits up to timeoutMs (real time) for input without holding the port:
    // true when input may be there (or the port cannot be waited on), false
    // when nothing came or the port is closed. *hungUp tells whether the far
    // end of the line has gone (a device or bridge pulled); what it sent
    // before may still be there to read.
    bool WaitReadable(int timeoutMs, bool* hungUp = nullptr);
    // Drops pending input and output.
    bool PurgePort();
    // Purges and closes: 1 closed (the name returns to "COM1"), 0 when there
    // was nothing to close or the close failed. The port is closed afterwards
    // in every case.
    int ClosePort();
    void ClosePortReset();
    // Selects "COM<index + 1>". An open port is closed first.
    void SetPortByIndex(std::uint8_t index);
    // Port combo selection (0 = COM1 .. 49 = COM50, -1 none) and baud combo
    // selection (0..6 = 4800..115200, anything else keeps the speed): builds
    // the port name, makes sure the port is open and sets portLinked to the
    // result. Returns 1.
    int ApplyPortSettings(int portComboIndex, int baudComboIndex);
    // The first port whose friendly name shows one of the device's bridges:
    // its "COMn" in `out` and 1, else 0.
    int FindGpsPort(std::string& out);
    // Whether the current port is the device's bridge (1) or not (0). When it
    // is, linkPortName becomes its plain "COMn".
    int CheckDevicePort();

    bool IsPortOpen() const;
    PortHandle GetPortHandle() const;

    // Replaces the port lister (tests); an empty function restores the default.
    void SetPortLister(PortLister lister);
    // Replaces the lister of every link that has none of its own (tests);
    // an empty function restores ListComPorts.
    static void SetDefaultPortLister(PortLister lister);

    // The name the port is opened by: "COM1" at the start and after a close.
    GuardedText linkPortName{"COM1"};
    std::atomic<int> linkBaudRate{115200};

    static constexpr int kHighSpeedBaud = 921600;
    static constexpr std::uint32_t kInQueue = 4096;
    static constexpr std::uint32_t kOutQueue = 256;

private:
    void ApplyConfigLocked(int baud);
    bool CloseLocked();
    bool ListPorts(std::vector<ComPortInfo>& ports);

    mutable std::mutex mutex_;
    std::unique_ptr<platform::SerialChannel> channel_;
    PortHandle linkPortHandle = 0;
    PortHandle nextHandle_ = 1;
    PortLister lister_;
};
