#include "tracklog/LogDecoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unordered_map>
#include <unordered_set>

#include "device/Sentence.h"
#include "support/AtomicFile.h"
#include "support/ProcessZone.h"

namespace {

constexpr int kYearSpan = 3;
constexpr std::int64_t kDay = 86400;

// A slot is tested as two 64-bit words (bytes 0-7 and 8-15, in memory order).
struct SlotWords {
    std::uint64_t a, b;
};

SlotWords Load(const std::uint8_t* s) {
    SlotWords w;
    std::memcpy(&w.a, s, 8);
    std::memcpy(&w.b, s + 8, 8);
    return w;
}

constexpr std::uint64_t Bytes8(std::array<std::uint8_t, 8> bytes) { return std::bit_cast<std::uint64_t>(bytes); }

// "ORVIKTK5" "11LOGGER" and "11WAYPNT".
constexpr std::uint64_t kMarkerA = Bytes8({'O', 'R', 'V', 'I', 'K', 'T', 'K', '5'});
constexpr std::uint64_t kSegmentMarkerB = Bytes8({'1', '1', 'L', 'O', 'G', 'G', 'E', 'R'});
constexpr std::uint64_t kWaypointMarkerB = Bytes8({'1', '1', 'W', 'A', 'Y', 'P', 'N', 'T'});
// Separator: bytes 0-6 0xAA, 12-15 0xBB.
constexpr std::uint64_t kSeparatorMaskA = Bytes8({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0});
constexpr std::uint64_t kSeparatorA = Bytes8({0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0});
constexpr std::uint64_t kSeparatorMaskB = Bytes8({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
constexpr std::uint64_t kSeparatorB = Bytes8({0, 0, 0, 0, 0xBB, 0xBB, 0xBB, 0xBB});
constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};

bool IsSegmentMarker(SlotWords w) { return w.a == kMarkerA && w.b == kSegmentMarkerB; }
bool IsWaypointMarker(SlotWords w) { return w.a == kMarkerA && w.b == kWaypointMarkerB; }
bool IsSeparator(SlotWords w) {
    return (w.a & kSeparatorMaskA) == kSeparatorA && (w.b & kSeparatorMaskB) == kSeparatorB;
}
bool IsEmpty(SlotWords w) { return w.a == kAllOnes && w.b == kAllOnes; }
bool IsZero(SlotWords w) { return w.a == 0 && w.b == 0; }

std::int32_t SignedTime(const std::uint8_t* s) {
    const std::uint32_t v = static_cast<std::uint32_t>(s[0]) | static_cast<std::uint32_t>(s[1]) << 8 |
                            static_cast<std::uint32_t>(s[2]) << 16 | static_cast<std::uint32_t>(s[3]) << 24;
    return static_cast<std::int32_t>(v);
}

std::int64_t StartOfYearUtc(int year) {
    using namespace std::chrono;
    const sys_days day{std::chrono::year{year} / January / 1};
    return duration_cast<seconds>(day.time_since_epoch()).count();
}

int LocalYear(std::int32_t t) {
    std::tm tm{};
    if (t < 0 || !ToLocalTime(t, tm)) {
        return 1900;  // what the C runtime rejects counts as 1900
    }
    return tm.tm_year + 1900;
}

std::string FailureLine(const std::string& path) { return " " + path + " could not be written"; }

}  // namespace

// The year window as UTC instants. Local time differs from UTC by less than
// the margin, so a time well inside [first, end) is in the window, one well
// outside is not, and only times near a year boundary need the local-time
// conversion itself.
struct LogDecoder::YearWindow {
    int firstYear = 0;
    int lastYear = 0;
    std::int64_t sureFirst = 0, sureEnd = 0;    // certainly inside
    std::int64_t maybeFirst = 0, maybeEnd = 0;  // outside these certainly not

    explicit YearWindow(int currentUtcYear) : firstYear(currentUtcYear - kYearSpan), lastYear(currentUtcYear + kYearSpan) {
        std::int64_t margin = 2 * kDay;
        if (const auto offset = ChosenZoneOffset()) {
            margin += *offset < 0 ? -static_cast<std::int64_t>(*offset) : *offset;
        }
        const std::int64_t first = StartOfYearUtc(firstYear);
        const std::int64_t end = StartOfYearUtc(lastYear + 1);
        sureFirst = first + margin;
        sureEnd = end - margin;
        maybeFirst = first - margin;
        maybeEnd = end + margin;
    }

