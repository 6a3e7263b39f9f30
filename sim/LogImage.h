// The logger's log memory as the device fills it, for tests and benchmarks.
//
// A LogImage is the log as written, slot by slot, oldest first: records,
// segment markers, waypoint markers, separators and empty slots. Build lays
// it into 64 KiB sectors from the first slot of sector 0 (each sector: a
// 512-byte header, then 4,064 slots of 16 bytes; what is left is 0xFF);
// BuildWrapped lays it as a log that has gone round the memory: its oldest
// slot at a given slot index, running to the end and on from slot 0.
//
// The image frames its records with its own code and knows, from how it was
// built, which slots a reader must keep; it exports the .trl files a reader
// must write (segments, total, waypoints) as ground truth.
//
// Record slot: utcTime LE u32, latitude LE float, longitude LE float, the
// upper three bytes of the height float, XOR of bytes 0 to 14.
// Segment marker "ORVIKTK511LOGGER"; waypoint marker "ORVIKTK511WAYPNT"
// (the next slot holds the waypoint); separator: 7 x 0xAA, 5 free bytes,
// 4 x 0xBB; empty: 16 x 0xFF.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct LogFix {
    std::uint32_t utcTime = 0;
    float latitude = 0.0f;
    float longitude = 0.0f;
    float height = 0.0f;
};

class LogImage {
public:
    static constexpr std::size_t kSectorSize = 0x10000;
    static constexpr std::size_t kHeaderSize = 512;
    static constexpr std::size_t kSlotSize = 16;
    static constexpr std::size_t kSlotsPerSector = (kSectorSize - kHeaderSize) / kSlotSize;
    using Slot = std::array<std::uint8_t, kSlotSize>;

    // A track record the reader keeps.
    LogImage& Record(const LogFix& fix);
    // A waypoint marker and its record.
    LogImage& Waypoint(const LogFix& fix);
    // A waypoint marker alone: the next kept record is the waypoint.
    LogImage& WaypointMarker();
    LogImage& SegmentMarker();
    LogImage& Separator(std::uint8_t middle = 0x5A);
    LogImage& Empty();
    // A record whose checksum is wrong.
    LogImage& BadChecksum(const LogFix& fix);
    // A record with a right checksum that the reader must drop all the same
    // (its time lies outside the reader's year window).
    LogImage& Dropped(const LogFix& fix);

    // A long log of exactly slotCount slots: a record every 5 s from
    // startTime, a segment marker every segmentEvery slots, a waypoint every
    // waypointEvery slots and a separator every 1,000 slots (0: none).
    static LogImage Synthetic(std::size_t slotCount, std::uint32_t startTime, std::size_t segmentEvery,
                              std::size_t waypointEvery);

    std::size_t SlotCount() const { return slots_.size(); }
    const std::vector<Slot>& Slots() const { return slots_; }

    // The memory image of the given number of sectors, in address order.
    std::vector<std::uint8_t> Build(std::size_t sectors) const;
    // The same for a log whose oldest slot stands at data-slot index start
    // (counted over the data slots of all sectors). A waypoint marker may not
    // stand on the last slot before the wrap.
    std::vector<std::uint8_t> BuildWrapped(std::size_t sectors, std::size_t start) const;

    // A record slot framed by the image's own code.
    static Slot Frame(const LogFix& fix);

    // Ground truth: the kept records split by the segment markers.
    struct Segment {
        std::uint32_t startTime = 0;   // first kept record, waypoints included
        std::uint32_t finishTime = 0;  // last kept record, waypoints included
        std::vector<std::uint8_t> trackBytes;  // the track records (no waypoints)
    };
    std::vector<Segment> ExpectedSegments() const;
    std::vector<std::uint8_t> ExpectedWaypointBytes() const;
    bool HasWaypointMarker() const;

    // The source record file of an image built with these arguments: every
    // slot but separators and empty ones, in address order.
    std::vector<std::uint8_t> ExpectedSourceBytes(std::size_t sectors, std::size_t start) const;

    struct ExpectedFile {
        std::string name;  // file name, no folder
        std::vector<std::uint8_t> bytes;
    };
    // The .trl files a reader writes for this log, in the order it writes
    // them: segments, total (when asked for), waypoints (when the log holds a
    // waypoint marker). Times in the fixed zone offsetSeconds east of UTC.
    std::vector<ExpectedFile> ExpectedFiles(const std::string& user, long offsetSeconds, bool total) const;

private:
    enum class Kind : std::uint8_t { kKept, kDropped, kSegmentMarker, kWaypointMarker, kSkipped };
    void Add(const Slot& slot, Kind kind);
    std::vector<Slot> slots_;
    std::vector<Kind> kinds_;
};

}  // namespace sim
