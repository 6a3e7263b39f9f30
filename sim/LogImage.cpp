#include "sim/LogImage.h"

#include <cstring>
#include <ctime>
#include <set>
#include <stdexcept>

namespace sim {

namespace {

constexpr char kLogger[] = "ORVIKTK511LOGGER";
constexpr char kWaypoint[] = "ORVIKTK511WAYPNT";

LogImage::Slot TextSlot(const char* text) {
    LogImage::Slot s{};
    std::memcpy(s.data(), text, s.size());
    return s;
}

void PutLe(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::uint32_t FloatBits(float f) {
    std::uint32_t v = 0;
    std::memcpy(&v, &f, sizeof v);
    return v;
}

std::uint32_t TimeOf(const LogImage::Slot& s) {
    return static_cast<std::uint32_t>(s[0]) | static_cast<std::uint32_t>(s[1]) << 8 |
           static_cast<std::uint32_t>(s[2]) << 16 | static_cast<std::uint32_t>(s[3]) << 24;
}

// A sector header the reader must not interpret: it holds both marker texts
// and a well framed record.
void FillHeader(std::uint8_t* header, std::size_t sector) {
    for (std::size_t i = 0; i < LogImage::kHeaderSize; ++i) {
        header[i] = static_cast<std::uint8_t>(i * 7 + sector);
    }
    std::memcpy(header, kLogger, 16);
    std::memcpy(header + 16, kWaypoint, 16);
    const LogImage::Slot r = LogImage::Frame({1717243200u, 1.0f, 2.0f, 3.0f});
    std::memcpy(header + 32, r.data(), r.size());
}

std::string TimeText(std::uint32_t utc, long offsetSeconds) {
    const std::time_t t = static_cast<std::time_t>(utc) + offsetSeconds;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &tm);
    return text;
}

}  // namespace

LogImage::Slot LogImage::Frame(const LogFix& fix) {
    Slot s{};
    PutLe(s.data(), fix.utcTime);
    PutLe(s.data() + 4, FloatBits(fix.latitude));
    PutLe(s.data() + 8, FloatBits(fix.longitude));
    const std::uint32_t h = FloatBits(fix.height);
    s[12] = static_cast<std::uint8_t>(h >> 8);
    s[13] = static_cast<std::uint8_t>(h >> 16);
    s[14] = static_cast<std::uint8_t>(h >> 24);
    std::uint8_t x = 0;
    for (int i = 0; i < 15; ++i) {
        x ^= s[i];
    }
    s[15] = x;
    return s;
}

void LogImage::Add(const Slot& slot, Kind kind) {
    slots_.push_back(slot);
    kinds_.push_back(kind);
}

LogImage& LogImage::Record(const LogFix& fix) {
    Add(Frame(fix), Kind::kKept);
    return *this;
}

LogImage& LogImage::Waypoint(const LogFix& fix) { return WaypointMarker().Record(fix); }

LogImage& LogImage::WaypointMarker() {
    Add(TextSlot(kWaypoint), Kind::kWaypointMarker);
    return *this;
}

LogImage& LogImage::SegmentMarker() {
    Add(TextSlot(kLogger), Kind::kSegmentMarker);
    return *this;
}

LogImage& LogImage::Separator(std::uint8_t middle) {
    Slot s;
    s.fill(0xAA);
    for (int i = 7; i < 12; ++i) {
        s[static_cast<std::size_t>(i)] = middle;
    }
    for (int i = 12; i < 16; ++i) {
        s[static_cast<std::size_t>(i)] = 0xBB;
    }
    Add(s, Kind::kSkipped);
    return *this;
}

LogImage& LogImage::Empty() {
    Slot s;
    s.fill(0xFF);
    Add(s, Kind::kSkipped);
    return *this;
}

LogImage& LogImage::BadChecksum(const LogFix& fix) {
    Slot s = Frame(fix);
    s[15] ^= 0x5A;
    Add(s, Kind::kDropped);
    return *this;
}

LogImage& LogImage::Dropped(const LogFix& fix) {
    Add(Frame(fix), Kind::kDropped);
    return *this;
}

LogImage LogImage::Synthetic(std::size_t slotCount, std::uint32_t startTime, std::size_t segmentEvery,
                             std::size_t waypointEvery) {
    LogImage log;
    std::uint32_t t = startTime;
    while (log.SlotCount() < slotCount) {
        const std::size_t n = log.SlotCount();
        const LogFix fix{t, 35.0f + static_cast<float>(n % 5000) * 1e-4f, 139.0f - static_cast<float>(n % 7000) * 1e-4f,
                         static_cast<float>(n % 900)};
        t += 5;
        if (segmentEvery != 0 && n % segmentEvery == segmentEvery - 1) {
            log.SegmentMarker();
        } else if (waypointEvery != 0 && n % waypointEvery == waypointEvery - 1 && n + 2 <= slotCount) {
            log.Waypoint(fix);
        } else if (n % 1000 == 999) {
            log.Separator(static_cast<std::uint8_t>(n));
        } else {
            log.Record(fix);
        }
    }
    return log;
}

std::vector<std::uint8_t> LogImage::Build(std::size_t sectors) const { return BuildWrapped(sectors, 0); }

std::vector<std::uint8_t> LogImage::BuildWrapped(std::size_t sectors, std::size_t start) const {
    const std::size_t capacity = sectors * kSlotsPerSector;
    if (slots_.size() > capacity || (capacity > 0 && start >= capacity)) {
        throw std::length_error("log image: the log does not fit");
    }
    const std::size_t beforeWrap = capacity - start;
    if (start > 0 && beforeWrap < slots_.size() && kinds_[beforeWrap - 1] == Kind::kWaypointMarker) {
        throw std::invalid_argument("log image: a waypoint marker on the last slot before the wrap");
    }
    std::vector<std::uint8_t> image(sectors * kSectorSize, 0xFF);
    for (std::size_t s = 0; s < sectors; ++s) {
        FillHeader(image.data() + s * kSectorSize, s);
    }
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const std::size_t slot = (start + i) % capacity;
        const std::size_t offset = slot / kSlotsPerSector * kSectorSize + kHeaderSize + slot % kSlotsPerSector * kSlotSize;
        std::memcpy(image.data() + offset, slots_[i].data(), kSlotSize);
    }
    return image;
}

