#include "SimWindow.h"

#include <QWidget>

#include "device/PageDeviceSetting.h"
#include "shell/OrvikUtilityDlg.h"
#include "support/UtilityManager.h"
#include "ui/templates/Template133.h"

namespace testsupport {

SimWindow::SimWindow(unsigned speed) : clock(speed), clockScope(clock), uiScope(ui) {}

SimWindow::~SimWindow() {
    window.reset();
    if (device) device->Stop();
    portLinked = 0;
    theUtility.modelType = 0;
}

bool SimWindow::StartDevice(const std::string& preset, const std::string& firmware, const std::string& hardware,
                            const std::string& friendlyText) {
    sim::SimOptions options;
    options.portDir = portDir.Path();
    options.friendlyText = friendlyText;
    device = std::make_unique<sim::DeviceSimulator>(options);
    sim::DeviceProfile profile = sim::ProfileForModel(preset);
    if (!firmware.empty()) profile.firmware = firmware;
    if (!hardware.empty()) profile.hardware = hardware;
    state = sim::InstallDevice(*device, profile);
    return device->Start();
}

void SimWindow::StartWindow() {
    window = std::make_unique<COrvikUtilityDlg>();
    window->Create(static_cast<QWidget*>(nullptr));
    window->ShowWindow(true);
    page = window->DevicePage();
}

void SimWindow::Connect() {
    page->SendCommand(dialog133::kAutoDetect);
    page->SendCommand(dialog133::kConnect);
    window->SetTickThread(false);
}

std::string SimWindow::LastReceived() const {
    const auto received = device->Received();
    return received.empty() ? std::string() : received.back().body;
}

}  // namespace testsupport
