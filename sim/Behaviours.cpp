#include "sim/Behaviours.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace sim {
namespace {

// PMTK001 flags: what became of a command.
constexpr int kFlagInvalid = 0;
constexpr int kFlagUnsupported = 1;
constexpr int kFlagFailed = 2;
constexpr int kFlagDone = 3;

// Speeds the logger's link can be switched to.
constexpr int kLinkSpeeds[] = {4800, 9600, 14400, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

struct Preset {
    const char* name;
    const char* aliases[3];
    const char* description;
    const char* modelName;
    bool qvr;
    bool orvik;
    bool logger;
    const char* firmware;
    const char* hardware;
};

// Firmware and hardware values are plausible defaults of each model; the
// program takes whatever the device reports.
const Preset kPresets[] = {
    {"L-731", {}, "track logger; answers $ORVIK731 only, so the program falls back to it",
     "TK511", false, true, true, "105", "C1"},
    {"TK511", {}, "track logger that also reports TK511 to $PQVR810",
     "TK511", true, true, true, "106", "C1"},
    {"RVN-3", {"TK515"}, "reports TK515", "TK515", true, false, false, "210", "02"},
    {"L-4400C", {"L4400C"}, "reports L4400C", "L4400C", true, false, false, "120", "03"},
    {"L4500", {"L-4500", "L-4400C/L4500"}, "the L-4400C under its other name, reports L4500",
     "L4500", true, false, false, "130", "03"},
    {"ZEP ION", {"TK517"}, "reports TK517", "TK517", true, false, false, "305", "04"},
    {"unknown", {}, "reports TK599, a model the program does not know", "TK599", true, false, false, "100", "01"},
    {"silent", {"off"}, "answers nothing", "", false, false, false, "100", "01"},
};

std::string NameKey(const std::string& name) {
    std::string key;
    for (unsigned char c : name) {
        if (c == ' ' || c == '-' || c == '_') {
            continue;
        }
        key += static_cast<char>(std::toupper(c));
    }
    return key;
}

DeviceProfile FromPreset(const Preset& preset) {
    DeviceProfile p;
    p.preset = preset.name;
    p.modelName = preset.modelName;
    p.answersQvr = preset.qvr;
    p.answersOrvik = preset.orvik;
    p.acksDisconnect = preset.qvr || preset.orvik;
    p.logger = preset.logger;
    p.bluetooth = preset.logger;
    p.firmware = preset.firmware;
    p.hardware = preset.hardware;
    return p;
}

// A number field: decimal, or hexadecimal (upper or lower case); digits only,
// no sign, at most what 32 bits hold.
bool ParseNumber(const std::string& text, bool hex, std::uint32_t& value) {
    if (text.empty() || text.size() > (hex ? 8u : 10u)) {
        return false;
    }
    std::uint64_t v = 0;
    for (unsigned char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        }
        if (digit < 0) {
            return false;
        }
        v = v * (hex ? 16 : 10) + static_cast<unsigned>(digit);
    }
    if (v > 0xFFFFFFFFull) {
        return false;
    }
    value = static_cast<std::uint32_t>(v);
    return true;
}

Reply Ack(const std::string& command, int flag) {
    return Reply::Sentence("PMTK001," + command + "," + std::to_string(flag));
}

Reply Ack182(std::uint32_t command, int flag) { return Ack("182," + std::to_string(command), flag); }

std::string Hex8(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

}  // namespace

const std::vector<PresetInfo>& Presets() {
    static const std::vector<PresetInfo> list = [] {
        std::vector<PresetInfo> out;
        for (const Preset& p : kPresets) {
            out.push_back({p.name, p.description});
        }
        return out;
    }();
    return list;
}

std::optional<DeviceProfile> FindPreset(const std::string& name) {
    const std::string key = NameKey(name);
    if (key.empty()) {
        return std::nullopt;
    }
    for (const Preset& preset : kPresets) {
        bool match = NameKey(preset.name) == key;
        for (const char* alias : preset.aliases) {
            match = match || (alias && NameKey(alias) == key);
        }
        if (match) {
            return FromPreset(preset);
        }
    }
    return std::nullopt;
}

DeviceProfile ProfileForModel(const std::string& name) {
    if (auto preset = FindPreset(name)) {
        return *preset;
    }
    DeviceProfile p;
    p.preset = name;
    if (name.empty()) {
        return p;  // answers nothing
    }
    p.modelName = name;
    p.answersQvr = true;
    p.acksDisconnect = true;
    return p;
}

bool IsFieldText(const std::string& text, std::size_t maxLength) {
    if (text.empty() || text.size() > maxLength) {
        return false;
    }
    return std::all_of(text.begin(), text.end(), [](char c) {
        return c >= 0x20 && c < 0x7F && c != ',' && c != '*' && c != '$';
    });
}

bool ValidateProfile(const DeviceProfile& p, std::string* error) {
    auto fail = [error](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if ((p.answersQvr || p.answersOrvik || !p.modelName.empty()) && !IsFieldText(p.modelName)) {
        return fail("model name must be 1 to 32 printable characters without \",\", \"*\" or \"$\": \"" +
                    p.modelName + "\"");
    }
    if (p.firmware.size() != 3 ||
        !std::all_of(p.firmware.begin(), p.firmware.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return fail("firmware must be three digits (305 is V3.05): \"" + p.firmware + "\"");
    }
    if (!IsFieldText(p.hardware, 3)) {
        return fail("hardware must be 1 to 3 printable characters without \",\", \"*\" or \"$\": \"" +
                    p.hardware + "\"");
    }
    if (p.logIntervalTenths < 0 || p.logDistanceTenths < 0) {
        return fail("interval and distance must not be negative");
    }
    if (p.recordMode != 1 && p.recordMode != 2) {
        return fail("record mode must be 1 (overwrite) or 2 (stop when full)");
    }
    if (p.logEndAddress > kLogMemorySize) {
        return fail("log end address must lie within the 2 MiB log memory");
    }
    if (p.eraseDelayMs < 0) {
        return fail("erase time must not be negative");
    }
    return true;
}

// ---------------------------------------------------------------------------

DeviceState::DeviceState(DeviceProfile profile)
    : profile_(std::move(profile)), memory_(kLogMemorySize, 0xFF) {}

DeviceProfile DeviceState::Profile() const {
    std::lock_guard lock(mutex_);
    return profile_;
}

void DeviceState::SetProfile(const DeviceProfile& profile) {
    std::lock_guard lock(mutex_);
    profile_ = profile;
}

void DeviceState::Update(const std::function<void(DeviceProfile&)>& change) {
    std::lock_guard lock(mutex_);
    change(profile_);
}

void DeviceState::SetFirmware(const std::string& digits) {
    Update([&](DeviceProfile& p) { p.firmware = digits; });
}

void DeviceState::SetHardware(const std::string& field) {
    Update([&](DeviceProfile& p) { p.hardware = field; });
}

void DeviceState::WriteMemory(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    if (address >= memory_.size()) {
        return;
    }
    const std::size_t n = std::min<std::size_t>(bytes.size(), memory_.size() - address);
    std::copy_n(bytes.begin(), n, memory_.begin() + address);
}

std::vector<std::uint8_t> DeviceState::ReadMemory(std::uint32_t address, std::uint32_t length) const {
    std::lock_guard lock(mutex_);
    if (address >= memory_.size()) {
        return {};
    }
    const std::size_t n = std::min<std::size_t>(length, memory_.size() - address);
    return {memory_.begin() + address, memory_.begin() + address + static_cast<std::ptrdiff_t>(n)};
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> DeviceState::ReadRequests() const {
    std::lock_guard lock(mutex_);
    return readRequests_;
}

int DeviceState::EraseCount() const {
    std::lock_guard lock(mutex_);
    return eraseCount_;
}

int DeviceState::WriteNameCount() const {
    std::lock_guard lock(mutex_);
    return writeNameCount_;
}

std::vector<int> DeviceState::OrvikCodes() const {
    std::lock_guard lock(mutex_);
    return orvikCodes_;
}

Replies DeviceState::Answer(const Sentence& sentence) {
    const DeviceProfile p = Profile();
    if (sentence.tag.rfind("PQVR", 0) == 0) {
        return AnswerQvr(sentence, p);
    }
    if (sentence.tag == "ORVIK731") {
        return AnswerOrvik(sentence, p);
    }
    if (sentence.tag == "PMTK400") {
        return AnswerPmtk400(p);
    }
    if (sentence.tag == "PMTK182" && p.logger) {
        return AnswerPmtk182(sentence);
    }
    if (p.bluetooth && (sentence.tag == "PMTK492" || sentence.tag == "PMTK392" || sentence.tag == "PMTK220")) {
        return AnswerBluetooth(sentence);
    }
    return {};
}

Replies DeviceState::AnswerQvr(const Sentence& sentence, const DeviceProfile& p) {
    if (!p.answersQvr) {
        return {};
    }
    if (sentence.tag == "PQVR810") {
        return {Reply::Sentence("PQVR852," + p.modelName)};
    }
    if (sentence.tag == "PQVR829") {
        return {Reply::Sentence("PQVR861," + p.firmware)};
    }
    if (sentence.tag == "PQVR832") {
        return {Reply::Sentence("PQVR865," + p.hardware)};
    }
    return {};
}

Replies DeviceState::AnswerOrvik(const Sentence& sentence, const DeviceProfile& p) {
    std::uint32_t code = 0;
    if (sentence.fields.size() != 1 || !ParseNumber(sentence.fields[0], false, code) || code > 999) {
        return {};
    }
    const std::string ack = "ORVIK001," + std::to_string(code);
    std::lock_guard lock(mutex_);
    orvikCodes_.push_back(static_cast<int>(code));
    if (code == 2 && p.acksDisconnect) {
        return {Reply::Sentence(ack)};
    }
    if (!p.answersOrvik) {
        return {};
    }
    switch (code) {
        case 1: return {Reply::Sentence(ack + "," + p.modelName)};
        case 3: return {Reply::Sentence(ack + "," + p.firmware)};
        case 7: return {Reply::Sentence(ack + "," + p.hardware)};
        case 4:
            ++writeNameCount_;
            return {Reply::Sentence(ack)};
        case 6:
        case 9: return {Reply::Sentence(ack)};
        default: return {};  // 2 without acksDisconnect, or a code the device does not know
    }
}

Replies DeviceState::AnswerPmtk400(const DeviceProfile& p) {
    if (!p.logger) {
        return {};
    }
    return {Ack("400", kFlagDone)};
}

// What a logger that outputs positions sends between its replies.
constexpr const char* kPositionSentence = "GPGGA,120000.000,3530.0000,N,13915.0000,E,1,08,1.0,100.0,M,0.0,M,,";

Replies DeviceState::AnswerPmtk182(const Sentence& sentence) {
    const auto& f = sentence.fields;
    if (f.empty()) {
        return {};  // the bare wake-up is no logger command
    }
    std::uint32_t command = 0;
    if (!ParseNumber(f[0], false, command)) {
        return {Ack("182", kFlagInvalid)};
    }
    // The arguments of each command, with their radix.
    auto arg = [&](std::size_t i, bool hex, std::uint32_t& value) {
        return i < f.size() && ParseNumber(f[i], hex, value);
    };
    std::lock_guard lock(mutex_);
    DeviceProfile& p = profile_;
    switch (command) {
        case 1: {  // set an option: item, value (items 1 and 2 in hexadecimal)
            std::uint32_t item = 0;
            std::uint32_t value = 0;
            if (f.size() != 3 || !arg(1, false, item) || !arg(2, item == 1 || item == 2, value)) {
                return {Ack182(command, kFlagInvalid)};
            }
            if (value > 0x7FFFFFFF) {
                return {Ack182(command, kFlagFailed)};
            }
            switch (item) {
                case 3: p.logIntervalTenths = static_cast<int>(value); break;
                case 4: p.logDistanceTenths = static_cast<int>(value); break;
                case 6:
                    if (value != 1 && value != 2) {
                        return {Ack182(command, kFlagFailed)};
                    }
                    p.recordMode = static_cast<int>(value);
                    break;
                default: return {Ack182(command, kFlagUnsupported)};
            }
            return {Ack182(command, kFlagDone)};
        }
        case 2: {  // query an option: item
            if (f.size() == 1) {
                // A query that names no item (the track-log page's Read
                // starts with it): answered as a query, with no item.
                return {Reply::Sentence("PMTK182,3")};
            }
            std::uint32_t item = 0;
            if (f.size() != 2 || !arg(1, false, item)) {
                return {Ack182(command, kFlagInvalid)};
            }
            std::string value;
            switch (item) {
                case 3: value = std::to_string(p.logIntervalTenths); break;
                case 4: value = std::to_string(p.logDistanceTenths); break;
                case 6: value = std::to_string(p.recordMode); break;
                case 8: value = Hex8(p.logEndAddress); break;
                default: return {Ack182(command, kFlagUnsupported)};
            }
            return {Reply::Sentence("PMTK182,3," + std::to_string(item) + "," + value)};
        }
        case 6: {  // erase: 1 = the whole log memory
            std::uint32_t what = 0;
            if (f.size() > 3 || !arg(1, false, what)) {
                return {Ack182(command, kFlagInvalid)};
            }
            if (what != 1) {
                return {Ack182(command, kFlagUnsupported)};
            }
            std::fill(memory_.begin(), memory_.end(), std::uint8_t{0xFF});
            p.logEndAddress = 0;
            ++eraseCount_;
            // Acknowledged when the flash is erased.
            return {Ack182(command, kFlagDone).After(p.eraseDelayMs)};
        }
        case 7: {  // read: address, length, both in hexadecimal
            std::uint32_t address = 0;
            std::uint32_t length = 0;
            if (f.size() != 3 || !arg(1, true, address) || !arg(2, true, length)) {
                return {Ack182(command, kFlagInvalid)};
            }
            if (length == 0 || length > kMaxReadBytes || address >= kLogMemorySize ||
                length > kLogMemorySize - address) {
                return {Ack182(command, kFlagFailed)};
            }
            readRequests_.emplace_back(address, length);
            if (p.stallReads) {
                return {};
            }
            static const char kHex[] = "0123456789ABCDEF";
            Replies replies;
            for (std::uint32_t offset = 0; offset < length; offset += kReadPacketBytes) {
                const std::uint32_t n = std::min(kReadPacketBytes, length - offset);
                std::string body = "PMTK182,8," + Hex8(address + offset) + ",";
                body.reserve(body.size() + 2 * n);
                for (std::uint32_t i = 0; i < n; ++i) {
                    const std::uint8_t b = memory_[address + offset + i];
                    body += kHex[b >> 4];
                    body += kHex[b & 0x0F];
                }
                if (p.nmeaBetweenPackets) {
                    replies.push_back(Reply::Sentence(kPositionSentence));
                }
                if (address + offset == p.corruptPacketOnce) {
                    // Sent once with a checksum one off; the next read of it is right.
                    replies.push_back(Reply::Raw(FrameWithChecksum(body, static_cast<std::uint8_t>(Checksum(body) ^ 1))));
                    profile_.corruptPacketOnce = DeviceProfile::kNoPacket;
                } else {
                    replies.push_back(Reply::Sentence(body));
                }
            }
            if (p.firstPacketDelayMs > 0 && !replies.empty()) {
                replies.front() = replies.front().After(p.firstPacketDelayMs);
            }
            return replies;
        }
        case 10:  // recording on
        case 11:  // recording off
            if (f.size() != 1) {
                return {Ack182(command, kFlagInvalid)};
            }
            p.recording = command == 10;
            return {Ack182(command, kFlagDone)};
        case 14: {  // link speed
            std::uint32_t baud = 0;
            if (f.size() != 2 || !arg(1, false, baud)) {
                return {Ack182(command, kFlagInvalid)};
            }
            if (std::find(std::begin(kLinkSpeeds), std::end(kLinkSpeeds), static_cast<int>(baud)) ==
                std::end(kLinkSpeeds)) {
                return {Ack182(command, kFlagFailed)};
            }
            // Acknowledged at the old speed; the new one holds from then on.
            p.linkBaud = static_cast<int>(baud);
            return {Ack182(command, kFlagDone)};
        }
        default:
            return {Ack182(command, kFlagUnsupported)};
    }
}

// ---------------------------------------------------------------------------

std::shared_ptr<DeviceState> InstallDevice(DeviceSimulator& sim, const DeviceProfile& profile) {
    auto state = std::make_shared<DeviceState>(profile);
    for (const char* tag : {"PQVR810", "PQVR829", "PQVR832", "ORVIK731", "PMTK400", "PMTK182", "PMTK492",
                            "PMTK392", "PMTK220"}) {
        sim.SetBehaviour(tag, [state](const Sentence& sentence, SimContext&) { return state->Answer(sentence); });
    }
    return state;
}

std::shared_ptr<DeviceState> InstallModelBehaviours(DeviceSimulator& sim, const std::string& model) {
    return InstallDevice(sim, ProfileForModel(model));
}

}  // namespace sim
