#include "tracklog/PageMTKTracklogSetting.h"

#include <QWidget>
#include <chrono>
#include <cstring>
#include <future>
#include <span>

#include "device/SerialLink.h"
#include "platform/Clock.h"
#include "platform/Ui.h"
#include "platform/UiThread.h"
#include "support/AtomicFile.h"
#include "support/UtilityManager.h"
#include "tracklog/LoggerOptions.h"
#include "tracklog/TrackLogRecord.h"
#include "ui/StringTable.h"
#include "ui/templates/Template143.h"
#include "ui/templates/Template146.h"

using namespace dialog143;

namespace {

// Status texts of the page.
constexpr const char* kConnectionFailed = "Connection to Device Failed";
constexpr const char* kReadingRecordMode = "Reading Record Mode Settings....";
constexpr const char* kUpdatingRecordMode = "Updating Record Mode Settings....";
constexpr const char* kReadDone = "Update Setting Successfully.";
constexpr const char* kClearNoDevice = "Clear Failed! No Device Connected! ";
// Failures the logger settings report beyond those texts.
constexpr const char* kApplyFailed = "Setting Failed! The device did not confirm it.";
constexpr const char* kEraseFailed = "Clear Failed! The device did not confirm the erase.";
constexpr const char* kEndAddressFailed = "Cleared. The free record count could not be read.";

// Texts of the upload.
constexpr const char* kUploadNoDevice = "Upload Failed! No Device Connected! ";
constexpr const char* kUploadPortLost = "Upload Failed! The device was disconnected. ";
constexpr const char* kUploadRequestFailed = "Upload Failed! The read request could not be sent. ";
constexpr const char* kUploadDumpFailed = "Upload Failed! Mirel.trl could not be written. ";

// A text of the string table, or the page's own wording where the table
// has none.
std::string Text(int id, const char* wording) { return res::HasString(id) ? res::LoadString(id) : wording; }

// Wording of the status texts whose string ids the table lacks.
std::string IntervalStatus() { return Text(335, "Log Interval Setting...."); }
std::string DistanceStatus() { return Text(336, "Log Distance Setting...."); }
std::string RecordModeStatus() { return Text(379, "Record Mode Setting...."); }
std::string ApplyDone() { return Text(337, "Apply Setting Successfully."); }
std::string Clearing() { return Text(341, "Clearing Device Track Log Data...."); }
std::string Cleared() { return Text(342, "Clear Device Track Log Data Successfully."); }
std::string UploadStarted() { return Text(339, "Uploading Device Track Log Data...."); }
std::string UploadCancelled() { return Text(338, "Upload Cancelled."); }
std::string UploadDone() { return Text(340, "Upload Completed. "); }
std::string UploadTimedOut() { return Text(392, "Upload Failed! The device stopped answering."); }

// A reply the engine gave: null on silence, "Not Connected" while no device
// is linked.
bool IsReply(const char* reply) { return reply && reply != CommandEngine::kNotConnected; }

// The reply as a text, up to its end or the end of the buffer.
std::string_view ReplyText(const char* reply, std::size_t room) {
    return std::string_view(reply, strnlen(reply, room));
}

}  // namespace

CPageMTKTracklogSetting::CPageMTKTracklogSetting()
    : CPage(res::Template143()),
      statusLines_(
          [this](int delayMs, std::function<void()> fn) {
              if (delayMs > 0) {
                  PostToUiLater(delayMs, std::move(fn));
              } else {
                  PostToUi(std::move(fn));
              }
          },
          [this](std::vector<std::string>& lines) {
              if (fileStatusDialog) fileStatusDialog->AddLines(lines);
          },
          kStatusLinesPerHandOff, kStatusLinesPauseMs) {
    using platform::notify::kClicked;
    OnNotify(kEnableRecording, kClicked, [this] { OnCheckEnableRecording(); });
    OnNotify(kRead, kClicked, [this] { OnButtonRead(); });
    OnNotify(kClear, kClicked, [this] { OnButtonClear(); });
    OnNotify(kUpload, kClicked, [this] { OnButtonUpload(); });
    OnNotify(kFullAndStop, kClicked, [this] { OnRadioFullAndStop(); });
    OnNotify(kOverwrite, kClicked, [this] { OnRadioOverwrite(); });
    OnNotify(kIntervalCombo, platform::notify::kSelChange, [this] { OnSelchangeComboLogInterval(); });
    OnNotify(kDistanceCombo, platform::notify::kSelChange, [this] { OnSelchangeComboLogDistance(); });
    OnNotify(kByDistance, kClicked, [this] { OnRadioByDistance(); });
    OnNotify(kBySecond, kClicked, [this] { OnRadioBySecond(); });
}

