#include "device/PageDeviceSetting.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "device/CommandEngine.h"
#include "device/ModelTable.h"
#include "device/SentencePort.h"
#include "device/UpdateImage.h"
#include "platform/ComPortName.h"
#include "platform/Clock.h"
#include "platform/Trace.h"
#include "platform/Ui.h"
#include "platform/UiThread.h"
#include "support/UtilityManager.h"
#include "ui/StringTable.h"
#include "ui/templates/Template133.h"

using namespace dialog133;
using MainButtons = PageHost::MainButtons;

namespace {
constexpr int kBmpConnected = 130;
constexpr int kBmpDisconnected = 131;
constexpr int kReplyScan = 256;
const int kBauds[] = {4800, 9600, 14400, 19200, 38400, 57600, 115200};

bool Answered(const char* reply) {
    return reply && CommandEngine::IsSentenceComplete(reply, kReplyScan);
}
}  // namespace

CPageDeviceSetting::CPageDeviceSetting() : CPage(res::Template133()) {
    OnNotify(kPortCombo, platform::notify::kSelChange, [this] { OnSelchangeComboComPort(); });
    OnNotify(kBaudCombo, platform::notify::kSelChange, [this] { OnSelchangeComboBaud(); });
    OnNotify(kWriteName, platform::notify::kClicked, [this] { OnButtonWriteName(); });
    OnNotify(kAutoDetect, platform::notify::kClicked, [this] { OnButtonAutoDetect(); });
    OnNotify(kConnect, platform::notify::kClicked, [this] { OnButtonConnect(); });
    OnNotify(kSelectFile, platform::notify::kClicked, [this] { OnButtonSelectFile(); });
    OnNotify(kExecute, platform::notify::kClicked, [this] { OnButtonExecute(); });
    OnNotify(kForceUpdate, platform::notify::kClicked, [this] { OnButtonForceUpdate(); });
}

CPageDeviceSetting::~CPageDeviceSetting() {
    // The window never closes during an update; should the page go anyway,
    // the worker is told to stop and is waited for.
    flash_.RequestStop();
    serialUpdate_.RequestStop();
    JoinWorker();
    if (devicePageInstance.load() == this) {
        devicePageInstance = nullptr;
    }
}

CommandEngine* CPageDeviceSetting::Engine() const { return host ? host->Engine() : nullptr; }

bool CPageDeviceSetting::IsWorkerRunning() const { return identifying_.load() || updating_.load(); }

void CPageDeviceSetting::JoinWorker() {
    if (worker_.joinable()) worker_.join();
}

int CPageDeviceSetting::PortNumber(const std::string& name) {
    const auto port = platform::ComPort::Parse(name);
    return port ? port->Number() : 0;
}

bool CPageDeviceSetting::OnInitDialog() {
    CPage::OnInitDialog();
    for (int id : {kSelectFile, kExecute, kConnect, kPortCombo, kForceUpdate}) {
        EnableDlgItem(id, false);
    }
    // The warning line is drawn in red.
    SetDlgItemTextColor(kWarning, platform::Rgb{255, 0, 0});
    InitPortCombos();
    LoadCaptions();
    // The path field shows no caption: a screen reader names it by the
    // button that fills it.
    SetDlgItemAccessibleName(kFilePath, res::LoadString(431));
    // The hardware versions after the first share its static; the progress
    // bar is named as the firmware page's is.
    for (int id = kFileHardware1 + 1; id <= kFileHardware5; ++id) {
        SetDlgItemAccessibleName(id, GetDlgItemText(kFileHardwareLabel));
    }
    SetDlgItemAccessibleName(kProgress, res::LoadString(404));
    devicePageInstance = this;
    FlashDownloader::SetPageLookup([](CPageDeviceSetting* page) { return &page->Flash(); });
    ShowConnectionPicture(false);
    theUtility.modelType = 0;
    notConnected = 1;
    forceUpdateMode = 0;
    return true;
}

