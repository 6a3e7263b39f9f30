// Fuzz target: the log packet search over right, damaged and cut packets, stray "$", other sentences and
// noise, packet after packet, once whole and once in random pieces: both must take the same packets, each
// with the tag, the wanted address, hex digits only and the XOR of its own text.
#include <random>

#include "FuzzChecks.h"
#include "tracklog/LogPacket.h"

using namespace logupload;
using namespace fuzzcheck;
constexpr const char* kHex = "0123456789ABCDEFabcdef";

// The data offsets of the packets taken, then npos for a bad packet.
static std::vector<std::size_t> Search(const std::string& text, unsigned seed, bool whole) {
    std::minstd_rand gen(seed);
    std::vector<std::size_t> taken;
    using enum PacketStatus;
    for (std::size_t from = 0, have = whole ? text.size() : 0;;) {
        const PacketSearch r = FindLogPacket(std::string_view(text).substr(0, have), from, kPacketBytes * taken.size());
        Require(r.next >= from && r.next <= have, "the next search starts inside what has come");
        from = r.next;
        if (r.status != kNotYet) taken.push_back(r.status == kFound ? r.data : text.npos);
        if (r.status == kBadChecksum || (r.status == kNotYet && have == text.size())) return taken;
        if (r.status == kNotYet) have = std::min(text.size(), have + (gen() % 4 ? 1 + gen() % 700 : 1 + gen() % 3));
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const unsigned seed = in.ConsumeIntegral<unsigned>();
    std::minstd_rand gen(seed);
    std::string text;
    while (in.remaining_bytes() > 0 && text.size() < 30000) {
        char head[32];
        std::snprintf(head, sizeof head, "PMTK182,8,%08X,", kPacketBytes * in.ConsumeIntegralInRange(0, 3));
        std::string body = head;
        for (std::size_t i = 0; i < kPacketHexChars; ++i) body += kHex[gen() % 22];
        const std::string packet = Framed(body);
        switch (const int kind = in.ConsumeIntegralInRange(0, 6)) {
            case 0: text += in.ConsumeRandomLengthString(40); break;
            case 1: text += packet; break;
            case 2:  // a character changed, the checksum made right again or not
                body[in.ConsumeIntegralInRange<std::size_t>(0, body.size() - 1)] = in.ConsumeIntegral<char>();
                text += Framed(body);
                text[text.size() - 3] ^= in.ConsumeBool() ? 1 : 0;
                break;
            case 4: text.append(in.ConsumeIntegralInRange(1, 3), '$'); break;
            case 5: text += Framed(in.ConsumeRandomLengthString(60)); break;
            default:  // cut anywhere, or in the tag or the address
                text += packet.substr(0, kind == 3 ? in.ConsumeIntegralInRange(0, 4200)
                                                   : 11 + in.ConsumeIntegralInRange(0, 3));
        }
    }
    const std::vector<std::size_t> whole = Search(text, seed, true);
    Require(whole == Search(text, ~seed, false), "whole and in pieces the same packets");
    for (std::size_t k = 0; k < whole.size() && whole[k] != std::string::npos; ++k) {
        const std::size_t at = whole[k], start = text.rfind('$', at), end = at + kPacketHexChars;
        Require(start != text.npos && text.compare(start, 11, "$PMTK182,8,") == 0, "a packet's tag");
        Require(std::strtoul(&text[start + 11], nullptr, 16) == kPacketBytes * k, "the wanted address");
        Require(end + 3 <= text.size() && text.find_first_not_of(kHex, at) >= end, "hex digits only");
        const unsigned sum = Xor(text.data() + start + 1, end - start - 1);
        Require(text[end] == '*' && std::strtoul(text.substr(end + 1, 2).c_str(), nullptr, 16) == sum, "the sum");
    }
    return 0;
}
