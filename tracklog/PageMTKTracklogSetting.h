// The logger settings page: the track logger's recording options (record
// mode, logging interval, logging distance), the erase of its log memory and
// the start of the log upload. The main window keeps it hidden; its controls
// and handlers work all the same. Its object is also the program's device
// command engine: every page sends its sentences through it.
//
// The choice tables, the sentences an Apply sends and the parsing of the
// logger's replies are plain logic in LoggerOptions.h. A setting counts as
// sent only when the logger acknowledged it; the page then remembers it in
// the settings object (logIntervalSent, logDistanceSent, recordModeSent), so
// the next Apply sends only what changed.
//
// The log upload (Upload button): a worker thread asks "Transform to File",
// switches a USB-serial bridge to 921600 bit/s, reads the log memory through
// LogUploader into the raw dump "Mirel.trl" and the decoder, writes the .trl
// files (and their KML) into the chosen folder and lists them in the
// file-status dialog. Whatever ends it (done, timed out, port lost,
// cancelled), the end section puts the link back to 38400 bit/s on a bridge,
// clears highSpeedLink and enables the controls and the dialog's OK again.
//
// Threads: Read, Apply and Clear run on the UI thread and hold the engine's
// receive lock over each exchange and its parse. The upload worker touches no
// widget and no dialog: it posts control updates to the UI thread, hands its
// file-status lines over in batches and runs what it needs of the main
// window there, waiting for it. Only the KML conversions of the written
// files, plain file work, run on the worker itself. The worker and the read-out's
// receive thread meet the watchdog (OnTimer, UI thread) only through the
// atomic flags below. The destructor ends and joins the worker.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "device/CommandEngine.h"
#include "platform/UiThread.h"
#include "tracklog/LogDecoder.h"
#include "tracklog/LogUploader.h"
#include "tracklog/StepByStepDlg.h"
#include "tracklog/TrackLogFileStatusDlg.h"
#include "ui/Page.h"

