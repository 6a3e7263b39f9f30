#include "flashlib/FlashFiles.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "flashlib/FlashProtocol.h"

namespace platform::flashfiles {
namespace fs = std::filesystem;
using flashproto::GetLe32;
using flashproto::PutLe32;

namespace {

constexpr std::size_t kAgentCodeDefault = 1024;

bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool ParseHex32(std::string_view word, std::uint64_t& value) {
    if (word.size() < 3 || word.size() > 10 || word[0] != '0' || (word[1] != 'x' && word[1] != 'X')) {
        return false;
    }
    value = 0;
    for (char c : word.substr(2)) {
        int digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    return true;
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t begin = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > begin) words.push_back(line.substr(begin, i - begin));
    }
    return words;
}

std::string Hex32(std::uint32_t value) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) {
        out += kDigits[(value >> shift) & 0xF];
    }
    return out;
}

bool WriteBytes(const std::string& path, std::span<const std::uint8_t> bytes, std::string* error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        if (error) *error = "cannot write " + path;
        std::error_code ec;
        fs::remove(path, ec);
        return false;
    }
    return true;
}

}  // namespace

bool IsKnownChip(std::string_view chip) { return chip == kChipMT3318 || chip == kChipMT3329; }

const char* FileStatusName(FileStatus status) {
    switch (status) {
        case FileStatus::Ok: return "ok";
        case FileStatus::CannotOpen: return "cannot open";
        case FileStatus::ReadFailed: return "read failed";
        case FileStatus::TooLarge: return "too large";
        case FileStatus::BadFormat: return "bad format";
        case FileStatus::BadChip: return "bad chip";
        case FileStatus::BadCrc: return "bad CRC";
        case FileStatus::WriteFailed: return "write failed";
    }
    return "?";
}

FileStatus ReadWholeFile(const std::string& path, std::size_t maxBytes, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(path, ec)) {
        return FileStatus::CannotOpen;
    }
    const auto size = fs::file_size(path, ec);
    if (ec) {
        return FileStatus::CannotOpen;
    }
    if (size > maxBytes) {
        return FileStatus::TooLarge;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return FileStatus::CannotOpen;
    }
    bytes.resize(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (in.gcount() != static_cast<std::streamsize>(bytes.size())) {
        bytes.clear();
        return FileStatus::ReadFailed;
    }
    // The file may have grown since its size was taken.
    if (in.peek() != std::ifstream::traits_type::eof()) {
        bytes.clear();
        return FileStatus::TooLarge;
    }
    return FileStatus::Ok;
}

std::vector<std::uint8_t> BuildAgentFile(std::string_view chip, std::span<const std::uint8_t> code) {
    std::vector<std::uint8_t> out(kAgentHeaderSize + code.size(), 0);
    std::copy(kAgentMagic.begin(), kAgentMagic.end(), out.begin());
    std::copy_n(chip.begin(), std::min<std::size_t>(chip.size(), 8), out.begin() + 8);
    PutLe32(&out[16], kAgentFormatVersion);
    PutLe32(&out[20], static_cast<std::uint32_t>(code.size()));
    PutLe32(&out[24], flashproto::Crc32(code));
    std::copy(code.begin(), code.end(), out.begin() + kAgentHeaderSize);
    return out;
}

FileStatus ParseAgentFile(std::span<const std::uint8_t> bytes, AgentFile& agent) {
    if (bytes.size() < kAgentHeaderSize ||
        !std::equal(kAgentMagic.begin(), kAgentMagic.end(), bytes.begin()) ||
        GetLe32(&bytes[16]) != kAgentFormatVersion || GetLe32(&bytes[28]) != 0) {
        return FileStatus::BadFormat;
    }
    const std::uint32_t length = GetLe32(&bytes[20]);
    if (length == 0 || length > kMaxAgentCode || bytes.size() != kAgentHeaderSize + length) {
        return FileStatus::BadFormat;
    }
    const auto* name = &bytes[8];
    const auto* nameEnd = std::find(name, name + 8, std::uint8_t{0});
    // Everything after the name's end is padding.
    if (std::any_of(nameEnd, name + 8, [](std::uint8_t b) { return b != 0; })) {
        return FileStatus::BadFormat;
    }
    const std::string chip(name, nameEnd);
    if (!IsKnownChip(chip)) {
        return FileStatus::BadChip;
    }
    const auto code = bytes.subspan(kAgentHeaderSize);
    if (flashproto::Crc32(code) != GetLe32(&bytes[24])) {
        return FileStatus::BadCrc;
    }
    agent.chip = chip;
    agent.code.assign(code.begin(), code.end());
    return FileStatus::Ok;
}

