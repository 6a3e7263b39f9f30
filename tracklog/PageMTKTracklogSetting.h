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
// Threads: Read, Apply and Clear run on the UI thread and hold the engine's
// receive lock over each exchange and its parse. The upload's threads and the
// watchdog (OnTimer, UI thread) meet only through the atomic flags below.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/CommandEngine.h"
#include "tracklog/LogDecoder.h"
#include "tracklog/StepByStepDlg.h"
#include "tracklog/TrackLogFileStatusDlg.h"
#include "ui/Page.h"

class CPageMTKTracklogSetting : public CPage, public CommandEngine {
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

    static int IntervalToComboIndex(int kind, int value);
    static unsigned RecordChecksum(const std::uint8_t* record);

    // The watchdog: a window timer on the page. Start returns the id (0 when
    // no timer could be had, after a message box); Stop is true when a timer
    // was killed.
    unsigned StartWatchdogTimer(unsigned elapseMs, unsigned timerId);
    bool StopWatchdogTimer(unsigned timerId);

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

private:
    bool PortOpen() const;
    void SetSettingStatus(const std::string& text);
    void SetProcessStatus(const std::string& text);
    void CheckRecordMode(int mode);
    void CheckLogBy(int byDistance);
    // Sends one option; true when the logger acknowledged it.
    bool SendSetting(int item, int value);
    // One query of an option's value; nothing without a usable answer.
    std::optional<std::uint32_t> QueryOption(int item, bool hex, bool retry);

    // File-status dialogs whose OK asked for their end; freed on the UI
    // thread after that OK handler has returned.
    std::vector<std::unique_ptr<CTrackLogFileStatusDlg>> closingStatusDialogs_;
};
