#include "tracklog/PageTrackLogSetting.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "device/SentencePort.h"
#include "device/SerialLink.h"
#include "platform/Ui.h"
#include "platform/UiThread.h"
#include "support/UtilityManager.h"
#include "ui/StringTable.h"
#include "ui/templates/Template130.h"

using namespace dialog130;

namespace {

// What the page says when Apply was not answered in full (its own text).
constexpr const char* kApplyFailed = "Apply Setting Failed.";

// The sender of a page that has no main window (and so no port).
class NotConnectedSender final : public Pmtk182Sender {
public:
    Pmtk182Result SendPmtk182(int, int, int) override { return {Pmtk182Result::Kind::kNotConnected, {}}; }
};
NotConnectedSender notConnected;

// Polls on the UI thread keep the window painting.
class UiPolls {
public:
    UiPolls() : pumping_(platform::GetClock()), scope_(pumping_) {}

private:
    platform::PumpingClock pumping_;
    platform::ScopedClock scope_;
};

}  // namespace

CPageTrackLogSetting::CPageTrackLogSetting() : CPage(res::Template130()) {
    using platform::notify::kClicked;
    OnNotify(kRead, kClicked, [this] { OnButtonRead(); });
    OnNotify(kEnableRecording, kClicked, [this] { OnCheckEnableRecording(); });
    OnNotify(kLogByTime, kClicked, [this] { OnRadioLogByTimeOrDistance(kLogByTime); });
    OnNotify(kLogByDistance, kClicked, [this] { OnRadioLogByTimeOrDistance(kLogByDistance); });
    OnNotify(kMeter, kClicked, [this] { OnRadioMeterFoot(kMeter); });
    OnNotify(kFoot, kClicked, [this] { OnRadioMeterFoot(kFoot); });
    OnNotify(kRecordCycle, kClicked, [this] { OnRadioRecordMode(kRecordCycle); });
    OnNotify(kRecordOnce, kClicked, [this] { OnRadioRecordMode(kRecordOnce); });
    OnNotify(kUpload, kClicked, [this] { OnButtonUpload(); });
    OnNotify(kClear, kClicked, [this] { OnButtonClear(); });
}

CPageTrackLogSetting::~CPageTrackLogSetting() {
    // The window never closes while the worker runs; should the page go
    // anyway, the read-out is told to stop and is waited for.
    if (transfer_) transfer_->RequestStop();
    JoinWorker();
}

void CPageTrackLogSetting::JoinWorker() {
    if (worker_.joinable()) worker_.join();
}

bool CPageTrackLogSetting::TakeJob() {
    bool expected = false;
    return busy_.compare_exchange_strong(expected, true);
}

Pmtk182Sender* CPageTrackLogSetting::Sender() {
    if (!sender_ && host && host->DevicePort()) {
        port_ = std::make_unique<SerialLinkPort>(*host->DevicePort());
        sender_ = std::make_unique<TrackLogPmtk182Sender>(*port_);
    }
    return sender_ ? static_cast<Pmtk182Sender*>(sender_.get()) : &notConnected;
}

BlockTransfer* CPageTrackLogSetting::Transfer() {
    if (!transfer_ && host && host->DevicePort()) {
        // The wake-up goes out through the engine's own sender, which takes
        // the reply line up to its LF only: the ready character the logger
        // sends right behind it belongs to the port search, and an 80-byte
        // poll would swallow it.
        transfer_ = std::make_unique<BlockTransfer>(*host->DevicePort(), BlockTransfer::ReadOut(preCommand));
    }
    return transfer_.get();
}

void CPageTrackLogSetting::OpenLoggerPort() {
    // Connect identifies the device and closes the port again; the page's
    // sentences go to the logger's bridge port, opened as it was found.
    SerialLink* link = host ? host->DevicePort() : nullptr;
    if (!link || portLinked.load() == 0 || link->IsPortOpen()) return;
    std::string name;
    if (link->FindGpsPort(name)) link->linkPortName = name;
    link->EnsurePortOpen();
}

bool CPageTrackLogSetting::OnInitDialog() {
    CPage::OnInitDialog();
    // The defaults are loaded and every copy set from them (constructor of
    // the settings); the controls show them.
    for (int group = 0; group <= 6; ++group) {
        UpdateControls(group);
    }
    outputMode = kOutputRaw;
    // The edits and bars show no text of their own: a screen reader names
    // them by what they hold.
    SetDlgItemAccessibleName(kInterval, "Log by Time");
    SetDlgItemAccessibleName(kDistance, "Log by Distance");
    SetDlgItemAccessibleName(kUploadProgress, "Upload Device Track Log Data to PC");
    SetDlgItemAccessibleName(kClearProgress, "Clear Device Track Log Data");
    return true;
}

// ---------------------------------------------------------------------------
// The controls.