class CPageMTKTracklogSetting : public CPage,
                                public CommandEngine,
                                public TrlConversionHost,
                                private UploadObserver {
public:
    // The upload's watchdog timer.
    static constexpr int watchdogTimerId = 1324;
    static constexpr int kWatchdogMs = 15000;
    // The end-address poll after an erase: this many queries, 100 ms apart.
    static constexpr int kEndAddressPolls = 50;
    static constexpr int kEndAddressPollMs = 100;

    // The main window links the engine to the update page's port when it
    // creates the pages.
    CPageMTKTracklogSetting();
    ~CPageMTKTracklogSetting() override;

    bool OnInitDialog() override;
    platform::LResult OnMessage(unsigned message, platform::WParam wParam, platform::LParam lParam) override;
    void OnTimer(int id) override;
    void ApplyAll() override;
    void DefaultAll() override;

    void SetDefaults();
    void LoadCaptions();
    void OnRadioFullAndStop();
    void OnRadioOverwrite();
    void OnRadioBySecond();
    void OnRadioByDistance();
    void OnSelchangeComboLogInterval();
    void OnSelchangeComboLogDistance();
    void OnCheckEnableRecording();
    void OnButtonRead();
    void OnButtonClear();
    // Reads the interval (item 3) or the distance (item 4); false when the
    // logger gave no usable answer (the status line says so).
    bool ReadLogSetting(int command, int item, int ignored = 0);
    // Shows the remembered settings of the settings object.
    void ShowDeviceSettings();
    void OnCloseStatusDialog();
    // Starts the log upload on its worker thread.
    void OnButtonUpload();
    bool IsWorkerRunning() const override { return uploadRunning_.load(); }
    // How the last upload ended (kDone before any).
    LogUploader::Result LastUploadResult() const { return lastUploadResult_.load(); }

    // The decoder's calls, from the upload worker.
    void ShowStatusList() override;
    void AddStatusLine(const std::string& line) override;
    bool WriteKml(const std::string& trlPath, const std::string& kmlPath) override;
    bool ConvertWithPhotos(const std::string& trlPath, const std::string& kmlPath,
                           const std::string& photoFolder) override;

    static int IntervalToComboIndex(int kind, int value);
    static unsigned RecordChecksum(const std::uint8_t* record);

    // The watchdog: a window timer on the page. Start returns the id (0 when
    // no timer could be had, after a message box); Stop is true when a timer
    // was killed.
    unsigned StartWatchdogTimer(unsigned elapseMs, unsigned timerId);
    bool StopWatchdogTimer(unsigned timerId);

    // After the transfer: the .trl files of the decoded log into folder and
    // their KML (with photo links from photoFolder when combine is set), each
    // listed in the file-status dialog. Runs on the upload worker.
    void WriteUploadFiles(const std::string& folder, bool writeTotal, bool combine, const std::string& photoFolder);

    // Replaces the file-status dialog by a new, hidden one with OK disabled,
    // a child of the main window that notifies this page.
    CTrackLogFileStatusDlg* OpenStatusDialog();

    // Recording options. The interval is kept in tenths of a second, as the
    // logger counts it; 0 means off.
    int logIntervalTenths = 0;
    int logDistanceTenths = 0;  // tenths of a metre; 0 means off
    int recordMode = 0;         // 1 overwrite when full, 2 stop when full
    int logByDistance = 0;      // 0 by time, 1 by distance
    int distanceInFeet = 0;     // the distance list holds feet
    int recordingEnabled = 0;   // last state of check box 1001
    int LogIntervalSeconds() const { return logIntervalTenths / 10; }

    // Flags of the log upload: end its receive loop; a block timed out; the
    // receive loop runs.
    std::atomic<int> stopReceive{0};
    std::atomic<int> blockTimedOut{0};
    std::atomic<int> receiveActive{0};

    // The file-status dialog of the last upload; null when there is none.
    std::unique_ptr<CTrackLogFileStatusDlg> fileStatusDialog;
    // A "Transform to File" dialog that is never shown (each upload runs its
    // own).
    CStepByStepDlg stepByStepDialog;

    // The log memory decoder of the upload and its .trl files.
    LogDecoder logDecoder;

    // The raw dump of the log memory in the track-log folder.
    static constexpr const char* kRawDumpName = "Mirel.trl";

private:
    // The upload worker and its end section.
    void UploadTrackLog();
    void EndSection(bool bridge, LogUploader::Result result);
    // Runs fn on the UI thread and waits for it; false (fn not run) when the
    // page is being destroyed meanwhile.
    bool RunOnUi(const std::function<void()>& fn);
    void PostStatus(const std::string& text);
    // UploadObserver: progress and the watchdog, from the worker.
    void Progress(unsigned percent) override;
    void ArmWatchdog() override;
    void DisarmWatchdog() override;

    bool PortOpen() const;
    void SetSettingStatus(const std::string& text);
    void SetProcessStatus(const std::string& text);
    void CheckRecordMode(int mode);
    void CheckLogBy(int byDistance);
    // Sends one option; true when the logger acknowledged it.
    bool SendSetting(int item, int value);
    // One query of an option's value; nothing without a usable answer.
    std::optional<std::uint32_t> QueryOption(int item, bool hex, bool retry);

    // The worker's status lines, on their way to the file-status dialog on
    // the UI thread: a bounded batch per hand-off, hand-offs at least a pause
    // apart.
    static constexpr std::size_t kStatusLinesPerHandOff = 256;
    static constexpr int kStatusLinesPauseMs = 20;
    platform::UiBatchQueue<std::string> statusLines_;

    // File-status dialogs whose OK asked for their end; freed on the UI
    // thread after that OK handler has returned.
    std::vector<std::unique_ptr<CTrackLogFileStatusDlg>> closingStatusDialogs_;

    std::thread uploadThread_;
    std::atomic<bool> uploadRunning_{false};
    std::atomic<bool> closing_{false};
    std::atomic<LogUploader::Result> lastUploadResult_{LogUploader::Result::kDone};
};
