// The parts of a JPEG file that the photo operations read and write.
//
// A JPEG starts with the start-of-image marker FF D8 and continues with
// segments: FF, a marker code and, for the segments looked at here, a
// big-endian 16-bit length that counts itself and the body. The Exif data is
// the body of an APP1 segment (code E1) whose identifier is "Exif\0\0"; the
// 6 identifier bytes are followed by a TIFF structure:
//
//   offset 0  2 bytes  byte order "II" (little-endian) or "MM" (big-endian)
//   offset 2  2 bytes  42
//   offset 4  4 bytes  offset of IFD0
//
// All offsets inside the TIFF structure count from its first byte (the TIFF
// base). An IFD is a 16-bit entry count, that many 12-byte entries (tag u16,
// type u16, count u32, value u32) and the 32-bit offset of the next IFD (0
// for none). A value of at most 4 bytes sits in the value field itself,
// left-aligned; a longer one is stored elsewhere and the field holds its
// offset. IFD0 describes the main image and points to the Exif IFD (tag
// 0x8769) and the GPS IFD (0x8825); its next IFD, IFD1, describes the
// thumbnail, whose JPEG bytes start at the offset of tag 0x0201.
//
// FindExifSegment walks the segments the way both photo operations do: only
// APP0 segments and APP1 segments that are not Exif (identifier other than
// "Exif\0\0") may stand before the Exif segment; any other segment first
// means the photo is "Not EXIF format.".
//
// Everything here is plain C++ without state; TiffView never reads outside
// the bytes it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace exif {

inline constexpr const char* kNotExifText = "Not EXIF format.";
// The 6 identifier bytes that open the Exif APP1 segment's body.
inline constexpr char kExifIdentifier[] = "Exif\0";  // and the array's own NUL

inline constexpr std::uint16_t kTagMake = 0x010F;
inline constexpr std::uint16_t kTagThumbnailOffset = 0x0201;  // JPEGInterchangeFormat
inline constexpr std::uint16_t kTagThumbnailLength = 0x0202;  // JPEGInterchangeFormatLength
inline constexpr std::uint16_t kTagExifIfd = 0x8769;
inline constexpr std::uint16_t kTagGpsIfd = 0x8825;
inline constexpr std::uint16_t kTagDateTimeOriginal = 0x9003;
inline constexpr std::uint16_t kTagMakerNote = 0x927C;
inline constexpr std::uint16_t kTagInteropIfd = 0xA005;

inline constexpr std::size_t kIfdEntrySize = 12;

// Where the Exif segment lies in a file: the offset of its FF E1 marker and
// its length field (which counts the 2 length bytes and the body).
struct ExifSegment {
    std::size_t markerOffset = 0;
    std::uint16_t length = 0;
    std::size_t TiffOffset() const { return markerOffset + 10; }
    std::size_t End() const { return markerOffset + 2 + length; }
};

// Reads bytes [offset, offset + size) of the source into out; fewer bytes at
// the end of the source. Returns the count read.
using ByteSource = std::size_t (*)(void* context, std::size_t offset, std::size_t size,
                                   std::uint8_t* out);

// The segment walk. Empty when a segment other than APP0 or a non-Exif APP1
// comes first, when a length is below 2, or when the file ends first.
std::optional<ExifSegment> FindExifSegment(ByteSource source, void* context);
std::optional<ExifSegment> FindExifSegment(std::span<const std::uint8_t> file);

// Bytes taken by an IFD entry's value: the type's size times the count, with
// TIFF 6.0's sizes (1: BYTE, ASCII, SBYTE, UNDEFINED; 2: SHORT, SSHORT;
// 4: LONG, SLONG, FLOAT; 8: RATIONAL, SRATIONAL, DOUBLE; any other code 1).
// 64-bit, so no count can overflow it.
std::uint64_t TiffValueSize(int type, std::uint32_t count);

struct IfdEntry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::uint32_t value = 0;          // the value field as a 32-bit number
    std::size_t position = 0;         // TIFF offset of the entry itself
    std::uint64_t ValueSize() const { return TiffValueSize(type, count); }
    bool ValueIsOffset() const { return ValueSize() > 4; }
    // TIFF offset of the value's first byte (the value field when inline).
    std::size_t ValueOffset() const { return ValueIsOffset() ? value : position + 8; }
};

// Bounds-checked, byte-order-aware access to a TIFF structure.
class TiffView {
public:
    TiffView() = default;
    // Checks the byte-order mark; IsValid is false without "II" or "MM".
    explicit TiffView(std::span<const std::uint8_t> tiff);
    bool IsValid() const { return valid_; }
    bool LittleEndian() const { return little_; }
    std::size_t Size() const { return tiff_.size(); }
    std::span<const std::uint8_t> Bytes() const { return tiff_; }

    std::optional<std::uint16_t> U16(std::size_t offset) const;
    std::optional<std::uint32_t> U32(std::size_t offset) const;
    bool Contains(std::uint64_t offset, std::uint64_t size) const {
        return offset <= tiff_.size() && size <= tiff_.size() - offset;
    }
    std::optional<IfdEntry> Entry(std::size_t position) const;

private:
    std::span<const std::uint8_t> tiff_;
    bool little_ = false;
    bool valid_ = false;
};

// Writes 16- and 32-bit numbers in a byte order.
void PutU16(std::uint8_t* at, std::uint16_t value, bool little);
void PutU32(std::uint8_t* at, std::uint32_t value, bool little);

}  // namespace exif
