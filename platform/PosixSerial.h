// Serial ports on POSIX terminals.
//
// A port is opened for reading and writing, without becoming the controlling
// terminal, and held exclusively with flock() (TIOCEXCL does not keep root
// out, and it would outlive our descriptor on a pseudo-terminal). Configure
// sets 8 data bits, no parity, 1 stop bit, raw binary bytes, no flow control,
// DTR and RTS on; reads return at once with whatever has come; writes send
// every byte. Any speed the kernel driver takes can be set, standard or not
// (14400, 921600).
#pragma once

#include <memory>
#include <string>

#include "platform/SerialBackend.h"

namespace platform {

// Opens ports by their COM names through the port directory and numbering.
class PosixSerialBackend final : public SerialBackend {
public:
    std::unique_ptr<SerialChannel> Open(const std::string& name) override;
};

// Opens a terminal device by path. nullptr when it does not exist, is not a
// terminal or is held by someone else.
std::unique_ptr<SerialChannel> OpenSerialDevice(const std::string& devicePath);

// Whether the device could be opened exclusively at this moment. Opens and
// closes it at once.
bool SerialDeviceAvailable(const std::string& devicePath);

// A write that makes no progress for this long fails.
constexpr int kWriteStallMs = 5000;

}  // namespace platform