void CPageDeviceSetting::InitPortCombos() {
    ClearItems(kPortCombo);
    for (int i = 1; i <= kPortCount; ++i) {
        AddItem(kPortCombo, "COM" + std::to_string(i));
    }
    ClearItems(kBaudCombo);
    for (int baud : kBauds) {
        AddItem(kBaudCombo, std::to_string(baud));
    }
    std::string found;
    autoPortFound = FindGpsPort(found);
    const int number = autoPortFound ? PortNumber(found) : 0;
    if (number == 0) {
        autoPortFound = 0;
        SetCurSel(kPortCombo, 0);
        selectedPortName = "COM1";
    } else {
        detectedPortIndex = number - 1;
        detectedPortName = found;
        SetCurSel(kPortCombo, detectedPortIndex);
        selectedPortName = detectedPortName;
    }
    SetCurSel(kBaudCombo, -1);
    linkBaudRate = 115200;
    theUtility.SetPort(selectedPortName, linkBaudRate, 0);
}

void CPageDeviceSetting::LoadCaptions() {
    // Control, then string id. The hidden labels 1203 .. 1211 take 421 .. 429.
    static const int kCaptions[][2] = {
        {kPortFrame, 306},
        {kDeviceFrame, 317},
        {kUpdateFrame, 441},
        {kWarning, 401},
        {kLinkStatusLabel, 316},
        {kFileVerdict, 440},
        {kUpdateState, 443},
        {kPortLabel, 448},
        {kDeviceTypeLabel, 318},
        {kFirmwareLabel, 320},
        {kHardwareLabel, 430},
        {kMemoryUsageLabel, 321},
        {kUserNameLabel, 322},
        {kConnectStatus, 309},
        {kFileProductLabel, 418},
        {kFileVersionLabel, 419},
        {kFileHardwareLabel, 420},
        {kFileHardwareLabel2, 421},
        {kFileHardwareLabel2 + 1, 422},
        {kFileHardwareLabel2 + 2, 423},
        {kFileHardwareLabel2 + 3, 424},
        {kFileHardwareLabel2 + 4, 425},
        {kFileHardwareLabel2 + 5, 426},
        {kFileHardwareLabel2 + 6, 427},
        {kFileHardwareLabel2 + 7, 428},
        {kFileHardwareLabel10, 429},
        {kWriteName, 323},
        {kConnect, 307},
        {kSelectFile, 431},
        {kExecute, 442},
        {kForceUpdate, 451},
        {kAutoDetect, 397},
    };
    for (const auto& [control, id] : kCaptions) {
        statusText = res::LoadString(id);
        SetDlgItemText(control, statusText);
    }
}

void CPageDeviceSetting::OnSelchangeComboComPort() {
    const int index = GetCurSel(kPortCombo);
    selectedPortName = (index >= 0 && index < kPortCount) ? "COM" + std::to_string(index + 1) : std::string();
    theUtility.SetPort(selectedPortName, linkBaudRate, 0);
}

void CPageDeviceSetting::OnSelchangeComboBaud() {
    const int index = GetCurSel(kBaudCombo);
    if (index >= 0 && index < static_cast<int>(std::size(kBauds))) {
        linkBaudRate = kBauds[index];
    }
}

void CPageDeviceSetting::OnButtonAutoDetect() {
    std::string found;
    autoPortFound = FindGpsPort(found);
    const int number = autoPortFound ? PortNumber(found) : 0;
    if (number != 0) {
        detectedPortIndex = number - 1;
        detectedPortName = found;
        SetCurSel(kPortCombo, detectedPortIndex);
        selectedPortName = detectedPortName;
        SetDlgItemText(kConnectStatus, res::LoadString(450));
        EnableDlgItem(kConnect, true);
        EnableDlgItem(kAutoDetect, false);
    } else {
        autoPortFound = 0;
        SetCurSel(kPortCombo, 0);
        selectedPortName = "COM1";
        SetDlgItemText(kConnectStatus, res::LoadString(449));
        EnableDlgItem(kPortCombo, true);
        EnableDlgItem(kConnect, true);
        EnableDlgItem(kAutoDetect, false);
    }
    theUtility.SetPort(selectedPortName, linkBaudRate, 0);
}

