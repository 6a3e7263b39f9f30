#include "export/TrackConversion.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "export/TimeZoneRule.h"
#include "support/AtomicFile.h"

namespace track_writers {

namespace {

// True when path names the source file: the same text, or an existing entry
// that resolves to the same file (another spelling, a link).
bool IsSourceFile(const std::string& path, const std::string& sourcePath) {
    if (path == sourcePath) {
        return true;
    }
    std::error_code ec;
    return std::filesystem::equivalent(path, sourcePath, ec) && !ec;
}

void WriteOutput(const std::string& bytes, OutputResult& output) {
    AtomicFile file;
    int error = 0;
    if (!file.Open(output.path, &error)) {
        output.status = OutputStatus::CannotCreate;
        output.error = error;
        return;
    }
    errno = 0;
    if (!file.Write(bytes) || !file.Commit()) {
        output.status = OutputStatus::WriteFailed;
        output.error = errno != 0 ? errno : EIO;
        return;
    }
    output.status = OutputStatus::Written;
}

}  // namespace

bool ConvertResult::AllWritten() const {
    for (const OutputResult& output : outputs) {
        if (output.status != OutputStatus::NotChosen && output.status != OutputStatus::Written) {
            return false;
        }
    }
    return source != SourceStatus::NoSource;
}

std::string ConvertOutputName(const std::string& sourcePath, TrackFormat format) {
    const std::size_t slash = sourcePath.find_last_of('/');
    const std::size_t nameLength =
        slash == std::string::npos ? sourcePath.size() : sourcePath.size() - slash - 1;
    if (nameLength < 4) {
        return {};
    }
    return sourcePath.substr(0, sourcePath.size() - 4) + std::string(FormatInfo(format).convertSuffix);
}

namespace {

// Convert after the zone is applied.
ConvertResult ConvertInChosenZone(const std::string& sourcePath, const OutputChoice& outputs) {
    ConvertResult result;
    bool anyChosen = false;
    for (const bool chosen : outputs) {
        anyChosen = anyChosen || chosen;
    }
    if (!anyChosen) {
        return result;
    }

    std::vector<TrackLogRecord> records;
    if (ConvertOutputName(sourcePath, TrackFormat::Text).empty()) {
        result.source = SourceStatus::NameTooShort;
    } else if (!ReadTrackFile(sourcePath, records, &result.sourceError)) {
        result.source = SourceStatus::Unreadable;
    }
    long points = 0;
    for (const TrackLogRecord& r : records) {
        points += IsWritableRecord(r) ? 1 : 0;
    }
    result.records = static_cast<long>(records.size());

    std::string bytes;
    for (const TrackFormatInfo& info : kTrackFormats) {
        OutputResult& output = result.outputs[static_cast<std::size_t>(info.format)];
        if (!outputs[static_cast<std::size_t>(info.format)]) {
            continue;
        }
        output.path = ConvertOutputName(sourcePath, info.format);
        if (result.source != SourceStatus::Read) {
            output.status = OutputStatus::NotWrittenSourceFailed;
            continue;
        }
        if (IsSourceFile(output.path, sourcePath)) {
            output.status = OutputStatus::SameAsSource;
            continue;
        }
        bytes.clear();
        WriteFormat(info.format, records, kFormatPageLineEnd, bytes);
        WriteOutput(bytes, output);
        output.points = output.status == OutputStatus::Written ? points : 0;
    }
    return result;
}

}  // namespace

ConvertResult ConvertTrackLog(const std::string& sourcePath, const OutputChoice& outputs, int zoneRow) {
    if (sourcePath.empty()) {
        ConvertResult result;
        result.source = SourceStatus::NoSource;
        return result;
    }
    zone_rule::ApplyZoneRow(zoneRow);
    return ConvertInChosenZone(sourcePath, outputs);
}

ConvertResult ConvertTrackLogInZone(const std::string& sourcePath, const OutputChoice& outputs,
                                    int zoneHours) {
    if (sourcePath.empty()) {
        ConvertResult result;
        result.source = SourceStatus::NoSource;
        return result;
    }
    zone_rule::ApplyZone(zoneHours);
    return ConvertInChosenZone(sourcePath, outputs);
}

std::string FormatMessage(TrackFormat format, const OutputResult& output, const ConvertResult& result) {
    const std::string name(FormatInfo(format).name);
    switch (output.status) {
        case OutputStatus::NotChosen:
        case OutputStatus::Written:
            return {};
        case OutputStatus::NotWrittenSourceFailed:
            if (result.source == SourceStatus::NameTooShort) {
                return name + " output not written: the source file name is too short for an output name.";
            }
            return name + " output not written: cannot read the source file (" +
                   std::strerror(result.sourceError) + ").";
        case OutputStatus::SameAsSource:
            return name + " output not written: " + output.path + " is the source file itself.";
        case OutputStatus::CannotCreate:
            return name + " output not written: cannot create " + output.path + " (" +
                   std::strerror(output.error) + ").";
        case OutputStatus::WriteFailed:
            return name + " output not written: writing " + output.path + " failed (" +
                   std::strerror(output.error) + ").";
    }
    return {};
}

}  // namespace track_writers
