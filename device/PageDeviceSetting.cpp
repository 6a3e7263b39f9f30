#include "device/PageDeviceSetting.h"

#include <QLabel>
#include <QPalette>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "device/PageDownloadFW.h"
#include "device/UpdateImage.h"
#include "platform/ComPortName.h"
#include "platform/Controls.h"
#include "platform/Clock.h"
#include "platform/Trace.h"
#include "platform/Ui.h"
#include "platform/UiThread.h"
#include "shell/OrvikUtilityDlg.h"
#include "shell/StringTable.h"
#include "shell/Templates.h"
#include "support/UtilityManager.h"
#include "tracklog/PageMTKTracklogSetting.h"

namespace {
constexpr int kIdPortCombo = 1116;
constexpr int kIdBaudCombo = 1117;
constexpr int kIdAutoDetect = 1005;
constexpr int kIdConnect = 1002;
constexpr int kIdStatus = 1003;
constexpr int kIdDeviceType = 1011;
constexpr int kIdHardware = 1199;
constexpr int kIdFirmware = 1013;
constexpr int kIdSelectFile = 1192;
constexpr int kIdExecute = 1224;
constexpr int kIdForceUpdate = 1239;
constexpr int kIdWarning = 1237;
constexpr int kIdMemoryUsage = 1007;
constexpr int kIdUserName = 1161;
constexpr int kIdWriteName = 1095;
constexpr int kBmpConnected = 130;
constexpr int kBmpDisconnected = 131;
constexpr int kReplyScan = 256;
const int kBauds[] = {4800, 9600, 14400, 19200, 38400, 57600, 115200};

bool Answered(const char* reply) {
    return reply && CommandEngine::IsSentenceComplete(reply, kReplyScan);
}
}  // namespace

CPageDeviceSetting::CPageDeviceSetting() : CPage(res::Template133()) {
    OnNotify(kIdPortCombo, platform::notify::kSelChange, [this] { OnSelchangeComboComPort(); });
    OnNotify(kIdBaudCombo, platform::notify::kSelChange, [this] { OnSelchangeComboBaud(); });
    OnNotify(kIdWriteName, platform::notify::kClicked, [this] { OnButtonWriteName(); });
    OnNotify(kIdAutoDetect, platform::notify::kClicked, [this] { OnButtonAutoDetect(); });
    OnNotify(kIdConnect, platform::notify::kClicked, [this] { OnButtonConnect(); });
    OnNotify(kIdSelectFile, platform::notify::kClicked, [this] { OnButtonSelectFile(); });
    OnNotify(kIdExecute, platform::notify::kClicked, [this] { OnButtonExecute(); });
    OnNotify(kIdForceUpdate, platform::notify::kClicked, [this] { OnButtonForceUpdate(); });
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

CPageMTKTracklogSetting* CPageDeviceSetting::Engine() const {
    return mainDialog ? mainDialog->LoggerPage() : nullptr;
}

bool CPageDeviceSetting::IsWorkerRunning() const { return identifying_.load() || updating_.load(); }

void CPageDeviceSetting::JoinWorker() {
    if (worker_.joinable()) worker_.join();
}

std::string CPageDeviceSetting::ModelName(int code) {
    switch (code) {
        case 1: return "TK-509";
        case 2: return "TK-510";
        case 3: return "L-731";
        case 4: return "RVN-3";
        case 5:
        case 6: return "L-4400C";
        case 7: return "ZEP ION";
        default: return " ";
    }
}

int CPageDeviceSetting::PortNumber(const std::string& name) {
    const auto port = platform::ComPort::Parse(name);
    return port ? port->Number() : 0;
}

bool CPageDeviceSetting::OnInitDialog() {
    CPage::OnInitDialog();
    for (int id : {kIdSelectFile, kIdExecute, kIdConnect, kIdPortCombo, kIdForceUpdate}) {
        EnableDlgItem(id, false);
    }
    // The warning line is drawn in red.
    if (auto* warning = Item<QLabel>(kIdWarning)) {
        QPalette palette = warning->palette();
        palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
        warning->setPalette(palette);
    }
    InitPortCombos();
    LoadCaptions();
    devicePageInstance = this;
    FlashDownloader::SetPageLookup([](CPageDeviceSetting* page) { return &page->Flash(); });
    ShowConnectionPicture(false);
    theUtility.modelType = 0;
    notConnected = 1;
    forceUpdateMode = 0;
    return true;
}

void CPageDeviceSetting::InitPortCombos() {
    ClearItems(kIdPortCombo);
    for (int i = 1; i <= kPortCount; ++i) {
        AddItem(kIdPortCombo, "COM" + std::to_string(i));
    }
    ClearItems(kIdBaudCombo);
    for (int baud : kBauds) {
        AddItem(kIdBaudCombo, std::to_string(baud));
    }
    std::string found;
    autoPortFound = FindGpsPort(found);
    const int number = autoPortFound ? PortNumber(found) : 0;
    if (number == 0) {
        autoPortFound = 0;
        SetCurSel(kIdPortCombo, 0);
        selectedPortName = "COM1";
    } else {
        detectedPortIndex = number - 1;
        detectedPortName = found;
        SetCurSel(kIdPortCombo, detectedPortIndex);
        selectedPortName = detectedPortName;
    }
    SetCurSel(kIdBaudCombo, -1);
    linkBaudRate = 115200;
    theUtility.SetPort(selectedPortName, linkBaudRate, 0);
}

void CPageDeviceSetting::LoadCaptions() {
    static const int kCaptions[][2] = {
        {1171, 306}, {1009, 317}, {1231, 441}, {1237, 401}, {1004, 316}, {1228, 440}, {1233, 443}, {1238, 448},
        {1010, 318}, {1012, 320}, {2, 430},    {1014, 321}, {1170, 322}, {1003, 309}, {1200, 418}, {1201, 419},
        {1202, 420}, {1203, 421}, {1204, 422}, {1205, 423}, {1206, 424}, {1207, 425}, {1208, 426}, {1209, 427},
        {1210, 428}, {1211, 429}, {1095, 323}, {1002, 307}, {1192, 431}, {1224, 442}, {1239, 451}, {1005, 397},
    };
    for (const auto& [control, id] : kCaptions) {
        statusText = res::LoadString(id);
        SetDlgItemText(control, statusText);
    }
}

void CPageDeviceSetting::OnSelchangeComboComPort() {
    const int index = GetCurSel(kIdPortCombo);
    selectedPortName = (index >= 0 && index < kPortCount) ? "COM" + std::to_string(index + 1) : std::string();
    theUtility.SetPort(selectedPortName, linkBaudRate, 0);
}

void CPageDeviceSetting::OnSelchangeComboBaud() {
    const int index = GetCurSel(kIdBaudCombo);
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
        SetCurSel(kIdPortCombo, detectedPortIndex);
        selectedPortName = detectedPortName;
        SetDlgItemText(kIdStatus, res::LoadString(450));
        EnableDlgItem(kIdConnect, true);
        EnableDlgItem(kIdAutoDetect, false);
    } else {
        autoPortFound = 0;
        SetCurSel(kIdPortCombo, 0);
        selectedPortName = "COM1";
        SetDlgItemText(kIdStatus, res::LoadString(449));
        EnableDlgItem(kIdPortCombo, true);
        EnableDlgItem(kIdConnect, true);
        EnableDlgItem(kIdAutoDetect, false);
    }
    theUtility.SetPort(selectedPortName, linkBaudRate, 0);
}

