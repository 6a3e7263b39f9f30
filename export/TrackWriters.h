// The track file writers: a .trl track log (16-byte records, see
// tracklog/TrackLogRecord.h) as a text table, a KML 2.1 document, NMEA $GPRMC
// sentences or a GPX 1.0 document.
//
// Records: a record is used when its checksum holds (RecordChecksum) and it
// can be written: utcTime below 2^31, latitude and longitude finite and on
// the globe (|lat| <= 90, |lon| <= 180), height finite. Any other record is
// skipped by every writer, is not counted and takes no "Point %d" number.
//
// Output forms (numbers in the C locale, whatever the process locale is):
//   text  "%4.7f,%4.7f,%4.2f,<asctime>" of longitude, latitude, height and
//         the local time, e.g.
//         121.5000000,24.7500000,127.50,Mon Dec 11 12:00:00 2006
//   KML   head, four style groups (TLP_Start, TLP_Finish, TLP_Normal,
//         TLP_Photo), roadStyle, the route as one coordinates line
//         "lon,lat,h " per point, then a waypoints folder with one Placemark
//         per point named by its local time; the first point takes
//         #styleMap_TLP_Start, the last (of two or more) #styleMap_TLP_Finish,
//         the others #styleMap_TLP_Normal. Every text stands on a line of
//         its own: "<name>", the time, "</name>"; "<styleUrl>", the
//         reference, "</styleUrl>"; "<coordinates>", the point,
//         "</coordinates>". Only the route line ends in "</coordinates>"
//         directly after its last blank.
//   NMEA  one $GPRMC sentence per point, UTC, lower-case checksum, CR LF:
//         $GPRMC,040000,A,2445.000000,N,12130.000000,E,0,0,111206,,*1a
//   GPX   head, every point as <wpt> (ele, time, name "Point %d"), then the
//         same points as <rtept> in one <rte> named Route; "%f" coordinates,
//         "%.2f" heights, UTC times. ele stands before time, the order of
//         the GPX 1.0 schema.
// Local time (text, KML) comes from support/ProcessZone.h, in the asctime
// form "Www Mmm dd hh:mm:ss yyyy" with the day blank-padded; NMEA and GPX
// use UTC.
//
// Line ends: text, KML and GPX lines end as the caller asks (LineEnd; the
// callers' choices are the constants below); NMEA sentences always end CR LF.
//
// The writers keep no state and take no lock; call them from any thread.
//
// Adding a format: a writer here (records in, bytes out); a row in
// kTrackFormats (its code, Convert's suffix and MakeOutputFileName's);
// golden outputs of tests/data/tracks/small.trl per caller under
// tests/data/tracks/, listed in the golden runner; a reader check in the
// gpsbabel test when gpsbabel reads the format.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tracklog/TrackLogRecord.h"

