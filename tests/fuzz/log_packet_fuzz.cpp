// Fuzz target: the log packet search over a text built of right packets,
// damaged and cut ones, stray "$", other sentences and noise. The text is
// searched as the uploader does (packet after packet, each search going on
// where the last ended), once whole and once arriving in pieces of random
// sizes: both must take the same packets. Every packet taken is checked
// against its own framing: hex digits, the XOR of the sentence, the address.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tracklog/LogDecoder.h"
#include "tracklog/LogPacket.h"

using namespace logupload;

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "log packet fuzz: %s\n", what);
        std::abort();
    }
}

std::string Framed(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

std::string PacketBody(std::uint32_t address, std::minstd_rand& gen) {
    char head[32];
    std::snprintf(head, sizeof head, "PMTK182,8,%08X,", address);
    std::string body = head;
    for (std::size_t i = 0; i < kPacketHexChars; ++i) body += "0123456789ABCDEFabcdef"[gen() % 22];
    return body;
}

struct Taken {
    PacketStatus status;
    std::size_t data;
    bool operator==(const Taken&) const = default;
};

// The packets taken from the text, whole or arriving in random pieces.
std::vector<Taken> Search(const std::string& text, unsigned seed, bool whole) {
    std::minstd_rand gen(seed);
    std::vector<Taken> out;
    std::size_t from = 0;
    std::size_t have = whole ? text.size() : 0;
    std::uint32_t address = 0;
    for (;;) {
        const PacketSearch r = FindLogPacket(std::string_view(text).substr(0, have), from, address);
        Require(r.next >= from && r.next <= have, "the next search starts inside what has come");
        from = r.next;
        if (r.status != PacketStatus::kNotYet) out.push_back({r.status, r.data});
        if (r.status == PacketStatus::kBadChecksum) return out;
        if (r.status == PacketStatus::kFound) {
            address += kPacketBytes;
        } else if (have == text.size()) {
            return out;
        } else {
            const std::size_t piece = gen() % 4 == 0 ? 1 + gen() % 3 : 1 + gen() % 700;
            have = std::min(text.size(), have + piece);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const unsigned seed = in.ConsumeIntegral<unsigned>();
    std::minstd_rand gen(seed);
    std::string text;
    while (in.remaining_bytes() > 0 && text.size() < 30000) {
        const std::uint32_t address = kPacketBytes * in.ConsumeIntegralInRange<std::uint32_t>(0, 3);
        switch (in.ConsumeIntegralInRange(0, 6)) {
            case 0: text += in.ConsumeRandomLengthString(40); break;
            case 1: text += Framed(PacketBody(address, gen)); break;
            case 2: {  // one character changed, the checksum made right again or not
                std::string body = PacketBody(address, gen);
                body[in.ConsumeIntegralInRange<std::size_t>(0, body.size() - 1)] = in.ConsumeIntegral<char>();
                std::string framed = Framed(body);
                if (in.ConsumeBool()) framed[framed.size() - 3] ^= 1;
                text += framed;
                break;
            }
            case 3: text += Framed(PacketBody(address, gen)).substr(0, in.ConsumeIntegralInRange(0, 4200)); break;
            case 4: text += std::string(in.ConsumeIntegralInRange(1, 3), '$'); break;
            case 5: text += Framed(in.ConsumeRandomLengthString(60)); break;
            default: text += Framed(PacketBody(address, gen)).substr(0, 11 + in.ConsumeIntegralInRange(0, 3)); break;
        }
    }

    const std::vector<Taken> whole = Search(text, seed, true);
    Require(whole == Search(text, seed ^ 0x5A5A5A5Au, false), "whole and in pieces the same packets");
    std::uint32_t address = 0;
    for (const Taken& t : whole) {
        if (t.status != PacketStatus::kFound) continue;
        const std::size_t start = text.rfind('$', t.data);
        Require(start != std::string::npos && text.compare(start, 11, "$PMTK182,8,") == 0, "a packet's tag");
        const std::string addressText = text.substr(start + 11, t.data - 1 - (start + 11));
        Require(!addressText.empty() && std::strtoul(addressText.c_str(), nullptr, 16) == address, "the address");
        const std::string_view hex = std::string_view(text).substr(t.data, kPacketHexChars);
        Require(hex.size() == kPacketHexChars && hex.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos,
                "hex digits only");
        Require(text.size() >= t.data + kPacketHexChars + 3 && text[t.data + kPacketHexChars] == '*', "the star");
        unsigned sum = 0;
        for (std::size_t i = start + 1; i < t.data + kPacketHexChars; ++i) sum ^= static_cast<unsigned char>(text[i]);
        Require(std::strtoul(text.substr(t.data + kPacketHexChars + 1, 2).c_str(), nullptr, 16) == sum, "the sum");
        std::uint8_t bytes[kPacketBytes];
        Require(HexPairsToBytes(hex, bytes) == kPacketBytes, "every byte decoded");
        for (std::size_t i = 0; i < kPacketBytes; ++i) {
            Require(std::strtoul(std::string(hex.substr(2 * i, 2)).c_str(), nullptr, 16) == bytes[i], "a byte");
        }
        address += kPacketBytes;
    }
    return 0;
}
