// The log read-out on the wire, without threads or windows.
//
// A read request "$PMTK182,7,<address>,<length>" (hexadecimal) is answered
// by one data sentence per 2,048 bytes of log memory:
//
//   $PMTK182,8,<address in hex>,<4,096 hex characters>*CS<CR><LF>
//
// where CS is the XOR of every character between "$" and "*" as two
// upper-case hex digits. The memory is read in blocks of 64 KiB, 32 packets
// each; a block whose packet fails its checksum is asked for again from that
// packet on (a resume).
//
// FindLogPacket looks through what has come so far. It judges a sentence
// only once all of it is in (up to its checksum), passes over other
// sentences (position output of the logger, acknowledgements, a stray "$")
// and packets of other addresses, and says where the next search starts, so
// nothing is looked at twice. It finds the same packets whether the text
// comes whole or in pieces of any size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace logupload {

inline constexpr std::uint32_t kBlockBytes = 0x10000;
inline constexpr std::uint32_t kPacketBytes = 2048;
inline constexpr std::uint32_t kPacketsPerBlock = kBlockBytes / kPacketBytes;
inline constexpr std::size_t kPacketHexChars = 2 * kPacketBytes;
inline constexpr std::uint32_t kLogMemoryBytes = 0x200000;

enum class PacketStatus {
    kFound,        // the wanted packet, complete and right
    kNotYet,       // not (all) there yet: search again from `next` once more has come
    kBadChecksum,  // a data packet came with a wrong checksum or length, or data not all hex digits
};

struct PacketSearch {
    PacketStatus status = PacketStatus::kNotYet;
    std::size_t data = 0;  // kFound: offset of the 4,096 hex characters
    std::size_t next = 0;  // where the next search starts
};

PacketSearch FindLogPacket(std::string_view text, std::size_t from, std::uint32_t address);

// True when the sentence "$...*HH" carries the right checksum.
bool SentenceChecksumOk(std::string_view sentence);

// The bytes to read for a log that ends at endAddress (0: the whole
// memory), in whole blocks and never more than the memory.
std::uint32_t LogSizeFromEndAddress(std::uint32_t endAddress);

// Progress of a position in percent: position x 100 / (size | 0xFFFF).
unsigned UploadPercent(std::uint32_t position, std::uint32_t logSize);

// "Total mins: MM, secs: SS" of an elapsed time.
std::string ElapsedText(std::uint64_t elapsedMs);

}  // namespace logupload
