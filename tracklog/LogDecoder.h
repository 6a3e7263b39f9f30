// Decoding of the logger's 2 MiB log memory into track-log (.trl) files.
//
// Log memory: 32 sectors of 64 KiB (0x10000 bytes). Bytes 0 to 511 of a
// sector are its header, which is not interpreted; bytes 512 to 65535 are
// 4,064 slots of 16 bytes. Slot kinds, tested in this order:
//   1. segment marker  "ORVIKTK511LOGGER" (16 ASCII bytes): a new segment
//   2. separator       bytes 0-6 all 0xAA, 12-15 all 0xBB (7-11 anything)
//   3. empty           all 16 bytes 0xFF
//   4. waypoint marker "ORVIKTK511WAYPNT": the next slot is a waypoint
//                      record, judged as a record without any other test;
//                      when it is not valid, or the marker ends a sector,
//                      the next valid record stored is the waypoint
//   5. anything else   a TrackLogRecord, kept when valid
// A record is valid when its checksum holds and the calendar year of its
// utcTime in local time lies within the current UTC year +-3. utcTime is
// read as a signed 32-bit number; a negative one (2^31 and above) is never
// valid, even with a clock whose window reaches back before 1970.
//
// Tables: storedRecords holds the valid records and the segment markers in
// memory order, with one kind byte per entry (track record, waypoint record,
// segment marker). A backward step in time marks where a wrapped log starts
// (the last such step wins); orderedRecords is storedRecords rotated so that
// entry comes first. The tables grow as needed (at most 32 x 4,064 entries);
// ResetUploadBuffers reserves that much so decoding allocates nothing per
// record.
//
// The ordered table is rebuilt once, when it is first asked for after a
// DecodeSector (OrderedRecords, WriteTrlFiles), not after every sector: the
// result is the same as rebuilding after each sector, without the work over
// everything stored so far each time.
//
// .trl names (folder + user name, with separators and ".." made harmless):
//   <user>_L-731_Start_<start>_Finish_<finish>.trl           one per segment
//   <user>_L-731_Total_Start_<start>_Finish_<finish>.trl     when asked for
//   <user>_L-731_Waypoints.trl                               with waypoints
// where a time is "%04d%02d%02d-%02d%02d%02d" in the program's local time
// (support/ProcessZone.h). Two segments with the same name get "_2", "_3",
// ... before ".trl", so no file of one run replaces another of that run.
// Every file is written through AtomicFile; a file that cannot be written is
// reported on the status list and skipped.
//
// Locking: none. One upload uses the decoder at a time, on its worker thread;
// the host's calls come from that thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tracklog/TrackLogRecord.h"

class AtomicFile;

// What the decoder needs from the pages around it: the status list of the
// track-log file status dialog and the KML converters of the format and photo
// pages. Calls come from the upload worker's thread.
class TrlConversionHost {
public:
    virtual ~TrlConversionHost() = default;
    // Shows the file status list (before the first file is written).
    virtual void ShowStatusList() {}
    // One line of the file status list.
    virtual void AddStatusLine(const std::string& line) = 0;
    // Plain KML of a .trl file. False when either file could not be used.
    virtual bool WriteKml(const std::string& trlPath, const std::string& kmlPath) = 0;
    // KML with photo links (UTF-16) of a .trl file.
    virtual bool ConvertWithPhotos(const std::string& trlPath, const std::string& kmlPath,
                                   const std::string& photoFolder) = 0;
};

constexpr std::size_t kLogSectorSize = 0x10000;
constexpr std::size_t kLogSectorHeaderSize = 512;
constexpr std::size_t kLogSlotsPerSector = (kLogSectorSize - kLogSectorHeaderSize) / kTrackLogRecordSize;
constexpr std::size_t kLogSectorCount = 32;
constexpr std::size_t kLogMaxSlots = kLogSectorCount * kLogSlotsPerSector;

using LogSector = std::span<const std::uint8_t, kLogSectorSize>;
using PackedSector = std::span<std::uint8_t, kLogSectorSize>;

class LogDecoder {
public:
    // Kind of an entry of the stored and ordered tables.
    enum EntryKind : std::uint8_t { kTrackRecord = 0, kWaypointRecord = 1, kSegmentMarker = 2 };

    // Seconds since 1970 UTC, for the year window. Empty: the system clock.
    using UtcClock = std::function<std::int64_t()>;

