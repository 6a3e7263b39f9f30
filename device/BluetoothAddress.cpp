#include "device/BluetoothAddress.h"

#include <cstdio>

#include "device/Sentence.h"
#include "device/SentencePort.h"
#include "platform/Clock.h"

namespace bluetooth {
namespace {

constexpr std::size_t kFieldSkip = 9;     // "$PMTK592" and its comma
constexpr std::size_t kFieldLength = 20;  // the cut
constexpr std::size_t kAddressDigits = 12;
constexpr std::uint32_t kPartMax = 0xFFFFFF;

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

std::uint8_t HexPair(std::string_view two) { return static_cast<std::uint8_t>(sentence::HexToInt(two.substr(0, 2))); }

void SetParts(BtAddress& a, std::uint32_t low, std::uint32_t high) {
    a[0] = static_cast<std::uint8_t>(low);
    a[1] = static_cast<std::uint8_t>(low >> 8);
    a[2] = static_cast<std::uint8_t>(low >> 16);
    a[3] = static_cast<std::uint8_t>(high);
    a[4] = static_cast<std::uint8_t>(high >> 8);
    a[5] = static_cast<std::uint8_t>(high >> 16);
}

}  // namespace

std::string NmeaChecksumHex(std::string_view sentence) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", sentence.size() > 1 ? sentence::Checksum(sentence.substr(1)) : 0);
    return text;
}

std::string BuildWriteSentence(const BtAddress& a) {
    char body[40];
    std::snprintf(body, sizeof body, "$PMTK392,%02X%02X%02X,%02X%02X%02X", a[5], a[4], a[3], a[2], a[1], a[0]);
    char framed[64];
    std::snprintf(framed, sizeof framed, "%s*%s\r\n", body, NmeaChecksumHex(body).c_str());
    return framed;
}

std::optional<std::size_t> FindPmtk592(std::string_view text, std::size_t length) {
    const std::size_t at = text.find(kReplyTag);
    if (at == std::string_view::npos || at >= length) {
        return std::nullopt;
    }
    return at;
}

std::optional<std::string> ExtractPmtk592Field(std::string_view text, std::size_t skip, std::size_t length) {
    const std::optional<std::size_t> at = FindPmtk592(text, text.size());
    if (!at || *at + skip > text.size()) {
        return std::nullopt;
    }
    std::string_view field = text.substr(*at + skip, length);
    if (!field.empty() && field.front() == ',') {
        field.remove_prefix(1);
    }
    const std::size_t star = field.find('*');
    if (star == std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(field.substr(0, star));
}

bool ParsePmtk592(std::string_view reply, BtAddress& a) {
    const std::optional<std::string> field = ExtractPmtk592Field(reply, kFieldSkip, kFieldLength);
    if (!field || field->size() != kAddressDigits) {
        return false;
    }
    for (char c : *field) {
        if (!IsHexDigit(c)) {
            return false;
        }
    }
    for (std::size_t i = 0; i < 6; ++i) {
        a[5 - i] = HexPair(std::string_view(*field).substr(2 * i));
    }
    return true;
}

long ParsePmtk592Value(std::string_view reply) {
    const std::optional<std::string> field = ExtractPmtk592Field(reply, kFieldSkip, kFieldLength);
    return field ? static_cast<long>(sentence::DecimalToInt(*field)) : 0;
}

std::string FormatRegistryText(const BtAddress& a) {
    char text[24];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
    return text;
}

bool ParseRegistryText(std::string_view text, BtAddress& a) {
    if (text.size() != 17) {
        return false;
    }
    for (std::size_t i = 0; i < 17; ++i) {
        const bool ok = (i % 3 == 2) ? text[i] == ':' : IsHexDigit(text[i]);
        if (!ok) {
            return false;
        }
    }
    for (std::size_t i = 0; i < 6; ++i) {
        a[i] = HexPair(text.substr(3 * i));
    }
    return true;
}

std::string DisplayText(const BtAddress& a) {
    char text[24];
    std::snprintf(text, sizeof text, "%x:%x:%x:%x:%x:%x", a[5], a[4], a[3], a[2], a[1], a[0]);
    return text;
}

std::uint32_t LowPart(const BtAddress& a) {
    return static_cast<std::uint32_t>(a[2]) << 16 | static_cast<std::uint32_t>(a[1]) << 8 | a[0];
}

std::uint32_t HighPart(const BtAddress& a) {
    return static_cast<std::uint32_t>(a[5]) << 16 | static_cast<std::uint32_t>(a[4]) << 8 | a[3];
}

bool StepAddress(BtAddress& a) {
    std::uint32_t low = LowPart(a);
    std::uint32_t high = HighPart(a);
    if (low == kPartMax && high == kPartMax) {
        return false;
    }
    if (low == kPartMax) {
        ++high;
        low = 0;
    } else {
        ++low;
    }
    SetParts(a, low, high);
    return true;
}

bool IsPastLimit(const BtAddress& a, const BtAddress& limit) {
    const std::uint32_t low = LowPart(a);
    const std::uint32_t high = HighPart(a);
    const std::uint32_t limitLow = LowPart(limit);
    const std::uint32_t limitHigh = HighPart(limit);
    return (low > limitLow && high >= limitHigh) || high > limitHigh;
}

}  // namespace bluetooth

