// The format page's Convert as one call: a .trl file into the chosen outputs
// beside it, in the order text, KML, NMEA, GPX.
//
// Sequence:
//   1. An empty source path: nothing happens (the page shows string 380).
//   2. The zone is applied (zone_rule::ApplyZone), also when no output is
//      chosen.
//   3. With at least one output chosen the source is read whole, before any
//      output is created, so no output can empty or shorten it. A source
//      that cannot be read writes nothing.
//   4. Each chosen output is named by replacing the source path's last four
//      characters: ".txt", ".kml", "NMEA.txt" (four longer), ".gpx"
//      (t.trl gives t.txt, t.kml, tNMEA.txt, t.gpx). A source whose file
//      name is shorter than four characters has no output names and is
//      refused. An output that would be the source file itself (the same
//      name, or another name of the same file) is skipped. An output that
//      cannot be created or written is skipped; the others are still
//      written. Each is written whole beside its target and renamed into
//      place (support/AtomicFile.h), so a failed write leaves the old file.
// Line ends are the format page's: CR LF throughout.
//
// The result says per format what happened; the page shows the done text
// only when AllWritten() and a message (caption string 300) for each
// format that failed, with FormatMessage's text.
//
// Use on the format page (OnButtonConvert), with its members:
//   an empty source path: message box string 380, caption string 300, stop
//   icon, nothing else;
//   status 1066 := string 360;
//   result := ConvertTrackLogInZone(sourcePath,
//                 {outputText, outputKml, outputNmea, outputGpx}, zone)
//   (zone is 13 - the combo's selection, or the default zone);
//   for each format whose FormatMessage is not empty: a message box with it,
//   caption string 300, error icon;
//   status 1066 := string 361 when result.AllWritten(), else emptied.
// Default All: combo row zone_rule::kUtcRow, zone 0, the outputs
// kDefaultOutputs (KML only).
//
// Runs on the calling thread, which waits for the outputs: each chosen
// output is formatted and written on a thread of its own (all joined before
// the call returns), and the finished files are put in place in the order
// text, KML, NMEA, GPX. It touches no page, only the chosen zone (atomic)
// and the files.
#pragma once

#include <array>
#include <string>

#include "export/TrackWriters.h"

namespace track_writers {

// The page's four output flags, indexed by TrackFormat.
using OutputChoice = std::array<bool, kTrackFormatCount>;
// What the page starts with and Default All restores: KML only.
inline constexpr OutputChoice kDefaultOutputs = {false, true, false, false};

enum class SourceStatus {
    Read,          // read (or not needed: no output chosen)
    NoSource,      // empty path
    NameTooShort,  // file name shorter than the four characters replaced
    Unreadable,    // not a regular file, or cannot be opened or read; error
                   // holds errno or kNotRegularFile
};

enum class OutputStatus {
    NotChosen,
    Written,
    NotWrittenSourceFailed,  // the source was refused or unreadable
    SameAsSource,            // the output name is the source file itself
    CannotCreate,            // error holds errno
    WriteFailed,             // error holds errno (EIO when unknown)
};

struct OutputResult {
    OutputStatus status = OutputStatus::NotChosen;
    std::string path;  // the output name (empty when the source was refused)
    int error = 0;
    long points = 0;   // points written
};

struct ConvertResult {
    SourceStatus source = SourceStatus::Read;
    int sourceError = 0;
    long records = 0;  // valid records in the source
    std::array<OutputResult, kTrackFormatCount> outputs{};

    // Every chosen output written (true when none was chosen).
    bool AllWritten() const;
    const OutputResult& Output(TrackFormat format) const {
        return outputs[static_cast<std::size_t>(format)];
    }
};

// Convert with the zone of a combo row (zone = 13 - row). A row outside the
// table leaves the chosen zone as it is.
ConvertResult ConvertTrackLog(const std::string& sourcePath, const OutputChoice& outputs, int zoneRow);
// The same with the zone in hours east of UTC (the page's zone when the
// machine's zone had no row).
ConvertResult ConvertTrackLogInZone(const std::string& sourcePath, const OutputChoice& outputs,
                                    int zoneHours);

// One output from one .trl file, as the conversions after a log upload need
// it (the KML of each segment file, with kSegmentKmlLineEnd): the source is
// read first, the output written beside its target and renamed into place.
// Refuses (SameAsSource) an output that is the source file itself.
OutputStatus WriteTrackFile(const std::string& sourcePath, const std::string& outputPath,
                            TrackFormat format, LineEnd lineEnd, int* error = nullptr);

// Output name of a format under Convert's rule; empty when the file name is
// shorter than four characters.
std::string ConvertOutputName(const std::string& sourcePath, TrackFormat format);

// A one-line text for a format that was chosen and not written, naming the
// format, the file and the reason; empty for NotChosen and Written.
std::string FormatMessage(TrackFormat format, const OutputResult& output, const ConvertResult& result);

}  // namespace track_writers
