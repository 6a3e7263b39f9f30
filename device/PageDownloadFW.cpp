#include "device/PageDownloadFW.h"

#include <algorithm>

#include "device/SentencePort.h"
#include "device/UpdateImage.h"
#include "platform/Clock.h"
#include "platform/Trace.h"
#include "platform/Ui.h"
#include "support/UtilityManager.h"
#include "ui/StringTable.h"
#include "ui/templates/Template147.h"

using namespace dialog147;
using MainButtons = PageHost::MainButtons;

namespace {
constexpr int kStringTitle = 300;
constexpr std::uint32_t kWorkerWaitMs = 2000;  // before the run and after it
constexpr std::uint32_t kWaitSliceMs = 100;
}  // namespace

CPageDownloadFW::CPageDownloadFW() : CPage(res::Template147()) {
    OnNotify(kBrowse, platform::notify::kClicked, [this] { OnButtonBrowse(); });
    OnNotify(kDownload, platform::notify::kClicked, [this] { OnButtonDownload(); });
}

CPageDownloadFW::~CPageDownloadFW() {
    // The window does not close during a download; should the page go anyway,
    // the worker's waits are cut short and it is waited for.
    flash_.RequestStop();
    JoinWorker();
    if (downloadPageInstance.load() == this) {
        downloadPageInstance = nullptr;
    }
}

void CPageDownloadFW::JoinWorker() {
    if (worker_.joinable()) worker_.join();
}

bool CPageDownloadFW::OnInitDialog() {
    CPage::OnInitDialog();
    EnableDlgItem(kDownload, false);
    LoadCaptions();
    // The bar shows no text: a screen reader names it by the status line's
    // caption.
    SetDlgItemAccessibleName(kProgress, res::LoadString(404));
    SetProgressRange(kProgress, 0, 100);
    downloadPageInstance = this;
    FlashDownloader::SetDownloadPageLookup([](CPageDownloadFW* page) { return &page->Flash(); });
    std::string name;
    int baud = 0;
    int handle = 0;
    theUtility.GetPort(name, baud, handle);
    SetComSettings(name, baud, handle);
    return true;
}

void CPageDownloadFW::LoadCaptions() {
    static const int kCaptions[][2] = {
        {kFrame, 434}, {kWarning, 401}, {kFileLabel, 402}, {kDownload, 403}, {kStatus, 404},
    };
    for (const auto& [control, id] : kCaptions) {
        SetDlgItemText(control, res::LoadString(id));
    }
}

void CPageDownloadFW::SetComSettings(const std::string& portName, int baudRate, int) {
    // The settings object's handle is not taken: the page's own port keeps
    // its own, 0 while it is closed.
    std::string link;
    if (!firmware::PortForRun(portName, comPortNumber, link)) link = portName;
    linkPortName = link;
    linkBaudRate = baudRate > 0 ? baudRate : 115200;
}

bool CPageDownloadFW::TakeSettingsPort() {
    std::string name;
    int baud = 0;
    int handle = 0;
    theUtility.GetPort(name, baud, handle);
    int number = 0;
    std::string link;
    if (!firmware::PortForRun(name, number, link)) return false;
    SetComSettings(name, baud, handle);
    return true;
}

void CPageDownloadFW::OnButtonBrowse() {
    platform::FileDialogRequest request;
    request.defaultExtension = kChooserDefaultExtension;
    request.fileName = kChooserFileName;
    request.filter = kChooserFilter;
    std::string path;
    if (!platform::Ui().ChooseFile(this, request, path)) return;
    UpdateWindow();
    firmwareFilePathText = path;
    firmwareFilePath.clear();
    firmwareFileFolder.clear();
    SetDlgItemText(kFilePath, firmwareFilePathText);
    // A path the fields cannot hold, or one without a folder for the
    // temporary payload, counts as no file.
    std::string folder;
    if (path.size() > update::kMaxPathLength || !update::FolderOf(path, folder)) return;
    firmwareFilePath = path;
    firmwareFileFolder = folder;
}