void CPageTrackLogSetting::UpdateControls(int group) {
    const bool on = settings.stagedEnable == TrackLogSettings::kEnabled;
    const bool byTime = settings.stagedLogMode == TrackLogSettings::kLogByTime;
    auto enableSettings = [&] {
        for (int id : {kLogByTime, kLogByDistance, kRecordCycle, kRecordOnce}) EnableDlgItem(id, on);
        for (int id : {kInterval, kSecondLabel}) EnableDlgItem(id, on && byTime);
        for (int id : {kDistance, kMeter, kFoot, kDistanceUnit}) EnableDlgItem(id, on && !byTime);
    };
    switch (group) {
        case 0:
            CheckDlgButton(kEnableRecording, on);
            enableSettings();
            break;
        case 1:
            CheckDlgButton(kLogByTime, byTime);
            CheckDlgButton(kLogByDistance, !byTime);
            enableSettings();
            break;
        case 2:
            intervalText = settings.IntervalText();
            SetDlgItemText(kInterval, intervalText);
            break;
        case 3:
            CheckDlgButton(kMeter, settings.distanceInFeet == 0);
            CheckDlgButton(kFoot, settings.distanceInFeet != 0);
            SetDlgItemText(kDistanceUnit, settings.UnitLabel());
            distanceText = settings.DistanceText();
            SetDlgItemText(kDistance, distanceText);
            break;
        case 4:
            CheckDlgButton(kRecordCycle, settings.stagedRecordMode == TrackLogSettings::kRecordCycle);
            CheckDlgButton(kRecordOnce, settings.stagedRecordMode == TrackLogSettings::kRecordOnce);
            break;
        case 5:
            SetProgressRange(kUploadProgress, 0, 100);
            SetProgressPos(kUploadProgress, 0);
            SetDlgItemText(kUploadPercent, "0%");
            break;
        case 6:
            SetProgressRange(kClearProgress, 0, 100);
            SetProgressPos(kClearProgress, 0);
            SetDlgItemText(kClearPercent, "0%");
            break;
        default: break;
    }
}

void CPageTrackLogSetting::ReadEdits() {
    intervalText = GetDlgItemText(kInterval);
    distanceText = GetDlgItemText(kDistance);
}

void CPageTrackLogSetting::ShowEdits() {
    UpdateControls(2);
    UpdateControls(3);
}

void CPageTrackLogSetting::OnCheckEnableRecording() {
    if (!TakeJob()) {
        UpdateControls(0);  // the click is undone
        return;
    }
    bool answered = false;
    {
        UiPolls polls;
        OpenLoggerPort();
        answered = settings.SetRecording(IsDlgButtonChecked(kEnableRecording), *Sender());
    }
    UpdateControls(0);
    if (!answered) SetDlgItemText(kReadStatus, kApplyFailed);
    busy_ = false;
}

void CPageTrackLogSetting::OnRadioLogByTimeOrDistance(int id) {
    if (!busy_) {
        settings.SetLogMode(id == kLogByTime ? TrackLogSettings::kLogByTime : TrackLogSettings::kLogByDistance);
    }
    UpdateControls(1);
}

void CPageTrackLogSetting::OnRadioMeterFoot(int id) {
    if (!busy_) {
        ReadEdits();
        distanceText = id == kMeter ? settings.SelectMeter(distanceText) : settings.SelectFoot(distanceText);
    }
    UpdateControls(3);
}

void CPageTrackLogSetting::OnRadioRecordMode(int id) {
    if (!busy_) {
        settings.SetRecordMode(id == kRecordCycle ? TrackLogSettings::kRecordCycle : TrackLogSettings::kRecordOnce);
    }
    UpdateControls(4);
}

// ---------------------------------------------------------------------------
// The page commands and Read (UI thread).

void CPageTrackLogSetting::ApplyAll() {
    if (!TakeJob()) return;
    ReadEdits();
    bool answered = false;
    {
        UiPolls polls;
        OpenLoggerPort();
        answered = settings.ApplyAll(intervalText, distanceText, *Sender());
    }
    ShowEdits();
    if (!answered) SetDlgItemText(kReadStatus, kApplyFailed);
    busy_ = false;
}

void CPageTrackLogSetting::DefaultAll() {
    if (!TakeJob()) return;
    {
        UiPolls polls;
        OpenLoggerPort();
        settings.DefaultAll(*Sender());
    }
    for (int group = 0; group <= 4; ++group) {
        UpdateControls(group);
    }
    busy_ = false;
}

