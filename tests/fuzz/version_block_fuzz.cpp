// Fuzz target: the version-block reader. The block is held as the About box
// holds it (an exact-size copy whose first word is its length, as the
// embedded-block finder guarantees) and read as the About box reads it: the
// fixed block, the translation table, the strings of the table it names,
// and a key and a path taken from the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/VersionResource.h"

namespace {

void ReadText(const std::vector<std::uint8_t>& block, const std::string& path) {
    const void* value = nullptr;
    std::uint32_t length = 0;
    if (platform::VerQueryValue(block.data(), path, &value, &length) && length > 0) {
        (void)platform::VersionTextToUtf8(value, length);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string path = in.ConsumeRandomLengthString(64);
    std::vector<std::uint8_t> block = in.ConsumeRemainingBytes<std::uint8_t>();
    if (block.size() < 6) {
        return 0;
    }
    if (block.size() > 0xFFFF) {
        block.resize(0xFFFF);
    }
    block[0] = static_cast<std::uint8_t>(block.size());
    block[1] = static_cast<std::uint8_t>(block.size() >> 8);

    const void* value = nullptr;
    std::uint32_t length = 0;
    platform::FixedFileInfo fixed;
    if (platform::VerQueryValue(block.data(), "\\", &value, &length) && length == sizeof fixed) {
        std::memcpy(&fixed, value, sizeof fixed);
    }
    std::uint32_t entry = 0x04B00411;
    if (platform::VerQueryValue(block.data(), "\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
        std::vector<std::uint8_t> table(length);
        std::memcpy(table.data(), value, length);
        std::memcpy(&entry, table.data(), 4);
    }
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04X%04X\\", entry & 0xFFFF, (entry >> 16) & 0xFFFF);
    for (const char* key : {"CompanyName", "FileDescription", "FileVersion", "ProductName", "ProductVersion"}) {
        ReadText(block, std::string(prefix) + key);
    }
    // A key from the input under that table, read as text; the input's
    // path, read as bytes (length counts bytes or, for text, characters).
    ReadText(block, std::string(prefix) + path);
    if (platform::VerQueryValue(block.data(), path, &value, &length) && length > 0) {
        std::vector<std::uint8_t> bytes(length);
        std::memcpy(bytes.data(), value, length);
    }
    return 0;
}
