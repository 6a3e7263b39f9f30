#include "shell/OrvikUtilityDlg.h"

#include <QApplication>
#include <QIcon>

#include "device/ModelTable.h"
#include "device/PageDeviceSetting.h"
#include "device/PageDownloadFW.h"
#include "device/PageGPSStatus.h"
#include "export/PageTrackLogFormat.h"
#include "export/PageTrackLogPhoto.h"
#include "platform/Clock.h"
#include "platform/Controls.h"
#include "platform/Trace.h"
#include "platform/UiThread.h"
#include "shell/AboutDlg.h"
#include "support/StdioFileEx.h"
#include "support/UtilityManager.h"
#include "tracklog/PageMTKTracklogSetting.h"
#include "tracklog/PageTrackLogSetting.h"
#include "tracklog/PageWayPointSetting.h"
#include "ui/Page.h"
#include "ui/StringTable.h"
#include "ui/templates/Template102.h"
#include "ui/templates/Template133.h"
#include "ui/templates/Template147.h"

using namespace dialog102;

namespace {
constexpr int kBmpBannerPlain = 129;
constexpr int kBmpBannerModel = 141;
constexpr int kBmpSmall = 132;
}  // namespace

COrvikUtilityDlg::COrvikUtilityDlg() : Dialog(res::Template102()) {
    tabEnabled.fill(1);
    tabPages.fill(nullptr);
    pages.fill(nullptr);
    OnNotify(kTab, platform::notify::kTabSelChange, [this] { OnSelchangeTab(); });
    OnNotify(kApplyAll, platform::notify::kClicked, [this] { OnButtonApplyAll(); });
    OnNotify(kDefaultAll, platform::notify::kClicked, [this] { OnButtonDefaultAll(); });
    OnNotify(kAbout, platform::notify::kClicked, [this] { OnButtonAbout(); });
}

COrvikUtilityDlg::~COrvikUtilityDlg() {
    SetTickThread(false);
    // Pages join their own workers before they go; the update page, whose
    // port the other pages' workers use, goes last.
    for (int slot = kPageCount - 1; slot >= 0; --slot) {
        delete pages[slot];
        pages[slot] = nullptr;
    }
    tabPages.fill(nullptr);
    tabControl.Attach(nullptr, kTab, nullptr);
}

CPageDeviceSetting* COrvikUtilityDlg::DevicePage() const {
    return static_cast<CPageDeviceSetting*>(pages[kSlotDevice]);
}

CPageMTKTracklogSetting* COrvikUtilityDlg::LoggerPage() const {
    return static_cast<CPageMTKTracklogSetting*>(pages[kSlotLogger]);
}

CPageDownloadFW* COrvikUtilityDlg::FirmwarePage() const {
    return static_cast<CPageDownloadFW*>(pages[kSlotFirmware]);
}

bool COrvikUtilityDlg::AnyWorkerRunning() const {
    for (CPage* page : pages) {
        if (page && page->IsWorkerRunning()) return true;
    }
    return false;
}

void COrvikUtilityDlg::CreatePages() {
    auto* tabWidget = Item<platform::TabControlWidget>(kTab);
    pages[kSlotDevice] = new CPageDeviceSetting();
    pages[kSlotGpsStatus] = new CPageGPSStatus();
    pages[kSlotTrackLogSetting] = new CPageTrackLogSetting();
    pages[kSlotFormat] = new CPageTrackLogFormat();
    pages[kSlotPhoto] = new CPageTrackLogPhoto();
    pages[kSlotWayPoint] = new CPageWayPointSetting();
    pages[kSlotLogger] = new CPageMTKTracklogSetting();
    pages[kSlotFirmware] = new CPageDownloadFW();
    // The command engine talks through the update page's port.
    LoggerPage()->SetLink(DevicePage());
    QRect itemRect;
    for (int slot = 0; slot < kPageCount; ++slot) {
        pages[slot]->Create(tabWidget);
        if (slot == 0) {
            // Asked once, while the control holds no item yet: (0, 0).
            itemRect = tabWidget->GetItemRect(0);
        }
        pages[slot]->MoveWindow(itemRect.left() + 8, itemRect.top() + 28);
    }
}