CPageMTKTracklogSetting::~CPageMTKTracklogSetting() {
    closing_ = true;
    stopReceive = 1;
    blockTimedOut = 1;
    if (uploadThread_.joinable()) uploadThread_.join();
}

bool CPageMTKTracklogSetting::OnInitDialog() {
    CPage::OnInitDialog();
    for (const char* text : logger::kIntervalTexts) AddItem(kIntervalCombo, text);
    for (const char* text : logger::kDistanceTexts) AddItem(kDistanceCombo, text);
    SetDefaults();
    LoadCaptions();
    // The lists stand beside their units; a screen reader names them by what
    // they set.
    SetDlgItemAccessibleName(kIntervalCombo, GetDlgItemText(kIntervalLabel));
    SetDlgItemAccessibleName(kDistanceCombo, GetDlgItemText(kDistanceLabel));
    SetDlgItemAccessibleName(kUploadProgress, GetDlgItemText(kUploadLabel));
    SetDlgItemAccessibleName(kUnusedProgress, GetDlgItemText(kUploadLabel));
    stopReceive = 0;
    blockTimedOut = 0;
    receiveActive = 0;
    return true;
}

void CPageMTKTracklogSetting::LoadCaptions() {
    // Controls whose string the table lacks keep their template captions.
    const struct {
        int control;
        int string;
    } kCaptions[] = {
        {kSettingFrame, 324}, {kProcessingFrame, 377}, {kRecordStyleFrame, 378}, {kOverwrite, 325},
        {kFullAndStop, 326},  {kBySecond, 327},        {kByDistance, 329},       {kIntervalUnit, 328},
        {kUploadLabel, 343},  {kClearLabel, 344},      {kSettingStatus, 331},    {kProcessStatus, 338},
        {kUpload, 345},       {kClear, 346},
    };
    for (const auto& c : kCaptions) {
        if (res::HasString(c.string)) SetDlgItemText(c.control, res::LoadString(c.string));
    }
}

platform::LResult CPageMTKTracklogSetting::OnMessage(unsigned message, platform::WParam wParam,
                                                     platform::LParam lParam) {
    if (message == kWmCloseStatusDialog) {
        OnCloseStatusDialog();
        return 0;
    }
    return CPage::OnMessage(message, wParam, lParam);
}

// ---------------------------------------------------------------------------
// Choices

void CPageMTKTracklogSetting::CheckRecordMode(int mode) {
    CheckDlgButton(kFullAndStop, mode == logger::kFullAndStop);
    CheckDlgButton(kOverwrite, mode != logger::kFullAndStop);
}

void CPageMTKTracklogSetting::CheckLogBy(int byDistance) {
    CheckDlgButton(kByDistance, byDistance != 0);
    CheckDlgButton(kBySecond, byDistance == 0);
}

void CPageMTKTracklogSetting::DefaultAll() { SetDefaults(); }

void CPageMTKTracklogSetting::SetDefaults() {
    CheckDlgButton(kEnableRecording, true);
    logIntervalTenths = 50;
    SetCurSel(kIntervalCombo, 1);
    logDistanceTenths = logger::DistanceTenths(1, distanceInFeet != 0);
    SetCurSel(kDistanceCombo, 1);
    recordMode = logger::kFullAndStop;
    CheckRecordMode(recordMode);
    logByDistance = 0;
    CheckLogBy(logByDistance);
    SetProgressRange(kUploadProgress, 0, 100);
    SetProgressPos(kUploadProgress, 0);
    SetDlgItemText(kUploadPercent, "0%");
}

void CPageMTKTracklogSetting::OnRadioFullAndStop() {
    recordMode = logger::kFullAndStop;
    CheckRecordMode(recordMode);
}

