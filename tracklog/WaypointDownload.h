// The waypoint download below its page: what the page shows about the chosen
// "*.mpt" file (name, date, version) and the worker's whole job, the file
// sent unchanged and unparsed to the logger as a "$WRT" block transfer.
//
// The size announced to the device is the file's length rounded up to the
// next multiple of 512 (1,000 gives 1,024; 1,024 stays 1,024); the bytes
// after the end of the file are blocks::kPadByte.
//
// Use on the waypoint page (template 134):
//
//   Download clicked (UI thread): when engine.IsRunning(), nothing; else set
//   theUtility.sendPmtkFirst = 1 and start the worker. The worker: the file
//   dialog ("mpt", "*.mpt"); on OK
//       WaypointFileInfo info = ReadWaypointFileInfo(path);
//       show info.name in 1031, info.version in 1035, info.date in 1034;
//       BlockTransferResult r = DownloadWaypointFile(engine, path, callbacks);
//       on failure a message box with r.text (the stop icon when r.stopIcon).
//   The callbacks post the status text (1045), the bar (1008) and the label
//   (1044) to the UI thread. The page joins its worker before it goes away
//   (engine.RequestStop() first makes the run end within milliseconds).
//
// The engine: BlockTransfer(link, BlockTransfer::WaypointDownload()).
#pragma once

#include <cstdint>
#include <string>

#include "tracklog/BlockTransfer.h"

namespace waypoint {

// Texts of the page.
inline constexpr const char* kDefaultFileName = "Default File Name";
inline constexpr const char* kDefaultFileVersion = "Default File Version";
inline constexpr const char* kDefaultFileDate = "Default File Date";
inline constexpr const char* kStatusStarting = "Waiting for Starting...";
inline constexpr const char* kStatusDone = "Download Successfully. Please power off and then power on device.";

// The length rounded up to a multiple of 512.
std::uint64_t ComputePaddedSize(std::uint64_t length);

// "%Y/%m/%d %I:%M %p" of an instant, in the program's local time
// (support/ProcessZone.h): "2008/03/07 02:15 PM". Independent of the locale.
std::string FormatFileDate(std::int64_t utcSeconds);

struct WaypointFileInfo {
    bool found = false;
    std::string name;     // without its folder
    std::string version = kDefaultFileVersion;
    std::string date;     // FormatFileDate of the last write
    std::uint64_t length = 0;
    std::uint64_t totalSize = 0;  // ComputePaddedSize(length)
};
// What the page shows about the chosen file; found is false when the file
// cannot be looked at (the texts stay the defaults then).
WaypointFileInfo ReadWaypointFileInfo(const std::string& path);

// The worker's job after the file dialog: status "Waiting for Starting...";
// the file read whole (a file that cannot be read or is too large is
// reported before the port is touched); the transfer; then status
// kStatusDone after a success, or the failure's text. With a transfer
// running already, returns kBusy at once and changes nothing.
BlockTransferResult DownloadWaypointFile(BlockTransfer& engine, const std::string& path,
                                         const BlockTransferCallbacks& callbacks);

}  // namespace waypoint