void CPageDeviceSetting::OnButtonConnect() {
    if (identifying_) return;
    if (host) host->EnableMainButtons(MainButtons::OkAndAbout, false);
    EnableDlgItem(kSelectFile, false);
    EnableDlgItem(kConnect, false);
    EnableDlgItem(kPortCombo, false);
    // Events are dispatched while the device is polled: Force Update, which
    // rewrites the device fields, waits too.
    const bool forceUpdateEnabled = IsDlgItemEnabled(kForceUpdate);
    EnableDlgItem(kForceUpdate, false);
    if (notConnected) {
        if (CommandEngine* engine = Engine()) {
            // A fresh buffer for the exchange; the engine keeps the same one.
            engine->ResetReceiveBuffer();
        }
        IdentifyDevice();
    }
    if (forceUpdateEnabled) EnableDlgItem(kForceUpdate, true);
    if (host) host->EnableMainButtons(MainButtons::OkAndAbout, true);
}

void CPageDeviceSetting::IdentifyDevice() {
    CommandEngine* engine = Engine();
    if (!engine) return;
    identifying_ = true;
    // The polls below run on the UI thread; the window keeps repainting.
    platform::PumpingClock pumping(platform::GetClock());
    platform::ScopedClock clockScope(pumping);

    // A new identification starts from nothing: model code 0, no model of an
    // earlier Connect carried over.
    theUtility.modelType = 0;
    deviceTypeName.clear();
    deviceFirmwareText.clear();
    deviceHardwareVersion.clear();
    SetDlgItemText(kDeviceType, "");
    SetDlgItemText(kFirmware, "");
    SetDlgItemText(kHardware, "");

    SetDlgItemText(kConnectStatus, res::LoadString(310));
    UpdateWindow();
    ApplyPortSettings(GetCurSel(kPortCombo), GetCurSel(kBaudCombo));

    // Model.
    bool modelKnown = false;
    std::string modelReply;
    for (int attempt = 0; attempt < 3 && !modelKnown; ++attempt) {
        const char* reply = engine->SendQvrQuery(810);
        if (Answered(reply)) {
            modelReply = reply;
            modelKnown = true;
        }
    }
    if (!modelKnown) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (Answered(engine->SendOrvikCommand(1))) {
                theUtility.modelType = 3;
                modelKnown = true;
                break;
            }
        }
    } else {
        // The model replies are compared in this order, each over its own length.
        static const int kReplyOrder[] = {4, 7, 6, 5, 3};
        int code = 0;
        for (int candidate : kReplyOrder) {
            const char* prefix = models::ModelByCode(candidate).replyPrefix;
            if (modelReply.compare(0, std::strlen(prefix), prefix) == 0) {
                code = candidate;
                break;
            }
        }
        // A name that matches no model leaves the device unknown.
        theUtility.modelType = code;
        modelKnown = (code != 0);
    }
    const models::Model& model = models::ModelByCode(theUtility.modelType);
    deviceTypeName = model.name;
    SetDlgItemText(kDeviceType, deviceTypeName);

    // Firmware.
    bool firmwareKnown = false;
    const bool maker = model.queries == models::Queries::Maker;
    if (model.queries != models::Queries::None) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const char* reply = maker ? engine->SendOrvikCommand(3) : engine->SendQvrQuery(861);
            if (!Answered(reply)) continue;
            const char* field = maker ? engine->ExtractOrvik001Field(reply, 12, 3)
                                             : engine->ExtractQvrField(reply, 9, 3);
            if (!field) continue;
            deviceFirmwareText = field;
            char text[32];
            std::snprintf(text, sizeof(text), "V%1.2f",
                          static_cast<double>(static_cast<float>(std::atoi(field)) / 100.0f));
            SetDlgItemText(kFirmware, text);
            firmwareKnown = true;
            break;
        }
    }

    // Hardware.
    bool hardwareKnown = false;
    if (model.queries != models::Queries::None) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const char* reply = maker ? engine->SendOrvikCommand(7) : engine->SendQvrQuery(865);
            if (!Answered(reply)) continue;
            const char* cut = maker ? engine->ExtractOrvik001Field(reply, 12, 3)
                                           : engine->ExtractQvrField(reply, 9, 3);
            if (!cut) continue;
            std::string field = cut;
            if (maker && field.rfind("C1", 0) == 0) {
                field.replace(0, 2, "01");
            }
            if (!field.empty()) field.pop_back();  // the "*" of a two-character version
            deviceHardwareVersion = "V" + field;
            SetDlgItemText(kHardware, deviceHardwareVersion);
            hardwareKnown = true;
            break;
        }
    }

    if (host) host->UpdateBanner();
    ShowConnectionPicture(true);
    DisconnectDevice();

    if (modelKnown && firmwareKnown && hardwareKnown) {
        SetDlgItemText(kConnectStatus, res::LoadString(311));
        EnableDlgItem(kSelectFile, true);
        EnableDlgItem(kConnect, false);
        if (host) host->EnableFirmwareDownload();
    } else {
        SetDlgItemText(kConnectStatus, res::LoadString(315));
        EnableDlgItem(kConnect, true);
        EnableDlgItem(kForceUpdate, true);
    }
    identifying_ = false;
    if (host) host->SetTickThread(true);
}