    bool Contains(std::int32_t t) const {
        // Before 1970 (and 2^31 and above, read as signed) is never a time of
        // the logger's, even when the window reaches back past 1970.
        if (t < 0) {
            return false;
        }
        if (t >= sureFirst && t < sureEnd) {
            return true;
        }
        if (t < maybeFirst || t >= maybeEnd) {
            return false;
        }
        const int year = LocalYear(t);
        return year >= firstYear && year <= lastYear;
    }

    bool Valid(const std::uint8_t* s) const {
        return RecordChecksumValid(std::span<const std::uint8_t, kTrackLogRecordSize>(s, kTrackLogRecordSize)) &&
               Contains(SignedTime(s));
    }
};

LogDecoder::LogDecoder(UtcClock utcNow) : utcNow_(std::move(utcNow)) {}

LogDecoder::YearWindow LogDecoder::MakeYearWindow() const {
    const std::int64_t now = utcNow_ ? utcNow_() : static_cast<std::int64_t>(std::time(nullptr));
    std::tm tm{};
    ToUtcTime(now, tm);
    return YearWindow(tm.tm_year + 1900);
}

bool LogDecoder::RecordValid(std::span<const std::uint8_t, kTrackLogRecordSize> record, int currentUtcYear) {
    return YearWindow(currentUtcYear).Valid(record.data());
}

void LogDecoder::ResetUploadBuffers() {
    storedRecords_.clear();
    storedKinds_.clear();
    orderedRecords_.clear();
    orderedKinds_.clear();
    storedRecords_.reserve(kLogMaxSlots);
    storedKinds_.reserve(kLogMaxSlots);
    orderedStale_ = false;
    waypointPending_ = false;
    haveTime_ = false;
    wrapFound_ = false;
    wrapStartIndex_ = 0;
    wrapEndIndex_ = 0;
    segmentMarkerCount_ = 0;
    validRecordCount_ = 0;
    waypointCount_ = 0;
    previousTime_ = 0;
    currentTime_ = 0;
    segmentFileNames_.clear();
    totalFileName_.clear();
    waypointFileName_.clear();
}

std::size_t LogDecoder::CompactSector(LogSector sector, PackedSector packed) {
    std::size_t used = 0;
    for (std::size_t off = kLogSectorHeaderSize; off < kLogSectorSize; off += kTrackLogRecordSize) {
        const std::uint8_t* s = sector.data() + off;
        const SlotWords w = Load(s);
        if (IsSeparator(w) || IsEmpty(w)) {
            continue;
        }
        std::memcpy(packed.data() + used, s, kTrackLogRecordSize);
        used += kTrackLogRecordSize;
    }
    std::memset(packed.data() + used, 0, kLogSectorSize - used);
    return used;
}

void LogDecoder::StoreEntry(const std::uint8_t* slot, EntryKind kind) {
    TrackLogRecordBytes& r = storedRecords_.emplace_back();
    std::memcpy(r.data(), slot, kTrackLogRecordSize);
    storedKinds_.push_back(kind);
}

void LogDecoder::DecodeSector(LogSector sector) {
    const YearWindow window = MakeYearWindow();
    for (std::size_t off = kLogSectorHeaderSize; off < kLogSectorSize; off += kTrackLogRecordSize) {
        const std::uint8_t* s = sector.data() + off;
        const SlotWords w = Load(s);
        if (IsSegmentMarker(w)) {
            StoreEntry(s, kSegmentMarker);
            ++segmentMarkerCount_;
            continue;
        }
        if (IsSeparator(w) || IsEmpty(w)) {
            continue;
        }
        if (IsWaypointMarker(w)) {
            // The next slot is the waypoint, judged as a record whatever it
            // holds. At the end of the sector the waypoint stays pending for
            // the next record stored.
            waypointPending_ = true;
            ++waypointCount_;
            off += kTrackLogRecordSize;
            if (off >= kLogSectorSize) {
                break;
            }
            s = sector.data() + off;
        }
        if (!window.Valid(s)) {
            continue;  // a pending waypoint goes to the next valid record
        }
        ++validRecordCount_;
        const std::int32_t t = SignedTime(s);
        previousTime_ = haveTime_ ? currentTime_ : t;
        currentTime_ = t;
        haveTime_ = true;
        if (currentTime_ < previousTime_) {
            wrapStartIndex_ = static_cast<int>(storedRecords_.size());
            wrapEndIndex_ = wrapStartIndex_ - 1;
            wrapFound_ = true;
        }
        StoreEntry(s, waypointPending_ ? kWaypointRecord : kTrackRecord);
        waypointPending_ = false;
    }
    orderedStale_ = true;
}

void LogDecoder::RebuildOrdered() {
    // The oldest record first: from the start of the wrap to the end, then
    // from the beginning up to the newest record. Without a wrap the start
    // is 0 and this copies everything in memory order.
    const auto start = static_cast<std::ptrdiff_t>(wrapStartIndex_);
    orderedRecords_.clear();
    orderedRecords_.insert(orderedRecords_.end(), storedRecords_.begin() + start, storedRecords_.end());
    orderedRecords_.insert(orderedRecords_.end(), storedRecords_.begin(), storedRecords_.begin() + start);
    orderedKinds_.clear();
    orderedKinds_.insert(orderedKinds_.end(), storedKinds_.begin() + start, storedKinds_.end());
    orderedKinds_.insert(orderedKinds_.end(), storedKinds_.begin(), storedKinds_.begin() + start);
    orderedStale_ = false;
}

const std::vector<TrackLogRecordBytes>& LogDecoder::OrderedRecords() {
    if (orderedStale_) {
        RebuildOrdered();
    }
    return orderedRecords_;
}

const std::vector<std::uint8_t>& LogDecoder::OrderedKinds() {
    if (orderedStale_) {
        RebuildOrdered();
    }
    return orderedKinds_;
}

std::string LogDecoder::FileTimeText(std::uint32_t utcTime) {
    std::tm tm{};
    ToLocalTime(utcTime, tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

namespace {

// One .trl file being written: the records gather in memory and go to the
// file at once when it is put in place.
struct TrlOutput {
    std::string name;  // path without ".trl"
    std::vector<std::uint8_t> bytes;
    bool wanted = false;

    void Add(const TrackLogRecordBytes& r) {
        if (wanted) {
            bytes.insert(bytes.end(), r.begin(), r.end());
        }
    }
    // Writes the file and reports it; false (reported too) when it could not
    // be written.
    bool Finish(TrlConversionHost& host) {
        if (!wanted) {
            return false;
        }
        const std::string path = name + ".trl";
        AtomicFile file;
        if (!file.Open(path) || !file.Write(bytes.data(), bytes.size()) || !file.Commit()) {
            host.AddStatusLine(FailureLine(path));
            return false;
        }
        host.AddStatusLine(" " + path);
        return true;
    }
};

}  // namespace

void LogDecoder::WriteTrlFiles(const std::string& folder, const std::string& userName, bool writeTotalTrackLog,
                               TrlConversionHost& host) {
    host.ShowStatusList();
    const std::vector<TrackLogRecordBytes>& records = OrderedRecords();
    const std::vector<std::uint8_t>& kinds = orderedKinds_;

    // Segment ranges: the runs between segment markers, one per marker + 1;
    // a run without entries (first > last) gives no file.
    struct Range {
        std::ptrdiff_t first, last;
    };
    std::vector<Range> ranges;
    ranges.reserve(static_cast<std::size_t>(segmentMarkerCount_) + 1);
    std::ptrdiff_t first = 0;
    const auto count = static_cast<std::ptrdiff_t>(records.size());
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        if (kinds[static_cast<std::size_t>(i)] == kSegmentMarker) {
            ranges.push_back({first, i - 1});
            first = i + 1;
        }
    }
    ranges.push_back({first, count - 1});

    auto timeOf = [&](std::ptrdiff_t i) {
        return FileTimeText(static_cast<std::uint32_t>(SignedTime(records[static_cast<std::size_t>(i)].data())));
    };
    std::string totalStart, totalFinish;
    for (const Range& r : ranges) {
        if (r.first <= r.last) {
            if (totalStart.empty()) {
                totalStart = timeOf(r.first);
            }
            totalFinish = timeOf(r.last);
        }
    }

    // The folder comes first in every path; without its closing '/' the
    // files would land beside it instead of inside it.
    std::string prefix = folder;
    if (!prefix.empty() && prefix.back() != '/') {
        prefix += '/';
    }
    prefix += SafeFileNamePart(userName) + "_L-731_";
    std::unordered_set<std::string> used;
    std::unordered_map<std::string, int> nextSuffix;  // per segment name: the next "_n" to try
    TrlOutput total{prefix + "Total_Start_" + totalStart + "_Finish_" + totalFinish, {}, writeTotalTrackLog};
    TrlOutput waypoints{prefix + "Waypoints", {}, waypointCount_ > 0};
    used.insert(total.name);
    used.insert(waypoints.name);
    if (total.wanted) {
        total.bytes.reserve(records.size() * kTrackLogRecordSize);
    }

    segmentFileNames_.assign(ranges.size(), std::string());
    for (std::size_t j = 0; j < ranges.size(); ++j) {
        const Range& r = ranges[j];
        if (r.first > r.last) {
            continue;
        }
        const std::string base = prefix + "Start_" + timeOf(r.first) + "_Finish_" + timeOf(r.last);
        // Every suffix below the one kept for this base is taken already, so
        // the search goes on from there: a log of many segments that share
        // one second costs what one of distinct names does.
        int& suffix = nextSuffix.try_emplace(base, 2).first->second;
        std::string name = base;
        while (used.contains(name)) {
            name = base + "_" + std::to_string(suffix++);
        }
        used.insert(name);
        TrlOutput segment{name, {}, true};
        for (std::ptrdiff_t k = r.first; k <= r.last; ++k) {
            const TrackLogRecordBytes& rec = records[static_cast<std::size_t>(k)];
            if (kinds[static_cast<std::size_t>(k)] == kWaypointRecord) {
                waypoints.Add(rec);
            } else {
                segment.Add(rec);
                total.Add(rec);
            }
        }
        if (segment.Finish(host)) {
            segmentFileNames_[j] = name;
        }
    }
    totalFileName_ = total.Finish(host) ? total.name : std::string();
    waypointFileName_ = waypoints.Finish(host) ? waypoints.name : std::string();
}

namespace {

template <typename Convert>
void ConvertEach(const std::vector<std::string>& segments, const std::string& total, const std::string& waypoints,
                 TrlConversionHost& host, Convert convert) {
    auto one = [&](const std::string& name) {
        if (name.empty()) {
            return;
        }
        const std::string kml = name + ".kml";
        host.AddStatusLine(convert(name + ".trl", kml) ? " " + kml : FailureLine(kml));
    };
    for (const std::string& name : segments) {
        one(name);
    }
    one(total);
    one(waypoints);
}

}  // namespace

void LogDecoder::ConvertTrlToKml(TrlConversionHost& host) {
    ConvertEach(segmentFileNames_, totalFileName_, waypointFileName_, host,
                [&](const std::string& trl, const std::string& kml) { return host.WriteKml(trl, kml); });
}

void LogDecoder::ConvertTrlToKmlUnicode(TrlConversionHost& host, const std::string& photoFolder) {
    ConvertEach(segmentFileNames_, totalFileName_, waypointFileName_, host,
                [&](const std::string& trl, const std::string& kml) {
                    return host.ConvertWithPhotos(trl, kml, photoFolder);
                });
}

bool WriteSectorRaw(std::span<const std::uint8_t, kLogSectorSize> packed, AtomicFile& file) {
    if (!file.IsOpen()) {
        return false;
    }
    bool ok = true;
    // Runs of slots to keep go out in one write each.
    std::size_t runStart = 0;
    bool inRun = false;
    for (std::size_t off = 0; off <= kLogSectorSize; off += kTrackLogRecordSize) {
        const bool keep = off < kLogSectorSize && !IsEmpty(Load(packed.data() + off)) && !IsZero(Load(packed.data() + off));
        if (keep && !inRun) {
            runStart = off;
            inRun = true;
        } else if (!keep && inRun) {
            ok = file.Write(packed.data() + runStart, off - runStart) && ok;
            inRun = false;
        }
    }
    return ok;
}

std::size_t HexPairsToBytes(std::string_view hex, std::span<std::uint8_t> out) {
    const std::size_t n = std::min(out.size(), hex.size() / 2);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(sentence::HexToInt(hex.substr(2 * i, 2)));
    }
    return n;
}
