// Fuzz target: the capture-time reader and the GPS copy over any JPEG bytes.
// A copy that is written is read back by a walk of this target's own: the
// same bytes before and behind the Exif segment, the same TIFF tree as the
// photo's (every IFD of the chain and behind every pointer tag, every value,
// the MakerNote's IFD and the thumbnail, compared by content, not offset),
// and a GPS IFD with the point's values.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "export/ExifDateTime.h"
#include "export/GpsTagWriter.h"
#include "support/ProcessZone.h"

namespace {

using Bytes = std::span<const std::uint8_t>;

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "exif fuzz: %s\n", what);
        std::abort();
    }
}

// Offset of the first APP1 "Exif\0\0" segment's length field, when only APP0
// and APP1 segments stand before it.
std::optional<std::size_t> ExifLengthField(Bytes file) {
    for (std::size_t at = 2; at + 4 <= file.size();) {
        const std::size_t length = file[at + 2] << 8 | file[at + 3];
        if ((file[at + 1] != 0xE0 && file[at + 1] != 0xE1) || length < 2) return std::nullopt;
        if (file[at + 1] == 0xE1 && at + 10 <= file.size() && std::memcmp(&file[at + 4], "Exif\0\0", 6) == 0) {
            return at + 2;
        }
        at += 2 + length;
    }
    return std::nullopt;
}

// The TIFF tree as text, offsets replaced by what they lead to.
class Tree {
public:
    explicit Tree(Bytes tiff) : t_(tiff), little_(tiff.size() > 1 && tiff[0] == 'I') {}
    std::uint32_t U(std::uint64_t at, int n) {
        if (at + n > t_.size()) return bad_ = true, 0;
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) v |= std::uint32_t{t_[at + i]} << 8 * (little_ ? i : n - 1 - i);
        return v;
    }
    std::string Raw(std::uint64_t at, std::uint64_t n) {
        if (at > t_.size() || n > t_.size() - at) return bad_ = true, "";
        return std::string(t_.begin() + at, t_.begin() + at + n);
    }
    // Bytes of an entry's value, and the value itself (in the entry or elsewhere).
    std::uint64_t Size(std::uint64_t e) {
        const std::uint32_t type = U(e + 2, 2);
        const int unit = type == 3 || type == 8 ? 2 : type == 4 || type == 9 || type == 11 ? 4
                         : type == 5 || type == 10 || type == 12 ? 8 : 1;
        return std::uint64_t{U(e + 4, 4)} * unit;
    }
    std::string Value(std::uint64_t e) { return Size(e) > 4 ? Raw(U(e + 8, 4), Size(e)) : Raw(e + 8, Size(e)); }
    // Finds tag in the IFD at ifd: the entry's offset, or 0.
    std::size_t Find(std::uint32_t ifd, std::uint16_t tag) {
        for (std::uint32_t i = 0, n = U(ifd, 2); i < n && !bad_; ++i) {
            if (U(ifd + 2 + 12 * i, 2) == tag) return ifd + 2 + 12 * i;
        }
        return 0;
    }
    std::string Ifd(std::uint32_t at, bool tree, bool ifd0) {
        if (tree) {
            for (std::size_t i = 0; i < seen_.size(); ++i) {
                if (seen_[i] == at) return "seen " + std::to_string(i);
            }
            seen_.push_back(at);
        }
        const std::uint32_t n = U(at, 2);
        if (ifd0) {
            const std::size_t make = Find(at, 0x010F);
            make_ = make == 0 ? "" : Value(make);
        }
        const std::size_t lengthEntry = Find(at, 0x0202);
        const std::uint32_t thumbnailLength = lengthEntry == 0 ? 0 : U(lengthEntry + 8, U(lengthEntry + 2, 2) == 3 ? 2 : 4);
        std::string text = "(";
        for (std::uint32_t i = 0; i < n && !bad_; ++i) {
            const std::uint64_t e = at + 2 + 12 * i;
            const std::uint32_t tag = U(e, 2), type = U(e + 2, 2), count = U(e + 4, 4);
            const std::uint64_t size = Size(e);
            if (ifd0 && tag == 0x8825) {
                gps_ = U(e + 8, 4);
                continue;
            }
            text += std::to_string(tag) + " " + std::to_string(type) + " " + std::to_string(count) + ":";
            const bool pointer = tag == 0x8769 || tag == 0x8825 || tag == 0xA005 || tag == 0x014A;
            if (tree && pointer && size <= 4) {
                text += "{" + Ifd(U(e + 8, 4), true, false) + "}";
            } else if (tree && tag == 0x0201) {
                text += Raw(U(e + 8, 4), thumbnailLength);
            } else if (tree && tag == 0x927C && size > 4) {
                const std::uint32_t note = U(e + 8, 4);
                const bool sony = Raw(note, 4) == "SONY" && make_.rfind("SONY", 0) == 0;
                text += Raw(note, sony ? 12 : 0) + "[" + Ifd(note + (sony ? 12 : 0), false, false) + "]";
            } else {
                text += Value(e);
            }
        }
        const std::uint32_t next = tree ? U(at + 2 + 12 * n, 4) : 0;
        return text + ")" + (next != 0 && !bad_ ? "next " + Ifd(next, true, false) : "");
    }
    // The tree from IFD0; empty when it leads outside the bytes.
    std::optional<std::string> Describe() {
        std::string text = Ifd(U(4, 4), true, true);
        return bad_ ? std::nullopt : std::optional(text);
    }
    std::uint32_t gps_ = 0;

