// The 16-byte track-log record: the unit of the logger's log memory and of
// every .trl file (a bare sequence of records, no header, no trailer).
//
//   offset 0   4 bytes  utcTime    unsigned seconds since 1970-01-01 UTC, LE
//   offset 4   4 bytes  latitude   IEEE-754 float, degrees, LE
//   offset 8   4 bytes  longitude  IEEE-754 float, degrees, LE
//   offset 12  3 bytes  height     the upper three bytes of an IEEE-754 float
//                                  (metres); the lowest byte reads as 0
//   offset 15  1 byte   checksum   XOR of bytes 0 to 14
//
// Readers skip records whose checksum fails; writers never write records of
// all 0xFF or all 0x00 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

constexpr std::size_t kTrackLogRecordSize = 16;
using TrackLogRecordBytes = std::array<std::uint8_t, kTrackLogRecordSize>;

struct TrackLogRecord {
    std::uint32_t utcTime = 0;
    float latitude = 0.0f;
    float longitude = 0.0f;
    float height = 0.0f;  // the lowest byte of the float is always 0
};

// XOR of bytes 0 to 14 of a 16-byte record.
std::uint8_t RecordChecksum(std::span<const std::uint8_t, kTrackLogRecordSize> record);
// True when byte 15 equals RecordChecksum.
bool RecordChecksumValid(std::span<const std::uint8_t, kTrackLogRecordSize> record);

// Reads the fields (checksum not tested).
TrackLogRecord DecodeTrackLogRecord(std::span<const std::uint8_t, kTrackLogRecordSize> record);
// The 16 bytes of a record, checksum included; the height keeps its upper
// three bytes.
TrackLogRecordBytes EncodeTrackLogRecord(const TrackLogRecord& record);
