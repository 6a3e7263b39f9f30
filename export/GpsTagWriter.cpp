#include "export/GpsTagWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>

#include "support/AtomicFile.h"
#include "support/ProcessZone.h"

namespace {

using exif::IfdEntry;
using exif::TiffView;

constexpr std::size_t kNewEntrySize = exif::kIfdEntrySize;
constexpr std::size_t kMaxSegmentLength = 65535;

struct Block {
    std::uint64_t offset;
    std::uint64_t size;
    bool holdsOthers = false;  // the MakerNote, whose IFD and values lie inside it
};

// What the relocation needs to know of the source's TIFF structure.
struct Layout {
    std::vector<std::size_t> offsetFields;  // TIFF offsets of 32-bit offsets to move
    std::vector<Block> blocks;              // every structure and value referred to
    std::optional<std::size_t> exifIfd;     // from IFD0
    std::optional<IfdEntry> make;           // from IFD0
    std::optional<IfdEntry> makerNote;
    std::size_t makerNoteBlock = 0;  // index in blocks, when stored elsewhere
    std::size_t ifd0Before = 0;  // IFD0 entries whose tag sorts before GPSInfo
    bool gpsPresent = false;
};

constexpr std::uint16_t kTagSubIfds = 0x014A;
constexpr std::uint16_t kTagStripOffsets = 0x0111;
constexpr std::uint16_t kTagTileOffsets = 0x0144;
// More IFDs than any camera writes: the walk stops there.
constexpr std::size_t kMaxIfds = 64;

bool PointsToIfd(std::uint16_t tag) {
    return tag == exif::kTagExifIfd || tag == exif::kTagGpsIfd || tag == exif::kTagInteropIfd ||
           tag == kTagSubIfds;
}

// Finds every structure of the TIFF tree that the copy moves: the IFDs
// reached from IFD0 through next-IFD offsets (IFD1, IFD2, ...) and pointer
// tags (Exif, GPS, Interop, sub-IFDs) in any of them, their values stored
// elsewhere, the thumbnail, the MakerNote's IFD and its values, and every
// offset field that points at one of them. An IFD reached twice is walked
// once. What the pass cannot move (strip or tile offsets, an array of IFD
// offsets, a second MakerNote) refuses the layout.
class LayoutWalk {
public:
    LayoutWalk(const TiffView& tiff, Layout& layout) : tiff_(tiff), layout_(layout) {}

    // Walks the queued IFDs, first ifd; null, or the failure text. With
    // onlyThis the IFDs it leads to stay queued for the next call.
    const char* Tree(std::optional<std::size_t> ifd, bool onlyThis) {
        if (ifd) {
            pending_.push_back(*ifd);
        }
        while (!pending_.empty()) {
            const std::size_t next = pending_.back();
            pending_.pop_back();
            if (std::find(visited_.begin(), visited_.end(), next) != visited_.end()) {
                continue;
            }
            if (visited_.size() == kMaxIfds) {
                return kIfdCountText;
            }
            visited_.push_back(next);
            if (const char* failure = Ifd(next, true)) {
                return failure;
            }
            if (onlyThis) {
                break;
            }
        }
        return nullptr;
    }

