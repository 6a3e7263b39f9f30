#include "sim/SerialUpdateTarget.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>

namespace sim {
namespace {

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool IsDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}
bool AllOf(const std::string& text, bool (*pred)(char)) {
    return !text.empty() && std::all_of(text.begin(), text.end(), pred);
}
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
// Value of a hex text of at most 8 digits; false for anything else.
bool ParseHex(const std::string& text, std::uint32_t& value) {
    if (text.empty() || text.size() > 8) return false;
    value = 0;
    for (char c : text) {
        const int v = HexValue(c);
        if (v < 0) return false;
        value = value * 16 + static_cast<std::uint32_t>(v);
    }
    return true;
}
std::vector<std::uint8_t> HexBytes(const std::string& text) {
    std::vector<std::uint8_t> out(text.size() / 2);
    for (std::size_t k = 0; k < out.size(); ++k) {
        out[k] = static_cast<std::uint8_t>(HexValue(text[2 * k]) * 16 + HexValue(text[2 * k + 1]));
    }
    return out;
}
std::string Hex6(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(value));
    return text;
}
Replies Ack(int number, int value) {
    return {Reply::Sentence("PTRV001," + std::to_string(number) + "," + std::to_string(value))};
}
// The register form of the CRC-32: preset 0xFFFFFFFF, no final inversion.
std::uint32_t RegisterCrc(const std::vector<std::uint8_t>& data) {
    uLong crc = ::crc32(0L, Z_NULL, 0);
    crc = ::crc32(crc, data.data(), static_cast<uInt>(data.size()));
    return static_cast<std::uint32_t>(crc) ^ 0xFFFFFFFFu;
}

}  // namespace

SerialUpdateTarget::SerialUpdateTarget(SerialUpdateOptions options) : options_(options) {}

void SerialUpdateTarget::SetOptions(const SerialUpdateOptions& options) {
    std::lock_guard lock(mutex_);
    options_ = options;
}

SerialUpdateOptions SerialUpdateTarget::Options() const {
    std::lock_guard lock(mutex_);
    return options_;
}

void SerialUpdateTarget::Error(std::string text) { errors_.push_back(std::move(text)); }

bool SerialUpdateTarget::SilentNow() const {
    return options_.silent || (options_.silentAfterChunks >= 0 && chunksTaken_ >= options_.silentAfterChunks);
}

Replies SerialUpdateTarget::Answer(const Sentence& sentence) {
    std::lock_guard lock(mutex_);
    return AnswerLocked(sentence);
}

std::string SerialUpdateTarget::AnswerBytes(std::string_view bytes) {
    std::lock_guard lock(mutex_);
    std::string out;
    for (const auto& item : assembler_.Feed(bytes)) {
        using K = SentenceAssembler::Item::Kind;
        if (item.kind != K::kSentence && item.kind != K::kBadChecksum) {
            Error("not a sentence: " + item.bytes);
            continue;
        }
        for (const Reply& reply : AnswerLocked(item.sentence)) {
            out += reply.framed ? Frame(reply.data) : reply.data;
        }
    }
    return out;
}

Replies SerialUpdateTarget::AnswerLocked(const Sentence& s) {
    if (s.tag.rfind("PTRV", 0) != 0) {
        return {};
    }
    bodies_.push_back(s.body);
    if (!s.checksumOk) {
        Error("wrong checksum: " + s.raw);
        return {};
    }
    // "$" body "*" H H CR LF: the digits sit 4 and 3 characters from the end.
    const std::size_t n = s.raw.size();
    if (n < 6 || !IsUpperHex(s.raw[n - 4]) || !IsUpperHex(s.raw[n - 3])) {
        Error("checksum not in upper-case hex: " + s.raw);
    }
    if (SilentNow()) {
        return {};
    }
    if (s.tag == "PTRV810") return OnAnnounce(s);
    if (s.tag == "PTRV819") return OnKey(s);
    if (s.tag == "PTRV815") return OnChunk(s);
    if (s.tag == "PTRV811") return OnEnd(s);
    Error("unknown sentence: " + s.body);
    return {};
}