void CPageMTKTracklogSetting::OnRadioOverwrite() {
    recordMode = logger::kOverwrite;
    CheckRecordMode(recordMode);
}

void CPageMTKTracklogSetting::OnRadioBySecond() {
    logByDistance = 0;
    CheckLogBy(logByDistance);
}

void CPageMTKTracklogSetting::OnRadioByDistance() {
    logByDistance = 1;
    CheckLogBy(logByDistance);
}

void CPageMTKTracklogSetting::OnSelchangeComboLogInterval() {
    const int tenths = logger::IntervalTenths(GetCurSel(kIntervalCombo));
    if (tenths >= 0) logIntervalTenths = tenths;
}

void CPageMTKTracklogSetting::OnSelchangeComboLogDistance() {
    const int tenths = logger::DistanceTenths(GetCurSel(kDistanceCombo), distanceInFeet != 0);
    if (tenths >= 0) logDistanceTenths = tenths;
}

void CPageMTKTracklogSetting::OnCheckEnableRecording() {
    recordingEnabled = IsDlgButtonChecked(kEnableRecording) ? 1 : 0;
    if (recordingEnabled) {
        logIntervalTenths = 50;
        SetCurSel(kIntervalCombo, 1);
        logDistanceTenths = 500;
        SetCurSel(kDistanceCombo, 0);
    } else {
        logIntervalTenths = 0;
        logDistanceTenths = 0;
    }
    EnableDlgItem(kIntervalCombo, recordingEnabled != 0);
    EnableDlgItem(kDistanceCombo, recordingEnabled != 0);
}

int CPageMTKTracklogSetting::IntervalToComboIndex(int kind, int value) {
    return logger::IntervalToComboIndex(kind, value);
}

unsigned CPageMTKTracklogSetting::RecordChecksum(const std::uint8_t* record) {
    return ::RecordChecksum(std::span<const std::uint8_t, kTrackLogRecordSize>(record, kTrackLogRecordSize));
}

void CPageMTKTracklogSetting::ShowDeviceSettings() {
    SetDlgItemText(kUploadPercent, "100%");
    SetProgressRange(kUploadProgress, 0, 100);
    SetProgressPos(kUploadProgress, 0);
    if (theUtility.freeRecordCount.load() < 4) {
        for (int id : {kBySecond, kByDistance, kIntervalCombo, kDistanceCombo, kOverwrite, kFullAndStop}) {
            EnableDlgItem(id, false);
        }
    } else {
        recordMode = logger::ShownRecordMode(static_cast<std::uint32_t>(theUtility.recordModeSent.load()));
        theUtility.recordModeSent = recordMode;
        CheckRecordMode(recordMode);
        logIntervalTenths = theUtility.logIntervalSent;
        SetCurSel(kIntervalCombo, logger::IntervalToComboIndex(0, LogIntervalSeconds()));
        distanceInFeet = theUtility.useFeet;
        for (int row = 0; row < static_cast<int>(logger::kDistanceTexts.size()); ++row) {
            if (logger::DistanceTenths(row, distanceInFeet != 0) == theUtility.logDistanceSent) {
                SetCurSel(kDistanceCombo, row);
                logDistanceTenths = theUtility.logDistanceSent;
                break;
            }
        }
        logByDistance = theUtility.logByModeSent;
        CheckLogBy(logByDistance);
    }
    SetDlgItemText(kDistanceUnit, distanceInFeet ? Text(396, "Feet") : Text(330, "Meter"));
    SetDlgItemText(kSettingStatus, Text(331, ""));
    SetDlgItemText(kProcessStatus, Text(338, ""));
}

// ---------------------------------------------------------------------------
// Talking to the logger

bool CPageMTKTracklogSetting::PortOpen() const {
    SerialLink* link = GetLink();
    return link && link->IsPortOpen();
}

void CPageMTKTracklogSetting::SetSettingStatus(const std::string& text) { SetDlgItemText(kSettingStatus, text); }

void CPageMTKTracklogSetting::SetProcessStatus(const std::string& text) { SetDlgItemText(kProcessStatus, text); }

