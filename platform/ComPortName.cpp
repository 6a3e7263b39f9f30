#include "platform/ComPortName.h"

namespace platform {
namespace {

constexpr std::string_view kPrefix = "//.//";
constexpr std::string_view kBackslashPrefix = "\\\\.\\";

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::optional<ComPort> ComPort::FromNumber(int number) {
    if (number < kFirst || number > kLast) {
        return std::nullopt;
    }
    return ComPort(number);
}

std::optional<ComPort> ComPort::Parse(std::string_view name) {
    if (StartsWith(name, kPrefix)) {
        name.remove_prefix(kPrefix.size());
    } else if (StartsWith(name, kBackslashPrefix)) {
        name.remove_prefix(kBackslashPrefix.size());
    }
    if (!StartsWith(name, "COM")) {
        return std::nullopt;
    }
    name.remove_prefix(3);
    if (name.empty() || name.size() > 2 || name[0] == '0') {
        return std::nullopt;
    }
    int n = 0;
    for (char c : name) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        n = n * 10 + (c - '0');
    }
    return FromNumber(n);
}

std::optional<ComPort> ComPort::FromFriendlyName(std::string_view friendlyName) {
    std::size_t end = friendlyName.size();
    while (end > 0) {
        const auto open = friendlyName.rfind('(', end - 1);
        if (open == std::string_view::npos) {
            break;
        }
        const auto close = friendlyName.find(')', open);
        if (close != std::string_view::npos) {
            const std::string_view inner = friendlyName.substr(open + 1, close - open - 1);
            if (auto port = Parse(inner); port && inner == port->Name()) {
                return port;
            }
        }
        end = open;
    }
    return std::nullopt;
}

std::string ComPort::Name() const { return "COM" + std::to_string(number_); }

std::string ComPort::PrefixedName() const { return std::string(kPrefix) + Name(); }

std::string ComPort::LinkName() const { return number_ >= 10 ? PrefixedName() : Name(); }

}  // namespace platform
