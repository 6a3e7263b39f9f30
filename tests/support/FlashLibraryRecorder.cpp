#include "FlashLibraryRecorder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "support/UtilityManager.h"

namespace testsupport {

namespace rec = platform::flashrecord;
using platform::FlashHandle;
using platform::GetRecordU32;

namespace {
std::string Hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}
}  // namespace

void FlashLibraryRecorder::Add(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
}

std::string FlashLibraryRecorder::Handle(FlashHandle h) const {
    if (h == daHandleValue) return "da";
    if (h == dlHandleValue) return "dl";
    return Hex(h);
}

std::uint32_t FlashLibraryRecorder::CreateDaHandle(FlashHandle* daHandle) {
    Add("CreateDaHandle");
    if (daHandle) *daHandle = daHandleValue;
    return 0;
}

std::uint32_t FlashLibraryRecorder::CreateDlHandle(FlashHandle* dlHandle) {
    Add("CreateDlHandle");
    if (dlHandle) *dlHandle = dlHandleValue;
    return 0;
}

std::uint32_t FlashLibraryRecorder::SetDaParameter(FlashHandle daHandle, std::uint32_t value) {
    Add("SetDaParameter " + Handle(daHandle) + " " + Hex(value));
    return 0;
}

std::uint32_t FlashLibraryRecorder::LoadDa(FlashHandle daHandle, const char* path) {
    Add("LoadDa " + Handle(daHandle) + " " + (path ? path : "(null)"));
    return loadDaResult;
}

std::uint32_t FlashLibraryRecorder::LoadScatter(FlashHandle dlHandle, const char* path) {
    Add("LoadScatter " + Handle(dlHandle) + " " + (path ? path : "(null)"));
    return loadScatterResult;
}

std::uint32_t FlashLibraryRecorder::SetDlOption(FlashHandle dlHandle, std::uint32_t value) {
    Add("SetDlOption " + Handle(dlHandle) + " " + Hex(value));
    return 0;
}

std::uint32_t FlashLibraryRecorder::LoadImage(FlashHandle dlHandle, std::uint32_t index, const char* path) {
    Add("LoadImage " + Handle(dlHandle) + " " + Hex(index) + " " + (path ? path : "(null)"));
    return loadImageResult;
}

std::uint32_t FlashLibraryRecorder::EnableImage(FlashHandle dlHandle, std::uint32_t index, std::uint32_t on) {
    Add("EnableImage " + Handle(dlHandle) + " " + Hex(index) + " " + Hex(on));
    return 0;
}

std::uint32_t FlashLibraryRecorder::Run(const platform::PortRecord* port, const platform::BootRecord* boot,
                                        const platform::DownloadRecord* download, std::uint32_t* status,
                                        platform::RunReport* report) {
    Add("Run");
    RunCall call;
    if (port) call.port = *port;
    if (boot) call.boot = *boot;
    if (download) call.download = *download;
    if (status) call.statusIn = *status;
    if (report) call.reportZeroIn = std::all_of(report->begin(), report->end(), [](std::uint8_t b) { return b == 0; });
    if (boot) {
        call.bootSelfMatches = platform::ResolveFlashPointer(GetRecordU32(*boot, rec::kBootSelf)) == boot;
        call.daInit = platform::ResolveFlashInitCallback(GetRecordU32(*boot, rec::kBootInitCallback));
        call.daProgress = platform::ResolveFlashProgressCallback(GetRecordU32(*boot, rec::kBootProgressCallback));
        call.daInitUser = platform::ResolveFlashPointer(GetRecordU32(*boot, rec::kBootInitUser));
        call.daProgressUser = platform::ResolveFlashPointer(GetRecordU32(*boot, rec::kBootProgressUser));
    }
    if (download) {
        call.dlInit = platform::ResolveFlashInitCallback(GetRecordU32(*download, rec::kDlInitCallback));
        call.dlProgress = platform::ResolveFlashProgressCallback(GetRecordU32(*download, rec::kDlProgressCallback));
        call.dlInitUser = platform::ResolveFlashPointer(GetRecordU32(*download, rec::kDlInitUser));
        call.dlProgressUser = platform::ResolveFlashPointer(GetRecordU32(*download, rec::kDlProgressUser));
    }
    {
        std::lock_guard lock(mutex_);
        runs_.push_back(call);
    }
    if (duringRun) duringRun();
    if (callCallbacks && boot && download) {
        // As the library does: init, then progress per acknowledged block.
        constexpr std::uint32_t kForeignToken = 0xFFFFFFF0;
        const auto value = [&](std::uint32_t recorded) { return passForeignValues ? kForeignToken : recorded; };
        const auto user = [&](void* recorded) { return passForeignValues ? nullptr : recorded; };
        if (call.daInit) call.daInit(value(GetRecordU32(*boot, rec::kBootInitUser)));
        for (int p : daPercents) {
            if (call.daProgress) call.daProgress(static_cast<std::uint8_t>(p), 0, 0, user(call.daProgressUser));
        }
        if (call.dlInit) call.dlInit(value(GetRecordU32(*download, rec::kDlInitUser)));
        for (int p : dlPercents) {
            if (call.dlProgress) call.dlProgress(static_cast<std::uint8_t>(p), 0, 0, user(call.dlProgressUser));
        }
    }
    if (status) *status = runStatusOut;
    if (report) platform::PutRecordU32(*report, rec::kReportResult, runResult);
    return runResult;
}