    explicit LogDecoder(UtcClock utcNow = {});

    // Clears every table, counter and index before an upload.
    void ResetUploadBuffers();

    // Packs the slots from offset 512 that are neither separators nor empty
    // to the front of packed, in order; the rest of packed is zeroed.
    // Returns the bytes packed.
    static std::size_t CompactSector(LogSector sector, PackedSector packed);

    // Takes the next sector in address order.
    void DecodeSector(LogSector sector);

    // Writes the .trl files into folder (put in front of every path, with a
    // '/' added when it lacks one). Status lines go to host.
    void WriteTrlFiles(const std::string& folder, const std::string& userName,
                       bool writeTotalTrackLog, TrlConversionHost& host);

    // Converts every .trl file the last WriteTrlFiles wrote, to
    // name + ".kml": plain, or with photo links from photoFolder.
    void ConvertTrlToKml(TrlConversionHost& host);
    void ConvertTrlToKmlUnicode(TrlConversionHost& host, const std::string& photoFolder);

    // The state of the last upload.
    const std::vector<TrackLogRecordBytes>& StoredRecords() const { return storedRecords_; }
    const std::vector<std::uint8_t>& StoredKinds() const { return storedKinds_; }
    const std::vector<TrackLogRecordBytes>& OrderedRecords();
    const std::vector<std::uint8_t>& OrderedKinds();
    bool WrapFound() const { return wrapFound_; }
    int WrapStartIndex() const { return wrapStartIndex_; }
    int WrapEndIndex() const { return wrapEndIndex_; }
    int SegmentMarkerCount() const { return segmentMarkerCount_; }
    int StoredRecordCount() const { return static_cast<int>(storedRecords_.size()); }
    int SegmentCount() const { return segmentMarkerCount_ + 1; }
    int ValidRecordCount() const { return validRecordCount_; }
    int WaypointCount() const { return waypointCount_; }
    std::int32_t PreviousTime() const { return previousTime_; }
    std::int32_t CurrentTime() const { return currentTime_; }

    // Paths without ".trl" of the files the last WriteTrlFiles wrote: one
    // entry per segment range, empty where the range gave no file.
    const std::vector<std::string>& SegmentFileNames() const { return segmentFileNames_; }
    // Empty when the file was not written.
    const std::string& TotalFileName() const { return totalFileName_; }
    const std::string& WaypointFileName() const { return waypointFileName_; }

    // The local time text of a file name, "%04d%02d%02d-%02d%02d%02d".
    static std::string FileTimeText(std::uint32_t utcTime);
    // Whether a record passes the checksum and the year window for the given
    // current UTC year.
    static bool RecordValid(std::span<const std::uint8_t, kTrackLogRecordSize> record, int currentUtcYear);

private:
    struct YearWindow;
    YearWindow MakeYearWindow() const;
    void RebuildOrdered();
    void StoreEntry(const std::uint8_t* slot, EntryKind kind);

    UtcClock utcNow_;
    std::vector<TrackLogRecordBytes> storedRecords_;
    std::vector<std::uint8_t> storedKinds_;
    std::vector<TrackLogRecordBytes> orderedRecords_;
    std::vector<std::uint8_t> orderedKinds_;
    bool orderedStale_ = false;
    bool waypointPending_ = false;
    bool haveTime_ = false;
    bool wrapFound_ = false;
    int wrapStartIndex_ = 0;
    int wrapEndIndex_ = 0;
    int segmentMarkerCount_ = 0;
    int validRecordCount_ = 0;
    int waypointCount_ = 0;
    std::int32_t previousTime_ = 0;
    std::int32_t currentTime_ = 0;
    std::vector<std::string> segmentFileNames_;
    std::string totalFileName_;
    std::string waypointFileName_;
};

// Writes every 16-byte slot of packed that is neither all 0xFF nor all 0x00
// to the source record file. False when the file is not open or a write
// failed.
bool WriteSectorRaw(std::span<const std::uint8_t, kLogSectorSize> packed, AtomicFile& file);

// Fills out with the bytes of hex pairs ("4A0b..."), byte i from characters
// 2i and 2i+1. Stops where hex ends; returns the bytes written.
std::size_t HexPairsToBytes(std::string_view hex, std::span<std::uint8_t> out);