    // The MakerNote's IFD at `at`: no pointer tags, no next IFD.
    const char* MakerNoteIfd(std::size_t at) { return Ifd(at, false); }

private:
    const char* Ifd(std::size_t ifd, bool tree) {
        const bool ifd0 = tree && visited_.size() == 1;
        const auto count = tiff_.U16(ifd);
        const std::uint64_t size = 2 + std::uint64_t{count.value_or(0)} * kNewEntrySize + 4;
        if (!count || !tiff_.Contains(ifd, size)) {
            return kBadLayoutText;
        }
        layout_.blocks.push_back({ifd, size});
        std::optional<std::uint32_t> thumbnail;
        std::uint32_t thumbnailLength = 0;
        for (std::size_t i = 0; i < *count; ++i) {
            const IfdEntry entry = *tiff_.Entry(ifd + 2 + i * kNewEntrySize);
            const std::size_t field = entry.position + 8;
            if (entry.ValueIsOffset()) {
                if (!tiff_.Contains(entry.value, entry.ValueSize())) {
                    return kBadLayoutText;
                }
                layout_.blocks.push_back({entry.value, entry.ValueSize()});
                layout_.offsetFields.push_back(field);
            }
            if (!tree) {
                continue;
            }
            if (ifd0 && entry.tag < exif::kTagGpsIfd) {
                ++layout_.ifd0Before;
            }
            const bool oneOffset = entry.count == 1 && !entry.ValueIsOffset();
            if (PointsToIfd(entry.tag) || entry.tag == exif::kTagThumbnailOffset) {
                if (!oneOffset || (entry.tag == exif::kTagThumbnailOffset && thumbnail)) {
                    return kUnmovableText;
                }
                layout_.offsetFields.push_back(field);
                if (entry.tag == exif::kTagThumbnailOffset) {
                    thumbnail = entry.value;
                } else {
                    pending_.push_back(entry.value);
                }
            }
            switch (entry.tag) {
            case kTagStripOffsets:
            case kTagTileOffsets:
                return kUnmovableText;
            case exif::kTagThumbnailLength:
                if (!oneOffset) {
                    return kUnmovableText;  // no length to check the thumbnail with
                }
                thumbnailLength = entry.type == 3 ? *tiff_.U16(field) : entry.value;
                break;
            case exif::kTagMakerNote:
                if (layout_.makerNote) {
                    return kUnmovableText;
                }
                layout_.makerNote = entry;
                layout_.makerNoteBlock = layout_.blocks.size() - 1;
                break;
            case exif::kTagGpsIfd:
                layout_.gpsPresent = true;
                break;
            case exif::kTagExifIfd:
                if (ifd0 && !layout_.exifIfd) {
                    layout_.exifIfd = entry.value;
                }
                break;
            case exif::kTagMake:
                if (ifd0) {
                    layout_.make = entry;
                }
                break;
            default:
                break;
            }
        }
        const std::size_t next = ifd + 2 + std::size_t{*count} * kNewEntrySize;
        if (tree && *tiff_.U32(next) != 0) {
            layout_.offsetFields.push_back(next);
            pending_.push_back(*tiff_.U32(next));
        }
        if (thumbnail) {
            if (!tiff_.Contains(*thumbnail, thumbnailLength)) {
                return kBadLayoutText;
            }
            layout_.blocks.push_back({*thumbnail, thumbnailLength});
        }
        return nullptr;
    }

