#include "export/TrackConversion.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "export/TimeZoneRule.h"
#include "support/AtomicFile.h"
#include "support/SourceFile.h"

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

    // Each chosen output is formatted and written beside its target on a
    // thread of its own; the files are then put in place in the order text,
    // KML, NMEA, GPX.
    struct Job {
        AtomicFile file;
        bool started = false;
        bool opened = false;
        bool wrote = false;
        int error = 0;
    };
    std::array<Job, kTrackFormatCount> jobs;
    auto run = [&](TrackFormat format) {
        Job& job = jobs[static_cast<std::size_t>(format)];
        job.opened = job.file.Open(result.Output(format).path, &job.error);
        if (job.opened) {
            try {
                errno = 0;
                job.wrote = WriteFormat(format, records, kFormatPageLineEnd, job.file.Stream());
                job.error = job.wrote ? 0 : (errno != 0 ? errno : EIO);
            } catch (const std::bad_alloc&) {
                job.wrote = false;
                job.error = ENOMEM;
            }
        }
    };
    std::vector<std::thread> threads;
    for (const TrackFormatInfo& info : kTrackFormats) {
        OutputResult& output = result.outputs[static_cast<std::size_t>(info.format)];
        if (!outputs[static_cast<std::size_t>(info.format)]) {
            continue;
        }
        output.path = ConvertOutputName(sourcePath, info.format);
        if (result.source != SourceStatus::Read) {
            output.status = OutputStatus::NotWrittenSourceFailed;
        } else if (IsSourceFile(output.path, sourcePath)) {
            output.status = OutputStatus::SameAsSource;
        } else {
            try {
                threads.emplace_back(run, info.format);
            } catch (const std::system_error&) {
                run(info.format);  // no thread to be had: here, then
            }
            jobs[static_cast<std::size_t>(info.format)].started = true;
        }
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const TrackFormatInfo& info : kTrackFormats) {
        OutputResult& output = result.outputs[static_cast<std::size_t>(info.format)];
        Job& job = jobs[static_cast<std::size_t>(info.format)];
        if (!job.started) {
            continue;
        }
        if (!job.opened) {
            output.status = OutputStatus::CannotCreate;
            output.error = job.error;
        } else if (!job.wrote || !job.file.Commit()) {
            output.status = OutputStatus::WriteFailed;
            output.error = job.error != 0 ? job.error : EIO;
        } else {
            output.status = OutputStatus::Written;
            output.points = points;
        }
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

OutputStatus WriteTrackFile(const std::string& sourcePath, const std::string& outputPath,
                            TrackFormat format, LineEnd lineEnd, int* error) {
    int e = 0;
    OutputStatus status = OutputStatus::Written;
    std::vector<TrackLogRecord> records;
    AtomicFile file;
    if (!ReadTrackFile(sourcePath, records, &e)) {
        status = OutputStatus::NotWrittenSourceFailed;
    } else if (IsSourceFile(outputPath, sourcePath)) {
        status = OutputStatus::SameAsSource;
    } else if (!file.Open(outputPath, &e)) {
        status = OutputStatus::CannotCreate;
    } else {
        errno = 0;
        if (!WriteFormat(format, records, lineEnd, file.Stream()) || !file.Commit()) {
            e = errno != 0 ? errno : EIO;
            status = OutputStatus::WriteFailed;
        }
    }
    if (error != nullptr) {
        *error = e;
    }
    return status;
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
                   SourceErrorText(result.sourceError) + ").";
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