FileStatus ReadAgentFile(const std::string& path, AgentFile& agent) {
    std::vector<std::uint8_t> bytes;
    const FileStatus read = ReadWholeFile(path, kAgentHeaderSize + kMaxAgentCode, bytes);
    if (read != FileStatus::Ok) {
        return read == FileStatus::TooLarge ? FileStatus::BadFormat : read;
    }
    AgentFile parsed;
    const FileStatus status = ParseAgentFile(bytes, parsed);
    if (status != FileStatus::Ok) {
        return status;
    }
    const std::string name = fs::path(path).filename().string();
    for (std::string_view chip : {kChipMT3318, kChipMT3329}) {
        if (name.find(chip) != std::string::npos && chip != parsed.chip) {
            return FileStatus::BadChip;
        }
    }
    agent = std::move(parsed);
    return FileStatus::Ok;
}

std::string BuildScatterText(const std::vector<ScatterRegion>& regions) {
    std::string text = "# Regions of the device's flash; image entry 0 goes to the first.\n";
    text += kScatterHeader;
    text += '\n';
    for (const ScatterRegion& r : regions) {
        text += "REGION " + r.name + " " + Hex32(r.start) + " " + Hex32(r.length) + "\n";
    }
    return text;
}

FileStatus ParseScatterText(std::string_view text, std::vector<ScatterRegion>& regions) {
    std::vector<ScatterRegion> out;
    std::set<std::string> names;
    bool header = false;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto words = Words(line);
        if (words.empty() || words[0][0] == '#') {
            continue;
        }
        if (!header) {
            if (words.size() != 2 || std::string(words[0]) + " " + std::string(words[1]) != kScatterHeader) {
                return FileStatus::BadFormat;
            }
            header = true;
            continue;
        }
        std::uint64_t start = 0;
        std::uint64_t length = 0;
        if (words.size() != 4 || words[0] != "REGION" || words[1].size() > kMaxRegionName ||
            !std::all_of(words[1].begin(), words[1].end(), IsNameChar) || !ParseHex32(words[2], start) ||
            !ParseHex32(words[3], length) || length == 0 || start + length > (std::uint64_t{1} << 32)) {
            return FileStatus::BadFormat;
        }
        if (!names.insert(std::string(words[1])).second) {
            return FileStatus::BadFormat;
        }
        out.push_back({std::string(words[1]), static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(length)});
    }
    if (!header || out.empty()) {
        return FileStatus::BadFormat;
    }
    std::vector<ScatterRegion> sorted = out;
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.start < b.start; });
    for (std::size_t i = 1; i < sorted.size(); ++i) {
        if (std::uint64_t{sorted[i - 1].start} + sorted[i - 1].length > sorted[i].start) {
            return FileStatus::BadFormat;
        }
    }
    regions = std::move(out);
    return FileStatus::Ok;
}

FileStatus ReadScatterFile(const std::string& path, std::vector<ScatterRegion>& regions) {
    std::vector<std::uint8_t> bytes;
    const FileStatus read = ReadWholeFile(path, kMaxScatterFile, bytes);
    if (read != FileStatus::Ok) {
        return read;
    }
    return ParseScatterText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), regions);
}

std::vector<ScatterRegion> DefaultRegions() { return {{"ROM", 0x00000000, 0x00100000}}; }

std::vector<std::uint8_t> DefaultAgentCode(std::string_view chip) {
    // A fixed pattern that differs per chip (a small linear congruential run).
    std::uint32_t state = flashproto::Crc32(std::span(reinterpret_cast<const std::uint8_t*>(chip.data()), chip.size()));
    std::vector<std::uint8_t> code(kAgentCodeDefault);
    for (auto& b : code) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    return code;
}

std::string AgentFileName(std::string_view chip, bool allInOne) {
    return std::string(allInOne ? "MTK_AllInOne_DA_" : "DA_") + std::string(chip) + "_v1.bin";
}

bool WriteFlashFiles(const std::string& folder, bool allInOne, std::vector<std::string>* written,
                     std::string* error) {
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) {
        if (error) *error = "not a folder: " + folder;
        return false;
    }
    std::vector<std::string> done;
    for (bool prefix : {false, true}) {
        if (prefix && !allInOne) {
            continue;
        }
        for (std::string_view chip : {kChipMT3318, kChipMT3329}) {
            const std::string path = folder + "/" + AgentFileName(chip, prefix);
            if (!WriteBytes(path, BuildAgentFile(chip, DefaultAgentCode(chip)), error)) {
                return false;
            }
            done.push_back(path);
        }
    }
    const std::string scatter = BuildScatterText(DefaultRegions());
    const std::string path = folder + "/" + std::string(kScatterFileName);
    if (!WriteBytes(path, std::span(reinterpret_cast<const std::uint8_t*>(scatter.data()), scatter.size()), error)) {
        return false;
    }
    done.push_back(path);
    if (written) *written = std::move(done);
    return true;
}

}  // namespace platform::flashfiles
