#include "export/ExifTiff.h"

#include <algorithm>
#include <cstring>

namespace exif {

namespace {

struct MemorySource {
    std::span<const std::uint8_t> bytes;
};

std::size_t ReadMemory(void* context, std::size_t offset, std::size_t size, std::uint8_t* out) {
    const auto& source = *static_cast<const MemorySource*>(context);
    if (offset >= source.bytes.size()) {
        return 0;
    }
    const std::size_t n = std::min(size, source.bytes.size() - offset);
    std::memcpy(out, source.bytes.data() + offset, n);
    return n;
}

}  // namespace

std::optional<ExifSegment> FindExifSegment(ByteSource source, void* context) {
    // The start-of-image marker is not examined; the walk starts behind it.
    std::size_t position = 2;
    for (;;) {
        std::uint8_t head[10] = {};
        const std::size_t got = source(context, position, sizeof head, head);
        if (got < 4) {
            return std::nullopt;
        }
        const std::uint8_t code = head[1];
        const std::uint16_t length = static_cast<std::uint16_t>(head[2] << 8 | head[3]);
        if ((code != 0xE0 && code != 0xE1) || length < 2) {
            return std::nullopt;
        }
        // Only the whole identifier marks the Exif segment; any other APP1
        // (XMP, or a segment whose name merely starts like it) is passed by.
        if (code == 0xE1 && got == sizeof head && std::memcmp(head + 4, kExifIdentifier, 6) == 0) {
            // The TIFF header must fit: "Exif\0\0" and 8 header bytes.
            if (length < 2 + 6 + 8) {
                return std::nullopt;
            }
            return ExifSegment{position, length};
        }
        position += 2 + static_cast<std::size_t>(length);
    }
}

std::optional<ExifSegment> FindExifSegment(std::span<const std::uint8_t> file) {
    MemorySource source{file};
    return FindExifSegment(&ReadMemory, &source);
}

std::uint64_t TiffValueSize(int type, std::uint32_t count) {
    std::uint64_t size = 1;
    switch (type) {
    case 3: case 8:
        size = 2;
        break;
    case 4: case 9: case 11:
        size = 4;
        break;
    case 5: case 10: case 12:
        size = 8;
        break;
    default:
        size = 1;
        break;
    }
    return size * count;
}

TiffView::TiffView(std::span<const std::uint8_t> tiff) : tiff_(tiff) {
    if (tiff_.size() >= 8 && tiff_[0] == 'I' && tiff_[1] == 'I') {
        little_ = true;
        valid_ = true;
    } else if (tiff_.size() >= 8 && tiff_[0] == 'M' && tiff_[1] == 'M') {
        little_ = false;
        valid_ = true;
    }
}

std::optional<std::uint16_t> TiffView::U16(std::size_t offset) const {
    if (!Contains(offset, 2)) {
        return std::nullopt;
    }
    const std::uint8_t* p = tiff_.data() + offset;
    return static_cast<std::uint16_t>(little_ ? (p[0] | p[1] << 8) : (p[0] << 8 | p[1]));
}

std::optional<std::uint32_t> TiffView::U32(std::size_t offset) const {
    if (!Contains(offset, 4)) {
        return std::nullopt;
    }
    const std::uint8_t* p = tiff_.data() + offset;
    if (little_) {
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    }
    return static_cast<std::uint32_t>(p[3]) | static_cast<std::uint32_t>(p[2]) << 8 |
           static_cast<std::uint32_t>(p[1]) << 16 | static_cast<std::uint32_t>(p[0]) << 24;
}

std::optional<IfdEntry> TiffView::Entry(std::size_t position) const {
    if (!Contains(position, kIfdEntrySize)) {
        return std::nullopt;
    }
    IfdEntry entry;
    entry.tag = *U16(position);
    entry.type = *U16(position + 2);
    entry.count = *U32(position + 4);
    entry.value = *U32(position + 8);
    entry.position = position;
    return entry;
}

void PutU16(std::uint8_t* at, std::uint16_t value, bool little) {
    if (little) {
        at[0] = static_cast<std::uint8_t>(value);
        at[1] = static_cast<std::uint8_t>(value >> 8);
    } else {
        at[0] = static_cast<std::uint8_t>(value >> 8);
        at[1] = static_cast<std::uint8_t>(value);
    }
}

void PutU32(std::uint8_t* at, std::uint32_t value, bool little) {
    for (int i = 0; i < 4; ++i) {
        const int shift = little ? 8 * i : 8 * (3 - i);
        at[i] = static_cast<std::uint8_t>(value >> shift);
    }
}

}  // namespace exif