bool COrvikUtilityDlg::OnInitDialog() {
    Dialog::OnInitDialog();
    tabControl.Attach(Item<platform::TabControlWidget>(kTab), kTab,
                      [this] { OnSelchangeTab(); });

    // String 101 is not in the table, so the system menu gets no About item.
    if (GetWidget()) {
        GetWidget()->setWindowIcon(QIcon(platform::ResourceBitmap(128)));
    }

    SetWindowText(res::LoadString(300));
    SetDlgItemText(kOk, res::LoadString(301));
    SetDlgItemText(kCancel, res::LoadString(302));
    SetDlgItemText(kApplyAll, res::LoadString(303));
    SetDlgItemText(kDefaultAll, res::LoadString(304));
    SetDlgItemText(kAbout, res::LoadString(432));
    SetDlgItemText(kCancel, res::LoadString(302));

    CreatePages();

    tabPages[0] = pages[kSlotDevice];
    tabEnabled[0] = 1;
    theUtility.forceTabRefresh = 0;
    devicePageTabEnabled = 1;

    int inserted = 0;
    if (tabEnabled[0] == 1) {
        tabControl.Control()->InsertItem(0, QString::fromStdString(res::LoadString(305)));
        // The tab's label (string 305) is empty; a screen reader names it by
        // the program.
        tabControl.Control()->Bar()->setAccessibleTabName(0, QString::fromStdString(res::LoadString(300)));
        SetDlgItemAccessibleName(kTab, res::LoadString(300));
        tabPages[0] = pages[kSlotDevice];
        tabControl.EnableItem(0, devicePageTabEnabled != 0);
        theUtility.devicePageTabIndex = 0;
        ++inserted;
    }
    tabCount = inserted;

    SelectTab(0);
    EnableDialogTheme(GetWidget());
    SetDlgItemBitmap(kSmallBitmap, kBmpSmall);
    tabControl.Install(tabControl.Control());
    return true;
}

void COrvikUtilityDlg::SelectTab(int n) {
    if (n < 0 || n >= tabCount) {
        return;
    }
    currentTab = n;
    tabControl.Control()->SetCurSel(n);
    for (int i = 0; i < tabCount; ++i) {
        if (tabPages[i]) tabPages[i]->ShowWindow(false);
    }
    if (tabPages[n]) {
        tabPages[n]->ShowWindow(true);
        tabPages[n]->UpdateWindow();
    }
}

void COrvikUtilityDlg::OnSelchangeTab() {
    currentTab = tabControl.GetCurSel();
    for (int i = 0; i < tabCount; ++i) {
        if (!tabPages[i]) continue;
        const bool selected = (i == currentTab);
        tabPages[i]->EnableWindow(selected);
        tabPages[i]->ShowWindow(selected);
    }
    if (currentTab != theUtility.mainTabIndex || theUtility.forceTabRefresh) {
        if (CPage* page = TabPage(currentTab)) {
            page->EnableWindow(true);
            page->ShowWindow(true);
            page->UpdateWindow();
        }
    }
}

void COrvikUtilityDlg::ShowCurrentTab() {
    currentTab = tabControl.GetCurSel();
    for (int i = 0; i < tabCount; ++i) {
        if (i != currentTab && tabPages[i]) {
            tabPages[i]->EnableWindow(false);
            tabPages[i]->ShowWindow(false);
        }
    }
    OnSelchangeTab();
}

void COrvikUtilityDlg::UpdateBanner() {
    SetDlgItemBitmap(kSmallBitmap, kBmpSmall);
    if (models::ModelByCode(theUtility.modelType).banner == models::Banner::Model) {
        SetDlgItemBitmap(kBanner, kBmpBannerModel);
        SelectTab(0);
    } else {
        SetDlgItemBitmap(kBanner, kBmpBannerPlain);
    }
}

void COrvikUtilityDlg::PumpMessages() { platform::PumpMessages(); }

CommandEngine* COrvikUtilityDlg::Engine() const { return LoggerPage(); }

SerialLink* COrvikUtilityDlg::DevicePort() const { return DevicePage(); }

void COrvikUtilityDlg::EnableMainButtons(MainButtons buttons, bool enable) {
    switch (buttons) {
        case MainButtons::OkAndAbout:
            for (int id : {kOk, kAbout}) EnableDlgItem(id, enable);
            break;
        case MainButtons::PageCommands:
            for (int id : {kDefaultAll, kOk, kCancel, kApplyAll}) EnableDlgItem(id, enable);
            break;
        case MainButtons::All:
            for (int id : {kDefaultAll, kOk, kAbout, kCancel, kApplyAll}) EnableDlgItem(id, enable);
            break;
    }
}

void COrvikUtilityDlg::EnableDeviceTab() {
    devicePageTabEnabled = 1;
    tabControl.EnableItem(theUtility.devicePageTabIndex, true);
}

void COrvikUtilityDlg::ShowMemoryUsage(const std::string& text) {
    if (CPageDeviceSetting* device = DevicePage()) device->SetDlgItemText(dialog133::kMemoryUsage, text);
}

void COrvikUtilityDlg::LockForLogUpload(bool lock) {
    devicePageTabEnabled = lock ? 0 : 1;
    tabControl.EnableItem(theUtility.devicePageTabIndex, !lock);
    EnableMainButtons(MainButtons::PageCommands, !lock);
    if (CPageDeviceSetting* device = DevicePage()) {
        device->EnableDlgItem(dialog133::kConnect, !lock);
        device->EnableDlgItem(dialog133::kWriteName, !lock);
    }
}

void COrvikUtilityDlg::DisconnectLogger() {
    if (CPageDeviceSetting* device = DevicePage()) {
        device->notConnected = 0;
        device->ToggleConnection();
    }
}

bool COrvikUtilityDlg::WriteKml(const std::string& trlPath, const std::string& kmlPath) {
    return CPageTrackLogFormat::WriteKml(trlPath, kmlPath) == track_writers::OutputStatus::Written;
}