std::vector<LogImage::Segment> LogImage::ExpectedSegments() const {
    std::vector<Segment> segments(1);
    std::vector<bool> started(1, false);
    bool waypoint = false;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        Kind kind = kinds_[i];
        if (kind == Kind::kWaypointMarker) {
            waypoint = true;
            if (++i == slots_.size()) {
                break;
            }
            // The slot after the marker is a record whatever it holds.
            kind = kinds_[i] == Kind::kKept ? Kind::kKept : Kind::kDropped;
        }
        if (kind == Kind::kSegmentMarker) {
            segments.emplace_back();
            started.push_back(false);
            continue;
        }
        if (kind != Kind::kKept) {
            continue;
        }
        Segment& seg = segments.back();
        const std::uint32_t t = TimeOf(slots_[i]);
        if (!started.back()) {
            seg.startTime = t;
            started.back() = true;
        }
        seg.finishTime = t;
        if (!waypoint) {
            seg.trackBytes.insert(seg.trackBytes.end(), slots_[i].begin(), slots_[i].end());
        }
        waypoint = false;
    }
    std::vector<Segment> out;
    for (std::size_t j = 0; j < segments.size(); ++j) {
        if (started[j]) {
            out.push_back(std::move(segments[j]));
        }
    }
    return out;
}

std::vector<std::uint8_t> LogImage::ExpectedWaypointBytes() const {
    std::vector<std::uint8_t> out;
    bool waypoint = false;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (kinds_[i] == Kind::kWaypointMarker) {
            waypoint = true;
            if (++i < slots_.size() && kinds_[i] == Kind::kKept) {
                out.insert(out.end(), slots_[i].begin(), slots_[i].end());
                waypoint = false;
            }
            continue;
        }
        if (kinds_[i] == Kind::kKept && waypoint) {
            out.insert(out.end(), slots_[i].begin(), slots_[i].end());
            waypoint = false;
        }
    }
    return out;
}

std::vector<std::uint8_t> LogImage::ExpectedSourceBytes(std::size_t sectors, std::size_t start) const {
    std::vector<std::uint8_t> out;
    const std::size_t capacity = sectors * kSlotsPerSector;
    for (std::size_t slot = 0; slot < capacity; ++slot) {
        const std::size_t i = (slot + capacity - start) % capacity;
        if (i < slots_.size() && kinds_[i] != Kind::kSkipped) {
            out.insert(out.end(), slots_[i].begin(), slots_[i].end());
        }
    }
    return out;
}

bool LogImage::HasWaypointMarker() const {
    for (Kind k : kinds_) {
        if (k == Kind::kWaypointMarker) {
            return true;
        }
    }
    return false;
}

std::vector<LogImage::ExpectedFile> LogImage::ExpectedFiles(const std::string& user, long offsetSeconds,
                                                            bool total) const {
    const std::vector<Segment> segments = ExpectedSegments();
    const std::string prefix = user + "_L-731_";
    std::vector<ExpectedFile> out;
    std::set<std::string> names;
    ExpectedFile all;
    for (const Segment& seg : segments) {
        const std::string base = prefix + "Start_" + TimeText(seg.startTime, offsetSeconds) + "_Finish_" +
                                 TimeText(seg.finishTime, offsetSeconds);
        std::string name = base;
        for (int n = 2; names.count(name) != 0; ++n) {
            name = base + "_" + std::to_string(n);
        }
        names.insert(name);
        out.push_back({name + ".trl", seg.trackBytes});
        all.bytes.insert(all.bytes.end(), seg.trackBytes.begin(), seg.trackBytes.end());
    }
    if (total) {
        const std::string start = segments.empty() ? "" : TimeText(segments.front().startTime, offsetSeconds);
        const std::string finish = segments.empty() ? "" : TimeText(segments.back().finishTime, offsetSeconds);
        all.name = prefix + "Total_Start_" + start + "_Finish_" + finish + ".trl";
        out.push_back(std::move(all));
    }
    if (HasWaypointMarker()) {
        out.push_back({prefix + "Waypoints.trl", ExpectedWaypointBytes()});
    }
    return out;
}

}  // namespace sim
