// Fuzz target: the update-file parser in both forms. An accepted image's
// parts add up to the file and its CRC is the payload's.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "device/UpdateImage.h"

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "update image fuzz: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    for (const update::ImageMode mode : {update::ImageMode::WithHeader, update::ImageMode::Headerless}) {
        update::UpdateImage image;
        if (update::ParseUpdateImage(file, mode, image) != update::ImageStatus::Ok) {
            continue;
        }
        const std::size_t header = mode == update::ImageMode::WithHeader ? update::kHeaderSize : 0;
        Require(image.payload.size() + header + update::kCrcSize == size, "parts add up to the file");
        Require(!image.payload.empty() && image.payload.size() <= update::kMaxPayloadSize, "payload size");
        Require(update::Crc32(image.payload) == image.crc, "CRC of the payload");
    }
    return 0;
}
