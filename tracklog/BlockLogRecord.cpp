#include "tracklog/BlockLogRecord.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "support/Markup.h"
#include "support/ProcessZone.h"

namespace {

std::uint32_t ReadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void WriteU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// The three fields scaled: longitude and latitude x 10^-7, height x 0.01.
double Degrees(std::int32_t raw) { return static_cast<double>(raw) * 1e-7; }
double Metres(std::int32_t raw) { return static_cast<double>(raw) * 0.01; }

constexpr const char* kKmlNamespace = "http://earth.google.com/kml/2.1";
constexpr const char* kStyleFirst = "root://styleMaps#default+nicon=0x406+hicon=0x416";
constexpr const char* kStyleLast = "root://styleMaps#default+nicon=0x467+hicon=0x477";
constexpr const char* kStyleOther = "root://styleMaps#default+nicon=0x447+hicon=0x457";

}  // namespace

bool IsEmptyBlockLogRecord(std::span<const std::uint8_t, kBlockLogRecordSize> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
}

BlockLogRecord DecodeBlockLogRecord(std::span<const std::uint8_t, kBlockLogRecordSize> bytes) {
    BlockLogRecord r;
    r.longitude = static_cast<std::int32_t>(ReadU32(bytes.data()));
    r.latitude = static_cast<std::int32_t>(ReadU32(bytes.data() + 4));
    r.height = static_cast<std::int32_t>(ReadU32(bytes.data() + 8));
    r.time = ReadU32(bytes.data() + 12);
    return r;
}

std::array<std::uint8_t, kBlockLogRecordSize> EncodeBlockLogRecord(const BlockLogRecord& record) {
    std::array<std::uint8_t, kBlockLogRecordSize> out{};
    WriteU32(out.data(), static_cast<std::uint32_t>(record.longitude));
    WriteU32(out.data() + 4, static_cast<std::uint32_t>(record.latitude));
    WriteU32(out.data() + 8, static_cast<std::uint32_t>(record.height));
    WriteU32(out.data() + 12, record.time);
    return out;
}

std::string FormatBlockLogPoint(const BlockLogRecord& record) {
    char text[96];
    std::snprintf(text, sizeof text, "%4.7f,%4.7f,%4.2f", Degrees(record.longitude), Degrees(record.latitude),
                  Metres(record.height));
    return text;
}

std::string BlockLogTimeText(std::uint32_t utcSeconds) {
    static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm t{};
    ToLocalTime(utcSeconds, t);  // an instant of 32 bits is always representable
    char text[64];
    std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", kDays[(t.tm_wday % 7 + 7) % 7],
                  kMonths[(t.tm_mon % 12 + 12) % 12], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, 1900 + t.tm_year);
    return text;
}

// ---------------------------------------------------------------------------

void BlockLogStore::Clear() {
    records_.clear();
    timeTexts_.clear();
    coordinates_.clear();
}

const std::string& BlockLogStore::Add(const BlockLogRecord& record, int outputMode) {
    records_.push_back(record);
    timeTexts_.push_back(BlockLogTimeText(record.time));
    if (outputMode == kOutputKml) {
        coordinates_ += FormatBlockLogPoint(record);
        coordinates_ += ' ';
    }
    return timeTexts_.back();
}

std::size_t DecodeTrackRecords(std::span<const std::uint8_t, kBlockLogBlockBytes> block, std::int64_t offset,
                               std::int64_t totalSize, int outputMode, BlockLogStore& store, std::string& textOut) {
    if (offset < 0 || offset + static_cast<std::int64_t>(kBlockLogBlockBytes) > totalSize) {
        return 0;
    }
    std::size_t stored = 0;
    for (std::size_t i = 0; i < kBlockLogRecordsPerBlock; ++i) {
        const auto bytes = block.subspan(i * kBlockLogRecordSize).first<kBlockLogRecordSize>();
        if (IsEmptyBlockLogRecord(bytes)) {
            continue;
        }
        const BlockLogRecord record = DecodeBlockLogRecord(bytes);
        const std::string& timeText = store.Add(record, outputMode);
        if (outputMode == kOutputText) {
            textOut += FormatBlockLogPoint(record);
            textOut += ',';
            textOut += timeText;
        }
        ++stored;
    }
    return stored;
}