std::uint32_t FlashLibraryRecorder::UnloadDa(FlashHandle daHandle) {
    Add("UnloadDa " + Handle(daHandle));
    return 0;
}

std::uint32_t FlashLibraryRecorder::UnloadImage(FlashHandle dlHandle, std::uint32_t index) {
    Add("UnloadImage " + Handle(dlHandle) + " " + Hex(index));
    return 0;
}

std::uint32_t FlashLibraryRecorder::DestroyDaHandle(FlashHandle* daHandle) {
    Add("DestroyDaHandle " + (daHandle ? Handle(*daHandle) : std::string("(null)")));
    if (daHandle) *daHandle = 0;
    return 0;
}

std::uint32_t FlashLibraryRecorder::DestroyDlHandle(FlashHandle* dlHandle) {
    Add("DestroyDlHandle " + (dlHandle ? Handle(*dlHandle) : std::string("(null)")));
    if (dlHandle) *dlHandle = 0;
    return 0;
}

std::vector<std::string> FlashLibraryRecorder::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string> FlashLibraryRecorder::Names() const {
    std::vector<std::string> names;
    for (const std::string& c : Calls()) {
        names.push_back(c.substr(0, c.find(' ')));
    }
    return names;
}

std::vector<FlashLibraryRecorder::RunCall> FlashLibraryRecorder::Runs() const {
    std::lock_guard lock(mutex_);
    return runs_;
}

void FlashLibraryRecorder::Clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
    runs_.clear();
}

// ---------------------------------------------------------------------------

ScopedPageDownloader::ScopedPageDownloader(FlashDownloader* downloader)
    : previousPage_(devicePageInstance.exchange(reinterpret_cast<CPageDeviceSetting*>(downloader))),
      previousLookup_(FlashDownloader::SetPageLookup(
          [](CPageDeviceSetting* page) { return reinterpret_cast<FlashDownloader*>(page); })) {}

ScopedPageDownloader::~ScopedPageDownloader() {
    FlashDownloader::SetPageLookup(previousLookup_);
    devicePageInstance = previousPage_;
}

void RecordingFlashHost::Add(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
}

void RecordingFlashHost::SetStateText(int stringId) { Add("state " + std::to_string(stringId)); }
void RecordingFlashHost::SetWarningText(int stringId) { Add("warning " + std::to_string(stringId)); }
void RecordingFlashHost::SetProgressBar(int position) { Add("bar " + std::to_string(position)); }
void RecordingFlashHost::SetPercentText(const std::string& text) { Add("percent " + text); }

void RecordingFlashHost::ReopenPort() {
    Add("reopen");
    if (onReopen) onReopen();
}

void RecordingFlashHost::SendSelfCheck() {
    Add("selfcheck");
    if (onSelfCheck) onSelfCheck();
}

void RecordingFlashHost::CloseDevicePort() {
    Add("close");
    if (onClose) onClose();
}

void RecordingFlashHost::UnlockTab() { Add("unlock"); }
void RecordingFlashHost::EnableMainButtons(bool all) { Add(all ? "buttons all" : "buttons ok+about"); }

std::vector<std::string> RecordingFlashHost::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<int> RecordingFlashHost::StateTexts() const {
    std::vector<int> ids;
    for (const std::string& e : Events()) {
        if (e.rfind("state ", 0) == 0) {
            const int id = std::stoi(e.substr(6));
            if (ids.empty() || ids.back() != id) ids.push_back(id);
        }
    }
    return ids;
}

std::string RecordingFlashHost::LastPercent() const {
    std::string last;
    for (const std::string& e : Events()) {
        if (e.rfind("percent ", 0) == 0) last = e.substr(8);
    }
    return last;
}

int RecordingFlashHost::LastBar() const {
    int last = -1;
    for (const std::string& e : Events()) {
        if (e.rfind("bar ", 0) == 0) last = std::stoi(e.substr(4));
    }
    return last;
}

void RecordingFlashHost::Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

bool RecordingFlashHost::HasEvent(const std::string& event) const {
    const auto events = Events();
    return std::find(events.begin(), events.end(), event) != events.end();
}

// ---------------------------------------------------------------------------

std::uint64_t QuickClock::NowMs() {
    std::lock_guard lock(mutex_);
    return now_;
}

void QuickClock::SleepMs(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, capMs_)));
    std::lock_guard lock(mutex_);
    now_ += ms;
    slept_ += ms;
}

std::uint64_t QuickClock::TotalSleptMs() const {
    std::lock_guard lock(mutex_);
    return slept_;
}

}  // namespace testsupport