void CPageDownloadFW::OnButtonDownload() {
    if (downloadBusy.IsBusy()) return;
    // The last worker has cleared the flag; it ends before anything of the
    // next run is set.
    JoinWorker();
    const std::string title = res::LoadString(kStringTitle);
    if (firmwareFilePath.empty()) {
        platform::Ui().MessageBox(this, res::LoadString(firmware::kStringNoFile), title, platform::mb::kIconStop);
        return;
    }
    tempPayloadPath = firmware::TempPayloadPath(firmwareFileFolder);
    if (update::ExtractFirmwarePayload(update::ImageMode::WithHeader, firmwareFilePath, tempPayloadPath) !=
        update::ImageStatus::Ok) {
        platform::Ui().MessageBox(this, res::LoadString(firmware::kStringBadFile), title, platform::mb::kIconStop);
        return;
    }
    // The run goes to the port the settings object names now, or nowhere;
    // the payload just written goes too then.
    if (!TakeSettingsPort()) {
        update::RemovePayloadFile(tempPayloadPath);
        platform::Ui().MessageBox(this, res::LoadString(firmware::kStringConnectFailed), title,
                                  platform::mb::kIconStop);
        return;
    }
    if (!downloadBusy.TryBegin()) return;
    SetLocked(true);
    flash_.ClearConditions();
    flash_.SetDevice({"", theUtility.modelType.load(), tempPayloadPath});
    flash_.PrepareDownload();
    flash_.SetPortName(linkPortName);
    worker_ = std::thread([this] { RunFirmwareUpdate(); });
}

void CPageDownloadFW::SetLocked(bool locked) {
    EnableDlgItem(kBrowse, !locked);
    EnableDlgItem(kDownload, !locked);
    if (host) host->EnableMainButtons(MainButtons::All, !locked);
}

void CPageDownloadFW::Wait(std::uint32_t ms) {
    while (ms > 0 && !flash_.StopRequested()) {
        const std::uint32_t step = std::min(ms, kWaitSliceMs);
        platform::Sleep(step);
        ms -= step;
    }
}

void CPageDownloadFW::RunFirmwareUpdate() {
    Wait(kWorkerWaitMs);
    const bool ran = !flash_.StopRequested() && flash_.RunDownload(flash_.dlHandle) == 1;
    SetStateText(firmware::kStringUpdating);
    Wait(kWorkerWaitMs);
    // The loads are judged before the release forgets them.
    const int finalText = firmware::FinalTextId(flash_.daLoaded == 1, flash_.imageLoaded == 1,
                                                ran ? flash_.downloadResult.load() : platform::flashresult::kNotReady);
    flash_.ReleaseDownload();
    SetStateText(finalText);
    // The payload goes before the flag (a next run writes its own), and the
    // flag before the buttons: once Download is enabled, it is accepted.
    update::RemovePayloadFile(tempPayloadPath);
    downloadBusy.End();
    UnlockTab();
    PostToUi([this] { SetLocked(false); });
}

void CPageDownloadFW::SetStateText(int stringId) {
    platform::TraceF("Firmware download state %d\n", stringId);
    const std::string text = res::LoadString(stringId);
    PostToUi([this, text] { SetDlgItemText(kStatus, text); });
}

void CPageDownloadFW::SetWarningText(int stringId) {
    const std::string text = res::LoadString(stringId);
    PostToUi([this, text] { SetDlgItemText(kWarning, text); });
}

void CPageDownloadFW::SetProgressBar(int position) {
    PostToUi([this, position] { SetProgressPos(kProgress, position); });
}

void CPageDownloadFW::SetPercentText(const std::string& text) {
    PostToUi([this, text] { SetDlgItemText(kPercent, text); });
}

void CPageDownloadFW::UnlockTab() {
    PostToUi([this] {
        if (host) host->EnableDeviceTab();
    });
}

void CPageDownloadFW::EnableMainButtons(bool all) {
    PostToUi([this, all] {
        if (host) host->EnableMainButtons(all ? MainButtons::All : MainButtons::OkAndAbout, true);
    });
}

// ---------------------------------------------------------------------------
// Bluetooth address.

bool CPageDownloadFW::ReadBtMac() {
    if (downloadBusy.IsBusy() || !TakeSettingsPort()) return false;
    SerialLinkPort port(*this, SerialLinkPort::CloseMode::kKeepName);
    return bluetooth_.ReadBtMac(port);
}

BluetoothAddressOps::WriteResult CPageDownloadFW::WriteBtMac() {
    if (downloadBusy.IsBusy() || !TakeSettingsPort()) return BluetoothAddressOps::WriteResult::kPortFailed;
    SerialLinkPort port(*this, SerialLinkPort::CloseMode::kKeepName);
    return bluetooth_.WriteBtMac(port);
}

BluetoothAddressOps::StepResult CPageDownloadFW::WriteNextBtMac() {
    if (downloadBusy.IsBusy()) return BluetoothAddressOps::StepResult::kBusy;
    SerialLinkPort port(*this, SerialLinkPort::CloseMode::kKeepName);
    return bluetooth_.WriteNextBtMac(port);
}
