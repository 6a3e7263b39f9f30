#include "tracklog/LogPacket.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace logupload {

namespace {

constexpr std::string_view kPacketTag = "$PMTK182,8,";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool SentenceChecksumOk(std::string_view sentence) {
    if (sentence.empty() || sentence.front() != '$') return false;
    const std::size_t star = sentence.find('*');
    if (star == std::string_view::npos || star + 3 > sentence.size()) return false;
    unsigned sum = 0;
    for (std::size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(sentence[i]);
    const int high = HexValue(sentence[star + 1]);
    const int low = HexValue(sentence[star + 2]);
    return high >= 0 && low >= 0 && static_cast<unsigned>(high * 16 + low) == sum;
}

PacketSearch FindLogPacket(std::string_view text, std::size_t from, std::uint32_t address) {
    std::size_t at = text.find('$', from);
    while (at != std::string_view::npos) {
        const std::string_view rest = text.substr(at);
        // Not all of the tag is in yet: wait here. A text that cannot become
        // the tag is passed over like any other sentence; a "$" behind it may
        // still open a packet.
        if (rest.size() < kPacketTag.size() && kPacketTag.substr(0, rest.size()) == rest) {
            return {PacketStatus::kNotYet, 0, at};
        }
        if (rest.substr(0, kPacketTag.size()) != kPacketTag) {
            at = text.find('$', at + 1);  // another sentence: passed over
            continue;
        }
        // The sentence ends at its "*" and two checksum digits; a "$" before
        // the "*" means it was cut off.
        const std::size_t end = rest.find_first_of("*$", 1);
        if (end == std::string_view::npos) return {PacketStatus::kNotYet, 0, at};
        if (rest[end] == '$') {
            at += end;
            continue;
        }
        if (end + 3 > rest.size()) return {PacketStatus::kNotYet, 0, at};
        const std::size_t next = at + end + 3;
        if (!SentenceChecksumOk(rest.substr(0, end + 3))) return {PacketStatus::kBadChecksum, 0, next};
        const std::size_t comma = rest.find(',', kPacketTag.size());
        if (comma == std::string_view::npos || comma > end) return {PacketStatus::kBadChecksum, 0, next};
        std::uint32_t got = 0;
        const char* first = rest.data() + kPacketTag.size();
        const char* last = rest.data() + comma;
        const auto parsed = std::from_chars(first, last, got, 16);
        if (parsed.ec != std::errc() || parsed.ptr != last) return {PacketStatus::kBadChecksum, 0, next};
        if (got != address) {
            at = text.find('$', next);  // another packet: passed over
            continue;
        }
        // The data are hexadecimal digits and nothing else: a packet whose sum
        // matches over other characters is as bad as one whose sum fails.
        const std::string_view data = rest.substr(comma + 1, end - (comma + 1));
        if (data.size() != kPacketHexChars ||
            !std::all_of(data.begin(), data.end(), [](char c) { return HexValue(c) >= 0; })) {
            return {PacketStatus::kBadChecksum, 0, next};
        }
        return {PacketStatus::kFound, at + comma + 1, next};
    }
    return {PacketStatus::kNotYet, 0, text.size()};
}

std::uint32_t LogSizeFromEndAddress(std::uint32_t endAddress) {
    if (endAddress == 0 || endAddress >= kLogMemoryBytes) return kLogMemoryBytes;
    return (endAddress + kBlockBytes - 1) / kBlockBytes * kBlockBytes;
}

unsigned UploadPercent(std::uint32_t position, std::uint32_t logSize) {
    return static_cast<unsigned>(static_cast<std::uint64_t>(position) * 100 / (logSize | 0xFFFFu));
}

std::string ElapsedText(std::uint64_t elapsedMs) {
    const std::uint64_t seconds = elapsedMs / 1000;
    char text[64];
    std::snprintf(text, sizeof(text), "Total mins: %02u, secs: %02u", static_cast<unsigned>((seconds / 60) % 60),
                  static_cast<unsigned>(seconds % 60));
    return text;
}

}  // namespace logupload
