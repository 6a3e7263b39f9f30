// The track-log setting page (template 130): Read of the logger's recording
// settings, the settings with their metre/foot toggle, Apply (only what
// changed) and Default All through the page command, Upload of the track
// log into a file and Clear. The values, the conversions and the page's own
// PMTK182 sender live in tracklog/TrackLogSettings.h; the read-out in
// tracklog/BlockTransfer.h; the output file in tracklog/BlockLogRecord.h.
//
// Threads: Read, Apply, Default All and the recording switch run on the UI
// thread and keep the window painting while they poll (PumpingClock).
// Upload's read-out and Clear run on the page's one worker thread, which
// touches no widget: every status, percentage and message box is posted to
// the UI thread. One job at a time: `busy_` (atomic) is taken by whichever
// starts first, and any other button, page command or second click does
// nothing until it is free again. The worker is joined before the next one
// starts and in the destructor; IsWorkerRunning() keeps the main window
// open meanwhile.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "tracklog/BlockLogRecord.h"
#include "tracklog/BlockTransfer.h"
#include "tracklog/TrackLogSettings.h"
#include "ui/Page.h"

class SerialLinkPort;

class CPageTrackLogSetting : public CPage {
public:
    CPageTrackLogSetting();
    ~CPageTrackLogSetting() override;

    bool OnInitDialog() override;
    void ApplyAll() override;
    void DefaultAll() override;
    bool IsWorkerRunning() const override { return busy_.load(); }

    // Handlers of the controls.
    void OnButtonRead();
    void OnCheckEnableRecording();
    void OnRadioLogByTimeOrDistance(int id);
    void OnRadioMeterFoot(int id);
    void OnRadioRecordMode(int id);
    void OnButtonUpload();
    void OnButtonClear();

    // Shows one group of the controls from the staged values: 0 the
    // recording switch (and what it enables), 1 the log mode, 2 the
    // interval, 3 the distance and its unit, 4 the record mode, 5 and 6 the
    // upload and clear progress back to "0%".
    void UpdateControls(int group);

    // Waits for the end of the worker (the destructor; tests).
    void JoinWorker();

    TrackLogSettings settings;
    // The PMTK182 command of the read-out's wake-up: 5 (Upload), 2 after Read,
    // 6 after Clear, as the buttons set it.
    int preCommand = 5;
    // 0 ".trl" (raw blocks), 1 ".txt", 2 ".kml".
    int outputMode = kOutputRaw;
    // The texts of the interval and distance edits, as last read or shown.
    std::string intervalText;
    std::string distanceText;

private:
    // Takes the one job; false when another runs.
    bool TakeJob();
    Pmtk182Sender* Sender();
    void OpenLoggerPort();
    BlockTransfer* Transfer();
    void ReadEdits();
    void ShowEdits();
    void EnableJobButtons(bool enable);
    void SetStatus(int id, const std::string& text);  // from any thread
    void ShowFailure(const std::string& text);       // from any thread
    void UploadThreadProc();
    void ClearThreadProc();

    std::atomic<bool> busy_{false};
    std::thread worker_;
    std::unique_ptr<SerialLinkPort> port_;
    std::unique_ptr<TrackLogPmtk182Sender> sender_;
    std::unique_ptr<BlockTransfer> transfer_;
    TrackLogOutputFile output_;  // the worker's while it runs
};
