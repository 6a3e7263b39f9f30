// Version information of the program: a version block in the documented
// binary form (fixed file-info block, string tables, translation table),
// embedded in a program at build time behind a marker, and the size / read /
// query operations on it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

struct FixedFileInfo {
    std::uint32_t signature = 0xFEEF04BD;
    std::uint32_t structVersion = 0x00010000;
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
    std::uint32_t fileFlagsMask = 0x3F;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOS = 0x40004;
    std::uint32_t fileType = 1;
    std::uint32_t fileSubtype = 0;
    std::uint32_t fileDateMS = 0;
    std::uint32_t fileDateLS = 0;
};
static_assert(sizeof(FixedFileInfo) == 52);

struct VersionStringTable {
    std::string key;  // "041104B0": language, then code page, in hex
    std::vector<std::pair<std::string, std::string>> strings;  // UTF-8
};

struct VersionSpec {
    FixedFileInfo fixed;
    // Length written for the fixed block; 52 normally (tests vary it).
    std::uint16_t fixedLength = 52;
    bool hasFixed = true;
    std::vector<VersionStringTable> tables;
    std::vector<std::uint32_t> translations;  // language in the low 16 bits, code page high
    bool hasTranslations = true;
};

// The version block itself.
std::vector<std::uint8_t> BuildVersionBlock(const VersionSpec& layout);
// The block as it is embedded in a file: marker, 32-bit length, block.
std::vector<std::uint8_t> BuildEmbeddedVersion(const VersionSpec& layout);
// The marker that precedes an embedded block.
std::vector<std::uint8_t> VersionMarker();

// Size of the version information in a file; 0 when it has none.
std::uint32_t GetFileVersionInfoSize(const std::string& path);
// Copies the version block of a file into buffer (size bytes at most).
bool GetFileVersionInfo(const std::string& path, std::uint32_t size, void* buffer);
// Looks up a value by path ("\\", "\\VarFileInfo\\Translation",
// "\\StringFileInfo\\041104B0\\ProductName"). Texts come back as UTF-16LE
// with their terminating zero; length is in bytes for binary values and in
// 16-bit characters for texts. A string-table value whose type word does not
// say text is not found.
bool VerQueryValue(const void* block, const std::string& subBlock, const void** value, std::uint32_t* length);
// The UTF-8 form of a text value found by VerQueryValue.
std::string VersionTextToUtf8(const void* value, std::uint32_t length);

// The user's default language id (from the locale; tests may set it).
std::uint16_t GetUserDefaultLangId();
void SetUserDefaultLangId(std::uint16_t id);  // 0 returns to the locale

// This program's own file.
std::string OwnModulePath();

}  // namespace platform
