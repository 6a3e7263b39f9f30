// The flash download of the update page, without the page: preparation of the
// flash-download library (handles, download agent, scatter file, image), the
// run with its three records and four progress callbacks, the worker's waits,
// the device's self-check afterwards, the final texts and the release of the
// library's objects.
//
// Everything that touches the window, the port or the command engine goes
// through FlashDownloadHost, which the page implements. The worker calls the
// host from its own thread (and the progress callbacks come on that thread
// too): the host hands each call over to the user-interface thread.
//
// Use on the update page, in Execute (user-interface thread):
//
//   flash.ClearConditions();
//   ... when FlashDownloader::UsesSerialUpdate(type, hardware, firmware):
//       the serial update instead ...
//   flash.SetDevice({deviceHardwareVersion, theUtility.modelType, tempPayloadPath});
//   flash.PrepareDownload();
//   flash.SetPortName(port name from the settings object);
//   start a worker thread that calls flash.RunFirmwareUpdate(); join it
//   before the page goes away (RequestStop() shortens the waits).
//
// Sound behaviour where the plain sequence would go wrong:
//  - the library is not run unless the download agent, the scatter file and
//    the image all loaded (a failed scatter load fails the update);
//  - a port name without a COM number from 1 to 50 refuses the run, so no
//    other port is ever written to;
//  - progress above 100 puts the bar at 100;
//  - no agent file found leaves no agent path from before.
//
// The library's four callbacks act on the update page's downloader, which
// they reach through the page instance of the settings object
// (devicePageInstance); the values the library passes them are not looked
// at, so a library that passes other values still resets the progress and
// shows texts 406 and 408. The page's class lies above this layer: the page
// tells once how it leads to its downloader (SetPageLookup).
//
// The firmware page runs its downloads through a downloader of its own, made
// with FrontEnd::kFirmwarePage. That one differs in three points only:
//  - the download agent follows the model code (firmware::AgentForModel):
//    no agent for a model without one, and then no parameter either;
//  - the percentage text is every value as "%d%%" (the bar stays in 0..100);
//  - the library's callbacks act on the downloader of the page that
//    downloadPageInstance names (SetDownloadPageLookup).
// Its worker is the page's own; it uses PrepareDownload, RunDownload and
// ReleaseDownload of this class.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "device/UpdateHost.h"
#include "flashlib/FlashLibrary.h"

class CPageDeviceSetting;
class CPageDownloadFW;

// The page's side of the flash download. Calls come from the worker thread
// (and from PrepareDownload on the thread that calls it).
class FlashDownloadHost : public virtual UpdateProgressHost {
public:
    // The warning line (static 1237): a string-table id.
    virtual void SetWarningText(int stringId) = 0;
    // Opens the port named by the page's COM combo again (ApplyPortSettings
    // with the page's port and speed selections).
    virtual void ReopenPort() = 0;
    // Sends the self-check sentence ($PQVR837) through the command engine
    // (SendQvrQuery(837)), without waiting for an answer.
    virtual void SendSelfCheck() = 0;
    // Closes the page's serial port (ClosePort).
    virtual void CloseDevicePort() = 0;
    // Unlocks the update page's tab (devicePageTabEnabled := 1 and
    // EnableItem(devicePageTabIndex, 1) on the main window's tab control).
    virtual void UnlockTab() = 0;
};

// The name of the first regular file in folder ("." when empty) whose name
// matches the shell pattern, without regard to case, smallest name first;
// empty when none does.
std::string FirstMatchingFile(const std::string& folder, const std::string& pattern);

// The device the update is for.
struct FlashDeviceInfo {
    std::string hardwareVersion;  // "V01", "V02", "V03", ...
    int modelType = 0;            // the settings object's model code
    std::string tempPayloadPath;  // the verified payload to write
};

