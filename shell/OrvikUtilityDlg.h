// The main window: the tab control with the eight pages, the close and About
// buttons, the page command, the tick thread, the message pump for pages
// that poll the port, and the close sequences that leave the device in its
// normal state.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/Dialog.h"
#include "shell/TabCtrlEx.h"
#include "ui/PageHost.h"

class CPage;
class CPageDeviceSetting;
class CPageMTKTracklogSetting;
class CPageDownloadFW;

class COrvikUtilityDlg : public platform::Dialog, public PageHost {
public:
    static constexpr int kPageCount = 8;
    enum Slot {
        kSlotDevice = 0,
        kSlotGpsStatus = 1,
        kSlotTrackLogSetting = 2,
        kSlotFormat = 3,
        kSlotPhoto = 4,
        kSlotWayPoint = 5,
        kSlotLogger = 6,
        kSlotFirmware = 7,
    };

    COrvikUtilityDlg();
    ~COrvikUtilityDlg() override;

    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void OnClose() override;

    // What the pages ask of the window (PageHost).
    CommandEngine* Engine() const override;
    SerialLink* DevicePort() const override;
    void SetTickThread(bool run) override;
    void UpdateBanner() override;
    void EnableMainButtons(MainButtons buttons, bool enable) override;
    void EnableDeviceTab() override;
    void EnableFirmwareDownload() override;
    void PumpMessages() override;
    void SelectTab(int n) override;
    void ShowCurrentTab() override;
    void ShowMemoryUsage(const std::string& text) override;
    void LockForLogUpload(bool lock) override;
    void DisconnectLogger() override;
    bool WriteKml(const std::string& trlPath, const std::string& kmlPath) override;
    bool ConvertWithPhotos(const std::string& trlPath, const std::string& kmlPath,
                           const std::string& photoFolder) override;
    void EnableButtons(bool ok, bool cancel, bool applyAll, bool defaultAll);

    // Handlers of the message map.
    void OnSelchangeTab();
    void OnButtonApplyAll();
    void OnButtonDefaultAll();
    void OnButtonAbout();
    void OnSysCommand(unsigned id);
    void OnTimer(int id) override;

    CPageDeviceSetting* DevicePage() const;
    CPageMTKTracklogSetting* LoggerPage() const;
    CPageDownloadFW* FirmwarePage() const;
    CPage* Page(int slot) const { return slot >= 0 && slot < kPageCount ? pages[slot] : nullptr; }
    CPage* TabPage(int tab) const { return tab >= 0 && tab < kPageCount ? tabPages[tab] : nullptr; }
    int CurrentTab() const { return currentTab; }
    bool TickThreadRunning() const { return tickThreadRun.load(); }
    // True while any page's worker runs; closing waits for the end of it.
    bool AnyWorkerRunning() const;

    CTabCtrlEx tabControl;
    int devicePageTabEnabled = 0;

    // The id of the About item of the system menu.
    static constexpr unsigned kIdmAboutBox = 0x10;
    static constexpr unsigned kScClose = 0xF060;

private:
    void TickLoop();
    void CreatePages();

    std::array<CPage*, kPageCount> pages{};
    std::atomic<bool> tickThreadRun{false};
    int currentTab = 0;
    std::array<int, kPageCount> tabEnabled{};
    std::array<CPage*, kPageCount> tabPages{};

    std::mutex tickControl_;
    std::mutex tickWait_;
    std::condition_variable tickWake_;
    std::thread tickWorker_;
};
