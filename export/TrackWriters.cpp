#include "export/TrackWriters.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <ctime>

#include "device/Sentence.h"
#include "support/ProcessZone.h"

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

// Host of the icon images the KML styles refer to.
constexpr std::string_view kIconHost = "maps.google.com";

constexpr std::string_view kWeekdays = "SunMonTueWedThuFriSat";
constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";

std::string_view Eol(LineEnd lineEnd) { return lineEnd == LineEnd::CrLf ? "\r\n" : "\n"; }

// printf "%.<precision>f" of the value, in the C locale.
void AppendFixed(std::string& out, double value, int precision) {
    char buffer[128];  // a float's largest value has 39 integer digits
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    out.append(buffer, result.ptr);
}

void AppendInt(std::string& out, long value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// "%02d" of a value from 0 to 99.
void Append2(std::string& out, int value) {
    out.push_back(static_cast<char>('0' + value / 10));
    out.push_back(static_cast<char>('0' + value % 10));
}

// "%04d" of a year from 0 to 9999, "%d" outside.
void AppendYear(std::string& out, int year) {
    if (year >= 0 && year <= 9999) {
        Append2(out, year / 100);
        Append2(out, year % 100);
    } else {
        AppendInt(out, year);
    }
}

void Line(std::string& out, std::string_view text, std::string_view eol) {
    out.append(text);
    out.append(eol);
}

// "%4.7f,%4.7f,%4.2f" of longitude, latitude and height (the width never
// pads: these texts are longer than 4 characters).
void AppendPoint(std::string& out, const TrackLogRecord& r) {
    AppendFixed(out, r.longitude, 7);
    out.push_back(',');
    AppendFixed(out, r.latitude, 7);
    out.push_back(',');
    AppendFixed(out, r.height, 2);
}

// "%d" of |degrees|, "0" when the minutes are below 10, "%f" of |minutes|.
void AppendDegreesMinutes(std::string& out, float value) {
    const int degrees = static_cast<int>(value);  // toward zero
    const float minutes = (value - static_cast<float>(degrees)) * 60.0f;
    AppendInt(out, degrees < 0 ? -degrees : degrees);
    const float absMinutes = std::fabs(minutes);
    if (absMinutes < 10.0f) {
        out.push_back('0');
    }
    AppendFixed(out, absMinutes, 6);
}

void AppendIsoTime(std::string& out, const std::tm& t) {
    AppendYear(out, t.tm_year + 1900);
    out.push_back('-');
    Append2(out, t.tm_mon + 1);
    out.push_back('-');
    Append2(out, t.tm_mday);
    out.push_back('T');
    Append2(out, t.tm_hour);
    out.push_back(':');
    Append2(out, t.tm_min);
    out.push_back(':');
    Append2(out, t.tm_sec);
    out.push_back('Z');
}

void AppendStyleGroup(std::string& out, std::string_view eol, std::string_view name, int normalIcon,
                      int highlightIcon) {
    auto href = [&](int icon) {
        out.append("<href>http://");
        out.append(kIconHost);
        out.append("/mapfiles/kml/pal4/icon");
        AppendInt(out, icon);
        out.append(".png</href>");
        out.append(eol);
    };
    auto tagged = [&](std::string_view head, std::string_view tail) {
        out.append(head);
        out.append(name);
        out.append(tail);
        out.append(eol);
    };
    tagged("<Style id=\"normalState_", "\">");
    Line(out, "<IconStyle>", eol);
    Line(out, "<scale>1.0</scale>", eol);
    Line(out, "<Icon>", eol);
    href(normalIcon);
    Line(out, "</Icon>", eol);
    Line(out, "</IconStyle>", eol);
    Line(out, "<LabelStyle>", eol);
    Line(out, "<scale>1.0</scale>", eol);
    Line(out, "</LabelStyle>", eol);
    Line(out, "</Style>", eol);
    tagged("<Style id=\"highlightState_", "\">");
    Line(out, "<IconStyle>", eol);
    Line(out, "<scale>1.1</scale>", eol);
    Line(out, "<Icon>", eol);
    href(highlightIcon);
    Line(out, "</Icon>", eol);
    Line(out, "</IconStyle>", eol);
    Line(out, "<LabelStyle>", eol);
    Line(out, "<scale>1.1</scale>", eol);
    Line(out, "<color>ff0000ff</color>", eol);
    Line(out, "</LabelStyle>", eol);
    Line(out, "</Style>", eol);
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
void AppendGpxPoint(std::string& out, std::string_view eol, std::string_view element,
                    const TrackLogRecord& r, const std::tm& utc, long index) {
    out.push_back('<');
    out.append(element);
    out.append(" lat=\"");
    AppendFixed(out, r.latitude, 6);
    out.append("\" lon=\"");
    AppendFixed(out, r.longitude, 6);
    out.append("\">");
    out.append(eol);
    out.append("<ele>");
    AppendFixed(out, r.height, 2);
    out.append("</ele>");
    out.append(eol);
    out.append("<time>");
    AppendIsoTime(out, utc);
    out.append("</time>");
    out.append(eol);
    out.append("<name><![CDATA[Point ");
    AppendInt(out, index);
    out.append("]]></name>");
    out.append(eol);
    out.append("</");
    out.append(element);
    out.push_back('>');
    out.append(eol);
}

bool WriteAll(std::FILE* output, const std::string& bytes) {
    return output != nullptr &&
           (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), output) == bytes.size()) &&
           std::fflush(output) == 0;
}