class FlashDownloader {
public:
    // String-table ids of the texts.
    static constexpr int kStringTitle = 300;
    static constexpr int kStringPreparing = 405;
    static constexpr int kStringAgentInit = 406;
    static constexpr int kStringAgentProgress = 407;
    static constexpr int kStringImageInit = 408;
    static constexpr int kStringImageProgress = 409;
    static constexpr int kStringUpdating = 410;
    static constexpr int kStringDone = 411;
    static constexpr int kStringNoFile = 412;
    static constexpr int kStringSelfCheck = 445;
    static constexpr int kStringDoneUnplug = 446;
    static constexpr int kStringFailed = 447;
    static constexpr int kStringWarning = 453;

    // Values the library is given.
    static constexpr std::uint32_t kParameterMT3318 = 0x100800;
    static constexpr std::uint32_t kParameterV03 = 0xC00;
    static constexpr std::uint32_t kDownloadOption = 0x100;
    static constexpr std::uint32_t kLibraryDefault = 0x0FFFFFFF;
    static constexpr std::uint32_t kMaxImageBytes = 0x00100000;
    static constexpr const char* kScatterFileName = "scat.txt";

    // Waits of the worker.
    static constexpr std::uint32_t kStartWaitMs = 2000;
    static constexpr std::uint32_t kAfterRunWaitMs = 2000;  // twice
    static constexpr std::uint32_t kNoDeviceWaitMs = 1500;
    static constexpr std::uint32_t kSelfCheckSettleMs = 1000;
    static constexpr int kSelfCheckSteps = 100;
    // SetUpdateProgress's value for "finished".
    static constexpr int kProgressFinished = 1000;

    // The page a downloader serves.
    enum class FrontEnd { kUpdatePage, kFirmwarePage };

    explicit FlashDownloader(FlashDownloadHost& host, FrontEnd frontEnd = FrontEnd::kUpdatePage);
    ~FlashDownloader();
    FlashDownloader(const FlashDownloader&) = delete;
    FlashDownloader& operator=(const FlashDownloader&) = delete;

    // --- Tables ------------------------------------------------------------
    // Execute's choice (the model table, device/ModelTable.h): the serial
    // update when the type begins with the first five characters of a serial
    // model's name ("ZEP ION"), the hardware is its serial hardware ("V04",
    // over five characters) and the firmware value is above its bound (300);
    // otherwise the flash download.
    static bool UsesSerialUpdate(const std::string& deviceTypeName, const std::string& deviceHardwareVersion,
                                 const std::string& deviceFirmwareText);
    // The model table's speed code and self-check delay of a model code.
    static std::uint32_t SpeedCode(int modelType);
    static int SelfCheckDelayMs(int modelType);
    // The download agent's file pattern: MT3318 for exactly "V01", else MT3329.
    static std::string AgentPattern(const std::string& hardwareVersion);
    // The agent's parameter: 0x100800 for "V01", 0xC00 for "V03"; false for
    // any other hardware (no parameter is set).
    static bool AgentParameter(const std::string& hardwareVersion, std::uint32_t& value);
    // The COM number in a port name ("COM12", "//.//COM12"), 1..50; else 0.
    static int ComPortNumberOf(const std::string& portName);
    // The name the page opens its port by: "//.//" in front from COM10 on.
    static std::string LinkPortNameFor(const std::string& portName);

    // --- Inputs (user-interface thread, never during a run) ---------------
    void SetDevice(const FlashDeviceInfo& device) { device_ = device; }
    const FlashDeviceInfo& Device() const { return device_; }
    // comPortNumber := the COM number of the name, 0 when it has none.
    void SetPortName(const std::string& portName);
    // The folder of the download agents and the scatter file; empty (the
    // default) means the folder of the program file.
    void SetProgramFolder(const std::string& folder) { programFolderOverride_ = folder; }
    std::string ProgramFolder() const;

    // --- Operations -------------------------------------------------------
    // Execute's first step: daReady, imageReady, downloadDone (and the
    // scatter condition) := 0.
    void ClearConditions();
    void PrepareDownload();
    void LoadDownloadAgent();
    void LoadScatterFile();
    // 1 when the library's run returned 0, else 0.
    int RunDownload(platform::FlashHandle handle);
    void ReleaseDownload();
    // The worker's whole job; returns 1.
    int RunFirmwareUpdate();
    void SetUpdateProgress(int value);
    void WaitDeviceSelfCheck(int delayMs);

