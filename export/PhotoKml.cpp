#include "export/PhotoKml.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unordered_set>
#include <utility>
#include <vector>

#include "export/GpsTagWriter.h"
#include "export/TrackWriters.h"
#include "support/AtomicFile.h"
#include "support/ProcessZone.h"
#include "support/SourceFile.h"
#include "support/StdioFileEx.h"
#include "tracklog/TrackLogRecord.h"

namespace {

constexpr const char* kNamespace = "http://earth.google.com/kml/2.1";
constexpr const char* kIconHost = "http://maps.google.com";

struct StyleGroup {
    const char* name;
    const char* normalIcon;
    const char* highlightIcon;
};

constexpr StyleGroup kStyleGroups[] = {
    {"TLP_Start", "/mapfiles/kml/pal4/icon15.png", "/mapfiles/kml/pal4/icon7.png"},
    {"TLP_Finish", "/mapfiles/kml/pal4/icon15.png", "/mapfiles/kml/pal4/icon7.png"},
    {"TLP_Normal", "/mapfiles/kml/pal4/icon31.png", "/mapfiles/kml/pal4/icon23.png"},
    {"TLP_Photo", "/mapfiles/kml/pal4/icon46.png", "/mapfiles/kml/pal4/icon38.png"},
};

class Document {
public:
    void Line(const std::string& text) {
        text_ += text;
        text_ += "\r\n";
    }
    void Piece(const std::string& text) { text_ += text; }
    std::string& Text() { return text_; }

private:
    std::string text_;
};

void StyleLines(Document& doc, const StyleGroup& group) {
    const std::string name = group.name;
    doc.Line("<Style id=\"normalState_" + name + "\">");
    doc.Line("<IconStyle>");
    doc.Line("<scale>1.0</scale>");
    doc.Line("<Icon>");
    doc.Line(std::string("<href>") + kIconHost + group.normalIcon + "</href>");
    doc.Line("</Icon>");
    doc.Line("</IconStyle>");
    doc.Line("<LabelStyle>");
    doc.Line("<scale>1.0</scale>");
    doc.Line("</LabelStyle>");
    doc.Line("</Style>");
    doc.Line("<Style id=\"highlightState_" + name + "\">");
    doc.Line("<IconStyle>");
    doc.Line("<scale>1.1</scale>");
    doc.Line("<Icon>");
    doc.Line(std::string("<href>") + kIconHost + group.highlightIcon + "</href>");
    doc.Line("</Icon>");
    doc.Line("</IconStyle>");
    doc.Line("<LabelStyle>");
    doc.Line("<scale>1.1</scale>");
    doc.Line("<color>ff0000ff</color>");
    doc.Line("</LabelStyle>");
    doc.Line("</Style>");
    doc.Line("<StyleMap id=\"styleMap_" + name + "\">");
    doc.Line("<Pair>");
    doc.Line("<key>normal</key>");
    doc.Line("<styleUrl>#normalState_" + name + "</styleUrl>");
    doc.Line("</Pair>");
    doc.Line("<Pair>");
    doc.Line("<key>highlight</key>");
    doc.Line("<styleUrl>#highlightState_" + name + "</styleUrl>");
    doc.Line("</Pair>");
    doc.Line("</StyleMap>");
}

std::string Format(const char* format, double a, double b, double c) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

// Length of the UTF-8 sequence at s[i] that XML 1.0 allows, 0 when none.
std::size_t XmlCharLength(const std::string& s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80) {
        return (c >= 0x20 || c == '\t') ? 1 : 0;
    }
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        cp = cp << 6 | (byte(i + k) & 0x3F);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE ||
        cp == 0xFFFF) {
        return 0;
    }
    return n;
}

// The path as it stands in the image element's attribute inside CDATA.
std::string AttributeText(const std::string& path) {
    std::string out;
    for (std::size_t i = 0; i < path.size();) {
        const std::size_t n = XmlCharLength(path, i);
        if (n == 0) {
            out += '?';
            ++i;
            continue;
        }
        switch (path[i]) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out.append(path, i, n); break;
        }
        i += n;
    }
    return out;
}

