// The serial-port layer below the program's serial port and its tests:
// a backend opens a port by name and hands back a channel to it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// One open port. Destroying the channel closes the port.
class SerialChannel {
public:
    virtual ~SerialChannel() = default;
    // 8 data bits, no parity, 1 stop bit, DTR and RTS on, no flow control, at
    // the given speed. Reads return at once with whatever has come.
    virtual bool Configure(int baud) = 0;
    // Input and output queue sizes; a hint only.
    virtual bool SetQueues(std::uint32_t inBytes, std::uint32_t outBytes) = 0;
    virtual bool Read(void* buffer, std::uint32_t count, std::uint32_t* got) = 0;
    virtual bool Write(const void* buffer, std::uint32_t count, std::uint32_t* written) = 0;
    // Drops pending input and output.
    virtual bool Purge() = 0;
    // Closes the port; later calls fail without effect.
    virtual bool Close() = 0;
    // A descriptor that poll() can wait on for input, or -1 when the
    // channel has none (callers then wait briefly and read).
    virtual int PollHandle() const { return -1; }
};

class SerialBackend {
public:
    virtual ~SerialBackend() = default;
    // Opens a port by the name the program uses ("COM3", "//.//COM12").
    // Returns nullptr when it cannot be opened.
    virtual std::unique_ptr<SerialChannel> Open(const std::string& name) = 0;
};

// The backend in force for the process (the real ports by default).
SerialBackend& GetSerialBackend();
// Installs another backend; nullptr restores the default. Returns the previous.
SerialBackend* SetSerialBackend(SerialBackend* backend);

class ScopedSerialBackend {
public:
    explicit ScopedSerialBackend(SerialBackend& b) : previous_(SetSerialBackend(&b)) {}
    ~ScopedSerialBackend() { SetSerialBackend(previous_); }
    ScopedSerialBackend(const ScopedSerialBackend&) = delete;
    ScopedSerialBackend& operator=(const ScopedSerialBackend&) = delete;

private:
    SerialBackend* previous_;
};

}  // namespace platform
