// Fuzz target: the log packet search over a text built of right packets,
// damaged and cut ones, stray "$", other sentences and noise, searched as the
// uploader does (packet after packet, each search going on where the last
// ended), once whole and once arriving in pieces of random sizes: both must
// take the same packets. A packet taken is checked against its own framing:
// the wanted address, hex digits only, the XOR of the sentence.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "FuzzChecks.h"
#include "tracklog/LogPacket.h"

using namespace logupload;

using fuzzcheck::Require;
using fuzzcheck::Framed;

namespace {

std::string PacketBody(std::uint32_t address, std::minstd_rand& gen) {
    char head[32];
    std::snprintf(head, sizeof head, "PMTK182,8,%08X,", address);
    std::string body = head;
    for (std::size_t i = 0; i < kPacketHexChars; ++i) body += "0123456789ABCDEFabcdef"[gen() % 22];
    return body;
}

// The data offsets of the packets taken, then npos for a bad packet.
std::vector<std::size_t> Search(const std::string& text, unsigned seed, bool whole) {
    std::minstd_rand gen(seed);
    std::vector<std::size_t> taken;
    std::size_t from = 0, have = whole ? text.size() : 0;
    for (;;) {
        const auto address = static_cast<std::uint32_t>(kPacketBytes * taken.size());
        const PacketSearch r = FindLogPacket(std::string_view(text).substr(0, have), from, address);
        Require(r.next >= from && r.next <= have, "the next search starts inside what has come");
        from = r.next;
        if (r.status == PacketStatus::kBadChecksum) {
            taken.push_back(std::string::npos);
            return taken;
        }
        if (r.status == PacketStatus::kFound) {
            taken.push_back(r.data);
        } else if (have == text.size()) {
            return taken;
        } else {
            have = std::min(text.size(), have + (gen() % 4 == 0 ? 1 + gen() % 3 : 1 + gen() % 700));
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
        const std::string packet = Framed(PacketBody(kPacketBytes * in.ConsumeIntegralInRange(0, 3), gen));
        switch (in.ConsumeIntegralInRange(0, 6)) {
            case 0: text += in.ConsumeRandomLengthString(40); break;
            case 1: text += packet; break;
            case 2: {  // a character changed, the checksum made right again or not
                std::string body = packet.substr(1, packet.size() - 6);
                body[in.ConsumeIntegralInRange<std::size_t>(0, body.size() - 1)] = in.ConsumeIntegral<char>();
                std::string framed = Framed(body);
                framed[framed.size() - 3] ^= in.ConsumeBool() ? 1 : 0;
                text += framed;
                break;
            }
            case 3: text += packet.substr(0, in.ConsumeIntegralInRange(0, 4200)); break;
            case 4: text += std::string(in.ConsumeIntegralInRange(1, 3), '$'); break;
            case 5: text += Framed(in.ConsumeRandomLengthString(60)); break;
            default: text += packet.substr(0, 11 + in.ConsumeIntegralInRange(0, 3)); break;
        }
    }

    const std::vector<std::size_t> whole = Search(text, seed, true);
    Require(whole == Search(text, ~seed, false), "whole and in pieces the same packets");
    for (std::size_t k = 0; k < whole.size() && whole[k] != std::string::npos; ++k) {
        const std::size_t at = whole[k], start = text.rfind('$', at);
        Require(start != std::string::npos && text.compare(start, 11, "$PMTK182,8,") == 0, "a packet's tag");
        Require(std::strtoul(text.substr(start + 11, at - 1 - (start + 11)).c_str(), nullptr, 16) == kPacketBytes * k,
                "the wanted address");
        const std::string hex = text.substr(at, kPacketHexChars);
        Require(hex.size() == kPacketHexChars && hex.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos,
                "hex digits only");
        unsigned sum = 0;
        for (std::size_t i = start + 1; i < at + kPacketHexChars; ++i) sum ^= static_cast<unsigned char>(text[i]);
        Require(text[at + kPacketHexChars] == '*' &&
                    std::strtoul(text.substr(at + kPacketHexChars + 1, 2).c_str(), nullptr, 16) == sum,
                "the sum");
    }
    return 0;
}