    const TiffView& tiff_;
    Layout& layout_;
    std::vector<std::size_t> visited_;
    std::vector<std::size_t> pending_;
};

bool StartsWith(std::span<const std::uint8_t> bytes, const char* text) {
    const std::size_t n = std::strlen(text);
    return bytes.size() >= n && std::memcmp(bytes.data(), text, n) == 0;
}

void PutRational(std::uint8_t* at, std::uint32_t numerator, std::uint32_t denominator, bool little) {
    exif::PutU32(at, numerator, little);
    exif::PutU32(at + 4, denominator, little);
}

void PutEntry(std::uint8_t* at, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
              std::uint32_t value, bool little) {
    exif::PutU16(at, tag, little);
    exif::PutU16(at + 2, type, little);
    exif::PutU32(at + 4, count, little);
    exif::PutU32(at + 8, value, little);
}

void PutInlineBytes(std::uint8_t* at, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                    std::array<std::uint8_t, 4> bytes, bool little) {
    PutEntry(at, tag, type, count, 0, little);
    std::memcpy(at + 8, bytes.data(), 4);
}

// The GPS IFD at TIFF offset g.
std::array<std::uint8_t, kGpsIfdSize> BuildGpsIfd(std::uint32_t g, const PhotoTrackPoint& point,
                                                  bool little) {
    std::array<std::uint8_t, kGpsIfdSize> ifd{};
    std::array<int, 3> lat{};
    std::array<int, 3> lon{};
    DegreesToDms(point.latitude, point.longitude, lat, lon);
    const auto latRef = static_cast<std::uint8_t>(point.latitude < 0 ? 'S' : 'N');
    const auto lonRef = static_cast<std::uint8_t>(point.longitude < 0 ? 'W' : 'E');
    const std::uint8_t altitudeRef = point.height < 0 ? 1 : 0;
    std::tm utc{};
    ToUtcTime(point.utcTime, utc);

    constexpr std::uint32_t kLat = 114, kLon = 138, kAlt = 162, kTime = 170, kDate = 194;
    std::uint8_t* p = ifd.data();
    exif::PutU16(p, 9, little);
    PutInlineBytes(p + 2, 0x0000, 1, 4, {2, 2, 0, 0}, little);
    PutInlineBytes(p + 14, 0x0001, 2, 2, {latRef, 0, 0, 0}, little);
    PutEntry(p + 26, 0x0002, 5, 3, g + kLat, little);
    PutInlineBytes(p + 38, 0x0003, 2, 2, {lonRef, 0, 0, 0}, little);
    PutEntry(p + 50, 0x0004, 5, 3, g + kLon, little);
    PutInlineBytes(p + 62, 0x0005, 1, 1, {altitudeRef, 0, 0, 0}, little);
    PutEntry(p + 74, 0x0006, 5, 1, g + kAlt, little);
    PutEntry(p + 86, 0x0007, 5, 3, g + kTime, little);
    PutEntry(p + 98, 0x001D, 2, 11, g + kDate, little);
    exif::PutU32(p + 110, 0, little);
    for (int i = 0; i < 3; ++i) {
        const std::uint32_t denominator = i == 2 ? 100 : 1;
        PutRational(p + kLat + 8 * i, static_cast<std::uint32_t>(lat[i]), denominator, little);
        PutRational(p + kLon + 8 * i, static_cast<std::uint32_t>(lon[i]), denominator, little);
    }
    PutRational(p + kAlt, HeightCentimetres(point.height), 100, little);
    PutRational(p + kTime, static_cast<std::uint32_t>(utc.tm_hour), 1, little);
    PutRational(p + kTime + 8, static_cast<std::uint32_t>(utc.tm_min), 1, little);
    PutRational(p + kTime + 16, static_cast<std::uint32_t>(utc.tm_sec), 1, little);
    char date[48] = {};
    std::snprintf(date, sizeof date, "%04d:%02d:%02d", (utc.tm_year + 1900) % 10000,
                  utc.tm_mon + 1, utc.tm_mday);
    std::memcpy(p + kDate, date, 11);
    return ifd;
}

struct FdSource {
    int fd;
};

std::size_t ReadAt(void* context, std::size_t offset, std::size_t size, std::uint8_t* out) {
    const int fd = static_cast<FdSource*>(context)->fd;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

// Copies bytes [from, from + count) of the source to the end of the output
// through one buffer per thread (read and write beat an in-kernel copy on
// the file systems without shared extents).
bool CopyRange(int source, std::size_t from, std::size_t count, int output) {
    thread_local std::vector<std::uint8_t> buffer(1 << 20);
    while (count > 0) {
        FdSource fdSource{source};
        const std::size_t got = ReadAt(&fdSource, from, std::min(count, buffer.size()), buffer.data());
        if (got == 0) {
            return false;  // the source ended early
        }
        for (std::size_t done = 0; done < got;) {
            const ssize_t w = ::write(output, buffer.data() + done, got - done);
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(w);
        }
        from += got;
        count -= got;
    }
    return true;
}

}  // namespace

void DegreesToDms(double latitude, double longitude, std::array<int, 3>& latitudeDms,
                  std::array<int, 3>& longitudeDms) {
    auto convert = [](double value, std::array<int, 3>& dms) {
        const double x = std::fabs(value);
        if (!(x <= 360.0)) {
            dms = {0, 0, 0};
            return;
        }
        const int degrees = static_cast<int>(x);
        const double m = (x - degrees) * 60;
        const int minutes = static_cast<int>(m);
        const int hundredths = static_cast<int>((m - minutes) * 60 * 100);
        dms = {degrees, minutes, hundredths};
    };
    convert(latitude, latitudeDms);
    convert(longitude, longitudeDms);
}

std::uint32_t HeightCentimetres(float height) {
    const float scaled = std::fabs(height) * 100.0f;
    if (!(scaled < 4294967040.0f)) {
        return std::isnan(scaled) ? 0 : 0xFFFFFFFFu;
    }
    const float whole = std::trunc(scaled);
    auto centimetres = static_cast<std::uint32_t>(whole);
    if (scaled - whole >= 0.5f && centimetres < 0xFFFFFFFFu) {
        ++centimetres;
    }
    return centimetres;
}

std::string GpsFolderOf(const std::string& photoPath) {
    const std::size_t slash = photoPath.rfind('/');
    if (slash == std::string::npos) {
        return "GPS";
    }
    return photoPath.substr(0, slash) + "/GPS";
}

std::string GpsCopyPath(const std::string& photoPath) {
    const std::size_t slash = photoPath.rfind('/');
    std::string name = slash == std::string::npos ? photoPath : photoPath.substr(slash + 1);
    name = name.substr(0, name.size() >= 4 ? name.size() - 4 : 0) + "_GPS.jpg";
    return GpsFolderOf(photoPath) + "/" + name;
}

GpsCopyOutcome BuildGpsCopy(std::span<const std::uint8_t> photo, const PhotoTrackPoint& point,
                            std::vector<std::uint8_t>& copy, std::string& message) {
    copy.clear();
    message.clear();
    auto fail = [&](const char* text) {
        message = text;
        return GpsCopyOutcome::Failed;
    };
    const auto segment = exif::FindExifSegment(photo);
    if (!segment) {
        return fail(exif::kNotExifText);
    }
    if (segment->End() > photo.size()) {
        return fail(kBadLayoutText);
    }
    const auto tiffBytes = photo.subspan(segment->TiffOffset(), segment->End() - segment->TiffOffset());
    const TiffView tiff(tiffBytes);
    if (!tiff.IsValid()) {
        return fail(exif::kNotExifText);
    }

    Layout layout;
    LayoutWalk walk(tiff, layout);
    const auto ifd0 = tiff.U32(4);
    const auto ifd0Count = ifd0 ? tiff.U16(*ifd0) : std::nullopt;
    if (!ifd0Count) {
        return fail(kBadLayoutText);
    }
    if (*ifd0Count == 0) {
        return fail(kLayoutOrderText);
    }
    if (const char* failure = walk.Tree(*ifd0, true)) {
        return fail(failure);
    }
    if (!layout.exifIfd) {
        return fail(kNoExifIfdText);
    }

    // The maker first: a refused maker is no failure, whatever the layout.
    std::span<const std::uint8_t> make;
    if (layout.make && tiff.Contains(layout.make->ValueOffset(), layout.make->ValueSize())) {
        make = tiffBytes.subspan(layout.make->ValueOffset(), layout.make->ValueSize());
    }
    const bool canon = StartsWith(make, "Canon");
    const bool sony = StartsWith(make, "SONY");
    if (!canon && !sony) {
        return GpsCopyOutcome::MakerRefused;
    }
    if (layout.gpsPresent) {
        return fail(kGpsPresentText);
    }
    const std::uint32_t ifd1 = *tiff.U32(*ifd0 + 2 + std::size_t{*ifd0Count} * kNewEntrySize);
    if (ifd1 == 0) {
        return fail(kNoThumbnailIfdText);
    }

    // The rest of the tree, then the MakerNote's IFD.
    if (const char* failure = walk.Tree(std::nullopt, false)) {
        return fail(failure);
    }
    if (layout.gpsPresent) {
        return fail(kGpsPresentText);
    }
    if (layout.makerNote && layout.makerNote->ValueIsOffset()) {
        // Only the MakerNote's own block: another value on the same bytes
        // overlaps the MakerNote's IFD and refuses the layout.
        layout.blocks[layout.makerNoteBlock].holdsOthers = true;
        std::size_t at = layout.makerNote->value;
        if (sony && StartsWith(tiffBytes.subspan(at), "SONY")) {
            at += 12;
        }
        if (const char* failure = walk.MakerNoteIfd(at)) {
            return fail(failure);
        }
    }

    // Every IFD and value on its own bytes: an offset field relocated twice,
    // or one inside another structure's value, would corrupt the copy.
    std::vector<Block> own;
    for (const Block& block : layout.blocks) {
        if (!block.holdsOthers && block.size > 0) {
            own.push_back(block);
        }
    }
    std::sort(own.begin(), own.end(), [](const Block& a, const Block& b) { return a.offset < b.offset; });
    for (std::size_t i = 1; i < own.size(); ++i) {
        if (own[i - 1].offset + own[i - 1].size > own[i].offset) {
            return fail(kOverlapText);
        }
    }

    // Two insertion points: the new entry inside IFD0, the GPS IFD at IFD1.
    const std::size_t p1 = *ifd0 + 2 + layout.ifd0Before * kNewEntrySize;
    const std::size_t p2 = ifd1;
    if (p2 < *ifd0 + 2 + std::size_t{*ifd0Count} * kNewEntrySize + 4) {
        return fail(kLayoutOrderText);
    }
    // The first block is IFD0 itself, which the new entry goes into.
    for (std::size_t i = 0; i < layout.blocks.size(); ++i) {
        const Block& block = layout.blocks[i];
        const auto inside = [&](std::size_t p) { return block.offset < p && p < block.offset + block.size; };
        if ((i != 0 && inside(p1)) || inside(p2)) {
            return fail(kLayoutOrderText);
        }
    }
    // One pad byte before an odd place puts the GPS IFD on an even offset,
    // and one after it keeps the parity of everything behind it.
    const std::size_t pad = (p2 + kNewEntrySize) & 1;
    const std::size_t growth = kNewEntrySize + pad + kGpsIfdSize + pad;
    if (segment->length + growth > kMaxSegmentLength) {
        return fail(kSegmentTooLongText);
    }
    const auto shifted = [&](std::uint32_t offset) -> std::uint32_t {
        std::size_t moved = offset;
        if (offset >= p1) {
            moved += kNewEntrySize;
        }
        if (offset >= p2) {
            moved += pad + kGpsIfdSize + pad;
        }
        return static_cast<std::uint32_t>(moved);
    };

    // Relocate in a copy of the source's TIFF bytes, then splice.
    std::vector<std::uint8_t> relocated(tiffBytes.begin(), tiffBytes.end());
    const bool little = tiff.LittleEndian();
    for (std::size_t field : layout.offsetFields) {
        exif::PutU32(relocated.data() + field, shifted(*tiff.U32(field)), little);
    }
    exif::PutU16(relocated.data() + *ifd0, static_cast<std::uint16_t>(*ifd0Count + 1), little);
    const auto g = static_cast<std::uint32_t>(p2 + kNewEntrySize + pad);
    std::array<std::uint8_t, kNewEntrySize> entry{};
    PutEntry(entry.data(), exif::kTagGpsIfd, 4, 1, g, little);
    const auto gpsIfd = BuildGpsIfd(g, point, little);

    const std::size_t newLength = segment->length + growth;
    copy.reserve(photo.size() + growth);
    copy.insert(copy.end(), photo.begin(), photo.begin() + static_cast<std::ptrdiff_t>(segment->markerOffset + 2));
    copy.push_back(static_cast<std::uint8_t>(newLength >> 8));
    copy.push_back(static_cast<std::uint8_t>(newLength));
    copy.insert(copy.end(), photo.begin() + static_cast<std::ptrdiff_t>(segment->markerOffset + 4),
                photo.begin() + static_cast<std::ptrdiff_t>(segment->TiffOffset()));
    const auto at = [&](std::size_t offset) { return relocated.begin() + static_cast<std::ptrdiff_t>(offset); };
    copy.insert(copy.end(), relocated.begin(), at(p1));
    copy.insert(copy.end(), entry.begin(), entry.end());
    copy.insert(copy.end(), at(p1), at(p2));
    copy.insert(copy.end(), pad, 0);
    copy.insert(copy.end(), gpsIfd.begin(), gpsIfd.end());
    copy.insert(copy.end(), pad, 0);
    copy.insert(copy.end(), at(p2), relocated.end());
    copy.insert(copy.end(), photo.begin() + static_cast<std::ptrdiff_t>(segment->End()), photo.end());
    return GpsCopyOutcome::Written;
}

void WriteGpsToPhoto(const std::string& photoPath, const PhotoTrackPoint& point, int& failed,
                     std::string& message, bool& gpsWriteOk) {
    failed = 0;
    message.clear();
    const std::string folder = GpsFolderOf(photoPath);
    auto fail = [&](const std::string& text) {
        failed = 1;
        message = text;
        ::rmdir(folder.c_str());  // only an empty folder goes
    };
    if (!std::isfinite(point.latitude) || !std::isfinite(point.longitude) ||
        std::fabs(point.latitude) > 90.0f || std::fabs(point.longitude) > 180.0f) {
        return fail(kBadPositionText);
    }
    // Only the segments up to the end of the Exif segment are read; the
    // rest of the photo is copied behind the rebuilt segment unread.
    const int source = ::open(photoPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    if (source < 0 || ::fstat(source, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (source >= 0) {
            ::close(source);
        }
        return fail(kNotFileText);
    }
    // One read takes the segments of most photos and the whole of a small
    // one; a longer run of segments before the Exif segment is read on.
    FdSource fdSource{source};
    const auto size = static_cast<std::size_t>(info.st_size);
    std::vector<std::uint8_t> head(std::min<std::size_t>(size, 60 * 1024));
    head.resize(ReadAt(&fdSource, 0, head.size(), head.data()));
    auto segment = exif::FindExifSegment(head);
    if (!segment || segment->End() > head.size()) {
        segment = exif::FindExifSegment(&ReadAt, &fdSource);
        if (segment && segment->End() > head.size() && segment->End() <= size) {
            const std::size_t had = head.size();
            head.resize(segment->End());
            head.resize(had + ReadAt(&fdSource, had, head.size() - had, head.data() + had));
        }
    }
    std::vector<std::uint8_t> copy;
    std::string text = exif::kNotExifText;
    const GpsCopyOutcome outcome = segment ? BuildGpsCopy(head, point, copy, text) : GpsCopyOutcome::Failed;
    switch (outcome) {
    case GpsCopyOutcome::Failed:
        ::close(source);
        return fail(text);
    case GpsCopyOutcome::MakerRefused:
        ::close(source);
        gpsWriteOk = false;
        ::rmdir(folder.c_str());
        return;
    case GpsCopyOutcome::Written:
        break;
    }
    if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        ::close(source);
        return fail(kCopyWriteText);
    }
    // The copy goes into a real folder inside the photo folder, never
    // through a link that stands where the GPS folder should be.
    struct stat folderInfo {};
    if (::lstat(folder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode)) {
        ::close(source);
        return fail(kCopyWriteText);
    }
    AtomicFile file;
    const bool written = file.Open(GpsCopyPath(photoPath)) && file.Write(copy.data(), copy.size()) &&
                         std::fflush(file.Stream()) == 0 &&
                         CopyRange(source, head.size(), size - head.size(), ::fileno(file.Stream())) &&
                         file.Commit();
    ::close(source);
    if (!written) {
        file.Abandon();
        return fail(kCopyWriteText);
    }
}
