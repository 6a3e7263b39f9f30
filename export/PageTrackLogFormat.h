// The format conversion page (template 136): the user picks a track-log file
// (.trl), the time zone of its local times (the 26-row zone table of
// export/TimeZoneRule.h) and any of four outputs, and Convert writes them
// beside the source: text (.txt), KML (.kml), NMEA $GPRMC (NMEA.txt) and GPX
// (.gpx), in that order. The page is built hidden and has no tab.
//
// The page is thin: Convert is track_writers::ConvertTrackLogInZone
// (export/TrackConversion.h), the writers are export/TrackWriters.h. The
// page starts with KML chosen and the machine's own zone (a machine on UTC
// selects "0"; a zone no row names, such as UTC+14, selects no row and is
// the zone Convert applies); Default All puts the combo on "0" and KML alone back.
//
// Messages about files carry string 300 as caption: string 380 with the stop
// icon when no source is chosen, and one box per output that could not be
// written (error icon). The status line shows string 361 only when every
// chosen output was written.
//
// Other pages use the page's writers: the log upload writes its own text and
// KML outputs through the stream forms of WriteText and WriteKml (LF line
// ends), and the KML of each .trl file after an upload through the path form
// of WriteKml with the name MakeOutputFileName gives (CR LF). The writers
// touch no page state and may run on any thread; everything else runs on the
// UI thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "export/TrackConversion.h"
#include "export/TrackWriters.h"
#include "ui/Page.h"

class CPageTrackLogFormat : public CPage {
public:
    CPageTrackLogFormat();

    bool OnInitDialog() override;
    void ApplyAll() override {}
    void DefaultAll() override;

    // Handlers.
    void OnButtonConvert();
    void OnRadioFormat();
    void OnButtonBrowseSource();
    void OnSelchangeComboTimeZone();
    void OnCheckFormat();

    // The default zone (saved label or the machine's zone); stores it as the
    // settings' photo time zone.
    void InitTimeZone();
    // InitTimeZone again; nothing calls it.
    void RefreshTimeZone() { InitTimeZone(); }
    // The writer of currentFormat from source into output, with the page's
    // line ends (CR LF). Neither stream is closed. False when nothing could
    // be read or written, and for an unknown format.
    bool ConvertFile(std::FILE* source, std::FILE* output) const;

    // The writers as the log upload calls them on this page: the source
    // stream read from its beginning, the document written to output with LF
    // line ends (the upload's own files; NMEA sentences end CR LF). Neither
    // stream is closed. False when the source could not be read or the
    // output not written.
    static bool WriteText(std::FILE* source, std::FILE* output);
    static bool WriteKml(std::FILE* source, std::FILE* output);
    static bool WriteNmea(std::FILE* source, std::FILE* output);
    static bool WriteGpx(std::FILE* source, std::FILE* output);
    // The KML of one .trl file, as the conversion after an upload writes it
    // (CR LF): the source read whole first, the output written beside its
    // target and renamed into place; an output that is the source itself is
    // refused. *error gets errno of a failure.
    static track_writers::OutputStatus WriteKml(const std::string& trlPath, const std::string& kmlPath,
                                                int* error = nullptr);
    // a_b.trl gives a_b.txt, a_b.kml, a_bNMEA.txt, a_b.gpx for types 0 to 3;
    // empty when the name has no extension to replace or the type is unknown.
    static std::string MakeOutputFileName(std::string_view name, int type);

    // The writers' helpers, reachable through the page as well.
    static bool FormatGprmc(std::string& out, float longitude, float latitude, std::uint32_t utcTime);
    static std::uint8_t NmeaChecksum(std::string_view sentence);
    static std::uint8_t RecordChecksum(std::span<const std::uint8_t, kTrackLogRecordSize> record);
    static std::size_t ReverseFindChar(std::string_view text, char c, std::size_t n);
    static std::uint32_t HexToInt(std::string_view text);
    static void ReverseRecordByteOrder(std::span<std::uint8_t, kTrackLogRecordSize> record);

    const std::string& SourcePath() const { return sourcePath_; }
    // What the last Convert did.
    const track_writers::ConvertResult& LastResult() const { return lastResult_; }

    // The machine's standard offset in seconds east of UTC, from which
    // InitTimeZone derives the default zone. Replaceable for tests.
    std::function<long()> machineStandardOffset;

    int zone = 0;  // hours east of UTC
    int outputText = 0;
    int outputKml = 0;
    int outputNmea = 0;
    int outputGpx = 0;
    int currentFormat = 0;  // 0 text, 1 KML, 2 NMEA, 3 GPX
    int radioFormat = 0;

private:
    void LoadCaptions();
    void NameSilentControls();
    void ShowOutputs(const track_writers::OutputChoice& outputs);

    std::string sourcePath_;
    track_writers::ConvertResult lastResult_;
};
