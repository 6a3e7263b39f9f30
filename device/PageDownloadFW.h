// The firmware download page (template 147): a second front end for the flash
// download, taking a firmware image (".bin": the update-file container with
// its header) and writing it to the device through the flash-download
// library. The main window creates it hidden and without a tab; it uses the
// page through its busy flag, which keeps the window from closing while a
// download runs. "Download" is enabled by a successful identification on the
// update page (PageHost::EnableFirmwareDownload) and at the end of a run.
//
// Download, on the user-interface thread:
//   no file chosen              box 412 (caption 300, error icon), nothing locked
//   CRC of the image wrong      box 415, nothing locked
//   no COM port 1..50 in the    box 413, nothing locked, the payload removed:
//   settings object             the run never goes to the port number of an
//                               earlier run or to the number the page starts
//                               with (8)
//   otherwise                   payload to "<folder>/Orvik_FW_Temp.bin"; 1005,
//                               1006 and the main window's buttons locked;
//                               busy; library prepared; worker started
// Worker (its own thread; every control change goes to the UI thread):
//   2 s, the run, status 410, 2 s, release, then status 411 only when the
//   agent and the image both loaded and the run returned 0, else 413; the
//   temporary payload removed; busy cleared; tab, buttons and 1005/1006
//   enabled again. No self-check and no port close follow a run.
//
// The worker is joined before the next run starts and when the page goes.
//
// The page also reads, writes and steps the logger's Bluetooth address on a
// port of its own (BluetoothAddress.h); nothing in the window calls these.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

#include "device/BluetoothAddress.h"
#include "device/FirmwareDownload.h"
#include "device/FlashDownload.h"
#include "device/SerialLink.h"
#include "ui/Page.h"

class CPageDownloadFW : public CPage, public SerialLink, private FlashDownloadHost {
public:
    CPageDownloadFW();
    ~CPageDownloadFW() override;

    bool OnInitDialog() override;
    bool IsWorkerRunning() const override { return downloadBusy.IsBusy(); }

    void LoadCaptions();
    void OnButtonBrowse();
    void OnButtonDownload();
    // Port name, speed and handle into the page's members, and the port
    // number from the name (0 when it names no COM port 1..50).
    void SetComSettings(const std::string& portName, int baudRate, int portHandle);

    // The flash download's parts (the page's own downloader).
    FlashDownloader& Flash() { return flash_; }
    // Waits for the end of a running download worker.
    void JoinWorker();

    // --- Bluetooth address (operations without a caller in the window) ----
    // Read and write open the port the settings object names (refused, with
    // nothing sent, when it names no COM port 1..50 or a download runs) and
    // close it again.
    bool ReadBtMac();
    BluetoothAddressOps::WriteResult WriteBtMac();
    // One step on the page's own port, which must be open (OpenPort).
    // Refused (kBusy), like reading and writing, while a download runs.
    BluetoothAddressOps::StepResult WriteNextBtMac();
    BluetoothAddressOps& Bluetooth() { return bluetooth_; }

    // 1 from an accepted Download until its worker ends.
    firmware::BusyFlag downloadBusy;

    std::string firmwareFilePathText;
    std::string firmwareFilePath;
    std::string firmwareFileFolder;
    std::string tempPayloadPath;
    int comPortNumber = 8;

    // The open-file chooser of the hidden "..." button.
    static constexpr const char* kChooserDefaultExtension = "Orvik L-731 Firmware";
    static constexpr const char* kChooserFileName = "*.bin";
    static constexpr const char* kChooserFilter = "Orvik L-731 Firmware (*.bin)|*.bin|";

private:
    // Takes the settings object's port into the members; false when it
    // names no COM port 1..50 (the members are left alone then).
    bool TakeSettingsPort();
    void RunFirmwareUpdate();
    // Sleeps ms in short slices; a stop request (the page going) ends it.
    void Wait(std::uint32_t ms);
    void SetLocked(bool locked);

    // The flash download's host: calls from the worker (and from the
    // preparation), handed on to the UI thread.
    void SetStateText(int stringId) override;
    void SetWarningText(int stringId) override;
    void SetProgressBar(int position) override;
    void SetPercentText(const std::string& text) override;
    void ReopenPort() override {}
    void SendSelfCheck() override {}
    void CloseDevicePort() override {}
    void UnlockTab() override;
    void EnableMainButtons(bool all) override;

    FlashDownloader flash_{*this, FlashDownloader::FrontEnd::kFirmwarePage};
    BluetoothAddressOps bluetooth_;
    std::thread worker_;
};