namespace bt = bluetooth;

std::string BluetoothAddressOps::ReadChunk(SentencePort& port) {
    char buffer[bt::kReadBytes + 1] = {};
    const std::size_t got = port.Read(buffer, bt::kReadBytes);
    return std::string(buffer, got < bt::kReadBytes ? got : bt::kReadBytes);
}

std::optional<BtAddress> BluetoothAddressOps::StoredAddress() {
    std::string text;
    BtAddress a{};
    if (!tool_.RegReadString(RegRoot::CurrentUser, bt::kRegistryValue, text) || !bt::ParseRegistryText(text, a)) {
        return std::nullopt;
    }
    return a;
}

void BluetoothAddressOps::StoreAddress(const BtAddress& a) {
    tool_.RegWriteString(RegRoot::CurrentUser, bt::kRegistryValue, bt::FormatRegistryText(a));
}

bool BluetoothAddressOps::ReadBtMac(SentencePort& port) {
    if (!port.Open()) {
        return false;
    }
    port.Write(bt::kQuerySentence);
    std::string reply = ReadChunk(port);
    bool found = bt::FindPmtk592(reply, reply.size()).has_value();
    for (int poll = 0; !found && poll < bt::kReplyPolls; ++poll) {
        platform::Sleep(bt::kReplyPollMs);
        reply = ReadChunk(port);
        found = bt::FindPmtk592(reply, reply.size()).has_value();
    }
    BtAddress fromDevice{};
    const bool valid = found && bt::ParsePmtk592(reply.substr(*bt::FindPmtk592(reply, reply.size())), fromDevice);
    const std::optional<BtAddress> stored = StoredAddress();
    if (valid && !(fromDevice == bt::kUnknownAddress && stored)) {
        address = fromDevice;
    } else if (stored) {
        address = *stored;
    } else {
        address = bt::kUnknownAddress;
    }
    StoreAddress(address);
    port.Close();
    return true;
}

BluetoothAddressOps::WriteResult BluetoothAddressOps::WriteBtMac(SentencePort& port) {
    if (!port.Open()) {
        return WriteResult::kPortFailed;
    }
    const std::string sentence = bt::BuildWriteSentence(address);
    platform::Sleep(bt::kWriteLeadMs);
    port.Write(sentence);
    std::string reply = ReadChunk(port);
    bool found = reply.find(bt::kConfirmTag) != std::string::npos;
    for (int poll = 0; !found && poll < bt::kConfirmPolls; ++poll) {
        platform::Sleep(bt::kConfirmPollMs);
        reply = ReadChunk(port);
        found = reply.find(bt::kConfirmTag) != std::string::npos;
    }
    if (found) {
        platform::Sleep(bt::kConfirmSettleMs);
    }
    port.Close();
    return found ? WriteResult::kConfirmed : WriteResult::kUnconfirmed;
}

BluetoothAddressOps::StepResult BluetoothAddressOps::WriteNextBtMac(SentencePort& port) {
    if (!port.IsOpen()) {
        return StepResult::kPortClosed;
    }
    if (sent == 0 && stepState == 0) {
        stepState = 1;
        running = 1;
        displayText = bt::DisplayText(address);
    }
    if (stepState == 1) {
        if (bt::IsPastLimit(address, limit) || address == bt::kUnknownAddress) {
            statusText = bt::kOutOfRangeText;
            running = 0;
            port.Purge();
            return StepResult::kOutOfRange;
        }
        // The address before the step goes out, built afresh every time.
        const std::string sentence = bt::BuildWriteSentence(address);
        bt::StepAddress(address);
        port.Write(sentence);
        sent = 1;
        platform::Sleep(bt::kStepPauseMs);
        return StepResult::kSent;
    }
    if (sent == 0 && stepState == 2) {
        port.Write(bt::kRateSentence);
        platform::Sleep(bt::kStepPauseMs);
        port.Write(bt::kQuerySentence);
        sent = 1;
        return StepResult::kFinishSent;
    }
    return StepResult::kIdle;
}

void BluetoothAddressOps::ResetStepping() {
    stepState = 0;
    sent = 0;
    running = 0;
}

void BluetoothAddressOps::FinishStepping() {
    stepState = 2;
    sent = 0;
}
