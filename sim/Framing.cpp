#include "sim/Framing.h"

namespace sim {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::uint8_t Checksum(std::string_view body) {
    std::uint8_t sum = 0;
    for (char c : body) {
        sum ^= static_cast<std::uint8_t>(c);
    }
    return sum;
}

std::string FrameWithChecksum(std::string_view body, std::uint8_t checksum) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(body.size() + 6);
    out += '$';
    out += body;
    out += '*';
    out += kHex[checksum >> 4];
    out += kHex[checksum & 0x0F];
    out += "\r\n";
    return out;
}

std::string Frame(std::string_view body) { return FrameWithChecksum(body, Checksum(body)); }

void SplitBody(const std::string& body, std::string& tag, std::vector<std::string>& fields) {
    fields.clear();
    const auto comma = body.find(',');
    tag = body.substr(0, comma);
    if (comma == std::string::npos) {
        return;
    }
    std::size_t start = comma + 1;
    for (;;) {
        const auto next = body.find(',', start);
        fields.push_back(body.substr(start, next == std::string::npos ? std::string::npos : next - start));
        if (next == std::string::npos) {
            break;
        }
        start = next + 1;
    }
}

void SentenceAssembler::Finish(std::vector<Item>& out) {
    Item item;
    item.bytes = std::move(pending_);
    pending_.clear();
    const std::string& raw = item.bytes;
    // "$" body "*" H H CR LF
    const auto star = raw.rfind('*');
    const bool framed = raw.size() >= 6 && star != std::string::npos && star + 5 == raw.size() &&
                        raw[raw.size() - 2] == '\r' && HexValue(raw[star + 1]) >= 0 &&
                        HexValue(raw[star + 2]) >= 0 && raw.find('*') == star;
    if (!framed) {
        item.kind = Item::Kind::kBadFrame;
        out.push_back(std::move(item));
        return;
    }
    Sentence& s = item.sentence;
    s.raw = raw;
    s.body = raw.substr(1, star - 1);
    SplitBody(s.body, s.tag, s.fields);
    s.checksum = static_cast<std::uint8_t>(HexValue(raw[star + 1]) * 16 + HexValue(raw[star + 2]));
    s.checksumOk = s.checksum == Checksum(s.body);
    item.kind = s.checksumOk ? Item::Kind::kSentence : Item::Kind::kBadChecksum;
    out.push_back(std::move(item));
}

std::vector<SentenceAssembler::Item> SentenceAssembler::Feed(std::string_view bytes) {
    std::vector<Item> out;
    auto flushNoise = [&] {
        if (!noise_.empty()) {
            Item item;
            item.kind = Item::Kind::kNoise;
            item.bytes = std::move(noise_);
            noise_.clear();
            out.push_back(std::move(item));
        }
    };
    for (char c : bytes) {
        if (pending_.empty()) {
            if (c == '$') {
                flushNoise();
                pending_.assign(1, '$');
            } else {
                noise_ += c;
            }
            continue;
        }
        if (c == '$') {
            // A new sentence begins before the old one ended.
            Item item;
            item.kind = Item::Kind::kBadFrame;
            item.bytes = std::move(pending_);
            out.push_back(std::move(item));
            pending_.assign(1, '$');
            continue;
        }
        pending_ += c;
        if (c == '\n') {
            Finish(out);
        } else if (pending_.size() >= kMaxSentence) {
            Item item;
            item.kind = Item::Kind::kBadFrame;
            item.bytes = std::move(pending_);
            pending_.clear();
            out.push_back(std::move(item));
        }
    }
    flushNoise();
    return out;
}

}  // namespace sim
