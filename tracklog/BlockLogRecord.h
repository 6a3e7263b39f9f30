// The records of a track read out over the block-transfer protocol, their
// decoding and the files the read-out writes.
//
// A read-out block carries 512 data bytes: 32 records of 16 bytes,
// little-endian:
//
//   offset 0   int32   longitude  degrees x 10^7, east positive
//   offset 4   int32   latitude   degrees x 10^7, north positive
//   offset 8   int32   height     metres x 100
//   offset 12  uint32  time       seconds since 1970-01-01 00:00 UTC
//
// A record of sixteen 0xFF bytes is empty and skipped.
//
// The decoded-record store keeps, per read-out, every decoded record, its
// time text (asctime form of the local time in the program's zone, 24
// characters and a line end: "Sat Sep 16 01:03:52 1973\n") and the
// coordinates text of the route ("%4.7f,%4.7f,%4.2f " per record). It grows
// as records come; Clear starts the next read-out from nothing.
//
// Output modes of a read-out: 0 the raw data bytes (".trl"), 1 one text line
// per record (".txt"), 2 a KML document written after the last block
// (".kml"). The text and KML outputs are written in text mode: every LF goes
// to the file as CR LF, so
// the KML declaration line ends CR LF, the document's own lines (CR LF in
// the document) end CR CR LF and each name's time text ends CR LF.
//
// TrackLogOutputFile writes one read-out's output through an AtomicFile: the
// target is replaced only by Commit, after the last block. It belongs to the
// worker that runs the read-out; nothing in it locks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/AtomicFile.h"

constexpr std::size_t kBlockLogRecordSize = 16;
constexpr std::size_t kBlockLogBlockBytes = 512;
constexpr std::size_t kBlockLogRecordsPerBlock = kBlockLogBlockBytes / kBlockLogRecordSize;

struct BlockLogRecord {
    std::int32_t longitude = 0;  // degrees x 10^7
    std::int32_t latitude = 0;   // degrees x 10^7
    std::int32_t height = 0;     // metres x 100
    std::uint32_t time = 0;      // seconds since 1970 UTC
};

// Output modes of the track-log setting page (its outputMode).
enum TrackLogOutputMode : int { kOutputRaw = 0, kOutputText = 1, kOutputKml = 2 };

// True when all 16 bytes are 0xFF.
bool IsEmptyBlockLogRecord(std::span<const std::uint8_t, kBlockLogRecordSize> bytes);
BlockLogRecord DecodeBlockLogRecord(std::span<const std::uint8_t, kBlockLogRecordSize> bytes);
std::array<std::uint8_t, kBlockLogRecordSize> EncodeBlockLogRecord(const BlockLogRecord& record);

// "121.5000000,24.7500000,127.50": "%4.7f,%4.7f,%4.2f" of the scaled fields.
std::string FormatBlockLogPoint(const BlockLogRecord& record);
// asctime form of the record time in the program's zone, with its line end.
std::string BlockLogTimeText(std::uint32_t utcSeconds);

// The decoded-record store of one read-out.
class BlockLogStore {
public:
    void Clear();
    std::size_t Count() const { return records_.size(); }
    const BlockLogRecord& Record(std::size_t i) const { return records_[i]; }
    const std::string& TimeText(std::size_t i) const { return timeTexts_[i]; }
    const std::string& Coordinates() const { return coordinates_; }

    // Stores one record; with kOutputKml also appends it to the coordinates
    // text. Returns its time text.
    const std::string& Add(const BlockLogRecord& record, int outputMode);

private:
    std::vector<BlockLogRecord> records_;
    std::vector<std::string> timeTexts_;
    std::string coordinates_;
};

// Decodes one good block that was received at byte offset `offset` of a
// transfer of totalSize bytes. A block whose end lies past totalSize is not
// decoded. Empty records are skipped; the others go into the store, and
// with kOutputText their lines ("%4.7f,%4.7f,%4.2f," and the time text) are
// appended to textOut (LF line ends; the file writes them in text mode).
// Returns the number of records stored.
std::size_t DecodeTrackRecords(std::span<const std::uint8_t, kBlockLogBlockBytes> block, std::int64_t offset,
                               std::int64_t totalSize, int outputMode, BlockLogStore& store, std::string& textOut);

// The KML document of the store, built with the XML document class
// (support/Markup.h): declaration line, then one element per line.
// LF line ends of the declaration and the time texts, CR LF of the document
// (before text mode).
std::string BuildBlockLogKml(const BlockLogStore& store);

// Text-mode bytes: every LF becomes CR LF.
std::string ToTextModeBytes(std::string_view text);

// One read-out's output file.
class TrackLogOutputFile {
public:
    // Starts a read-out into path with the output mode (0, 1 or 2); the store
    // is cleared. False when the file cannot be created; error then holds
    // the errno value and nothing was started.
    bool Open(const std::string& path, int outputMode, int* error = nullptr);
    bool IsOpen() const { return file_.IsOpen(); }
    int OutputMode() const { return outputMode_; }

    // A good block at byte offset `offset` of totalSize. Raw output: the data
    // bytes go to file position offset, only the totalSize - offset bytes
    // that remain when fewer than 512 remain. Text and KML: DecodeTrackRecords
    // (text lines go to the file at once).
    bool StoreBlock(std::span<const std::uint8_t, kBlockLogBlockBytes> block, std::int64_t offset,
                    std::int64_t totalSize);

    // Ends the read-out: with KML output writes the document, then puts the
    // file in place. False when anything failed to be written; the target is
    // then left as it was.
    bool Commit();
    // Ends without a file (a read-out that failed or was cancelled).
    void Abandon();

    const BlockLogStore& Store() const { return store_; }

private:
    AtomicFile file_;
    BlockLogStore store_;
    int outputMode_ = kOutputRaw;
    bool failed_ = false;
};