bool CPageMTKTracklogSetting::SendSetting(int item, int value) {
    auto lock = LockReceive();
    const char* reply = SendPmtk182Retry(1, item, value);
    return IsReply(reply) && logger::IsAcknowledged(ReplyText(reply, 128), 1);
}

std::optional<std::uint32_t> CPageMTKTracklogSetting::QueryOption(int item, bool hex, bool retry) {
    auto lock = LockReceive();
    const char* reply = retry ? SendPmtk182Retry(2, item, 0) : SendPmtk182(2, item, 0);
    if (!IsReply(reply)) return std::nullopt;
    return logger::OptionValue(ReplyText(reply, 128), item, hex);
}

void CPageMTKTracklogSetting::ApplyAll() {
    if (!PortOpen()) return;
    const logger::Options wanted{logIntervalTenths, logDistanceTenths, recordMode};
    const logger::Options sent{theUtility.logIntervalSent, theUtility.logDistanceSent, theUtility.recordModeSent};
    const std::vector<logger::Setting> plan = logger::SettingsToSend(wanted, sent);
    bool failed = false;
    const struct {
        int item;
        std::string status;
        std::atomic<int>& remembered;
    } kSteps[] = {
        {logger::kItemInterval, IntervalStatus(), theUtility.logIntervalSent},
        {logger::kItemDistance, DistanceStatus(), theUtility.logDistanceSent},
        {logger::kItemRecordMode, RecordModeStatus(), theUtility.recordModeSent},
    };
    for (const auto& step : kSteps) {
        SetSettingStatus(step.status);
        for (const logger::Setting& setting : plan) {
            if (setting.item != step.item) continue;
            if (SendSetting(setting.item, setting.value)) {
                step.remembered = setting.value;
            } else {
                failed = true;
            }
        }
    }
    // The log-by choice is not sent: the logger takes no such command.
    SetSettingStatus(failed ? kApplyFailed : ApplyDone());
}

void CPageMTKTracklogSetting::OnButtonRead() {
    if (!PortOpen()) {
        SetSettingStatus(kConnectionFailed);
        return;
    }
    SetSettingStatus(kReadingRecordMode);
    const auto mode = QueryOption(logger::kItemRecordMode, false, true);
    if (!mode) {
        SetSettingStatus(kConnectionFailed);
        return;
    }
    SetSettingStatus(kUpdatingRecordMode);
    recordMode = logger::ShownRecordMode(*mode);
    CheckRecordMode(recordMode);
    theUtility.recordModeSent = recordMode;
    if (!ReadLogSetting(2, logger::kItemInterval) || !ReadLogSetting(2, logger::kItemDistance)) return;
    SetSettingStatus(kReadDone);
}

bool CPageMTKTracklogSetting::ReadLogSetting(int command, int item, int) {
    if (command != 2 || (item != logger::kItemInterval && item != logger::kItemDistance)) return false;
    if (!PortOpen()) {
        SetSettingStatus(kConnectionFailed);
        return false;
    }
    const auto value = QueryOption(item, false, true);
    if (!value) {
        SetSettingStatus(kConnectionFailed);
        return false;
    }
    SetSettingStatus(item == logger::kItemInterval ? IntervalStatus() : DistanceStatus());
    if (*value == 0 || *value > 0x7FFFFFFF) return true;
    const int v = static_cast<int>(*value);
    if (item == logger::kItemInterval) {
        if (v < logger::kMinIntervalTenths) {
            SetCurSel(kIntervalCombo, 0);
            return true;
        }
        theUtility.logIntervalSent = v;
        logIntervalTenths = v;
        SetCurSel(kIntervalCombo, logger::IntervalToComboIndex(0, v / 10));
    } else {
        if (v < logger::kMinDistanceTenths) {
            SetCurSel(kDistanceCombo, 0);
            return true;
        }
        theUtility.logDistanceSent = v;
        logDistanceTenths = v;
        SetCurSel(kDistanceCombo, logger::IntervalToComboIndex(1, v / 10));
    }
    return true;
}