// The photo page writes into a file opened here for UTF-16 text, as the
// upload's conversion asks; the file is put in place when it is closed.
bool COrvikUtilityDlg::ConvertWithPhotos(const std::string& trlPath, const std::string& kmlPath,
                                         const std::string& photoFolder) {
    auto* photo = dynamic_cast<CPageTrackLogPhoto*>(Page(kSlotPhoto));
    if (photo == nullptr) {
        return false;
    }
    CStdioFileEx file;
    if (!file.Open(kmlPath, CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFileEx::modeWriteUnicode)) {
        return false;
    }
    return photo->ConvertWithPhotos(trlPath, &file, photoFolder);
}

void COrvikUtilityDlg::EnableFirmwareDownload() {
    if (CPageDownloadFW* firmware = FirmwarePage()) firmware->EnableDlgItem(dialog147::kDownload, true);
}

void COrvikUtilityDlg::EnableButtons(bool ok, bool cancel, bool applyAll, bool defaultAll) {
    EnableDlgItem(kOk, ok);
    EnableDlgItem(kCancel, cancel);
    EnableDlgItem(kApplyAll, applyAll);
    EnableDlgItem(kDefaultAll, defaultAll);
}

void COrvikUtilityDlg::OnButtonApplyAll() {
    for (int i = 0; i < tabCount; ++i) {
        if (tabPages[i]) tabPages[i]->SendMessage(WM_PAGE_COMMAND, PAGECMD_APPLY, 0);
    }
}

void COrvikUtilityDlg::OnButtonDefaultAll() {
    for (int i = 0; i < tabCount; ++i) {
        if (tabPages[i]) tabPages[i]->SendMessage(WM_PAGE_COMMAND, PAGECMD_DEFAULT, 0);
    }
}

void COrvikUtilityDlg::OnButtonAbout() {
    CAboutDlg about;
    about.DoModal(GetWidget());
}

void COrvikUtilityDlg::OnSysCommand(unsigned id) {
    if ((id & 0xFFF0) == kIdmAboutBox) {
        OnButtonAbout();
    } else if ((id & 0xFFF0) == kScClose) {
        OnClose();
    }
}

void COrvikUtilityDlg::OnTimer(int) { platform::Trace("Main Dialog OnTimer\n"); }

// The tick thread: one worker at a time, always joined. It sleeps a second at
// a time while its flag is set and marks in the settings object when it ended.
void COrvikUtilityDlg::SetTickThread(bool run) {
    std::lock_guard control(tickControl_);
    {
        std::lock_guard lock(tickWait_);
        tickThreadRun = run;
    }
    tickWake_.notify_all();
    if (!run) {
        if (tickWorker_.joinable()) tickWorker_.join();
        return;
    }
    if (tickWorker_.joinable()) {
        return;  // the running thread goes on
    }
    tickWorker_ = std::thread([this] { TickLoop(); });
}

void COrvikUtilityDlg::TickLoop() {
    theUtility.tickThreadEnded = 0;
    {
        std::unique_lock lock(tickWait_);
        while (tickThreadRun) {
            if (tickWake_.wait_for(lock, std::chrono::milliseconds(1000), [this] { return !tickThreadRun; })) {
                break;
            }
            platform::Trace("Main Dialog OnTimer\n");
        }
    }
    theUtility.tickThreadEnded = 1;
}

void COrvikUtilityDlg::OnClose() {
    CPageDownloadFW* firmware = FirmwarePage();
    if (firmware && firmware->downloadBusy.IsBusy()) {
        return;
    }
    if (AnyWorkerRunning()) {
        // A page's worker still uses the port and the page; the window
        // stays until it has ended.
        return;
    }
    CPageDeviceSetting* device = DevicePage();
    CPageMTKTracklogSetting* logger = LoggerPage();
    if (device && logger && device->IsPortOpen()) {
        logger->stopReceive = 1;
        logger->blockTimedOut = 1;
        if (theUtility.highSpeedLink) {
            logger->SendPmtk182(14, 38400, 0);
            platform::Sleep(500);
            device->ReapplyPortSettings();
            theUtility.highSpeedLink = 0;
        }
        logger->SendOrvikCommand(2);
    }
    OnCancel();
}

void COrvikUtilityDlg::OnCancel() {
    if (AnyWorkerRunning()) {
        return;
    }
    CPageDeviceSetting* device = DevicePage();
    CPageMTKTracklogSetting* logger = LoggerPage();
    if (device && device->IsPortOpen()) {
        if (logger) logger->SendOrvikCommand(2);
        device->PurgePort();
        device->ClosePortReset();
    }
    SetTickThread(false);
    EndDialog(platform::kIdCancel);
}

void COrvikUtilityDlg::OnOK() {
    if (AnyWorkerRunning()) {
        return;
    }
    CPageDeviceSetting* device = DevicePage();
    if (device && device->IsPortOpen()) {
        device->PurgePort();
        device->ClosePortReset();
    }
    SetTickThread(false);
    OnCancel();
    EndDialog(platform::kIdOk);
}
