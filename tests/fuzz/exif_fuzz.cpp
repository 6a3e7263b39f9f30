// Fuzz target: the capture-time reader and GPS copy over any JPEG bytes. A copy written is read back by a TIFF walk
// of its own: the same bytes around the Exif segment, the photo's tree (every IFD of the chain and behind pointers,
// every value, the MakerNote's IFD, the thumbnail; by content, not offset), a GPS IFD of the point, the same time.
#include <span>

#include "FuzzChecks.h"
#include "export/ExifDateTime.h"
#include "export/GpsTagWriter.h"
#include "support/ProcessZone.h"

using fuzzcheck::Require;
using namespace std::string_literals;
using Bytes = std::span<const std::uint8_t>;

// Where the first APP1 "Exif\0\0" segment's length is, when only APP0 and APP1 stand before it; else 0.
static std::size_t ExifLengthField(Bytes file) {
    for (std::size_t at = 2, length = 0; at + 4 <= file.size(); at += 2 + length) {
        length = file[at + 2] << 8 | file[at + 3];
        if ((file[at + 1] != 0xE0 && file[at + 1] != 0xE1) || length < 2) return 0;
        if (file[at + 1] == 0xE1 && at + 10 <= file.size() && !std::memcmp(&file[at + 4], "Exif\0\0", 6)) return at + 2;
    }
    return 0;
}

// The TIFF tree as text, offsets replaced by what they lead to; bad when it leads outside.
struct Tree {
    Bytes t;
    bool bad = false;
    std::uint32_t gps = 0;  // IFD0's GPS pointer, left out of the text
    std::string make{};
    std::vector<std::uint32_t> seen{};
    std::uint32_t U(std::uint64_t at, int n) {
        if (at + n > t.size()) return bad = true, 0;
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) v |= std::uint32_t{t[at + i]} << 8 * (t[0] == 'I' ? i : n - 1 - i);
        return v;
    }
    std::string Raw(std::uint64_t at, std::uint64_t n) {
        if (at > t.size() || n > t.size() - at) return bad = true, "";
        return std::string(t.begin() + at, t.begin() + at + n);
    }
    // Bytes of an entry's value, and the value itself (in the entry or elsewhere).
    std::uint64_t Size(std::uint64_t e) {
        static constexpr int kUnit[] = {1, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};  // by type
        return std::uint64_t{U(e + 4, 4)} * (U(e + 2, 2) < 13 ? kUnit[U(e + 2, 2)] : 1);
    }
    std::string Stored(std::uint64_t e) { return Size(e) > 4 ? Raw(U(e + 8, 4), Size(e)) : Raw(e + 8, Size(e)); }
    std::string Value(std::uint64_t e) {  // rationals as numbers, other values as their bytes
        if (U(e + 2, 2) != 5) return Stored(e);
        std::string text;
        for (std::uint64_t k = 0; k < Size(e) && !bad; k += 4) text += std::to_string(U(U(e + 8, 4) + k, 4)) + "/";
        return text;
    }
    std::string Ifd(std::uint32_t at, bool tree, bool ifd0) {
        const auto met = std::find(seen.begin(), seen.end(), at);
        if (tree && met != seen.end()) return "seen " + std::to_string(met - seen.begin());
        if (tree) seen.push_back(at);
        const std::uint32_t n = U(at, 2);
        std::uint32_t thumbnailLength = 0;
        for (std::uint32_t i = 0; i < n && !bad; ++i) {  // the last entry of a tag counts, as for the copy
            const std::uint64_t e = at + 2 + 12 * i;
            if (U(e, 2) == 0x0202) thumbnailLength = U(e + 8, U(e + 2, 2) == 3 ? 2 : 4);
            if (ifd0 && U(e, 2) == 0x010F) make = Stored(e);  // the maker's bytes, whatever the type
        }
        std::string text = "(";
        for (std::uint32_t i = 0; i < n && !bad; ++i) {
            const std::uint64_t e = at + 2 + 12 * i;
            const std::uint32_t tag = U(e, 2), type = U(e + 2, 2), offset = U(e + 8, 4);
            if (ifd0 && tag == 0x8825) gps = offset;  // the GPS pointer stays out of the text
            if (ifd0 && tag == 0x8825) continue;
            text += "|" + std::to_string(tag) + " " + std::to_string(type) + " " + std::to_string(U(e + 4, 4)) + ":";
            if (tree && (tag == 0x8769 || tag == 0x8825 || tag == 0xA005 || tag == 0x014A) && Size(e) <= 4) {
                text += "{" + Ifd(offset, true, false) + "}";
            } else if (tree && tag == 0x0201) {
                text += Raw(offset, thumbnailLength);
            } else if (tree && tag == 0x927C && Size(e) > 4) {  // the MakerNote's IFD, Sony's behind 12 bytes
                const std::uint32_t skip = Raw(offset, 4) == "SONY" && make.starts_with("SONY") ? 12 : 0;
                text += Raw(offset, skip) + "[" + Ifd(offset + skip, false, false) + "]";
            } else {
                text += Value(e);
            }
        }
        const std::uint32_t next = tree ? U(at + 2 + 12 * n, 4) : 0;
        return text + ")" + (next != 0 && !bad ? "next " + Ifd(next, true, false) : "");
    }
};