void CPageDeviceSetting::DisconnectDevice() {
    if (!IsPortOpen()) return;
    if (host) host->SetTickThread(false);
    platform::Sleep(1000);
    if (CommandEngine* engine = Engine()) {
        engine->SendOrvikCommand(2);
    }
    ClosePortReset();
    ShowConnectionPicture(false);
    SetDlgItemText(kMemoryUsage, "");
}

void CPageDeviceSetting::ToggleConnection() {
    CommandEngine* engine = Engine();
    if (notConnected) {
        if (engine) engine->ResetReceiveBuffer();
        ConnectTrackLogger();
        if (IsPortOpen()) notConnected = 0;
    } else {
        DisconnectDevice();
        if (!IsPortOpen()) {
            SetDlgItemText(kConnect, res::LoadString(307));
            notConnected = 1;
        }
    }
}

void CPageDeviceSetting::ConnectTrackLogger() {
    CommandEngine* engine = Engine();
    if (!engine) return;
    if (!IsPortOpen()) {
        ApplyPortSettings(GetCurSel(kPortCombo), GetCurSel(kBaudCombo));
        if (portLinked == 0) return;
        engine->SendPmtk182(400, 0, 0);
        bool answered = false;
        std::uint32_t address = 0;
        for (int attempt = 0; attempt < 2 && !answered; ++attempt) {
            auto lock = engine->LockReceive();
            const char* reply = engine->SendPmtk182Retry(2, 8, 0);
            if (Answered(reply)) {
                address = engine->ParsePmtk182Value(reply, true);
                answered = true;
            }
        }
        if (!answered) {
            platform::Ui().MessageBox(this, "read Address: Timeout!", "", platform::mb::kOk);
            // Nothing was read: the logger is not connected.
            PurgePort();
            ClosePortReset();
            return;
        }
        theUtility.logEndAddress = static_cast<int>(address);
    }
    ShowConnectionPicture(true);
    theUtility.modelType = 3;
    theUtility.connectTime = static_cast<std::int64_t>(std::time(nullptr));
}

bool CPageDeviceSetting::IsValidUserName(const std::string& name, bool* forbiddenCharacter) {
    if (forbiddenCharacter) *forbiddenCharacter = false;
    if (name.size() > static_cast<size_t>(kMaxUserName)) return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c >= 0x7F) return false;
    }
    static const char kForbidden[] = "* .\\:/\"?<>|";
    if (name.find_first_of(kForbidden) != std::string::npos) {
        if (forbiddenCharacter) *forbiddenCharacter = true;
        return false;
    }
    return true;
}

void CPageDeviceSetting::OnButtonWriteName() {
    if (host) host->EnableMainButtons(MainButtons::PageCommands, false);
    EnableDlgItem(kWriteName, false);
    EnableDlgItem(kConnect, false);
    const std::string name = GetDlgItemText(kUserName);
    userNameText = name;
    bool forbidden = false;
    const bool valid = IsValidUserName(name, &forbidden);
    if (!valid) {
        // The name becomes part of file names: it is never stored unchecked.
        platform::Ui().MessageBox(this, res::LoadString(forbidden ? 390 : 416), res::LoadString(300),
                                  platform::mb::kIconStop);
    } else {
        if (IsPortOpen()) {
            if (CommandEngine* engine = Engine()) engine->SendOrvikCommand(4);
            platform::Sleep(500);
        }
        theUtility.SetUserName(name);
    }
    if (host) host->EnableMainButtons(MainButtons::PageCommands, true);
    EnableDlgItem(kWriteName, true);
    EnableDlgItem(kConnect, true);
}

