#include "device/FlashDownload.h"

#include <fnmatch.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "device/FirmwareDownload.h"
#include "device/ModelTable.h"
#include "device/UpdateImage.h"
#include "platform/ComPortName.h"
#include "platform/VersionResource.h"
#include "support/UtilityManager.h"

namespace fs = std::filesystem;
using platform::FlashHandle;
using platform::FlashToken;
using platform::GetFlashLibrary;
using platform::PutRecordU32;
namespace rec = platform::flashrecord;

namespace {

// Long waits are slept in slices of this length, so a stop request ends them.
constexpr std::uint32_t kWaitSliceMs = 100;


}  // namespace

std::string FirstMatchingFile(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) {
            continue;
        }
        const std::string name = it->path().filename().string();
        if (::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) {
            names.push_back(name);
        }
    }
    if (names.empty()) {
        return {};
    }
    return *std::min_element(names.begin(), names.end());
}

FlashDownloader::FlashDownloader(FlashDownloadHost& host, FrontEnd frontEnd) : host_(host), frontEnd_(frontEnd) {}

FlashDownloader::~FlashDownloader() = default;

// ---------------------------------------------------------------------------
// Tables.

bool FlashDownloader::UsesSerialUpdate(const std::string& deviceTypeName, const std::string& deviceHardwareVersion,
                                       const std::string& deviceFirmwareText) {
    // The type is compared over its first five characters, the hardware over
    // five.
    constexpr std::size_t kCompared = 5;
    for (const models::Model& model : models::AllModels()) {
        if (model.updateMethod == models::UpdateMethod::SerialUpdateWhenNewer &&
            std::strncmp(deviceTypeName.c_str(), model.name, kCompared) == 0 &&
            std::strncmp(deviceHardwareVersion.c_str(), model.serialHardware, kCompared) == 0 &&
            update::DeviceFirmwareValue(deviceFirmwareText) > model.serialAboveFirmware) {
            return true;
        }
    }
    return false;
}

std::uint32_t FlashDownloader::SpeedCode(int modelType) { return models::ModelByCode(modelType).flashSpeedCode; }

int FlashDownloader::SelfCheckDelayMs(int modelType) { return models::ModelByCode(modelType).selfCheckDelayMs; }

std::string FlashDownloader::AgentPattern(const std::string& hardwareVersion) {
    return hardwareVersion == "V01" ? "DA_MT3318_*.bin" : "DA_MT3329_*.bin";
}

bool FlashDownloader::AgentParameter(const std::string& hardwareVersion, std::uint32_t& value) {
    if (hardwareVersion == "V01") {
        value = kParameterMT3318;
        return true;
    }
    if (hardwareVersion == "V03") {
        value = kParameterV03;
        return true;
    }
    return false;
}

int FlashDownloader::ComPortNumberOf(const std::string& portName) {
    const auto port = platform::ComPort::Parse(portName);
    return port ? port->Number() : 0;
}

std::string FlashDownloader::LinkPortNameFor(const std::string& portName) {
    const auto port = platform::ComPort::Parse(portName);
    return port ? port->LinkName() : portName;
}

// ---------------------------------------------------------------------------
// Inputs.

void FlashDownloader::SetPortName(const std::string& portName) { comPortNumber = ComPortNumberOf(portName); }

