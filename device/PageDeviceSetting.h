// The update page: step 1 connects to the device and identifies it, step 2
// checks an update file, step 3 runs the update. It owns the serial port.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "device/BluetoothAddress.h"
#include "device/FlashDownload.h"
#include "device/SerialLink.h"
#include "device/SerialUpdate.h"
#include "ui/Page.h"

class CommandEngine;

class CPageDeviceSetting : public CPage,
                           public SerialLink,
                           private FlashDownloadHost,
                           private SerialUpdateHost {
public:
    CPageDeviceSetting();
    ~CPageDeviceSetting() override;

    bool OnInitDialog() override;
    void DefaultAll() override { ResetPortSelection(); }
    bool IsWorkerRunning() const override;

    void InitPortCombos();
    void LoadCaptions();
    void OnSelchangeComboComPort();
    void OnSelchangeComboBaud();
    void OnButtonAutoDetect();
    void OnButtonConnect();
    void OnButtonWriteName();
    void ResetPortSelection();
    void IdentifyDevice();
    void DisconnectDevice();
    void ToggleConnection();
    void ConnectTrackLogger();

    // Step 2: the update file.
    void OnButtonSelectFile();
    void CheckUpdateFile(int& result);
    void OnButtonForceUpdate();
    // Step 3: the update, by flash download or by serial update.
    void OnButtonExecute();
    // The flash download's parts (the page's own operations).
    FlashDownloader& Flash() { return flash_; }
    SerialUpdater& SerialUpdate() { return serialUpdate_; }
    // Waits for the end of a running update worker (tests).
    void JoinWorker();

    // The logger's Bluetooth address, read and written through this page's
    // port, opened on the port the settings object names (refused, with
    // nothing sent, when it names no COM port 1..50 or a worker runs) and
    // closed again. Nothing in the window calls them.
    bool ReadBtMac();
    BluetoothAddressOps::WriteResult WriteBtMac();
    BluetoothAddressOps& Bluetooth() { return bluetooth_; }

    // A name Write Name accepts: at most 16 printable ASCII characters, none
    // of them a separator or otherwise unfit for a file name.
    static bool IsValidUserName(const std::string& name, bool* forbiddenCharacter = nullptr);
    // The bitmap the connection picture shows (130 connected, 131 not).
    int ConnectionPicture() const;

    // The device as identified.
    std::string deviceTypeName;
    std::string deviceFirmwareText;
    std::string deviceHardwareVersion;

    std::string selectedPortName;
    int autoPortFound = 0;
    std::string detectedPortName = "COM1";
    int detectedPortIndex = 0;
    int notConnected = 0;
    std::string statusText;
    std::string memoryUsageText;
    std::string userNameText;
    int forceUpdateMode = 0;

    std::string updateFilePathText;
    std::string updateFilePath;
    std::string updateFileFolder;
    std::string tempPayloadPath;

    static constexpr int kPortCount = 50;
    static constexpr int kMaxUserName = 16;

private:
    CommandEngine* Engine() const;
    // The port number of a found "COMn" name (1..50), 0 when it is none.
    static int PortNumber(const std::string& name);
    void ShowConnectionPicture(bool connected);

    // The update hosts (flash download and serial update): calls from the worker thread,
    // handed on to the UI thread.
    void SetStateText(int stringId) override;
    void SetWarningText(int stringId) override;
    void SetProgressBar(int position) override;
    void SetPercentText(const std::string& text) override;
    void ReopenPort() override;
    void SendSelfCheck() override;
    void CloseDevicePort() override;
    void UnlockTab() override;
    void EnableMainButtons(bool all) override;
    void ShowMessage(const std::string& text) override;

    // Copies the settings object's port into the link for an update run.
    void CopyPortSettings();
    // The same for the Bluetooth operations; false (nothing changed) when the
    // settings object names no COM port 1..50.
    bool TakeSettingsPort();

    // True while Connect identifies the device (the window keeps running).
    std::atomic<bool> identifying_{false};
    // True from Execute until the update worker has ended.
    std::atomic<bool> updating_{false};
    FlashDownloader flash_{*this};
    SerialUpdater serialUpdate_{*this, *this};
    BluetoothAddressOps bluetooth_;
    std::thread worker_;
    // The port and speed selections at Execute, for the worker's reopen.
    int runPortIndex_ = -1;
    int runBaudIndex_ = -1;
};
