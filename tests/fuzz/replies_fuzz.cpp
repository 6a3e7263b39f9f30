// Fuzz target: the logger's replies (acknowledgements, option values, the
// settings reply, Read with its queries answered by fuzzed or well-formed
// replies) and the Bluetooth address replies and stored texts. Checked
// against the reply forms themselves: a value taken is the number its field
// writes, a field cut is a piece of the reply, an address read from a reply
// or a stored text writes back to the same digits, and stepping counts on.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzChecks.h"
#include "device/BluetoothAddress.h"
#include "tracklog/LoggerOptions.h"
#include "tracklog/TrackLogSettings.h"

using fuzzcheck::Require;
using fuzzcheck::Framed;

namespace {

// A reply as a logger might send it: well-formed with a fuzzed value, or any text.
std::string Reply(FuzzedDataProvider& in, int item) {
    if (in.ConsumeBool()) return in.ConsumeRandomLengthString(90);
    const std::string value = in.ConsumeBool() ? std::to_string(in.ConsumeIntegral<std::uint32_t>())
                                               : in.ConsumeRandomLengthString(12);
    return Framed("PMTK182,3," + std::to_string(item) + "," + value);
}

// Answers Read's queries from the input, in turn.
struct ScriptedLogger final : Pmtk182Sender {
    explicit ScriptedLogger(FuzzedDataProvider& in) : in_(in) {}
    Pmtk182Result SendPmtk182(int command, int arg1, int) override {
        switch (in_.ConsumeIntegralInRange(0, 7)) {
            case 0: return {};
            case 1: return {Pmtk182Result::Kind::kNotConnected, {}};
            default: return {Pmtk182Result::Kind::kReply, command == 2 ? Reply(in_, arg1) : Framed("PMTK001,182,10,3")};
        }
    }
    FuzzedDataProvider& in_;
};

void Logger(FuzzedDataProvider& in) {
    const int item = in.ConsumeIntegralInRange(0, 12);
    const bool hex = in.ConsumeBool();
    const std::string reply = Reply(in, item);
    if (const auto value = logger::OptionValue(reply, item, hex)) {
        const std::string prefix = "$PMTK182,3," + std::to_string(item) + ",";
        Require(reply.starts_with(prefix), "a value only from the reply to its item");
        const std::string field = reply.substr(prefix.size(), reply.find('*') - prefix.size());
        Require(std::strtoull(field.c_str(), nullptr, hex ? 16 : 10) == *value, "the value its field writes");
        Require(logger::FreeRecordCount(*value) <= logger::kLogMemoryBytes / logger::kRecordBytes, "free count");
        (void)logger::FreeRecordText(logger::FreeRecordCount(*value));
    }
    (void)logger::IsAcknowledged(reply, item);
    for (std::size_t skip : {std::size_t{9}, TrackLogSettings::kValueFieldOffset, std::size_t{200}}) {
        if (const auto field = ExtractPmtk182Field(reply, skip)) {
            Require(reply.find(*field) != std::string::npos && field->find_first_of("*\r\n") == std::string::npos,
                    "a field is a piece of the reply before its end");
        }
    }
    TrackLogSettings settings;
    const std::string raw = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 16));
    Require(settings.LoadFromDeviceReply({reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()}) ==
                (raw.size() >= 11),
            "a settings reply of 11 bytes");
    ScriptedLogger device(in);
    if (settings.ReadDeviceSettings(device) == TrackLogSettings::ReadResult::kOk) {
        Require(settings.stagedDistanceFeet == static_cast<int>(static_cast<double>(settings.stagedDistanceMetres) * 3.28),
                "feet from metres");
        Require(settings.stagedLogMode == (settings.stagedInterval != 0 ? 2 : 3), "log mode from the interval");
    }
}

void Bluetooth(FuzzedDataProvider& in) {
    BtAddress a{};
    for (auto& b : a) b = in.ConsumeIntegral<std::uint8_t>();
    auto digitsOf = [](const BtAddress& b) {
        char text[16];
        std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", b[5], b[4], b[3], b[2], b[1], b[0]);
        return std::string(text);
    };
    const std::string digits = digitsOf(a);
    const std::string reply = in.ConsumeBool() ? in.ConsumeRandomLengthString(100)
                                               : in.ConsumeRandomLengthString(10) + Framed("PMTK592," + digits);
    BtAddress read = bluetooth::kUnknownAddress;
    if (bluetooth::ParsePmtk592(reply, read)) {
        const std::size_t at = *bluetooth::FindPmtk592(reply, reply.size());
        const std::size_t first = at + 9 + (reply[at + 9] == ',');  // a second comma is passed over
        std::string field = reply.substr(first, 12);
        for (char& c : field) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        Require(field == digitsOf(read), "the address its reply writes, a[5] first");
    } else {
        // The first "$PMTK592" is the reply; a right one behind another is not looked at.
        const std::size_t right = reply.find("$PMTK592," + digits + "*");
        Require(right == std::string::npos || right != reply.find("$PMTK592"), "a right reply is read");
    }
    (void)bluetooth::ParsePmtk592Value(reply);
    if (const auto field = bluetooth::ExtractPmtk592Field(reply, in.ConsumeIntegralInRange<std::size_t>(0, 40),
                                                          in.ConsumeIntegralInRange<std::size_t>(0, 40))) {
        Require(reply.find(*field) != std::string::npos && field->find('*') == std::string::npos, "a piece");
    }
    const std::string stored = in.ConsumeBool() ? in.ConsumeRandomLengthString(20) : bluetooth::FormatRegistryText(a);
    BtAddress fromText{};
    if (bluetooth::ParseRegistryText(stored, fromText)) {
        std::string upper = stored;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        Require(bluetooth::FormatRegistryText(fromText) == upper, "a stored text reads back");
    }
    Require(bluetooth::BuildWriteSentence(a) == Framed("PMTK392," + digits.substr(0, 6) + "," + digits.substr(6)),
            "the write sentence");
    BtAddress stepped = a;
    const std::uint64_t before = std::uint64_t{bluetooth::HighPart(a)} << 24 | bluetooth::LowPart(a);
    if (bluetooth::StepAddress(stepped)) {
        Require((std::uint64_t{bluetooth::HighPart(stepped)} << 24 | bluetooth::LowPart(stepped)) == before + 1, "step");
    } else {
        Require(a == bluetooth::kUnknownAddress, "only the last address has no next");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool()) {
        Logger(in);
    } else {
        Bluetooth(in);
    }
    return 0;
}