private:
    Bytes t_;
    bool little_;
    bool bad_ = false;
    std::string make_;
    std::vector<std::uint32_t> seen_;
};

struct GpsValue {
    std::uint16_t tag, type;
    std::uint32_t count;
    std::vector<std::uint32_t> numbers;  // rationals
    const char* text;                    // bytes and texts
};

// The GPS IFD of the point below.
const GpsValue kGps[] = {{0x0000, 1, 4, {}, "\2\2\0\0"}, {0x0001, 2, 2, {}, "N"},
                         {0x0002, 5, 3, {22, 1, 30, 1, 0, 100}, nullptr}, {0x0003, 2, 2, {}, "E"},
                         {0x0004, 5, 3, {120, 1, 15, 1, 0, 100}, nullptr}, {0x0005, 1, 1, {}, "\0"},
                         {0x0006, 5, 1, {1235, 100}, nullptr}, {0x0007, 5, 3, {0, 1, 5, 1, 3, 1}, nullptr},
                         {0x001D, 2, 11, {}, "2008:06:07"}};
constexpr PhotoTrackPoint kPoint{120.25f, 22.5f, 12.345f, 1212797103};

void CheckCopy(Bytes photo, Bytes copy) {
    const auto at = ExifLengthField(photo), copyAt = ExifLengthField(copy);
    Require(at && copyAt && *at == *copyAt, "both have the Exif segment, at one place");
    const std::size_t length = photo[*at] << 8 | photo[*at + 1];
    const std::size_t growth = copy.size() - photo.size();
    Require(growth == 218 || growth == 220, "the copy grows by the GPS tags");
    Require(std::size_t(copy[*at] << 8 | copy[*at + 1]) == length + growth, "segment length");
    Require(std::memcmp(photo.data(), copy.data(), *at) == 0, "bytes before the segment");
    Require(std::memcmp(photo.data() + *at + length, copy.data() + *at + length + growth, photo.size() - *at - length) == 0,
            "bytes behind the segment");
    Tree source(photo.subspan(*at + 8, length - 8)), written(copy.subspan(*at + 8, length + growth - 8));
    const auto before = source.Describe(), after = written.Describe();
    Require(before && after && *before == *after, "the copy's tree is the photo's");
    Require(source.gps_ == 0 && written.gps_ != 0 && written.U(written.gps_, 2) == 9, "one GPS IFD of 9 entries");
    for (std::size_t i = 0; i < std::size(kGps); ++i) {
        const std::uint32_t e = written.gps_ + 2 + 12 * i;
        const GpsValue& v = kGps[i];
        Require(written.U(e, 2) == v.tag && written.U(e + 2, 2) == v.type && written.U(e + 4, 4) == v.count, "GPS entry");
        const std::uint32_t value = v.text && v.count <= 4 ? e + 8 : written.U(e + 8, 4);
        for (std::size_t k = 0; k < v.numbers.size(); ++k) Require(written.U(value + 4 * k, 4) == v.numbers[k], "GPS rational");
        if (v.text) Require(written.Raw(value, v.count) == std::string(v.text, v.count), "GPS bytes");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool zone = (SetChosenZoneOffset(9 * 3600), true);
    (void)zone;
    const Bytes photo(data, size);
    std::int64_t time = 0;
    int failed = 0;
    std::string message;
    ReadExifDateTimeFromBytes(photo, time, failed, message);
    Require(failed == 1 || ExifLengthField(photo).has_value(), "a capture time only from an Exif segment");

    std::vector<std::uint8_t> copy;
    if (BuildGpsCopy(photo, kPoint, copy, message) != GpsCopyOutcome::Written) return 0;
    CheckCopy(photo, copy);
    std::int64_t copyTime = 0;
    int copyFailed = 0;
    ReadExifDateTimeFromBytes(copy, copyTime, copyFailed, message);
    Require(copyFailed == failed && copyTime == time, "the copy's capture time is the photo's");
    return 0;
}
