// Fuzz target: the logger's replies (option values, fields, the settings reply, Read answered by fuzzed or right
// replies) and the Bluetooth replies and stored texts: a value is the number its field writes, a field is a piece
// of the reply, an address reads back to the same digits, a step counts on by one.
#include "FuzzChecks.h"
#include "device/BluetoothAddress.h"
#include "tracklog/LoggerOptions.h"
#include "tracklog/TrackLogSettings.h"

using namespace bluetooth;
using namespace fuzzcheck;

// A reply as a logger might send it: well-formed with a fuzzed value, or any text.
static std::string Reply(FuzzedDataProvider& in, int item) {
    if (in.ConsumeBool()) return in.ConsumeRandomLengthString(90);
    const std::string value = in.ConsumeBool() ? std::to_string(in.ConsumeIntegral<std::uint32_t>())
                                               : in.ConsumeRandomLengthString(12);
    return Framed("PMTK182,3," + std::to_string(item) + "," + value);
}

// Answers Read's queries from the input: no answer, not connected or a reply.
struct ScriptedLogger final : Pmtk182Sender {
    explicit ScriptedLogger(FuzzedDataProvider& in) : in_(in) {}
    Pmtk182Result SendPmtk182(int command, int arg1, int) override {
        using enum Pmtk182Result::Kind;
        const int answer = in_.ConsumeIntegralInRange(0, 7);
        if (answer < 2) return {answer == 0 ? kNone : kNotConnected, {}};
        return {kReply, command == 2 ? Reply(in_, arg1) : Framed("PMTK001,182,10,3")};
    }
    FuzzedDataProvider& in_;
};

static void RequirePiece(const std::string& reply, const std::optional<std::string>& field, const char* ends) {
    Require(!field || (reply.find(*field) != reply.npos && field->find_first_of(ends) == field->npos), "a piece");
}

// The twelve hex digits of an address, a[5] first.
static std::string Digits(const BtAddress& a) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", a[5], a[4], a[3], a[2], a[1], a[0]);
    return text;
}

static void Logger(FuzzedDataProvider& in) {
    const int item = in.ConsumeIntegralInRange(0, 12);
    const bool hex = in.ConsumeBool();
    const std::string reply = Reply(in, item), prefix = "$PMTK182,3," + std::to_string(item) + ",";
    if (const auto value = logger::OptionValue(reply, item, hex)) {
        Require(reply.starts_with(prefix), "a value only from the reply to its item");
        Require(std::strtoull(&reply[prefix.size()], nullptr, hex ? 16 : 10) == *value, "the number its field writes");
        (void)logger::FreeRecordText(logger::FreeRecordCount(*value));
    }
    (void)logger::IsAcknowledged(reply, item);
    for (std::size_t skip : {std::size_t{9}, TrackLogSettings::kValueFieldOffset, std::size_t{200}}) {
        RequirePiece(reply, ExtractPmtk182Field(reply, skip), "*\r\n");
    }
    TrackLogSettings settings;
    const auto raw = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 16));
    Require(settings.LoadFromDeviceReply(raw) == (raw.size() >= 11), "a settings reply of 11 bytes");
    if (ScriptedLogger device(in); settings.ReadDeviceSettings(device) == TrackLogSettings::ReadResult::kOk) {
        const int feet = static_cast<int>(static_cast<double>(settings.stagedDistanceMetres) * 3.28);
        Require(settings.stagedDistanceFeet == feet && settings.stagedLogMode == (settings.stagedInterval != 0 ? 2 : 3),
                "Read: feet from metres, the log mode from the interval");
    }
}

static void Bluetooth(FuzzedDataProvider& in) {
    BtAddress a{}, read = kUnknownAddress, fromText{};
    for (auto& b : a) b = in.ConsumeIntegral<std::uint8_t>();
    const std::string digits = Digits(a);
    const std::string reply = in.ConsumeBool() ? in.ConsumeRandomLengthString(100)
                                               : in.ConsumeRandomLengthString(10) + Framed("PMTK592," + digits);
    if (ParsePmtk592(reply, read)) {
        const std::size_t at = *FindPmtk592(reply, reply.size());
        const std::size_t first = at + 9 + (reply[at + 9] == ',');  // a second comma is passed over
        Require(Upper(reply.substr(first, 12)) == Digits(read), "the address its reply writes");
    } else {  // the first "$PMTK592" is the reply; a right one behind another is not looked at
        const std::size_t right = reply.find("$PMTK592," + digits + "*");
        Require(right == reply.npos || right != reply.find("$PMTK592"), "a right reply is read");
    }
    (void)ParsePmtk592Value(reply);
    RequirePiece(reply, ExtractPmtk592Field(reply, in.ConsumeIntegralInRange<std::size_t>(0, 40),
                                            in.ConsumeIntegralInRange<std::size_t>(0, 40)), "*");
    const std::string stored = in.ConsumeBool() ? in.ConsumeRandomLengthString(20) : FormatRegistryText(a);
    Require(!ParseRegistryText(stored, fromText) || FormatRegistryText(fromText) == Upper(stored), "a stored text");
    Require(BuildWriteSentence(a) == Framed("PMTK392," + digits.substr(0, 6) + "," + digits.substr(6)), "a write");
    BtAddress next = a;
    const auto number = [](const BtAddress& b) { return std::stoull(Digits(b), nullptr, 16); };
    Require(StepAddress(next) ? number(next) == number(a) + 1 : a == kUnknownAddress, "a step, but none from the last");
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    in.ConsumeBool() ? Logger(in) : Bluetooth(in);
    return 0;
}