void CPageTrackLogSetting::OnButtonRead() {
    if (!TakeJob()) return;
    preCommand = 2;
    theUtility.sendPmtkFirst = 1;
    SetDlgItemText(kReadStatus, tracklogtext::kWaiting);
    TrackLogSettings::ReadResult result;
    {
        UiPolls polls;
        OpenLoggerPort();
        result = settings.ReadDeviceSettings(*Sender());
    }
    if (result == TrackLogSettings::ReadResult::kOk) {
        SetDlgItemText(kReadStatus, tracklogtext::kUpdating);
        for (int group : {1, 2, 3, 4, 0}) {
            UpdateControls(group);
        }
    }
    // A Read that failed says so; the fields keep what they showed.
    SetDlgItemText(kReadStatus, TrackLogSettings::ReadStatusText(result));
    busy_ = false;
}

// ---------------------------------------------------------------------------
// Upload and Clear (worker thread).

void CPageTrackLogSetting::EnableJobButtons(bool enable) {
    for (int id : {kRead, kUpload, kClear}) EnableDlgItem(id, enable);
}

void CPageTrackLogSetting::SetStatus(int id, const std::string& text) {
    PostToUi([this, id, text] { SetDlgItemText(id, text); });
}

void CPageTrackLogSetting::ShowFailure(const std::string& text) {
    PostToUi([this, text] {
        platform::Ui().MessageBox(this, text, res::LoadString(300), platform::mb::kIconStop);
    });
}

void CPageTrackLogSetting::OnButtonUpload() {
    if (!TakeJob()) return;
    preCommand = 5;
    theUtility.sendPmtkFirst = 1;
    const TrackLogSaveChoice choice = SaveChoiceForOutput(outputMode);
    platform::FileDialogRequest request;
    request.save = true;
    request.defaultExtension = choice.extension;
    request.fileName = choice.initialName;
    request.filter = choice.filter;
    request.overwritePrompt = true;
    request.hideReadOnly = true;
    std::string path;
    if (!platform::Ui().ChooseFile(this, request, path)) {
        busy_ = false;
        return;
    }
    OpenLoggerPort();
    BlockTransfer* transfer = Transfer();
    int error = 0;
    if (!transfer) {
        SetDlgItemText(kStatus, tracklogtext::kUploadFailed);
        busy_ = false;
        return;
    }
    if (!output_.Open(path, outputMode, &error)) {
        SetDlgItemText(kStatus, tracklogtext::kOutputFailed);
        platform::Ui().MessageBox(this, std::string(tracklogtext::kOutputFailed) + "\n" + path + "\n" + std::strerror(error),
                                  res::LoadString(300), platform::mb::kIconStop);
        busy_ = false;
        return;
    }
    JoinWorker();
    transfer->SetConfig(BlockTransfer::ReadOut(preCommand));
    SetDlgItemText(kStatus, tracklogtext::kWaiting);
    UpdateControls(5);
    EnableJobButtons(false);
    worker_ = std::thread([this] { UploadThreadProc(); });
}

void CPageTrackLogSetting::UploadThreadProc() {
    BlockTransfer& transfer = *transfer_;
    BlockTransferCallbacks callbacks;
    callbacks.status = [this](const std::string& text) { SetStatus(kStatus, text); };
    callbacks.progress = [this](int percent, const std::string& label) {
        PostToUi([this, percent, label] {
            SetProgressPos(kUploadProgress, percent);
            SetDlgItemText(kUploadPercent, label);
        });
    };
    const BlockTransferResult result = transfer.ReadTrackLogBlocks(
        [this, &transfer](std::uint32_t offset, std::span<const std::uint8_t> data) {
            std::array<std::uint8_t, kBlockLogBlockBytes> block;
            block.fill(0xFF);
            std::copy_n(data.begin(), std::min(data.size(), block.size()), block.begin());
            return output_.StoreBlock(block, offset, transfer.TotalSize());
        },
        callbacks);
    if (result.ok()) {
        if (output_.Commit()) {
            SetStatus(kStatus, tracklogtext::kUploadDone);
        } else {
            SetStatus(kStatus, tracklogtext::kOutputWriteFailed);
            ShowFailure(tracklogtext::kOutputWriteFailed);
        }
    } else {
        output_.Abandon();
        SetStatus(kStatus, tracklogtext::kUploadFailed);
        ShowFailure(result.text);
    }
    PostToUi([this] { EnableJobButtons(true); });
    busy_ = false;
}

void CPageTrackLogSetting::OnButtonClear() {
    if (!TakeJob()) return;
    preCommand = 6;
    theUtility.sendPmtkFirst = 1;
    JoinWorker();
    EnableJobButtons(false);
    worker_ = std::thread([this] { ClearThreadProc(); });
}

void CPageTrackLogSetting::ClearThreadProc() {
    SetStatus(kStatus, tracklogtext::kWaiting);
    PostToUi([this] { UpdateControls(6); });
    // The logger has no clear transfer: nothing goes to the device, so
    // nothing was cleared, and the page says so rather than claim success.
    SetStatus(kStatus, tracklogtext::kClearFailed);
    PostToUi([this] { EnableJobButtons(true); });
    busy_ = false;
}
