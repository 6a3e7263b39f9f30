// The files the flash download takes from the program folder: the download
// agents ("DA_MT3318_*.bin", "DA_MT3329_*.bin", and the firmware page's
// "MTK_AllInOne_DA_MT3318_*.bin", "MTK_AllInOne_DA_MT3329_*.bin") and the
// scatter file "scat.txt".
//
// Download agent, binary, little-endian:
//
//   offset  size  field
//   0       8     magic "PLDAGENT"
//   8       8     chip name, NUL-padded: "MT3318" or "MT3329"
//   16      4     format version, 1
//   20      4     code length n, 1 .. kMaxAgentCode
//   24      4     CRC-32 of the code
//   28      4     reserved, 0
//   32      n     the agent's code, sent to the device as it is
//
// The file is exactly 32 + n bytes. When its name carries a chip name, it
// must be the chip the file names inside.
//
// Scatter file, text: lines of words separated by blanks; empty lines and
// lines beginning with '#' do not count. The first line that counts is
// "PELLORA-SCATTER 1"; every other one is
//
//   REGION <name> <start> <length>
//
// with a name of 1 to 16 letters, digits or '_', unique in the file, and
// start and length in hexadecimal with "0x" (length above 0, the region
// ending at or below 4 GiB, no two regions overlapping). At least one region;
// image entry 0 goes to the first.
//
// WriteFlashFiles makes a valid set for a program folder (the pellora-mkda
// command calls it).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::flashfiles {

inline constexpr std::string_view kAgentMagic = "PLDAGENT";
inline constexpr std::size_t kAgentHeaderSize = 32;
inline constexpr std::size_t kMaxAgentCode = 64 * 1024;
inline constexpr std::uint32_t kAgentFormatVersion = 1;
inline constexpr std::string_view kScatterHeader = "PELLORA-SCATTER 1";
inline constexpr std::string_view kScatterFileName = "scat.txt";
inline constexpr std::size_t kMaxScatterFile = 64 * 1024;
inline constexpr std::size_t kMaxRegionName = 16;

inline constexpr std::string_view kChipMT3318 = "MT3318";
inline constexpr std::string_view kChipMT3329 = "MT3329";
bool IsKnownChip(std::string_view chip);

enum class FileStatus {
    Ok,
    CannotOpen,  // missing, not a regular file, or unreadable
    ReadFailed,
    TooLarge,
    BadFormat,   // wrong magic, sizes, syntax
    BadChip,     // unknown chip, or not the one the name says
    BadCrc,
    WriteFailed,
};
const char* FileStatusName(FileStatus status);

struct AgentFile {
    std::string chip;
    std::vector<std::uint8_t> code;
};

std::vector<std::uint8_t> BuildAgentFile(std::string_view chip, std::span<const std::uint8_t> code);
FileStatus ParseAgentFile(std::span<const std::uint8_t> bytes, AgentFile& agent);
// Reads and checks an agent file, the chip in its name included.
FileStatus ReadAgentFile(const std::string& path, AgentFile& agent);

struct ScatterRegion {
    std::string name;
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    friend bool operator==(const ScatterRegion&, const ScatterRegion&) = default;
};

std::string BuildScatterText(const std::vector<ScatterRegion>& regions);
FileStatus ParseScatterText(std::string_view text, std::vector<ScatterRegion>& regions);
FileStatus ReadScatterFile(const std::string& path, std::vector<ScatterRegion>& regions);

// The set WriteFlashFiles writes: one region "ROM" of 1 MiB at 0, and an
// agent of a fixed pattern per chip.
std::vector<ScatterRegion> DefaultRegions();
std::vector<std::uint8_t> DefaultAgentCode(std::string_view chip);
// "DA_<chip>_v1.bin", or with the all-in-one prefix "MTK_AllInOne_".
std::string AgentFileName(std::string_view chip, bool allInOne);

// Writes both agents and "scat.txt" into the folder (which must exist), and
// also the all-in-one agents when asked. Existing files of those names are
// replaced. The paths written go to `written`.
bool WriteFlashFiles(const std::string& folder, bool allInOne, std::vector<std::string>* written,
                     std::string* error);

// Reads a whole regular file of at most maxBytes.
FileStatus ReadWholeFile(const std::string& path, std::size_t maxBytes, std::vector<std::uint8_t>& bytes);

}  // namespace platform::flashfiles