void CPageDeviceSetting::OnButtonConnect() {
    if (identifying_) return;
    if (mainDialog) {
        mainDialog->EnableDlgItem(1, false);
        mainDialog->EnableDlgItem(1095, false);
    }
    EnableDlgItem(kIdSelectFile, false);
    EnableDlgItem(kIdConnect, false);
    EnableDlgItem(kIdPortCombo, false);
    // Events are dispatched while the device is polled: Force Update, which
    // rewrites the device fields, waits too.
    const bool forceUpdateEnabled = IsDlgItemEnabled(kIdForceUpdate);
    EnableDlgItem(kIdForceUpdate, false);
    if (notConnected) {
        if (CPageMTKTracklogSetting* engine = Engine()) {
            // A fresh buffer for the exchange; the engine keeps the same one.
            engine->ResetReceiveBuffer();
        }
        IdentifyDevice();
    }
    if (forceUpdateEnabled) EnableDlgItem(kIdForceUpdate, true);
    if (mainDialog) {
        mainDialog->EnableDlgItem(1, true);
        mainDialog->EnableDlgItem(1095, true);
    }
}

void CPageDeviceSetting::IdentifyDevice() {
    CPageMTKTracklogSetting* engine = Engine();
    if (!engine) return;
    identifying_ = true;
    // The polls below run on the UI thread; the window keeps repainting.
    platform::PumpingClock pumping(platform::GetClock());
    platform::ScopedClock clockScope(pumping);

    // A new identification starts from nothing.
    deviceTypeName.clear();
    deviceFirmwareText.clear();
    deviceHardwareVersion.clear();
    SetDlgItemText(kIdDeviceType, "");
    SetDlgItemText(kIdFirmware, "");
    SetDlgItemText(kIdHardware, "");

    SetDlgItemText(kIdStatus, res::LoadString(310));
    UpdateWindow();
    ApplyPortSettings(GetCurSel(kIdPortCombo), GetCurSel(kIdBaudCombo));

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
        static const struct {
            const char* prefix;
            int code;
        } kModels[] = {{"$PQVR852,TK515", 4},
                       {"$PQVR852,TK517", 7},
                       {"$PQVR852,L4400C", 6},
                       {"$PQVR852,L4500", 5},
                       {"$PQVR852,TK511", 3}};
        int code = 0;
        for (const auto& model : kModels) {
            if (modelReply.compare(0, std::strlen(model.prefix), model.prefix) == 0) {
                code = model.code;
                break;
            }
        }
        // A name that matches no model leaves the device unknown; no model
        // of an earlier Connect is carried over.
        theUtility.modelType = code;
        modelKnown = (code != 0);
    }
    const int model = theUtility.modelType;
    deviceTypeName = ModelName(model);
    SetDlgItemText(kIdDeviceType, deviceTypeName);

    // Firmware.
    bool firmwareKnown = false;
    if (model >= 3 && model <= 7) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const char* reply = (model == 3) ? engine->SendOrvikCommand(3) : engine->SendQvrQuery(861);
            if (!Answered(reply)) continue;
            const char* field = (model == 3) ? engine->ExtractOrvik001Field(reply, 12, 3)
                                             : engine->ExtractQvrField(reply, 9, 3);
            if (!field) continue;
            deviceFirmwareText = field;
            char text[32];
            std::snprintf(text, sizeof(text), "V%1.2f",
                          static_cast<double>(static_cast<float>(std::atoi(field)) / 100.0f));
            SetDlgItemText(kIdFirmware, text);
            firmwareKnown = true;
            break;
        }
    }

    // Hardware.
    bool hardwareKnown = false;
    if (model >= 3 && model <= 7) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const char* reply = (model == 3) ? engine->SendOrvikCommand(7) : engine->SendQvrQuery(865);
            if (!Answered(reply)) continue;
            const char* cut = (model == 3) ? engine->ExtractOrvik001Field(reply, 12, 3)
                                           : engine->ExtractQvrField(reply, 9, 3);
            if (!cut) continue;
            std::string field = cut;
            if (model == 3 && field.rfind("C1", 0) == 0) {
                field.replace(0, 2, "01");
            }
            if (!field.empty()) field.pop_back();  // the "*" of a two-character version
            deviceHardwareVersion = "V" + field;
            SetDlgItemText(kIdHardware, deviceHardwareVersion);
            hardwareKnown = true;
            break;
        }
    }

    if (mainDialog) mainDialog->UpdateBanner();
    ShowConnectionPicture(true);
    DisconnectDevice();

    if (modelKnown && firmwareKnown && hardwareKnown) {
        SetDlgItemText(kIdStatus, res::LoadString(311));
        EnableDlgItem(kIdSelectFile, true);
        EnableDlgItem(kIdConnect, false);
        if (mainDialog && mainDialog->FirmwarePage()) {
            mainDialog->FirmwarePage()->EnableDlgItem(1006, true);
        }
    } else {
        SetDlgItemText(kIdStatus, res::LoadString(315));
        EnableDlgItem(kIdConnect, true);
        EnableDlgItem(kIdForceUpdate, true);
    }
    identifying_ = false;
    if (mainDialog) mainDialog->SetTickThread(true);
}

