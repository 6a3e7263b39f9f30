#include "tracklog/WaypointDownload.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "support/ProcessZone.h"
#include "support/SourceFile.h"

namespace waypoint {

std::uint64_t ComputePaddedSize(std::uint64_t length) {
    const std::uint64_t block = blocks::kBlockDataBytes;
    return (length + block - 1) / block * block;
}

std::string FormatFileDate(std::int64_t utcSeconds) {
    std::tm tm{};
    if (!ToLocalTime(utcSeconds, tm)) {
        return kDefaultFileDate;
    }
    int hour12 = tm.tm_hour % 12;
    if (hour12 == 0) {
        hour12 = 12;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d %s", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  hour12, tm.tm_min, tm.tm_hour < 12 ? "AM" : "PM");
    return text;
}

WaypointFileInfo ReadWaypointFileInfo(const std::string& path) {
    WaypointFileInfo info;
    info.name = kDefaultFileName;
    info.date = kDefaultFileDate;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return info;
    }
    const std::size_t slash = path.find_last_of('/');
    info.name = slash == std::string::npos ? path : path.substr(slash + 1);
    info.date = FormatFileDate(static_cast<std::int64_t>(st.st_mtime));
    info.length = static_cast<std::uint64_t>(st.st_size);
    info.totalSize = ComputePaddedSize(info.length);
    info.found = true;
    return info;
}

BlockTransferResult DownloadWaypointFile(BlockTransfer& engine, const std::string& path,
                                         const BlockTransferCallbacks& callbacks) {
    if (engine.IsRunning()) {
        BlockTransferResult busy;
        busy.status = BlockTransferStatus::kBusy;
        busy.text = blocks::kTextBusy;
        return busy;  // the running transfer's texts stay
    }
    auto status = [&](const std::string& text) {
        if (callbacks.status) callbacks.status(text);
    };
    status(kStatusStarting);

    BlockTransferResult result;
    std::vector<std::uint8_t> file;
    // Only a regular file is sent; a FIFO or device cannot block the open.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(OpenSourceStream(path), &std::fclose);
    struct stat st {};
    if (!in || ::fstat(::fileno(in.get()), &st) != 0) {
        result.status = BlockTransferStatus::kCannotOpenFile;
        result.text = blocks::kTextCannotOpenFile;
    } else if (static_cast<std::uint64_t>(st.st_size) > blocks::kMaxDownloadBytes) {
        result.status = BlockTransferStatus::kFileTooLarge;
        result.text = blocks::kTextFileTooLarge;
    } else {
        // Read to the end, but stop once past the largest file (one that grew
        // after its size was taken).
        file.reserve(static_cast<std::size_t>(st.st_size));
        std::uint8_t chunk[64 * 1024];
        std::size_t n = 0;
        while (file.size() <= blocks::kMaxDownloadBytes && (n = std::fread(chunk, 1, sizeof chunk, in.get())) > 0) {
            file.insert(file.end(), chunk, chunk + n);
        }
        if (std::ferror(in.get()) || file.size() > blocks::kMaxDownloadBytes) {
            result.status = BlockTransferStatus::kCannotOpenFile;
            result.text = blocks::kTextCannotOpenFile;
        }
    }
    if (result.ok()) {
        result = engine.DownloadFileBlocks(file, static_cast<std::uint32_t>(ComputePaddedSize(file.size())), callbacks);
    }
    if (result.status != BlockTransferStatus::kBusy) {
        status(result.ok() ? std::string(kStatusDone) : result.text);
    }
    return result;
}

}  // namespace waypoint