// A point and its GPS IFD as the walk writes it.
constexpr PhotoTrackPoint kPoint{120.25f, 22.5f, 12.345f, 1212797103};
const std::string kGpsIfd = "(|0 1 4:\2\2\0\0|1 2 2:N\0|2 5 3:22/1/30/1/0/100/|3 2 2:E\0|4 5 3:120/1/15/1/0/100/"
                            "|5 1 1:\0|6 5 1:1235/100/|7 5 3:0/1/5/1/3/1/|29 2 11:2008:06:07\0)"s;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    [[maybe_unused]] static const bool zone = (SetChosenZoneOffset(9 * 3600), true);
    const Bytes photo(data, size);
    std::int64_t time = 0, copyTime = 0;
    int failed = 0, copyFailed = 0;
    std::string message;
    ReadExifDateTimeFromBytes(photo, time, failed, message);
    Require(failed == 1 || ExifLengthField(photo) != 0, "a capture time only from an Exif segment");
    std::vector<std::uint8_t> copy;
    if (BuildGpsCopy(photo, kPoint, copy, message) != GpsCopyOutcome::Written) return 0;
    ReadExifDateTimeFromBytes(copy, copyTime, copyFailed, message);
    Require(copyFailed == failed && copyTime == time, "the copy's capture time is the photo's");
    const auto at = ExifLengthField(photo), copyAt = ExifLengthField(copy);
    Require(at != 0 && at == copyAt, "both have the Exif segment, at one place");
    const std::size_t length = photo[at] << 8 | photo[at + 1], growth = copy.size() - photo.size(), end = at + length;
    Require((growth == 218 || growth == 220) && std::size_t(copy[at] << 8 | copy[at + 1]) == length + growth,
            "the segment grows by the GPS tags");
    Require(!std::memcmp(photo.data(), copy.data(), at) &&
                !std::memcmp(photo.data() + end, copy.data() + end + growth, photo.size() - end), "the bytes around");
    Tree source{photo.subspan(at + 8, length - 8)}, written{Bytes(copy).subspan(at + 8, length + growth - 8)};
    const std::string before = source.Ifd(source.U(4, 4), true, true), after = written.Ifd(written.U(4, 4), true, true);
    Require(!source.bad && !written.bad && before == after, "the copy's tree is the photo's");
    Require(source.gps == 0 && written.gps != 0 && written.Ifd(written.gps, false, false) == kGpsIfd, "the GPS IFD");
    return 0;
}