void CPageDeviceSetting::ResetPortSelection() {
    if (autoPortFound == 1) {
        SetCurSel(kPortCombo, detectedPortIndex);
        selectedPortName = detectedPortName;
    } else {
        SetCurSel(kPortCombo, 0);
        selectedPortName = "COM1";
    }
    SetCurSel(kBaudCombo, -1);
    linkBaudRate = 115200;
}

void CPageDeviceSetting::ShowConnectionPicture(bool connected) {
    SetDlgItemBitmap(kConnectionPicture, connected ? kBmpConnected : kBmpDisconnected);
}

int CPageDeviceSetting::ConnectionPicture() const { return GetDlgItemBitmap(kConnectionPicture); }

// ---------------------------------------------------------------------------
// Step 2: the update file.

void CPageDeviceSetting::OnButtonSelectFile() {
    platform::FileDialogRequest request;
    request.defaultExtension = std::string(update::kChooserDefaultExtension);
    request.fileName = std::string(update::kChooserFileName);
    request.filter = std::string(update::kChooserFilter);
    std::string path;
    if (!platform::Ui().ChooseFile(this, request, path)) return;
    UpdateWindow();
    updateFilePathText = path;
    SetDlgItemText(kFilePath, updateFilePathText);
    if (path.empty()) return;
    int result = 0;
    CheckUpdateFile(result);
}

void CPageDeviceSetting::CheckUpdateFile(int& result) {
    const update::DeviceFields device{deviceTypeName, deviceFirmwareText, deviceHardwareVersion, forceUpdateMode};
    const update::UpdateFileCheck check = update::CheckUpdateFile(updateFilePathText, device);
    result = check.payloadExtracted ? 1 : 0;
    if (check.outcome == update::CheckOutcome::Ignored) return;
    // A file is only ever flashed after it passed this check.
    updateFilePath.clear();
    tempPayloadPath.clear();
    for (const update::HeaderEdit& edit : check.edits) {
        SetDlgItemText(edit.controlId, edit.text);
    }
    SetDlgItemText(kFileVerdict, check.verdictStringId ? res::LoadString(check.verdictStringId) : std::string());
    EnableDlgItem(kExecute, check.executeEnabled);
    if (check.executeEnabled) {
        updateFilePath = updateFilePathText;
        updateFileFolder = check.updateFileFolder;
        tempPayloadPath = check.tempPayloadPath;
    }
    if (check.messageStringId != 0) {
        const std::string caption =
            check.messageCaption.empty() ? res::LoadString(check.messageCaptionStringId) : check.messageCaption;
        platform::Ui().MessageBox(this, res::LoadString(check.messageStringId), caption, platform::mb::kIconStop);
    }
}

void CPageDeviceSetting::OnButtonForceUpdate() {
    forceUpdateMode = 1;
    EnableDlgItem(kConnect, false);
    EnableDlgItem(kSelectFile, true);
    // Execute waits for a file that passes under the stand-in device.
    EnableDlgItem(kExecute, false);
    updateFilePath.clear();
    const update::DeviceFields device = update::ForceUpdateDevice();
    deviceTypeName = device.deviceTypeName.substr(0, 10);
    deviceFirmwareText = device.deviceFirmwareText;
    deviceHardwareVersion = device.deviceHardwareVersion;
    SetDlgItemText(kWarning, res::LoadString(update::kForceWarningStringId));
}

// ---------------------------------------------------------------------------
// Step 3: the update.

void CPageDeviceSetting::CopyPortSettings() {
    std::string name;
    int baud = 0;
    int handle = 0;
    theUtility.GetPort(name, baud, handle);
    linkBaudRate = baud > 0 ? baud : 115200;
    flash_.SetPortName(name);
    linkPortName = FlashDownloader::LinkPortNameFor(name);
}