namespace track_writers {

enum class LineEnd { Lf, CrLf };

// Line ends each caller's files had: the format page and the per-file KML
// conversion after an upload wrote through text-mode streams (CR LF); the
// upload's own text and KML outputs are binary streams (LF).
inline constexpr LineEnd kFormatPageLineEnd = LineEnd::CrLf;
inline constexpr LineEnd kSegmentKmlLineEnd = LineEnd::CrLf;
inline constexpr LineEnd kUploadLineEnd = LineEnd::Lf;

// Output codes as the page's currentFormat and MakeOutputFileName know them.
enum class TrackFormat { Text = 0, Kml = 1, Nmea = 2, Gpx = 3 };
inline constexpr int kTrackFormatCount = 4;

struct TrackFormatInfo {
    TrackFormat format;
    std::string_view name;           // for messages: "Text", "KML", "NMEA", "GPX"
    std::string_view convertSuffix;  // replaces the last 4 characters of the source path
    std::string_view extension;      // MakeOutputFileName: after the last "."; empty for NMEA
};
// In Convert's order: text, KML, NMEA, GPX.
extern const std::array<TrackFormatInfo, kTrackFormatCount> kTrackFormats;
const TrackFormatInfo& FormatInfo(TrackFormat format);

// True when the record can be written by every writer (see above).
bool IsWritableRecord(const TrackLogRecord& record);
// The records of a .trl image whose checksum holds, in file order; a trailing
// piece shorter than a record is ignored.
std::vector<TrackLogRecord> ReadTrackRecords(std::span<const std::uint8_t> bytes);
// The same from a stream, read from its beginning. False on a read error.
bool ReadTrackRecords(std::FILE* source, std::vector<TrackLogRecord>& records);
// The same from a file, opened so that a FIFO or device cannot block
// (support/SourceFile.h). False (errno or kNotRegularFile in *error) when
// it is not a regular file or cannot be read.
bool ReadTrackFile(const std::string& path, std::vector<TrackLogRecord>& records, int* error = nullptr);

// The writers append the whole document to out.
void WriteText(std::span<const TrackLogRecord> records, LineEnd lineEnd, std::string& out);
void WriteKml(std::span<const TrackLogRecord> records, LineEnd lineEnd, std::string& out);
void WriteNmea(std::span<const TrackLogRecord> records, std::string& out);
void WriteGpx(std::span<const TrackLogRecord> records, LineEnd lineEnd, std::string& out);
// One of the four by code.
void WriteFormat(TrackFormat format, std::span<const TrackLogRecord> records, LineEnd lineEnd,
                 std::string& out);
// The same written to a stream in pieces of about 1 MiB (the stream is not
// closed). False when a write failed.
bool WriteFormat(TrackFormat format, std::span<const TrackLogRecord> records, LineEnd lineEnd,
                 std::FILE* output);

// Stream forms for callers that hold streams (the log upload): the source is
// read from its beginning, the document written to output. Neither stream
// is closed. False when the source could not be read or the output not
// written (nothing is written when the source fails).
bool WriteText(std::FILE* source, std::FILE* output, LineEnd lineEnd);
bool WriteKml(std::FILE* source, std::FILE* output, LineEnd lineEnd);
bool WriteNmea(std::FILE* source, std::FILE* output);
bool WriteGpx(std::FILE* source, std::FILE* output, LineEnd lineEnd);

// One $GPRMC sentence with its checksum and CR LF, appended to out. False
// (nothing appended) when the time or a coordinate cannot be written.
bool FormatGprmc(std::string& out, float longitude, float latitude, std::uint32_t utcTime);
// XOR of the characters after the first one ("$") up to the first "*", CR or
// LF.
std::uint8_t NmeaChecksum(std::string_view sentence);

// The 24 characters "Www Mmm dd hh:mm:ss yyyy" of the local time, appended
// to out. False (nothing appended) when the local time cannot be formed.
bool AppendAscTime(std::string& out, std::uint32_t utcTime);

// Index of the last c among text[n], text[n-1], ..., text[1]; n when none is
// (and when n is beyond the text).
std::size_t ReverseFindChar(std::string_view text, char c, std::size_t n);
// The name with its extension replaced: "txt", "kml" or "gpx" after the last
// ".", or the "." and what follows replaced by "NMEA.txt"; a_b.trl gives
// a_b.txt, a_b.kml, a_bNMEA.txt, a_b.gpx. The "." must lie in the last path
// component and not at index 0; otherwise (and for an unknown type) the
// result is empty: there is no output name to write to.
std::string MakeOutputFileName(std::string_view name, int type);

// Value of a hexadecimal text: upper-cased, an optional leading "0X"
// skipped, digits up to the first other character.
std::uint32_t HexToInt(std::string_view text);
// Reverses the byte order of each of the record's four 32-bit words.
void ReverseRecordByteOrder(std::span<std::uint8_t, kTrackLogRecordSize> record);

}  // namespace track_writers