void CPageMTKTracklogSetting::OnButtonClear() {
    if (!PortOpen()) {
        SetProcessStatus(kClearNoDevice);
        return;
    }
    auto enableButtons = [this](bool enable) {
        if (host) host->EnableMainButtons(PageHost::MainButtons::PageCommands, enable);
        EnableDlgItem(kClear, enable);
    };
    enableButtons(false);
    SetProcessStatus(Clearing());
    bool erased = false;
    {
        // The engine waits for the erase a bounded time, a few passes.
        auto lock = LockReceive();
        const char* reply = SendPmtk182Retry(6, 1, 0);
        erased = IsReply(reply) && logger::IsAcknowledged(ReplyText(reply, 128), 6);
    }
    enableButtons(true);
    if (!erased) {
        SetProcessStatus(kEraseFailed);
        return;
    }
    SetProcessStatus(Cleared());
    std::optional<std::uint32_t> address;
    for (int poll = 0; poll < kEndAddressPolls && !address; ++poll) {
        address = QueryOption(logger::kItemEndAddress, true, false);
        platform::Sleep(kEndAddressPollMs);
    }
    if (!address) {
        SetProcessStatus(kEndAddressFailed);
        return;
    }
    const std::uint32_t freeCount = logger::FreeRecordCount(*address);
    theUtility.freeRecordCount = static_cast<int>(freeCount);
    // The next upload starts from the new end of the log.
    theUtility.logEndAddress = static_cast<int>(*address);
    if (host) host->ShowMemoryUsage(logger::FreeRecordText(freeCount));
}

// ---------------------------------------------------------------------------
// The upload's watchdog and its file-status dialog

unsigned CPageMTKTracklogSetting::StartWatchdogTimer(unsigned elapseMs, unsigned timerId) {
    if (!HasWindow()) {
        platform::Ui().MessageBox(this, "Unable to obtain timer", "IDT_TIMER_0", platform::mb::kIconStop);
        return 0;
    }
    SetTimer(static_cast<int>(timerId), static_cast<int>(elapseMs));
    blockTimedOut = 0;
    return timerId;
}

bool CPageMTKTracklogSetting::StopWatchdogTimer(unsigned timerId) {
    const bool running = IsTimerRunning(static_cast<int>(timerId));
    KillTimer(static_cast<int>(timerId));
    return running;
}

void CPageMTKTracklogSetting::OnTimer(int id) {
    if (id != watchdogTimerId) return;
    KillTimer(id);
    blockTimedOut = 1;
    receiveActive = 0;
    stopReceive = 1;
    ClearRxBuffer();
}

CTrackLogFileStatusDlg* CPageMTKTracklogSetting::OpenStatusDialog() {
    statusLines_.Flush();  // the last upload's lines stay with its dialog
    if (fileStatusDialog) {
        fileStatusDialog->ShowWindow(false);
        closingStatusDialogs_.push_back(std::move(fileStatusDialog));
        PostToUi([this] { closingStatusDialogs_.clear(); });
    }
    fileStatusDialog = std::make_unique<CTrackLogFileStatusDlg>();
    QWidget* mainWindow = GetWidget() ? GetWidget()->window() : nullptr;
    fileStatusDialog->Create(mainWindow);
    fileStatusDialog->SetNotifyWindow(this);
    fileStatusDialog->EnableDlgItem(dialog146::kOk, false);
    return fileStatusDialog.get();
}

void CPageMTKTracklogSetting::OnCloseStatusDialog() {
    if (!fileStatusDialog || !fileStatusDialog->HasWindow()) return;
    // The dialog's OK handler is still on the stack: the dialog is hidden now
    // and freed once that handler has returned.
    fileStatusDialog->ShowWindow(false);
    closingStatusDialogs_.push_back(std::move(fileStatusDialog));
    PostToUi([this] { closingStatusDialogs_.clear(); });
}

// ---------------------------------------------------------------------------
// The log upload