void CPageDeviceSetting::OnButtonExecute() {
    if (updating_) return;
    flash_.ClearConditions();
    if (updateFilePath.empty() || tempPayloadPath.empty()) {
        platform::Ui().MessageBox(this, res::LoadString(412), res::LoadString(300), platform::mb::kIconStop);
        return;
    }
    EnableDlgItem(kSelectFile, false);
    EnableDlgItem(kExecute, false);
    EnableDlgItem(kForceUpdate, false);
    if (host) host->EnableMainButtons(MainButtons::OkAndAbout, false);
    JoinWorker();
    runPortIndex_ = GetCurSel(kPortCombo);
    runBaudIndex_ = GetCurSel(kBaudCombo);
    updating_ = true;
    if (FlashDownloader::UsesSerialUpdate(deviceTypeName, deviceHardwareVersion, deviceFirmwareText)) {
        CopyPortSettings();
        serialUpdate_.SetPayloadPath(tempPayloadPath);
        worker_ = std::thread([this] {
            serialUpdate_.RunAppUpdate();
            updating_ = false;
        });
        return;
    }
    flash_.SetDevice({deviceHardwareVersion, theUtility.modelType, tempPayloadPath});
    flash_.PrepareDownload();
    CopyPortSettings();
    worker_ = std::thread([this] {
        flash_.RunFirmwareUpdate();
        updating_ = false;
    });
}

void CPageDeviceSetting::SetStateText(int stringId) {
    platform::TraceF("Update state %d\n", stringId);
    const std::string text = res::LoadString(stringId);
    PostToUi([this, text] { SetDlgItemText(kUpdateState, text); });
}

void CPageDeviceSetting::SetWarningText(int stringId) {
    const std::string text = res::LoadString(stringId);
    PostToUi([this, text] { SetDlgItemText(kWarning, text); });
}

void CPageDeviceSetting::SetProgressBar(int position) {
    PostToUi([this, position] { SetProgressPos(kProgress, position); });
}

void CPageDeviceSetting::SetPercentText(const std::string& text) {
    PostToUi([this, text] { SetDlgItemText(kPercent, text); });
}

void CPageDeviceSetting::ReopenPort() { ApplyPortSettings(runPortIndex_, runBaudIndex_); }

void CPageDeviceSetting::SendSelfCheck() {
    if (CommandEngine* engine = Engine()) engine->SendQvrQuery(837);
}

void CPageDeviceSetting::CloseDevicePort() { ClosePort(); }

void CPageDeviceSetting::UnlockTab() {
    PostToUi([this] {
        if (host) host->EnableDeviceTab();
    });
}

void CPageDeviceSetting::EnableMainButtons(bool all) {
    PostToUi([this, all] {
        if (host) host->EnableMainButtons(all ? MainButtons::All : MainButtons::OkAndAbout, true);
    });
}

void CPageDeviceSetting::ShowMessage(const std::string& text) {
    // The box must not hold the worker: it is shown on the UI thread while
    // the worker goes on with its clean-up.
    PostToUi([this, text] { platform::Ui().MessageBox(this, text, "", platform::mb::kOk); });
}

// ---------------------------------------------------------------------------
// Bluetooth address.

bool CPageDeviceSetting::TakeSettingsPort() {
    std::string name;
    int baud = 0;
    int handle = 0;
    theUtility.GetPort(name, baud, handle);
    const auto port = platform::ComPort::Parse(name);
    if (!port) return false;
    linkPortName = port->LinkName();
    linkBaudRate = baud > 0 ? baud : 115200;
    return true;
}

bool CPageDeviceSetting::ReadBtMac() {
    if (IsWorkerRunning() || !TakeSettingsPort()) return false;
    SerialLinkPort port(*this);
    return bluetooth_.ReadBtMac(port);
}

BluetoothAddressOps::WriteResult CPageDeviceSetting::WriteBtMac() {
    if (IsWorkerRunning() || !TakeSettingsPort()) return BluetoothAddressOps::WriteResult::kPortFailed;
    SerialLinkPort port(*this);
    return bluetooth_.WriteBtMac(port);
}
