#include "FakeWindow.h"

#include <QWidget>

#include "device/PageDeviceSetting.h"
#include "shell/OrvikUtilityDlg.h"
#include "support/UtilityManager.h"

namespace testsupport {

FakeWindow::FakeWindow() { portLinked = 0; }

FakeWindow::~FakeWindow() {
    window.reset();
    SerialLink::SetDefaultPortLister(nullptr);
    portLinked = 0;
    theUtility.modelType = 0;
}

bool FakeWindow::Start(std::vector<ComPortInfo> ports) {
    SerialLink::SetDefaultPortLister([ports](std::vector<ComPortInfo>& out, bool) { out = ports; });
    window = std::make_unique<COrvikUtilityDlg>();
    if (!window->Create(static_cast<QWidget*>(nullptr))) return false;
    window->ShowWindow(true);
    page = window->DevicePage();
    return page != nullptr;
}

}  // namespace testsupport