void CPageDeviceSetting::DisconnectDevice() {
    if (!IsPortOpen()) return;
    if (mainDialog) mainDialog->SetTickThread(false);
    platform::Sleep(1000);
    if (CPageMTKTracklogSetting* engine = Engine()) {
        engine->SendOrvikCommand(2);
    }
    ClosePortReset();
    ShowConnectionPicture(false);
    SetDlgItemText(kIdMemoryUsage, "");
}

void CPageDeviceSetting::ToggleConnection() {
    CPageMTKTracklogSetting* engine = Engine();
    if (notConnected) {
        if (engine) engine->ResetReceiveBuffer();
        ConnectTrackLogger();
        if (IsPortOpen()) notConnected = 0;
    } else {
        DisconnectDevice();
        if (!IsPortOpen()) {
            SetDlgItemText(kIdConnect, res::LoadString(307));
            notConnected = 1;
        }
    }
}

void CPageDeviceSetting::ConnectTrackLogger() {
    CPageMTKTracklogSetting* engine = Engine();
    if (!engine) return;
    if (!IsPortOpen()) {
        ApplyPortSettings(GetCurSel(kIdPortCombo), GetCurSel(kIdBaudCombo));
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
    const int kMainButtons[] = {1002, 1, 2, 1001};
    if (mainDialog) {
        for (int id : kMainButtons) mainDialog->EnableDlgItem(id, false);
    }
    EnableDlgItem(kIdWriteName, false);
    EnableDlgItem(kIdConnect, false);
    const std::string name = GetDlgItemText(kIdUserName);
    userNameText = name;
    bool forbidden = false;
    const bool valid = IsValidUserName(name, &forbidden);
    if (!valid) {
        // The name becomes part of file names: it is never stored unchecked.
        platform::Ui().MessageBox(this, res::LoadString(forbidden ? 390 : 416), res::LoadString(300),
                                  platform::mb::kIconStop);
    } else {
        if (IsPortOpen()) {
            if (CPageMTKTracklogSetting* engine = Engine()) engine->SendOrvikCommand(4);
            platform::Sleep(500);
        }
        theUtility.SetUserName(name);
    }
    if (mainDialog) {
        for (int id : kMainButtons) mainDialog->EnableDlgItem(id, true);
    }
    EnableDlgItem(kIdWriteName, true);
    EnableDlgItem(kIdConnect, true);
}

void CPageDeviceSetting::ResetPortSelection() {
    if (autoPortFound == 1) {
        SetCurSel(kIdPortCombo, detectedPortIndex);
        selectedPortName = detectedPortName;
    } else {
        SetCurSel(kIdPortCombo, 0);
        selectedPortName = "COM1";
    }
    SetCurSel(kIdBaudCombo, -1);
    linkBaudRate = 115200;
}

void CPageDeviceSetting::ShowConnectionPicture(bool connected) {
    SetDlgItemBitmap(res::kConnectionPictureId, connected ? kBmpConnected : kBmpDisconnected);
}

int CPageDeviceSetting::ConnectionPicture() const { return GetDlgItemBitmap(res::kConnectionPictureId); }

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
    SetDlgItemText(1198, updateFilePathText);
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
    SetDlgItemText(1228, check.verdictStringId ? res::LoadString(check.verdictStringId) : std::string());
    EnableDlgItem(kIdExecute, check.executeEnabled);
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
    EnableDlgItem(kIdConnect, false);
    EnableDlgItem(kIdSelectFile, true);
    // Execute waits for a file that passes under the stand-in device.
    EnableDlgItem(kIdExecute, false);
    updateFilePath.clear();
    const update::DeviceFields device = update::ForceUpdateDevice();
    deviceTypeName = device.deviceTypeName.substr(0, 10);
    deviceFirmwareText = device.deviceFirmwareText;
    deviceHardwareVersion = device.deviceHardwareVersion;
    SetDlgItemText(kIdWarning, res::LoadString(update::kForceWarningStringId));
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
    EnableDlgItem(kIdSelectFile, false);
    EnableDlgItem(kIdExecute, false);
    EnableDlgItem(kIdForceUpdate, false);
    if (mainDialog) {
        mainDialog->EnableDlgItem(1, false);
        mainDialog->EnableDlgItem(1095, false);
    }
    JoinWorker();
    runPortIndex_ = GetCurSel(kIdPortCombo);
    runBaudIndex_ = GetCurSel(kIdBaudCombo);
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
    PostToUi([this, text] { SetDlgItemText(1233, text); });
}

