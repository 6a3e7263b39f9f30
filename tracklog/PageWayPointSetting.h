// The waypoint page (template 134): Download asks for a waypoint file
// ("*.mpt"), shows its name, version and date, and sends it unchanged to the
// logger as a "$WRT" block transfer (tracklog/WaypointDownload.h), announced
// as its length rounded up to 512 bytes.
//
// Threads: the file chooser, the file's texts and every control update run
// on the UI thread; the worker runs only the transfer and hands its status
// text, bar position and percentage to the UI thread (PostToUi), in order.
// One worker at a time: a click while it runs does nothing; a finished
// worker is joined before the next starts, and the destructor asks a running
// transfer to stop and joins it. A failure (a file that cannot be read,
// which is reported before anything is sent, or a refusal, abort or silent
// device) shows its text in the status line and in a message box; the
// success text only follows a transfer that succeeded.
//
// The serial port is the update page's, reached through the page host.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "tracklog/BlockTransfer.h"
#include "ui/Page.h"

class CPageWayPointSetting : public CPage {
public:
    CPageWayPointSetting();
    ~CPageWayPointSetting() override;

    bool OnInitDialog() override;
    bool IsWorkerRunning() const override { return downloading_.load(); }

    // Download: the chooser, then the worker (SelectAndDownloadFile).
    void OnButtonDownload();
    // Waits for the end of a running worker.
    void JoinWorker();

    // The chosen file's name, without its folder.
    std::string fileName;

private:
    // The worker's body: the transfer of `path` and its report.
    void SelectAndDownloadFile(const std::string& path);
    // The status line; while it is empty a screen reader still names it.
    void SetStatusText(const std::string& text);

    std::unique_ptr<BlockTransfer> engine_;
    std::atomic<bool> downloading_{false};
    std::thread worker_;
};