    // Shortens the worker's remaining waits (the page is going away); final
    // for this downloader. The library's run itself ends by its own bounded
    // time-outs.
    void RequestStop() { stopRequested_ = true; }
    bool StopRequested() const { return stopRequested_.load(); }
    // True while RunFirmwareUpdate runs.
    bool IsRunning() const { return running_.load(); }
    // True when the last RunFirmwareUpdate ended with the success texts.
    bool Succeeded() const { return succeeded_.load(); }

    // Library callbacks: each acts on PageDownloader() and ignores its value
    // and user pointer; without a page they do nothing.
    static int OnDaInitProgress(std::uint32_t value);
    static int OnDaProgress(std::uint8_t percent, std::uint32_t done, std::uint32_t total, void* user);
    static int OnDlInitProgress(std::uint32_t value);
    static int OnDlProgress(std::uint8_t percent, std::uint32_t done, std::uint32_t total, void* user);

    // How a page leads to its downloader; returns the lookup it replaces.
    using PageLookup = FlashDownloader* (*)(CPageDeviceSetting* page);
    static PageLookup SetPageLookup(PageLookup lookup);
    // The downloader of the page that devicePageInstance names; null without
    // a page or a lookup.
    static FlashDownloader* PageDownloader();

    // The firmware page's callbacks: the same, on DownloadPageDownloader().
    static int OnFirmwareDaInitProgress(std::uint32_t value);
    static int OnFirmwareDaProgress(std::uint8_t percent, std::uint32_t done, std::uint32_t total, void* user);
    static int OnFirmwareDlInitProgress(std::uint32_t value);
    static int OnFirmwareDlProgress(std::uint8_t percent, std::uint32_t done, std::uint32_t total, void* user);
    // How the firmware page leads to its downloader; returns the lookup it
    // replaces.
    using DownloadPageLookup = FlashDownloader* (*)(CPageDownloadFW* page);
    static DownloadPageLookup SetDownloadPageLookup(DownloadPageLookup lookup);
    // The downloader of the page that downloadPageInstance names; null
    // without a page or a lookup.
    static FlashDownloader* DownloadPageDownloader();

    // --- State ------------------------------------------------------------
    std::atomic<platform::FlashHandle> daHandle{0};
    std::atomic<platform::FlashHandle> dlHandle{0};
    std::atomic<std::uint8_t> daLoaded{0};
    std::atomic<std::uint8_t> imageLoaded{0};
    std::atomic<std::uint8_t> daReady{0};
    std::atomic<std::uint8_t> imageReady{0};
    std::atomic<std::uint8_t> scatterReady{0};
    std::atomic<std::uint8_t> downloadDone{0};
    std::atomic<int> comPortNumber{0};
    std::atomic<int> updateProgress{0};
    // Paths of this run ('/' separated); written by the preparation only.
    std::string daFolder;
    std::string daFilePath;
    std::string scatterFilePath;
    // Result of the last run call (flashresult::kNotReady or kBadPort when the
    // run was refused before the library was called).
    std::atomic<std::uint32_t> downloadResult{0};
    std::atomic<std::uint32_t> runStatus{0};
    // The run's report; written by the worker during the run only.
    platform::RunReport runReport{};

private:
    // Sleeps ms, in short slices so that a stop request ends it early.
    void Wait(std::uint32_t ms);
    void ShowState(int stringId);
    // What the callbacks do on a downloader: progress, then the state text.
    static int ReportProgress(FlashDownloader* downloader, int percent, int stringId);

    FlashDownloadHost& host_;
    const FrontEnd frontEnd_;
    FlashDeviceInfo device_;
    std::string programFolderOverride_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> running_{false};
    std::atomic<bool> succeeded_{false};
};
