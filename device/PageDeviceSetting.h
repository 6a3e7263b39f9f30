// The update page: step 1 connects to the device and identifies it, step 2
// checks an update file, step 3 runs the update. It owns the serial port.
#pragma once

#include <atomic>
#include <string>

#include "device/SerialLink.h"
#include "shell/Page.h"

class CPageMTKTracklogSetting;

class CPageDeviceSetting : public CPage, public SerialLink {
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

    // The model names by model code; any other code shows one blank.
    static std::string ModelName(int code);
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

    static constexpr int kPortCount = 50;
    static constexpr int kMaxUserName = 16;

private:
    CPageMTKTracklogSetting* Engine() const;
    // The port number of a found "COMn" name (1..50), 0 when it is none.
    static int PortNumber(const std::string& name);
    void ShowConnectionPicture(bool connected);

    // True while Connect identifies the device (the window keeps running).
    std::atomic<bool> identifying_{false};
};