bool CPageMTKTracklogSetting::RunOnUi(const std::function<void()>& fn) {
    if (platform::IsUiThread()) {
        fn();
        return true;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    // Bound to the page's window: dropped when the page is gone by then.
    PostToUi([fn, done] {
        fn();
        done->set_value();
    });
    while (finished.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        if (closing_.load() || !HasWindow()) return false;
    }
    return true;
}

void CPageMTKTracklogSetting::PostStatus(const std::string& text) {
    PostToUi([this, text] { SetProcessStatus(text); });
}

void CPageMTKTracklogSetting::Progress(unsigned percent) {
    PostToUi([this, percent] {
        SetProgressPos(kUploadProgress, static_cast<int>(percent));
        SetDlgItemText(kUploadPercent, std::to_string(percent) + "%");
    });
}

void CPageMTKTracklogSetting::ArmWatchdog() {
    PostToUi([this] { StartWatchdogTimer(kWatchdogMs, watchdogTimerId); });
}

void CPageMTKTracklogSetting::DisarmWatchdog() {
    PostToUi([this] { StopWatchdogTimer(watchdogTimerId); });
}

void CPageMTKTracklogSetting::ShowStatusList() {
    PostToUi([this] {
        if (fileStatusDialog) fileStatusDialog->ShowWindow(true);
    });
}

void CPageMTKTracklogSetting::AddStatusLine(const std::string& line) { statusLines_.Push(line); }

// The conversions run on the calling worker: they write files and touch no
// window. Once the page is closing the rest are skipped.
bool CPageMTKTracklogSetting::WriteKml(const std::string& trlPath, const std::string& kmlPath) {
    return !closing_.load() && host && host->WriteKml(trlPath, kmlPath);
}

bool CPageMTKTracklogSetting::ConvertWithPhotos(const std::string& trlPath, const std::string& kmlPath,
                                                const std::string& photoFolder) {
    return !closing_.load() && host && host->ConvertWithPhotos(trlPath, kmlPath, photoFolder);
}

void CPageMTKTracklogSetting::WriteUploadFiles(const std::string& folder, bool writeTotal, bool combine,
                                               const std::string& photoFolder) {
    logDecoder.WriteTrlFiles(folder, theUtility.GetUserName(), writeTotal, *this);
    if (combine) {
        logDecoder.ConvertTrlToKmlUnicode(*this, photoFolder);
    } else {
        logDecoder.ConvertTrlToKml(*this);
    }
    // The last lines need not wait for the pause between hand-offs.
    PostToUi([this] { statusLines_.Flush(); });
}

void CPageMTKTracklogSetting::OnButtonUpload() {
    if (uploadRunning_.load()) return;
    if (uploadThread_.joinable()) uploadThread_.join();  // the last one has ended
    SetDlgItemText(kUploadPercent, "0%");
    SetProgressRange(kUploadProgress, 0, 100);
    SetProgressPos(kUploadProgress, 0);
    EnableDlgItem(kUpload, false);
    SetProcessStatus(UploadStarted());
    OpenStatusDialog();
    uploadRunning_ = true;
    uploadThread_ = std::thread([this] { UploadTrackLog(); });
}

void CPageMTKTracklogSetting::UploadTrackLog() {
    RunOnUi([this] {
        if (host) host->LockForLogUpload(true);
        EnableDlgItem(kClear, false);
    });
    SerialLink* link = GetLink();
    const bool bridge = link && link->CheckDevicePort() == 1;
    if (!PortOpen()) {
        PostStatus(kUploadNoDevice);
        EndSection(bridge, LogUploader::Result::kCancelled);
        return;
    }
    TransformChoices choices;
    if (CStepByStepDlg::ShowFromWorker(choices, &closing_) != platform::kIdOk) {
        PostStatus(UploadCancelled());
        EndSection(bridge, LogUploader::Result::kCancelled);
        return;
    }
    RunOnUi([this] {
        if (host) host->SetTickThread(false);
    });
    platform::Sleep(1000);

    // The log may have grown since Connect: its end is asked for again.
    std::uint32_t endAddress = static_cast<std::uint32_t>(theUtility.logEndAddress.load());
    {
        auto lock = LockReceive();
        const char* reply = SendPmtk182Retry(2, logger::kItemEndAddress, 0);
        if (IsReply(reply)) {
            if (auto value = logger::OptionValue(ReplyText(reply, 128), logger::kItemEndAddress, true)) {
                endAddress = *value;
                theUtility.logEndAddress = static_cast<int>(endAddress);
            }
        }
    }
    const std::uint32_t logSize = logupload::LogSizeFromEndAddress(endAddress);

    std::string folder = choices.GetTrackLogDirectory();
    if (!folder.empty() && folder.back() != '/') folder += '/';
    logDecoder.ResetUploadBuffers();
    AtomicFile dump;
    const bool dumpWanted = choices.GetWriteTotalLog() != 0;
    bool dumpOk = !dumpWanted || dump.Open(folder + kRawDumpName);

    const std::uint64_t start = platform::NowMs();
    if (bridge) {
        theUtility.highSpeedLink = 1;
        SendPmtk182(14, SerialLink::kHighSpeedBaud, 0);
        platform::Sleep(500);
        link->SetPortHighSpeed();
    }

    LogUploader::Result result = LogUploader::Result::kCancelled;
    {
        LogUploader uploader(*this, *link, {stopReceive, blockTimedOut, receiveActive}, *this);
        std::vector<std::uint8_t> packed(kLogSectorSize);
        result = uploader.Run(logSize, bridge, [&](std::uint32_t, std::span<const std::uint8_t> block) {
            const LogSector sector(block.data(), kLogSectorSize);
            if (dumpWanted && dumpOk) dumpOk = dump.Write(block.data(), block.size());
            LogDecoder::CompactSector(sector, PackedSector(packed.data(), kLogSectorSize));
            logDecoder.DecodeSector(sector);
            PostStatus(logupload::ElapsedText(platform::NowMs() - start));
        });
    }
    if (result == LogUploader::Result::kDone && dumpWanted && !dump.Commit()) dumpOk = false;
    if (result != LogUploader::Result::kDone) dump.Abandon();

    std::string status;
    switch (result) {
        case LogUploader::Result::kDone:
            WriteUploadFiles(folder, choices.GetTransformOption() != 0, choices.GetCombinePhoto() != 0,
                             choices.GetPhotoDirectory());
            Progress(100);
            status = dumpOk ? UploadDone() + logupload::ElapsedText(platform::NowMs() - start) : kUploadDumpFailed;
            break;
        case LogUploader::Result::kTimedOut: status = UploadTimedOut(); break;
        case LogUploader::Result::kPortLost: status = kUploadPortLost; break;
        case LogUploader::Result::kRequestFailed: status = kUploadRequestFailed; break;
        case LogUploader::Result::kCancelled: status = UploadCancelled(); break;
    }
    // The text and KML outputs of the dialog's hidden controls take their
    // input from a raw record file that nothing chooses: none is written.
    choices.CloseOutputs(false);
    PostStatus(status);
    if (result == LogUploader::Result::kTimedOut) {
        RunOnUi([this, status] {
            platform::Ui().MessageBox(this, status, res::LoadString(300), platform::mb::kIconStop);
        });
    }
    EndSection(bridge, result);
}

void CPageMTKTracklogSetting::EndSection(bool bridge, LogUploader::Result result) {
    lastUploadResult_ = result;
    SerialLink* link = GetLink();
    if (bridge && link && link->IsPortOpen()) {
        RunOnUi([this] {
            if (host) host->SetTickThread(false);
        });
        platform::Sleep(1000);
        // A logger that has gone takes nothing more; the port is set back all
        // the same.
        if (result != LogUploader::Result::kPortLost) {
            SendPmtk182(14, 38400, 0);
            platform::Sleep(500);
        }
        link->ReapplyPortSettings();
        theUtility.highSpeedLink = 0;
        platform::Sleep(1000);
    }
    theUtility.highSpeedLink = 0;
    const bool lost = result == LogUploader::Result::kTimedOut || result == LogUploader::Result::kPortLost;
    RunOnUi([this, lost] {
        StopWatchdogTimer(watchdogTimerId);
        if (host) {
            // A logger that stopped answering or has gone is disconnected;
            // the user connects again on the update page.
            if (lost) host->DisconnectLogger();
            if (theUtility.tickThreadEnded.load() == 1) host->SetTickThread(true);
            host->LockForLogUpload(false);
            if (lost) {
                host->SelectTab(0);
                host->ShowCurrentTab();
            }
        }
        if (fileStatusDialog) fileStatusDialog->EnableDlgItem(dialog146::kOk, true);
        EnableDlgItem(kClear, true);
        EnableDlgItem(kUpload, true);
    });
    blockTimedOut = 0;
    receiveActive = 0;
    uploadRunning_ = false;
}