void CPageDeviceSetting::SetWarningText(int stringId) {
    const std::string text = res::LoadString(stringId);
    PostToUi([this, text] { SetDlgItemText(kIdWarning, text); });
}

void CPageDeviceSetting::SetProgressBar(int position) {
    PostToUi([this, position] { SetProgressPos(1093, position); });
}

void CPageDeviceSetting::SetPercentText(const std::string& text) {
    PostToUi([this, text] { SetDlgItemText(1234, text); });
}

void CPageDeviceSetting::ReopenPort() { ApplyPortSettings(runPortIndex_, runBaudIndex_); }

void CPageDeviceSetting::SendSelfCheck() {
    if (CPageMTKTracklogSetting* engine = Engine()) engine->SendQvrQuery(837);
}

void CPageDeviceSetting::CloseDevicePort() { ClosePort(); }

void CPageDeviceSetting::UnlockTab() {
    PostToUi([this] {
        if (!mainDialog) return;
        mainDialog->devicePageTabEnabled = 1;
        mainDialog->tabControl.EnableItem(theUtility.devicePageTabIndex, true);
    });
}

void CPageDeviceSetting::EnableMainButtons(bool all) {
    PostToUi([this, all] {
        if (!mainDialog) return;
        const int kAll[] = {1002, 1, 1095, 2, 1001};
        const int kSome[] = {1, 1095};
        if (all) {
            for (int id : kAll) mainDialog->EnableDlgItem(id, true);
        } else {
            for (int id : kSome) mainDialog->EnableDlgItem(id, true);
        }
    });
}

void CPageDeviceSetting::ShowMessage(const std::string& text) {
    // The box must not hold the worker: it is shown on the UI thread while
    // the worker goes on with its clean-up.
    PostToUi([this, text] { platform::Ui().MessageBox(this, text, "", platform::mb::kOk); });
}