std::string BuildBlockLogKml(const BlockLogStore& store) {
    CMarkup xml;
    xml.AddElement("kml");
    xml.AddAttribute("xmlns", kKmlNamespace);
    xml.AddChildElement("Document");
    xml.EnterElement();

    xml.AddChildElement("Style");
    xml.EnterElement();
    xml.AddAttribute("id", "roadStyle");
    xml.AddChildElement("LineStyle");
    xml.EnterElement();
    xml.AddChildElement("color", "7fcf0064");
    xml.AddChildElement("width", "6");
    xml.LeaveElement();
    xml.LeaveElement();

    xml.AddChildElement("Open", "1");
    xml.AddChildElement("description", "Track Log");
    xml.AddChildElement("name", "Track Log");

    xml.AddChildElement("Placemark");
    xml.EnterElement();
    xml.AddChildElement("name", "Route");
    xml.AddChildElement("styleUrl", "#roadStyle");
    xml.AddChildElement("MultiGeometry");
    xml.EnterElement();
    xml.AddChildElement("LineString");
    xml.EnterElement();
    xml.AddChildElement("coordinates", store.Coordinates());
    xml.LeaveElement();
    xml.LeaveElement();
    xml.LeaveElement();

    xml.AddChildElement("Folder");
    xml.EnterElement();
    xml.AddChildElement("name", "Waypoints");
    const std::size_t count = store.Count();
    for (std::size_t i = 0; i < count; ++i) {
        xml.AddChildElement("Placemark");
        xml.EnterElement();
        xml.AddChildElement("name", store.TimeText(i));
        const char* style = kStyleOther;
        if (i == 0) {
            style = kStyleFirst;
        } else if (i == count - 1) {
            style = kStyleLast;
        }
        xml.AddChildElement("styleUrl", style);
        xml.AddChildElement("Point");
        xml.EnterElement();
        xml.AddChildElement("coordinates", FormatBlockLogPoint(store.Record(i)));
        xml.LeaveElement();
        xml.LeaveElement();
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + xml.GetDocument();
}

std::string ToTextModeBytes(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 2);
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

// ---------------------------------------------------------------------------

bool TrackLogOutputFile::Open(const std::string& path, int outputMode, int* error) {
    store_.Clear();
    failed_ = false;
    outputMode_ = outputMode;
    return file_.Open(path, error);
}

bool TrackLogOutputFile::StoreBlock(std::span<const std::uint8_t, kBlockLogBlockBytes> block, std::int64_t offset,
                                    std::int64_t totalSize) {
    if (!file_.IsOpen()) {
        return false;
    }
    bool ok = true;
    if (outputMode_ == kOutputRaw) {
        if (offset < 0 || offset >= totalSize) {
            return true;  // nothing of this block belongs to the transfer
        }
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::int64_t>(totalSize - offset, kBlockLogBlockBytes));
        ok = std::fseek(file_.Stream(), static_cast<long>(offset), SEEK_SET) == 0 && file_.Write(block.data(), count);
    } else {
        std::string text;
        DecodeTrackRecords(block, offset, totalSize, outputMode_, store_, text);
        if (!text.empty()) {
            ok = file_.Write(ToTextModeBytes(text));
        }
    }
    failed_ = failed_ || !ok;
    return ok;
}

bool TrackLogOutputFile::Commit() {
    if (!file_.IsOpen()) {
        return false;
    }
    if (outputMode_ == kOutputKml && !failed_) {
        failed_ = !file_.Write(ToTextModeBytes(BuildBlockLogKml(store_)));
    }
    if (failed_) {
        file_.Abandon();
        return false;
    }
    return file_.Commit();
}

void TrackLogOutputFile::Abandon() { file_.Abandon(); }