// madeCopies: the copies this run wrote. Photos whose names differ only in
// the case of ".jpg" (IMG_1.jpg, IMG_1.JPG) have one copy name; the first
// keeps its copy and the next one is listed instead of replacing it.
void GpsCopy(PhotoLinkState& state, const PhotoFileEntry& photo, const PhotoTrackPoint& point,
             std::unordered_set<std::string>& madeCopies) {
    int failed = 0;
    std::string message;
    const std::string copyPath = GpsCopyPath(photo.path);
    if (madeCopies.count(copyPath) != 0) {
        failed = 1;
        message = kCopyNameTakenText;
    } else {
        WriteGpsToPhoto(photo.path, point, failed, message, state.gpsWriteOk);
        if (failed == 0 && state.gpsWriteOk) {
            madeCopies.insert(copyPath);
        }
    }
    if (!state.gpsWriteOk) {
        state.photoList.push_back(state.texts.t414 + photo.path);
        state.gpsWriteOk = true;
    } else if (failed) {
        state.photoList.push_back(state.texts.t414 + photo.path + ";" + message);
    }
}

void WriteDocument(PhotoLinkState& state, bool writeGpsInPhoto, Document& doc) {
    doc.Line("<?xml version=\"1.0\" encoding=\"UTF-16\"?>");
    doc.Line(std::string("<kml xmlns=\"") + kNamespace + "\">");
    doc.Line("<Document>");
    for (const StyleGroup& group : kStyleGroups) {
        StyleLines(doc, group);
    }
    for (const char* line : {"<Style id=\"roadStyle\">", "<LineStyle>", "<color>ffffff00</color>",
                             "<width>6</width>", "</LineStyle>", "</Style>", "<Open>1</Open>",
                             "<description>Route</description>", "<name>Track Log</name>",
                             "<Placemark>", "<name>Route</name>", "<styleUrl>#roadStyle</styleUrl>",
                             "<MultiGeometry>", "<LineString>", "<coordinates>"}) {
        doc.Line(line);
    }
    for (const PhotoTrackPoint& point : state.trackPoints) {
        doc.Piece(Format("%4.7f,%4.7f,%4.2f ", point.longitude, point.latitude, point.height));
    }
    for (const char* line : {"</coordinates>", "</LineString>", "</MultiGeometry>", "</Placemark>",
                             "<Folder>", "<name>waypoints</name>"}) {
        doc.Line(line);
    }

    // The matched photos of each point, in capture order.
    std::vector<std::pair<std::size_t, std::size_t>> matches;  // point, photoOrder position
    for (std::size_t k = 0; k < state.photoOrder.size(); ++k) {
        if (state.photoOrder[k].matched) {
            matches.emplace_back(state.photoOrder[k].pointIndex, k);
        }
    }
    std::stable_sort(matches.begin(), matches.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    const std::size_t count = state.trackPoints.size();
    std::size_t next = 0;
    std::unordered_set<std::string> madeCopies;
    for (std::size_t i = 0; i < count; ++i) {
        const PhotoTrackPoint& point = state.trackPoints[i];
        doc.Line("<Placemark>");
        doc.Line("<name>");
        doc.Line(state.pointNames[i]);
        doc.Line("</name>");
        bool hasPhoto = false;
        for (; next < matches.size() && matches[next].first == i; ++next) {
            const PhotoOrderEntry& entry = state.photoOrder[matches[next].second];
            const PhotoFileEntry& photo = state.photoFiles[entry.photoIndex];
            if (!hasPhoto) {
                doc.Line("<description>");
                doc.Line("<![CDATA[");
                doc.Line("Photo Matched:");
                hasPhoto = true;
            }
            const bool calibrated = state.calibrationSeconds != 0;
            if (calibrated) {
                doc.Line("<p>Original Time: " + AsctimeText(photo.exifTime) + "</p>");
            }
            doc.Line(std::string("<p>") + (calibrated ? "Adjustment Time: " : "") +
                     AsctimeText(photo.captureTime) + "</p>");
            doc.Line("<p><img width=\"400\" height=\"300\" src=\"" + AttributeText(photo.path) +
                     "\"></p>");
            if (writeGpsInPhoto) {
                GpsCopy(state, photo, point, madeCopies);
            }
        }
        if (hasPhoto) {
            doc.Line("]]>");
            doc.Line("</description>");
        }
        const char* style = "#styleMap_TLP_Normal";
        if (hasPhoto && i != 0 && i != count - 1) {
            style = "#styleMap_TLP_Photo";
        } else if (i == 0) {
            style = "#styleMap_TLP_Start";
        } else if (i == count - 1) {
            style = "#styleMap_TLP_Finish";
        }
        doc.Line("<styleUrl>");
        doc.Line(style);
        doc.Line("</styleUrl>");
        doc.Line("<Point>");
        doc.Line("<coordinates>");
        doc.Line(Format("%4.7f,%4.7f,%4.2f", point.longitude, point.latitude, point.height));
        doc.Line("</coordinates>");
        doc.Line("</Point>");
        doc.Line("</Placemark>");
    }
    doc.Line("</Folder>");
    doc.Line("</Document>");
    doc.Line("</kml>");
    state.gpsWriteOk = true;
}

}  // namespace