Replies SerialUpdateTarget::OnAnnounce(const Sentence& s) {
    // Every announcement starts a transfer afresh.
    stage_ = Stage::kIdle;
    announced_ = false;
    complete_ = false;
    payload_.clear();
    key_.clear();
    cipher_ = Arc4State{};
    lastTakenBody_.clear();
    pendingBody_.clear();
    chunksTaken_ = 0;

    std::uint32_t crc = 0;
    if (s.fields.size() != 3 || s.fields[0] != "FWUPDATE" || !IsDigits(s.fields[1]) || s.fields[1].size() > 7 ||
        s.fields[2].size() != 8 || !AllOf(s.fields[2], IsUpperHex) || !ParseHex(s.fields[2], crc)) {
        Error("bad announcement: " + s.body);
        return Ack(810, 0);
    }
    const auto length = static_cast<std::uint32_t>(std::stoul(s.fields[1]));
    if (length > kMaxPayloadBytes) {
        Error("announced length above 131072: " + s.body);
    }
    if (s.fields[1] != std::to_string(length)) {
        Error("length with leading zeros: " + s.body);
    }
    announcedLength_ = length;
    announcedCrc_ = crc;
    announced_ = true;
    stage_ = Stage::kAnnounced;
    return Ack(810, 1);
}

Replies SerialUpdateTarget::OnKey(const Sentence& s) {
    if (stage_ != Stage::kAnnounced) {
        Error("key out of order: " + s.body);
        return Ack(819, 0);
    }
    if (s.fields.size() != 2 || s.fields[0] != std::to_string(kKeyBytes) || s.fields[1].size() != 2 * kKeyBytes ||
        !AllOf(s.fields[1], IsLowerHex)) {
        Error("bad key sentence: " + s.body);
        return Ack(819, 0);
    }
    key_ = HexBytes(s.fields[1]);
    if (options_.refuseKey) {
        return Ack(819, options_.keyRefusalValue);
    }
    Arc4Init(cipher_, key_.data(), key_.size());
    stage_ = Stage::kKeyed;
    return Ack(819, 1);
}

Replies SerialUpdateTarget::OnChunk(const Sentence& s) {
    ++chunkSentences_;
    if (stage_ != Stage::kKeyed) {
        Error("chunk out of order: " + s.body.substr(0, 24));
        return Ack(815, 0);
    }
    std::uint32_t offset = 0;
    std::uint32_t count = 0;
    const bool wellFormed = s.fields.size() == 3 && s.fields[0].size() == 6 && AllOf(s.fields[0], IsUpperHex) &&
                            ParseHex(s.fields[0], offset) && AllOf(s.fields[1], IsUpperHex) &&
                            s.fields[1][0] != '0' && ParseHex(s.fields[1], count) &&
                            s.fields[2].size() == 2 * static_cast<std::size_t>(count) &&
                            AllOf(s.fields[2], IsUpperHex);
    if (!wellFormed) {
        Error("bad chunk sentence: " + s.body.substr(0, 40));
        return Ack(815, 0);
    }

    const auto taken = static_cast<std::uint32_t>(payload_.size());
    if (chunksTaken_ > 0 && offset == lastTakenOffset_ && offset != taken) {
        // The answer to a chunk that was taken went missing: the same chunk
        // again, which must not be decrypted twice.
        ++resends_;
        if (s.body != lastTakenBody_) {
            Error("resent chunk differs at offset " + Hex6(offset));
            return Ack(815, 0);
        }
        return Ack(815, 3);
    }
    if (offset != taken) {
        Error("chunk at offset " + Hex6(offset) + ", expected " + Hex6(taken));
        return Ack(815, 0);
    }
    const std::uint32_t left = announcedLength_ > taken ? announcedLength_ - taken : 0;
    const auto expected = static_cast<std::uint32_t>(std::min<std::size_t>(kChunkBytes, left));
    if (count != expected) {
        Error("chunk at offset " + Hex6(offset) + " carries " + std::to_string(count) + " bytes, expected " +
              std::to_string(expected));
        return Ack(815, 0);
    }
    if (!pendingBody_.empty()) {
        ++resends_;
        if (s.body != pendingBody_) {
            Error("resent chunk differs at offset " + Hex6(offset));
            return Ack(815, 0);
        }
    }
    if (chunksTaken_ == options_.refuseChunk && refusals_ < options_.refuseChunkTimes) {
        ++refusals_;
        pendingBody_ = s.body;
        return Ack(815, options_.chunkRefusalValue);
    }
    const std::vector<std::uint8_t> encrypted = HexBytes(s.fields[2]);
    std::vector<std::uint8_t> plain(encrypted.size());
    Arc4Decrypt(cipher_, plain.data(), encrypted.data(), encrypted.size());
    payload_.insert(payload_.end(), plain.begin(), plain.end());
    lastTakenBody_ = s.body;
    lastTakenOffset_ = offset;
    pendingBody_.clear();
    ++chunksTaken_;
    return Ack(815, 3);
}

