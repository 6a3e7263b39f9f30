// The capture time of a JPEG photo from its Exif data.
//
// ReadExifDateTime walks the segments (see ExifTiff.h), follows the header's
// offset to IFD0, the Exif IFD pointer (tag 0x8769) in IFD0 and the
// DateTimeOriginal entry (0x9003) in the Exif IFD, and reads the 20-byte
// text "YYYY:MM:DD HH:MM:SS" at that entry's offset. The fields are read as
// atoi reads them (the separators are not examined) and taken as local time
// of the program's zone (support/ProcessZone.h), the way mktime takes a
// calendar time with the daylight-saving flag 0: out-of-range fields carry
// over (month 13 is January of the next year). The result is 64-bit seconds
// since 1970-01-01 00:00:00 UTC, so years after 2038 are read; a result
// before 1970 (a year 0, or all digits zero) is a failure.
//
// An IFD0 whose entry count is 0 takes its count from the 16 bits that
// follow, with the entries 2 bytes later.
//
// Failure texts: exif::kNotExifText when no Exif segment comes before any
// other kind of segment or the byte-order mark is wrong; texts.noDateTime
// when IFD0 has no Exif IFD pointer or the Exif IFD has no DateTimeOriginal;
// texts.badDateTime when the date cannot be converted or its entry is too
// short to point to a text (4 bytes or less); kNotFileText when the
// path is not a regular file that can be opened; kBadLayoutText when an
// offset leads outside the Exif segment.
//
// Reads only the segment heads and the Exif segment. No state; any thread
// (the zone is read atomically).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

inline constexpr const char* kNotFileText = "Not a readable file.";
inline constexpr const char* kBadLayoutText = "EXIF offsets outside the EXIF segment.";

// Texts of the string table for two of the failures; the table holds none of
// them, so both are empty by default.
struct ExifTimeTexts {
    std::string noDateTime;   // string 387
    std::string badDateTime;  // string 388
};

// failed is 0 with an empty message and the capture time, or 1 with the
// failure text and captureTime 0.
void ReadExifDateTime(const std::string& path, std::int64_t& captureTime, int& failed,
                      std::string& message, const ExifTimeTexts& texts = {});

// The same on a file held in memory.
void ReadExifDateTimeFromBytes(std::span<const std::uint8_t> file, std::int64_t& captureTime,
                               int& failed, std::string& message,
                               const ExifTimeTexts& texts = {});

// Seconds since 1970 UTC of a local calendar time in the program's zone,
// normalised as mktime normalises. Empty when it cannot be represented.
std::optional<std::int64_t> LocalCalendarToUtc(int year, int month, int day, int hour,
                                               int minute, int second);