std::string AsctimeText(std::int64_t t) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
    if (!ToLocalTime(t, local) || local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 ||
        local.tm_mon > 11) {
        return {};
    }
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d", kDays[local.tm_wday],
                  kMonths[local.tm_mon], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  local.tm_year + 1900);
    return text;
}

void ReadTrackAndMatchPhotos(PhotoLinkState& state, const std::string& sourcePath) {
    state.trackPoints.clear();
    state.pointNames.clear();
    if (std::FILE* file = OpenSourceStream(sourcePath)) {
        TrackLogRecordBytes record{};
        while (std::fread(record.data(), 1, record.size(), file) == record.size()) {
            if (!RecordChecksumValid(record)) {
                continue;
            }
            // The same records as the track writers take: a time below 2^31,
            // finite numbers, a place on the globe.
            const TrackLogRecord decoded = DecodeTrackLogRecord(record);
            if (!track_writers::IsWritableRecord(decoded)) {
                continue;
            }
            state.trackPoints.push_back(
                {decoded.longitude, decoded.latitude, decoded.height, decoded.utcTime});
            state.pointNames.push_back(AsctimeText(decoded.utcTime));
        }
        std::fclose(file);
    }
    state.SortTrackByTime();
    state.ReadPhotoTimes();
    state.ApplyTimeCalibration();
    state.SortPhotosByTime();
    state.MatchPhotosToTrack();
}

std::string BuildPhotoKml(PhotoLinkState& state, const std::string& sourcePath, bool writeGpsInPhoto) {
    ReadTrackAndMatchPhotos(state, sourcePath);
    Document doc;
    WriteDocument(state, writeGpsInPhoto, doc);
    return std::move(doc.Text());
}

void WritePhotoKml(PhotoLinkState& state, const std::string& sourcePath, CStdioFileEx& outputFile,
                   bool writeGpsInPhoto) {
    const std::string text = BuildPhotoKml(state, sourcePath, writeGpsInPhoto);
    outputFile.WriteString(text);
    outputFile.Close();
}

bool WritePhotoKmlFile(PhotoLinkState& state, const std::string& sourcePath,
                       const std::string& outputPath, bool writeGpsInPhoto) {
    const std::string text = BuildPhotoKml(state, sourcePath, writeGpsInPhoto);
    std::string bytes;
    return CStdioFileEx::Utf16FileBytes(text, 65001, bytes) && WriteFileAtomically(outputPath, bytes);
}