Replies SerialUpdateTarget::OnEnd(const Sentence& s) {
    if (s.fields.size() != 1 || s.fields[0] != "FWUPDATE") {
        Error("bad end sentence: " + s.body);
        return Ack(811, 0);
    }
    if (stage_ != Stage::kKeyed) {
        Error("end out of order");
        return Ack(811, 0);
    }
    stage_ = Stage::kEnded;
    bool good = true;
    if (payload_.size() != announcedLength_) {
        Error("end after " + std::to_string(payload_.size()) + " of " + std::to_string(announcedLength_) + " bytes");
        good = false;
    }
    if (RegisterCrc(payload_) != announcedCrc_) {
        Error("CRC of the payload does not match the announcement");
        good = false;
    }
    complete_ = good && errors_.empty();
    return Ack(811, good ? 1 : 0);
}

std::vector<std::uint8_t> SerialUpdateTarget::Payload() const {
    std::lock_guard lock(mutex_);
    return payload_;
}
std::vector<std::uint8_t> SerialUpdateTarget::Key() const {
    std::lock_guard lock(mutex_);
    return key_;
}
bool SerialUpdateTarget::Announced() const {
    std::lock_guard lock(mutex_);
    return announced_;
}
std::uint32_t SerialUpdateTarget::AnnouncedLength() const {
    std::lock_guard lock(mutex_);
    return announcedLength_;
}
std::uint32_t SerialUpdateTarget::AnnouncedCrc() const {
    std::lock_guard lock(mutex_);
    return announcedCrc_;
}
bool SerialUpdateTarget::Complete() const {
    std::lock_guard lock(mutex_);
    return complete_ && errors_.empty();
}
std::vector<std::string> SerialUpdateTarget::Errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
}
std::vector<std::string> SerialUpdateTarget::Bodies() const {
    std::lock_guard lock(mutex_);
    return bodies_;
}
int SerialUpdateTarget::ChunksTaken() const {
    std::lock_guard lock(mutex_);
    return chunksTaken_;
}
int SerialUpdateTarget::ChunkSentences() const {
    std::lock_guard lock(mutex_);
    return chunkSentences_;
}
int SerialUpdateTarget::Resends() const {
    std::lock_guard lock(mutex_);
    return resends_;
}
int SerialUpdateTarget::Refusals() const {
    std::lock_guard lock(mutex_);
    return refusals_;
}

std::shared_ptr<SerialUpdateTarget> InstallSerialUpdateTarget(DeviceSimulator& device,
                                                              const SerialUpdateOptions& options) {
    auto target = std::make_shared<SerialUpdateTarget>(options);
    for (const char* tag : {"PTRV810", "PTRV819", "PTRV815", "PTRV811"}) {
        device.SetBehaviour(
            tag, [target](const Sentence& s, SimContext&) { return target->Answer(s); },
            /*acceptBadChecksum=*/true);
    }
    return target;
}

std::vector<std::string> LineProblems(const DeviceSimulator& device) {
    std::vector<std::string> out;
    for (const auto& entry : device.Transcript()) {
        using K = TranscriptEntry::Kind;
        if (entry.kind == K::kBadFrame || entry.kind == K::kBadChecksum || entry.kind == K::kNoise) {
            out.push_back(std::string(KindName(entry.kind)) + ": " + entry.bytes.substr(0, 40));
        }
    }
    return out;
}

}  // namespace sim
