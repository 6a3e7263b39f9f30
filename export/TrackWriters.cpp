#include "export/TrackWriters.h"

#include <cerrno>
#include <cmath>
#include <utility>

#include "device/Sentence.h"
#include "export/TrackText.h"
#include "support/ProcessZone.h"
#include "support/SourceFile.h"

namespace track_writers {

const std::array<TrackFormatInfo, kTrackFormatCount> kTrackFormats = {{
    {TrackFormat::Text, "Text", ".txt", "txt"},
    {TrackFormat::Kml, "KML", ".kml", "kml"},
    {TrackFormat::Nmea, "NMEA", "NMEA.txt", ""},
    {TrackFormat::Gpx, "GPX", ".gpx", "gpx"},
}};

const TrackFormatInfo& FormatInfo(TrackFormat format) {
    return kTrackFormats[static_cast<std::size_t>(format)];
}

namespace {

using namespace track_text;

// Host of the icon images the KML styles refer to.
constexpr std::string_view kIconHost = "maps.google.com";

// Room for everything one point adds to any document.
constexpr std::size_t kPointRoom = 1024;

std::string_view Eol(LineEnd lineEnd) { return lineEnd == LineEnd::CrLf ? "\r\n" : "\n"; }

void Line(Cursor& out, std::string_view text, std::string_view eol) {
    char* p = Put(out.Room(text.size() + 2), text);
    out.Done(Put(p, eol));
}

// "%4.7f,%4.7f,%4.2f" of longitude, latitude and height (the width never
// pads: these texts are longer than 4 characters).
char* PutPoint(char* p, const TrackLogRecord& r) {
    p = PutFixed(p, r.longitude, 7);
    *p++ = ',';
    p = PutFixed(p, r.latitude, 7);
    *p++ = ',';
    return PutFixed(p, r.height, 2);
}

// "%d" of |degrees|, "0" when the minutes are below 10, "%f" of |minutes|.
char* PutDegreesMinutes(char* p, float value) {
    const int degrees = static_cast<int>(value);  // toward zero
    const float minutes = (value - static_cast<float>(degrees)) * 60.0f;
    p = PutInt(p, degrees < 0 ? -degrees : degrees);
    const float absMinutes = std::fabs(minutes);
    if (absMinutes < 10.0f) {
        *p++ = '0';
    }
    return PutFixed(p, absMinutes, 6);
}

void AppendStyleGroup(Cursor& out, std::string_view eol, std::string_view name, int normalIcon,
                      int highlightIcon) {
    auto href = [&](int icon) {
        char* p = Put(out.Room(256), "<href>http://");
        p = Put(p, kIconHost);
        p = Put(p, "/mapfiles/kml/pal4/icon");
        p = PutInt(p, icon);
        p = Put(p, ".png</href>");
        out.Done(Put(p, eol));
    };
    auto tagged = [&](std::string_view head, std::string_view tail) {
        char* p = Put(out.Room(256), head);
        p = Put(p, name);
        p = Put(p, tail);
        out.Done(Put(p, eol));
    };
    tagged("<Style id=\"normalState_", "\">");
    for (std::string_view text : {"<IconStyle>", "<scale>1.0</scale>", "<Icon>"}) Line(out, text, eol);
    href(normalIcon);
    for (std::string_view text :
         {"</Icon>", "</IconStyle>", "<LabelStyle>", "<scale>1.0</scale>", "</LabelStyle>", "</Style>"}) {
        Line(out, text, eol);
    }
    tagged("<Style id=\"highlightState_", "\">");
    for (std::string_view text : {"<IconStyle>", "<scale>1.1</scale>", "<Icon>"}) Line(out, text, eol);
    href(highlightIcon);
    for (std::string_view text : {"</Icon>", "</IconStyle>", "<LabelStyle>", "<scale>1.1</scale>",
                                  "<color>ff0000ff</color>", "</LabelStyle>", "</Style>"}) {
        Line(out, text, eol);
    }
    tagged("<StyleMap id=\"styleMap_", "\">");
    Line(out, "<Pair>", eol);
    Line(out, "<key>normal</key>", eol);
    tagged("<styleUrl>#normalState_", "</styleUrl>");
    Line(out, "</Pair>", eol);
    Line(out, "<Pair>", eol);
    Line(out, "<key>highlight</key>", eol);
    tagged("<styleUrl>#highlightState_", "</styleUrl>");
    Line(out, "</Pair>", eol);
    Line(out, "</StyleMap>", eol);
}

// The five lines of one GPX point; element is "wpt" or "rtept".
char* PutGpxPoint(char* p, std::string_view eol, std::string_view element, const TrackLogRecord& r,
                  const CivilTime& utc, long index) {
    *p++ = '<';
    p = Put(p, element);
    p = Put(p, " lat=\"");
    p = PutFixed(p, r.latitude, 6);
    p = Put(p, "\" lon=\"");
    p = PutFixed(p, r.longitude, 6);
    p = Put(p, "\">");
    p = Put(p, eol);
    p = Put(p, "<ele>");
    p = PutFixed(p, r.height, 2);
    p = Put(p, "</ele>");
    p = Put(p, eol);
    p = Put(p, "<time>");
    p = PutIsoTime(p, utc);
    p = Put(p, "</time>");
    p = Put(p, eol);
    p = Put(p, "<name><![CDATA[Point ");
    p = PutInt(p, index);
    p = Put(p, "]]></name>");
    p = Put(p, eol);
    p = Put(p, "</");
    p = Put(p, element);
    *p++ = '>';
    return Put(p, eol);
}

}  // namespace

bool IsWritableRecord(const TrackLogRecord& r) {
    return r.utcTime < 0x80000000u && std::isfinite(r.latitude) && std::isfinite(r.longitude) &&
           std::isfinite(r.height) && std::fabs(r.latitude) <= 90.0f && std::fabs(r.longitude) <= 180.0f;
}

std::vector<TrackLogRecord> ReadTrackRecords(std::span<const std::uint8_t> bytes) {
    std::vector<TrackLogRecord> records;
    records.reserve(bytes.size() / kTrackLogRecordSize);
    for (std::size_t at = 0; at + kTrackLogRecordSize <= bytes.size(); at += kTrackLogRecordSize) {
        const std::span<const std::uint8_t, kTrackLogRecordSize> record(bytes.data() + at,
                                                                         kTrackLogRecordSize);
        if (RecordChecksumValid(record)) {
            records.push_back(DecodeTrackLogRecord(record));
        }
    }
    return records;
}

bool ReadTrackRecords(std::FILE* source, std::vector<TrackLogRecord>& records) {
    records.clear();
    if (source == nullptr || std::fseek(source, 0, SEEK_SET) != 0) {
        return false;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, source)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    if (std::ferror(source)) {
        return false;
    }
    records = ReadTrackRecords(bytes);
    return true;
}

bool ReadTrackFile(const std::string& path, std::vector<TrackLogRecord>& records, int* error) {
    records.clear();
    std::FILE* source = OpenSourceStream(path, error);
    if (source == nullptr) {
        return false;
    }
    errno = 0;
    const bool ok = ReadTrackRecords(source, records);
    if (!ok && error != nullptr) {
        *error = errno != 0 ? errno : EIO;
    }
    std::fclose(source);
    return ok;
}

bool AppendAscTime(std::string& out, std::uint32_t utcTime) {
    CivilTime t;
    if (!LocalClock().Local(utcTime, t)) {
        return false;
    }
    Cursor cursor(out);
    cursor.Done(PutAscTime(cursor.Room(kMaxAscTime), t));
    return true;
}

static void TextTo(Cursor& cursor, std::span<const TrackLogRecord> records, LineEnd lineEnd) {
    const std::string_view eol = Eol(lineEnd);
    const LocalClock clock;
    cursor.Expect(records.size() * 64);
    for (const TrackLogRecord& r : records) {
        CivilTime t;
        if (!IsWritableRecord(r) || !clock.Local(r.utcTime, t)) {
            continue;
        }
        char* p = PutPoint(cursor.Room(kPointRoom), r);
        *p++ = ',';
        p = PutAscTime(p, t);
        cursor.Done(Put(p, eol));
    }
}

static void KmlTo(Cursor& cursor, std::span<const TrackLogRecord> records, LineEnd lineEnd) {
    const std::string_view eol = Eol(lineEnd);
    const LocalClock clock;
    cursor.Expect(8192 + records.size() * 240);
    Line(cursor, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", eol);
    Line(cursor, "<kml xmlns=\"http://earth.google.com/kml/2.1\">", eol);
    Line(cursor, "<Document>", eol);
    AppendStyleGroup(cursor, eol, "TLP_Start", 15, 7);
    AppendStyleGroup(cursor, eol, "TLP_Finish", 15, 7);
    AppendStyleGroup(cursor, eol, "TLP_Normal", 31, 23);
    AppendStyleGroup(cursor, eol, "TLP_Photo", 46, 38);
    for (std::string_view text : {"<Style id=\"roadStyle\">", "<LineStyle>", "<color>ffffff00</color>",
                                  "<width>6</width>", "</LineStyle>", "</Style>", "<Open>1</Open>",
                                  "<description>Route</description>", "<name>Track Log</name>",
                                  "<Placemark>", "<name>Route</name>", "<styleUrl>#roadStyle</styleUrl>",
                                  "<MultiGeometry>", "<LineString>", "<coordinates>"}) {
        Line(cursor, text, eol);
    }
    long count = 0;
    for (const TrackLogRecord& r : records) {
        if (IsWritableRecord(r)) {
            char* p = PutPoint(cursor.Room(kPointRoom), r);
            *p++ = ' ';
            cursor.Done(p);
            ++count;
        }
    }
    Line(cursor, "</coordinates>", eol);
    for (std::string_view text :
         {"</LineString>", "</MultiGeometry>", "</Placemark>", "<Folder>", "<name>waypoints</name>"}) {
        Line(cursor, text, eol);
    }
    long index = 0;
    for (const TrackLogRecord& r : records) {
        if (!IsWritableRecord(r)) {
            continue;
        }
        const long i = index++;
        CivilTime t;
        if (!clock.Local(r.utcTime, t)) {
            continue;
        }
        // Every text on a line of its own: the name, the style reference and
        // the point each stand between their start and end tag lines.
        const std::string_view style = i == 0                          ? "#styleMap_TLP_Start"
                                       : (count > 1 && i == count - 1) ? "#styleMap_TLP_Finish"
                                                                       : "#styleMap_TLP_Normal";
        char* p = cursor.Room(kPointRoom);
        for (std::string_view text : {"<Placemark>", "<name>"}) p = Put(Put(p, text), eol);
        p = Put(PutAscTime(p, t), eol);
        for (std::string_view text : {"</name>", "<styleUrl>"}) p = Put(Put(p, text), eol);
        p = Put(Put(p, style), eol);
        for (std::string_view text : {"</styleUrl>", "<Point>", "<coordinates>"}) p = Put(Put(p, text), eol);
        p = Put(PutPoint(p, r), eol);
        for (std::string_view text : {"</coordinates>", "</Point>", "</Placemark>"}) p = Put(Put(p, text), eol);
        cursor.Done(p);
    }
    Line(cursor, "</Folder>", eol);
    Line(cursor, "</Document>", eol);
    Line(cursor, "</kml>", eol);
}

namespace {

// The sentence at p; the caller has checked the record.
char* PutGprmc(char* p, float longitude, float latitude, const CivilTime& t) {
    char* const start = p;
    p = Put(p, "$GPRMC,");
    p = Put2(p, t.hour);
    p = Put2(p, t.minute);
    p = Put2(p, t.second);
    p = Put(p, ",A,");
    p = PutDegreesMinutes(p, latitude);
    p = Put(p, latitude < 0.0f ? ",S," : ",N,");
    p = PutDegreesMinutes(p, longitude);
    p = Put(p, longitude < 0.0f ? ",W," : ",E,");
    p = Put(p, "0,0,");
    p = Put2(p, t.day);
    p = Put2(p, t.month);
    p = Put2(p, static_cast<int>(t.year % 100));
    p = Put(p, ",,*");
    const std::uint8_t sum = NmeaChecksum(std::string_view(start, static_cast<std::size_t>(p - start)));
    constexpr std::string_view kHex = "0123456789abcdef";
    *p++ = kHex[sum >> 4];
    *p++ = kHex[sum & 15];
    return Put(p, "\r\n");
}

bool CanFormatGprmc(float longitude, float latitude, std::uint32_t utcTime) {
    return utcTime < 0x80000000u && std::isfinite(longitude) && std::isfinite(latitude) &&
           std::fabs(latitude) <= 90.0f && std::fabs(longitude) <= 180.0f;
}

}  // namespace

bool FormatGprmc(std::string& out, float longitude, float latitude, std::uint32_t utcTime) {
    if (!CanFormatGprmc(longitude, latitude, utcTime)) {
        return false;
    }
    Cursor cursor(out);
    cursor.Done(PutGprmc(cursor.Room(kPointRoom), longitude, latitude, CivilFromSeconds(utcTime)));
    return true;
}

std::uint8_t NmeaChecksum(std::string_view sentence) {
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i < sentence.size(); ++i) {
        const char c = sentence[i];
        if (c == '*' || c == '\r' || c == '\n') {
            break;
        }
        sum ^= static_cast<std::uint8_t>(c);
    }
    return sum;
}

static void NmeaTo(Cursor& cursor, std::span<const TrackLogRecord> records) {
    cursor.Expect(records.size() * 72);
    for (const TrackLogRecord& r : records) {
        if (IsWritableRecord(r)) {
            cursor.Done(PutGprmc(cursor.Room(kPointRoom), r.longitude, r.latitude, CivilFromSeconds(r.utcTime)));
        }
    }
}

static void GpxTo(Cursor& cursor, std::span<const TrackLogRecord> records, LineEnd lineEnd) {
    const std::string_view eol = Eol(lineEnd);
    cursor.Expect(1024 + records.size() * 320);
    for (std::string_view text :
         {"<?xml version=\"1.0\"?>", "<gpx", "version=\"1.0\"", "creator=\"Orvik Utility\"",
          "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"",
          "xmlns=\"http://www.topografix.com/GPX/1/0\"",
          "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/0 "
          "http://www.topografix.com/GPX/1/0/gpx.xsd\">"}) {
        Line(cursor, text, eol);
    }
    // Both passes number the same points from 0.
    auto pass = [&](std::string_view element) {
        long index = 0;
        for (const TrackLogRecord& r : records) {
            if (IsWritableRecord(r)) {
                cursor.Done(PutGpxPoint(cursor.Room(kPointRoom), eol, element, r, CivilFromSeconds(r.utcTime),
                                        index++));
            }
        }
    };
    pass("wpt");
    Line(cursor, "<rte>", eol);
    Line(cursor, "<name>Route</name>", eol);
    pass("rtept");
    Line(cursor, "</rte>", eol);
    Line(cursor, "</gpx>", eol);
}

namespace {

void FormatTo(Cursor& cursor, TrackFormat format, std::span<const TrackLogRecord> records, LineEnd lineEnd) {
    switch (format) {
        case TrackFormat::Text: TextTo(cursor, records, lineEnd); break;
        case TrackFormat::Kml: KmlTo(cursor, records, lineEnd); break;
        case TrackFormat::Nmea: NmeaTo(cursor, records); break;
        case TrackFormat::Gpx: GpxTo(cursor, records, lineEnd); break;
    }
}

template <typename Write>
bool WriteFromStream(std::FILE* source, std::FILE* output, Write write) {
    std::vector<TrackLogRecord> records;
    if (output == nullptr || !ReadTrackRecords(source, records)) {
        return false;
    }
    return write(records);
}

}  // namespace

void WriteText(std::span<const TrackLogRecord> records, LineEnd lineEnd, std::string& out) {
    Cursor cursor(out);
    TextTo(cursor, records, lineEnd);
}

void WriteKml(std::span<const TrackLogRecord> records, LineEnd lineEnd, std::string& out) {
    Cursor cursor(out);
    KmlTo(cursor, records, lineEnd);
}

void WriteNmea(std::span<const TrackLogRecord> records, std::string& out) {
    Cursor cursor(out);
    NmeaTo(cursor, records);
}

void WriteGpx(std::span<const TrackLogRecord> records, LineEnd lineEnd, std::string& out) {
    Cursor cursor(out);
    GpxTo(cursor, records, lineEnd);
}

void WriteFormat(TrackFormat format, std::span<const TrackLogRecord> records, LineEnd lineEnd,
                 std::string& out) {
    Cursor cursor(out);
    FormatTo(cursor, format, records, lineEnd);
}

bool WriteFormat(TrackFormat format, std::span<const TrackLogRecord> records, LineEnd lineEnd,
                 std::FILE* output) {
    if (output == nullptr) {
        return false;
    }
    Cursor cursor(output);
    FormatTo(cursor, format, records, lineEnd);
    return cursor.Finish();
}

bool WriteText(std::FILE* source, std::FILE* output, LineEnd lineEnd) {
    return WriteFromStream(source, output, [&](const auto& records) {
        return WriteFormat(TrackFormat::Text, records, lineEnd, output);
    });
}

bool WriteKml(std::FILE* source, std::FILE* output, LineEnd lineEnd) {
    return WriteFromStream(source, output, [&](const auto& records) {
        return WriteFormat(TrackFormat::Kml, records, lineEnd, output);
    });
}

bool WriteNmea(std::FILE* source, std::FILE* output) {
    return WriteFromStream(source, output, [&](const auto& records) {
        return WriteFormat(TrackFormat::Nmea, records, LineEnd::CrLf, output);
    });
}

bool WriteGpx(std::FILE* source, std::FILE* output, LineEnd lineEnd) {
    return WriteFromStream(source, output, [&](const auto& records) {
        return WriteFormat(TrackFormat::Gpx, records, lineEnd, output);
    });
}

std::size_t ReverseFindChar(std::string_view text, char c, std::size_t n) {
    if (text.empty()) {
        return n;
    }
    for (std::size_t i = n < text.size() ? n : text.size() - 1; i >= 1; --i) {
        if (text[i] == c) {
            return i;
        }
    }
    return n;
}

std::string MakeOutputFileName(std::string_view name, int type) {
    if (name.empty() || type < 0 || type >= kTrackFormatCount) {
        return {};
    }
    const std::size_t dot = ReverseFindChar(name, '.', name.size() - 1);
    const std::size_t slash = name.find_last_of('/');
    if (dot == 0 || name[dot] != '.' || (slash != std::string_view::npos && dot < slash)) {
        return {};
    }
    const TrackFormatInfo& info = kTrackFormats[static_cast<std::size_t>(type)];
    if (info.extension.empty()) {
        return std::string(name.substr(0, dot)) + "NMEA.txt";
    }
    return std::string(name.substr(0, dot + 1)) + std::string(info.extension);
}

std::uint32_t HexToInt(std::string_view text) { return sentence::HexToInt(text); }

void ReverseRecordByteOrder(std::span<std::uint8_t, kTrackLogRecordSize> record) {
    for (std::size_t word = 0; word < kTrackLogRecordSize; word += 4) {
        std::swap(record[word], record[word + 3]);
        std::swap(record[word + 1], record[word + 2]);
    }
}

}  // namespace track_writers
