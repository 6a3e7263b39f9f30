// The main window against the device simulator on a pseudo-terminal with a
// private port directory: what tests of the update page's steps share.
#pragma once

#include <memory>
#include <string>

#include "PtyTestEnv.h"
#include "platform/Clock.h"
#include "platform/Ui.h"
#include "sim/Behaviours.h"
#include "sim/DeviceSimulator.h"

class COrvikUtilityDlg;
class CPageDeviceSetting;

namespace testsupport {

class SimWindow {
public:
    // Waits run `speed` times faster than real time, in proportion.
    explicit SimWindow(unsigned speed = 4);
    ~SimWindow();

    // Starts a simulated device from a model preset; empty texts keep the
    // preset's firmware digits and hardware field.
    bool StartDevice(const std::string& preset, const std::string& firmware = "",
                     const std::string& hardware = "",
                     const std::string& friendlyText = "CP210x USB to UART Bridge Controller");
    void StartWindow();
    // Auto Detect, then Connect; the tick thread is stopped afterwards.
    void Connect();
    // The body of the last sentence the device received.
    std::string LastReceived() const;

    PtyPortDir portDir;
    platform::ScaledClock clock;
    platform::ScopedClock clockScope;
    platform::ScriptedUi ui;
    platform::ScopedUi uiScope;
    std::unique_ptr<sim::DeviceSimulator> device;
    std::shared_ptr<sim::DeviceState> state;
    std::unique_ptr<COrvikUtilityDlg> window;
    CPageDeviceSetting* page = nullptr;
};

}  // namespace testsupport