template <typename Write>
bool WriteFromStream(std::FILE* source, std::FILE* output, Write write) {
    std::vector<TrackLogRecord> records;
    if (!ReadTrackRecords(source, records)) {
        return false;
    }
    std::string bytes;
    write(records, bytes);
    return WriteAll(output, bytes);
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
    std::FILE* source = std::fopen(path.c_str(), "rbe");
    if (source == nullptr) {
        if (error != nullptr) {
            *error = errno;
        }
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
    std::tm t{};
    if (!ToLocalTime(utcTime, t) || t.tm_wday < 0 || t.tm_wday > 6 || t.tm_mon < 0 || t.tm_mon > 11) {
        return false;
    }
    out.append(kWeekdays.substr(static_cast<std::size_t>(t.tm_wday) * 3, 3));
    out.push_back(' ');
    out.append(kMonths.substr(static_cast<std::size_t>(t.tm_mon) * 3, 3));
    out.push_back(' ');
    out.push_back(t.tm_mday < 10 ? ' ' : static_cast<char>('0' + t.tm_mday / 10));
    out.push_back(static_cast<char>('0' + t.tm_mday % 10));
    out.push_back(' ');
    Append2(out, t.tm_hour);
    out.push_back(':');
    Append2(out, t.tm_min);
    out.push_back(':');
    Append2(out, t.tm_sec);
    out.push_back(' ');
    AppendInt(out, t.tm_year + 1900L);
    return true;
}

void WriteText(std::span<const TrackLogRecord> records, LineEnd lineEnd, std::string& out) {
    const std::string_view eol = Eol(lineEnd);
    out.reserve(out.size() + records.size() * 64);
    for (const TrackLogRecord& r : records) {
        if (!IsWritableRecord(r)) {
            continue;
        }
        const std::size_t start = out.size();
        AppendPoint(out, r);
        out.push_back(',');
        if (!AppendAscTime(out, r.utcTime)) {
            out.resize(start);
            continue;
        }
        out.append(eol);
    }
}

void WriteKml(std::span<const TrackLogRecord> records, LineEnd lineEnd, std::string& out) {
    const std::string_view eol = Eol(lineEnd);
    out.reserve(out.size() + 6000 + records.size() * 250);
    Line(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", eol);
    Line(out, "<kml xmlns=\"http://earth.google.com/kml/2.1\">", eol);
    Line(out, "<Document>", eol);
    AppendStyleGroup(out, eol, "TLP_Start", 15, 7);
    AppendStyleGroup(out, eol, "TLP_Finish", 15, 7);
    AppendStyleGroup(out, eol, "TLP_Normal", 31, 23);
    AppendStyleGroup(out, eol, "TLP_Photo", 46, 38);
    for (std::string_view text : {"<Style id=\"roadStyle\">", "<LineStyle>", "<color>ffffff00</color>",
                                  "<width>6</width>", "</LineStyle>", "</Style>", "<Open>1</Open>",
                                  "<description>Route</description>", "<name>Track Log</name>",
                                  "<Placemark>", "<name>Route</name>", "<styleUrl>#roadStyle</styleUrl>",
                                  "<MultiGeometry>", "<LineString>", "<coordinates>"}) {
        Line(out, text, eol);
    }
    long count = 0;
    for (const TrackLogRecord& r : records) {
        if (IsWritableRecord(r)) {
            AppendPoint(out, r);
            out.push_back(' ');
            ++count;
        }
    }
    Line(out, "</coordinates>", eol);
    for (std::string_view text :
         {"</LineString>", "</MultiGeometry>", "</Placemark>", "<Folder>", "<name>waypoints</name>"}) {
        Line(out, text, eol);
    }
    long index = 0;
    for (const TrackLogRecord& r : records) {
        if (!IsWritableRecord(r)) {
            continue;
        }
        const long i = index++;
        const std::size_t start = out.size();
        Line(out, "<Placemark>", eol);
        out.append("<name>");
        if (!AppendAscTime(out, r.utcTime)) {
            out.resize(start);
            continue;
        }
        out.append("</name>");
        out.append(eol);
        out.append("<styleUrl>");
        out.append(i == 0                          ? "#styleMap_TLP_Start"
                   : (count > 1 && i == count - 1) ? "#styleMap_TLP_Finish"
                                                   : "#styleMap_TLP_Normal");
        out.append("</styleUrl>");
        out.append(eol);
        Line(out, "<Point>", eol);
        out.append("<coordinates>");
        AppendPoint(out, r);
        out.append("</coordinates>");
        out.append(eol);
        Line(out, "</Point>", eol);
        Line(out, "</Placemark>", eol);
    }
    Line(out, "</Folder>", eol);
    Line(out, "</Document>", eol);
    Line(out, "</kml>", eol);
}

bool FormatGprmc(std::string& out, float longitude, float latitude, std::uint32_t utcTime) {
    std::tm t{};
    if (utcTime >= 0x80000000u || !std::isfinite(longitude) || !std::isfinite(latitude) ||
        std::fabs(latitude) > 90.0f || std::fabs(longitude) > 180.0f || !ToUtcTime(utcTime, t)) {
        return false;
    }
    const std::size_t start = out.size();
    out.append("$GPRMC,");
    Append2(out, t.tm_hour);
    Append2(out, t.tm_min);
    Append2(out, t.tm_sec);
    out.append(",A,");
    AppendDegreesMinutes(out, latitude);
    out.append(latitude < 0.0f ? ",S," : ",N,");
    AppendDegreesMinutes(out, longitude);
    out.append(longitude < 0.0f ? ",W," : ",E,");
    out.append("0,0,");
    Append2(out, t.tm_mday);
    Append2(out, t.tm_mon + 1);
    Append2(out, (t.tm_year + 1900) % 100);
    out.append(",,*");
    const std::uint8_t sum = NmeaChecksum(std::string_view(out).substr(start));
    constexpr std::string_view kHex = "0123456789abcdef";
    out.push_back(kHex[sum >> 4]);
    out.push_back(kHex[sum & 15]);
    out.append("\r\n");
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

void WriteNmea(std::span<const TrackLogRecord> records, std::string& out) {
    out.reserve(out.size() + records.size() * 72);
    for (const TrackLogRecord& r : records) {
        if (IsWritableRecord(r)) {
            FormatGprmc(out, r.longitude, r.latitude, r.utcTime);
        }
    }
}

void WriteGpx(std::span<const TrackLogRecord> records, LineEnd lineEnd, std::string& out) {
    const std::string_view eol = Eol(lineEnd);
    out.reserve(out.size() + 600 + records.size() * 300);
    for (std::string_view text :
         {"<?xml version=\"1.0\"?>", "<gpx", "version=\"1.0\"", "creator=\"Orvik Utility\"",
          "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"",
          "xmlns=\"http://www.topografix.com/GPX/1/0\"",
          "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/0 "
          "http://www.topografix.com/GPX/1/0/gpx.xsd\">"}) {
        Line(out, text, eol);
    }
    // Both passes number the same points from 0.
    auto pass = [&](std::string_view element) {
        long index = 0;
        for (const TrackLogRecord& r : records) {
            std::tm utc{};
            if (IsWritableRecord(r) && ToUtcTime(r.utcTime, utc)) {
                AppendGpxPoint(out, eol, element, r, utc, index++);
            }
        }
    };
    pass("wpt");
    Line(out, "<rte>", eol);
    Line(out, "<name>Route</name>", eol);
    pass("rtept");
    Line(out, "</rte>", eol);
    Line(out, "</gpx>", eol);
}

void WriteFormat(TrackFormat format, std::span<const TrackLogRecord> records, LineEnd lineEnd,
                 std::string& out) {
    switch (format) {
        case TrackFormat::Text: WriteText(records, lineEnd, out); break;
        case TrackFormat::Kml: WriteKml(records, lineEnd, out); break;
        case TrackFormat::Nmea: WriteNmea(records, out); break;
        case TrackFormat::Gpx: WriteGpx(records, lineEnd, out); break;
    }
}

bool WriteText(std::FILE* source, std::FILE* output, LineEnd lineEnd) {
    return WriteFromStream(source, output, [&](const auto& records, std::string& out) {
        WriteText(records, lineEnd, out);
    });
}

bool WriteKml(std::FILE* source, std::FILE* output, LineEnd lineEnd) {
    return WriteFromStream(source, output, [&](const auto& records, std::string& out) {
        WriteKml(records, lineEnd, out);
    });
}

bool WriteNmea(std::FILE* source, std::FILE* output) {
    return WriteFromStream(source, output,
                           [](const auto& records, std::string& out) { WriteNmea(records, out); });
}

bool WriteGpx(std::FILE* source, std::FILE* output, LineEnd lineEnd) {
    return WriteFromStream(source, output, [&](const auto& records, std::string& out) {
        WriteGpx(records, lineEnd, out);
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
