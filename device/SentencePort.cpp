#include "device/SentencePort.h"

#include <cstdint>
#include <string>

#include "device/SerialLink.h"

bool SerialLinkPort::Open() { return link_.OpenPort() == 1; }

void SerialLinkPort::Close() {
    const std::string name = link_.linkPortName.get();
    link_.ClosePort();
    if (mode_ == CloseMode::kKeepName) {
        link_.linkPortName = name;
    }
}

bool SerialLinkPort::IsOpen() const { return link_.IsPortOpen(); }

void SerialLinkPort::Purge() { link_.PurgePort(); }

bool SerialLinkPort::Write(std::string_view bytes) {
    std::uint32_t written = 0;
    return link_.WritePort(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written) &&
           written == bytes.size();
}

std::size_t SerialLinkPort::Read(char* buffer, std::size_t count) {
    std::uint32_t got = 0;
    if (!link_.ReadPort(buffer, static_cast<std::uint32_t>(count), &got)) {
        return 0;
    }
    return got;
}
