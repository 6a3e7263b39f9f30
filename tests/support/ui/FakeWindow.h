// The main window over a scripted serial port, a scripted user and a fake
// clock: what tests of the window and its pages share. Start() creates and
// shows the window with the given port list; the destructor closes it and
// puts the process-wide state back.
#pragma once

#include <memory>
#include <vector>

#include "FakeSerial.h"
#include "device/ComPortList.h"
#include "platform/Clock.h"
#include "platform/Ui.h"

class COrvikUtilityDlg;
class CPageDeviceSetting;

namespace testsupport {

class FakeWindow {
public:
    FakeWindow();
    ~FakeWindow();
    // Creates and shows the main window; the port search finds `ports`.
    bool Start(std::vector<ComPortInfo> ports = {});

    FakeSerialBackend serial;
    platform::ScopedSerialBackend serialScope{serial};
    platform::ScriptedUi ui;
    platform::ScopedUi uiScope{ui};
    platform::FakeClock clock;
    platform::ScopedClock clockScope{clock};
    std::unique_ptr<COrvikUtilityDlg> window;
    CPageDeviceSetting* page = nullptr;
};

}  // namespace testsupport