std::string FlashDownloader::ProgramFolder() const {
    if (!programFolderOverride_.empty()) {
        return programFolderOverride_;
    }
    const std::string program = platform::OwnModulePath();
    const auto slash = program.rfind('/');
    return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

// ---------------------------------------------------------------------------
// Operations.

void FlashDownloader::ClearConditions() {
    daReady = 0;
    imageReady = 0;
    scatterReady = 0;
    downloadDone = 0;
}

void FlashDownloader::ShowState(int stringId) { host_.SetStateText(stringId); }

void FlashDownloader::Wait(std::uint32_t ms) {
    while (ms > 0 && !stopRequested_.load()) {
        const std::uint32_t step = std::min(ms, kWaitSliceMs);
        platform::Sleep(step);
        ms -= step;
    }
}

void FlashDownloader::PrepareDownload() {
    ShowState(kStringPreparing);
    daHandle = 0;
    dlHandle = 0;
    daLoaded = 0;
    imageLoaded = 0;
    scatterReady = 0;
    runStatus = 0;
    updateProgress = 0;
    host_.SetProgressBar(0);
    host_.SetPercentText("0%");

    platform::FlashLibrary& library = GetFlashLibrary();
    FlashHandle da = 0;
    FlashHandle dl = 0;
    library.CreateDaHandle(&da);
    daHandle = da;
    library.CreateDlHandle(&dl);
    dlHandle = dl;

    LoadDownloadAgent();
    LoadScatterFile();
    library.SetDlOption(dl, kDownloadOption);
    const std::uint32_t r = library.LoadImage(dl, 0, device_.tempPayloadPath.c_str());
    library.EnableImage(dl, 0, 1);
    if (platform::LoadSucceeded(r)) {
        imageLoaded = 1;
        imageReady = 1;
    }
}

void FlashDownloader::LoadDownloadAgent() {
    daFolder = ProgramFolder();
    platform::FlashLibrary& library = GetFlashLibrary();
    if (frontEnd_ == FrontEnd::kFirmwarePage) {
        // By the model code; a model without an agent gets an empty path and
        // no parameter.
        const firmware::AgentChoice choice = firmware::AgentForModel(device_.modelType);
        daFilePath = firmware::FindAgentFile(daFolder, device_.modelType);
        if (choice.hasParameter) {
            library.SetDaParameter(daHandle, choice.parameter);
        }
        if (platform::LoadSucceeded(library.LoadDa(daHandle, daFilePath.c_str()))) {
            daLoaded = 1;
            daReady = 1;
        }
        return;
    }
    // No agent found means no agent: never one left from an earlier run.
    const std::string name = FirstMatchingFile(daFolder, AgentPattern(device_.hardwareVersion));
    daFilePath = name.empty() ? std::string() : daFolder + "/" + name;

    std::uint32_t parameter = 0;
    if (AgentParameter(device_.hardwareVersion, parameter)) {
        library.SetDaParameter(daHandle, parameter);
    }
    const std::uint32_t r = library.LoadDa(daHandle, daFilePath.c_str());
    if (platform::LoadSucceeded(r)) {
        daLoaded = 1;
        daReady = 1;
    }
}

void FlashDownloader::LoadScatterFile() {
    scatterFilePath = daFolder + "/" + kScatterFileName;
    const std::uint32_t r = GetFlashLibrary().LoadScatter(dlHandle, scatterFilePath.c_str());
    // Without its regions the library cannot place the image.
    scatterReady = platform::LoadSucceeded(r) ? 1 : 0;
}

int FlashDownloader::RunDownload(FlashHandle handle) {
    runReport.fill(0);
    runStatus = 0;
    // Nothing to run without agent, scatter file and image, and no port but
    // the one the user chose.
    if (!daReady || !imageReady || !scatterReady) {
        downloadResult = platform::flashresult::kNotReady;
        return 0;
    }
    const int port = comPortNumber.load();
    if (!platform::ComPort::FromNumber(port)) {
        downloadResult = platform::flashresult::kBadPort;
        return 0;
    }

    // The library reaches the callbacks, this downloader and the boot record
    // through tokens, valid for the run.
    platform::PortRecord portRecord{};
    platform::BootRecord boot{};
    platform::DownloadRecord download{};
    const FlashToken self(static_cast<void*>(this));
    const FlashToken bootSelf(static_cast<void*>(&boot));
    const bool firmwarePage = frontEnd_ == FrontEnd::kFirmwarePage;
    const FlashToken daInit(firmwarePage ? &FlashDownloader::OnFirmwareDaInitProgress
                                         : &FlashDownloader::OnDaInitProgress);
    const FlashToken daProgress(firmwarePage ? &FlashDownloader::OnFirmwareDaProgress
                                             : &FlashDownloader::OnDaProgress);
    const FlashToken dlInit(firmwarePage ? &FlashDownloader::OnFirmwareDlInitProgress
                                         : &FlashDownloader::OnDlInitProgress);
    const FlashToken dlProgress(firmwarePage ? &FlashDownloader::OnFirmwareDlProgress
                                             : &FlashDownloader::OnDlProgress);

    portRecord[rec::kPortNumber] = static_cast<std::uint8_t>(port & 0xFF);
    PutRecordU32(portRecord, rec::kPortSpeed, SpeedCode(device_.modelType));
    PutRecordU32(portRecord, rec::kPortAnswerTimeout, kLibraryDefault);
    PutRecordU32(portRecord, rec::kPortHelloTimeout, kLibraryDefault);

    PutRecordU32(boot, rec::kBootDaHandle, daHandle.load());
    PutRecordU32(boot, rec::kBootInitCallback, daInit.value());
    PutRecordU32(boot, rec::kBootInitUser, self.value());
    PutRecordU32(boot, rec::kBootProgressCallback, daProgress.value());
    PutRecordU32(boot, rec::kBootProgressUser, self.value());
    PutRecordU32(boot, rec::kBootHelloPhaseTimeout, kLibraryDefault);
    PutRecordU32(boot, rec::kBootCheckAgent, 1);
    PutRecordU32(boot, rec::kBootSelf, bootSelf.value());
    boot[rec::kBootFlag340] = 1;
    PutRecordU32(boot, rec::kBootFlag344, 1);

    PutRecordU32(download, rec::kDlHandle, handle);
    PutRecordU32(download, rec::kDlInitCallback, dlInit.value());
    PutRecordU32(download, rec::kDlInitUser, self.value());
    PutRecordU32(download, rec::kDlProgressCallback, dlProgress.value());
    PutRecordU32(download, rec::kDlProgressUser, self.value());
    PutRecordU32(download, rec::kDlFlag392, 1);
    PutRecordU32(download, rec::kDlFlag416, 1);
    PutRecordU32(download, rec::kDlMaxImage, kMaxImageBytes);

    std::uint32_t status = 0;
    const std::uint32_t result = GetFlashLibrary().Run(&portRecord, &boot, &download, &status, &runReport);
    runStatus = status;
    downloadResult = result;
    if (result == platform::flashresult::kNoDevice) {
        Wait(kNoDeviceWaitMs);
    }
    return result == platform::flashresult::kOk ? 1 : 0;
}

void FlashDownloader::ReleaseDownload() {
    platform::FlashLibrary& library = GetFlashLibrary();
    FlashHandle da = daHandle;
    FlashHandle dl = dlHandle;
    if (daLoaded == 1) {
        library.UnloadDa(da);
        daLoaded = 0;
    }
    if (imageLoaded == 1) {
        library.UnloadImage(dl, 0);
        imageLoaded = 0;
    }
    library.DestroyDaHandle(&da);
    daHandle = da;
    library.DestroyDlHandle(&dl);
    dlHandle = dl;
}

int FlashDownloader::RunFirmwareUpdate() {
    struct RunningFlag {
        std::atomic<bool>& flag;
        explicit RunningFlag(std::atomic<bool>& f) : flag(f) { flag = true; }
        ~RunningFlag() { flag = false; }
    } running(running_);
    succeeded_ = false;

    Wait(kStartWaitMs);
    downloadDone = (!stopRequested_.load() && RunDownload(dlHandle) == 1) ? 1 : 0;
    ShowState(kStringUpdating);
    Wait(kAfterRunWaitMs);
    Wait(kAfterRunWaitMs);
    ReleaseDownload();

    if (daReady == 1 && imageReady == 1 && downloadDone == 1) {
        WaitDeviceSelfCheck(SelfCheckDelayMs(device_.modelType));
        host_.CloseDevicePort();
        // The models whose final text asks to unplug the cable show the
        // warning again too.
        const int finalText = models::ModelByCode(device_.modelType).finalTextId;
        ShowState(finalText);
        if (finalText == kStringDoneUnplug) host_.SetWarningText(kStringWarning);
        SetUpdateProgress(kProgressFinished);
        host_.UnlockTab();
        host_.EnableMainButtons(true);
        succeeded_ = true;
    } else {
        host_.CloseDevicePort();
        ShowState(kStringFailed);
        host_.EnableMainButtons(false);
    }
    update::RemovePayloadFile(device_.tempPayloadPath);
    return 1;
}

void FlashDownloader::SetUpdateProgress(int value) {
    updateProgress = value;
    host_.SetProgressBar(std::clamp(value, 0, 100));
    if (frontEnd_ == FrontEnd::kFirmwarePage) {
        host_.SetPercentText(std::to_string(value) + "%");
        return;
    }
    if (value >= 0 && value <= 99) {
        host_.SetPercentText(std::to_string(value) + "%");
    } else if (value == kProgressFinished) {
        updateProgress = 100;
        host_.SetPercentText("100%");
    }
}

void FlashDownloader::WaitDeviceSelfCheck(int delayMs) {
    host_.ReopenPort();
    ShowState(kStringSelfCheck);
    Wait(kSelfCheckSettleMs);
    host_.SendSelfCheck();
    const auto delay = static_cast<std::uint32_t>(std::max(delayMs, 0));
    for (int i = 0; i < kSelfCheckSteps && !stopRequested_.load(); ++i) {
        Wait(delay);
        SetUpdateProgress(i);
    }
}

// ---------------------------------------------------------------------------
// Callbacks.

namespace {
std::atomic<FlashDownloader::PageLookup> g_pageLookup{nullptr};
}  // namespace

FlashDownloader::PageLookup FlashDownloader::SetPageLookup(PageLookup lookup) { return g_pageLookup.exchange(lookup); }

FlashDownloader* FlashDownloader::PageDownloader() {
    CPageDeviceSetting* page = devicePageInstance.load();
    const PageLookup lookup = g_pageLookup.load();
    return page && lookup ? lookup(page) : nullptr;
}

int FlashDownloader::ReportProgress(FlashDownloader* downloader, int percent, int stringId) {
    if (downloader) {
        downloader->SetUpdateProgress(percent);
        downloader->ShowState(stringId);
    }
    return 0;
}

int FlashDownloader::OnDaInitProgress(std::uint32_t) { return ReportProgress(PageDownloader(), 0, kStringAgentInit); }

int FlashDownloader::OnDaProgress(std::uint8_t percent, std::uint32_t, std::uint32_t, void*) {
    return ReportProgress(PageDownloader(), percent, kStringAgentProgress);
}

int FlashDownloader::OnDlInitProgress(std::uint32_t) { return ReportProgress(PageDownloader(), 0, kStringImageInit); }

int FlashDownloader::OnDlProgress(std::uint8_t percent, std::uint32_t, std::uint32_t, void*) {
    return ReportProgress(PageDownloader(), percent, kStringImageProgress);
}

// The firmware page's.

namespace {
std::atomic<FlashDownloader::DownloadPageLookup> g_downloadPageLookup{nullptr};
}  // namespace

FlashDownloader::DownloadPageLookup FlashDownloader::SetDownloadPageLookup(DownloadPageLookup lookup) {
    return g_downloadPageLookup.exchange(lookup);
}

FlashDownloader* FlashDownloader::DownloadPageDownloader() {
    CPageDownloadFW* page = downloadPageInstance.load();
    const DownloadPageLookup lookup = g_downloadPageLookup.load();
    return page && lookup ? lookup(page) : nullptr;
}

int FlashDownloader::OnFirmwareDaInitProgress(std::uint32_t) {
    return ReportProgress(DownloadPageDownloader(), 0, kStringAgentInit);
}

int FlashDownloader::OnFirmwareDaProgress(std::uint8_t percent, std::uint32_t, std::uint32_t, void*) {
    return ReportProgress(DownloadPageDownloader(), percent, kStringAgentProgress);
}

int FlashDownloader::OnFirmwareDlInitProgress(std::uint32_t) {
    return ReportProgress(DownloadPageDownloader(), 0, kStringImageInit);
}

int FlashDownloader::OnFirmwareDlProgress(std::uint8_t percent, std::uint32_t, std::uint32_t, void*) {
    return ReportProgress(DownloadPageDownloader(), percent, kStringImageProgress);
}
