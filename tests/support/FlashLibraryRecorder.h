// Doubles for the flash-download tests: a recording flash library with
// scripted results, a recording page host, and a clock whose long waits are
// short in real time.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "device/FlashDownload.h"
#include "platform/Clock.h"
#include "flashlib/FlashLibrary.h"

namespace testsupport {

// Records every call with its arguments, answers with scripted results, and
// during Run calls the callbacks the way the library does (resolving the
// tokens of the records).
class FlashLibraryRecorder : public platform::FlashLibrary {
public:
    // What a Run call was given, and what its tokens stood for during the run.
    struct RunCall {
        platform::PortRecord port{};
        platform::BootRecord boot{};
        platform::DownloadRecord download{};
        std::uint32_t statusIn = 0xFFFFFFFF;
        bool reportZeroIn = false;
        bool bootSelfMatches = false;
        platform::FlashInitCallback daInit = nullptr;
        platform::FlashProgressCallback daProgress = nullptr;
        platform::FlashInitCallback dlInit = nullptr;
        platform::FlashProgressCallback dlProgress = nullptr;
        void* daInitUser = nullptr;
        void* daProgressUser = nullptr;
        void* dlInitUser = nullptr;
        void* dlProgressUser = nullptr;
    };

    // Handles handed out.
    platform::FlashHandle daHandleValue = 0x0000DA01;
    platform::FlashHandle dlHandleValue = 0x0000D102;

    // Scripted results.
    std::uint32_t loadDaResult = 0;
    std::uint32_t loadScatterResult = 0;
    std::uint32_t loadImageResult = 0;
    std::uint32_t runResult = 0;
    std::uint32_t runStatusOut = platform::flashstage::kEndDone;
    // Percentages reported during Run (the init callbacks come first).
    std::vector<int> daPercents{50, 100};
    std::vector<int> dlPercents{10, 60, 100};
    bool callCallbacks = true;
    // The callbacks get values of their own instead of the records' (an
    // unregistered token, a null user pointer), as another library might.
    bool passForeignValues = false;
    // Called inside Run, after the records are taken.
    std::function<void()> duringRun;

    std::uint32_t CreateDaHandle(platform::FlashHandle* daHandle) override;
    std::uint32_t CreateDlHandle(platform::FlashHandle* dlHandle) override;
    std::uint32_t SetDaParameter(platform::FlashHandle daHandle, std::uint32_t value) override;
    std::uint32_t LoadDa(platform::FlashHandle daHandle, const char* path) override;
    std::uint32_t LoadScatter(platform::FlashHandle dlHandle, const char* path) override;
    std::uint32_t SetDlOption(platform::FlashHandle dlHandle, std::uint32_t value) override;
    std::uint32_t LoadImage(platform::FlashHandle dlHandle, std::uint32_t index, const char* path) override;
    std::uint32_t EnableImage(platform::FlashHandle dlHandle, std::uint32_t index, std::uint32_t on) override;
    std::uint32_t Run(const platform::PortRecord* port, const platform::BootRecord* boot,
                      const platform::DownloadRecord* download, std::uint32_t* status,
                      platform::RunReport* report) override;
    std::uint32_t UnloadDa(platform::FlashHandle daHandle) override;
    std::uint32_t UnloadImage(platform::FlashHandle dlHandle, std::uint32_t index) override;
    std::uint32_t DestroyDaHandle(platform::FlashHandle* daHandle) override;
    std::uint32_t DestroyDlHandle(platform::FlashHandle* dlHandle) override;

    // The calls in order, as "Name arg arg": handles read "da" and "dl",
    // numbers in hex, paths as given; for example "LoadImage dl 0 /x/y.bin".
    std::vector<std::string> Calls() const;
    // Only the names.
    std::vector<std::string> Names() const;
    std::vector<RunCall> Runs() const;
    void Clear();

private:
    void Add(std::string call);
    std::string Handle(platform::FlashHandle h) const;

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<RunCall> runs_;
};

// Stands a downloader in for the update page while it lives: the settings
// object's page instance names it, and the page lookup leads back to it, so
// the library's callbacks act on it. Null stands for no page.
class ScopedPageDownloader {
public:
    explicit ScopedPageDownloader(FlashDownloader* downloader);
    ~ScopedPageDownloader();
    ScopedPageDownloader(const ScopedPageDownloader&) = delete;
    ScopedPageDownloader& operator=(const ScopedPageDownloader&) = delete;

private:
    CPageDeviceSetting* previousPage_;
    FlashDownloader::PageLookup previousLookup_;
};

// The page's side, recorded. Every call becomes one event:
//   "state N", "warning N", "bar N", "percent T", "reopen", "selfcheck",
//   "close", "unlock", "buttons all", "buttons ok+about".
class RecordingFlashHost : public FlashDownloadHost {
public:
    void SetStateText(int stringId) override;
    void SetWarningText(int stringId) override;
    void SetProgressBar(int position) override;
    void SetPercentText(const std::string& text) override;
    void ReopenPort() override;
    void SendSelfCheck() override;
    void CloseDevicePort() override;
    void UnlockTab() override;
    void EnableMainButtons(bool all) override;

    // Optional actions behind the port calls (the end-to-end tests talk to a
    // simulated device through them).
    std::function<void()> onReopen;
    std::function<void()> onSelfCheck;
    std::function<void()> onClose;

    std::vector<std::string> Events() const;
    // The state texts in order, with runs of the same id folded into one.
    std::vector<int> StateTexts() const;
    std::string LastPercent() const;
    int LastBar() const;
    bool HasEvent(const std::string& event) const;
    void Clear();

private:
    void Add(std::string event);
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

// Virtual time that keeps pace with real time for short waits: a sleep
// sleeps for real, but for at most `capMs`, and moves the clock by the whole
// amount. Poll loops of 1 ms run as in production while long fixed waits
// take almost no time. Never runs ahead of real time for sleeps up to the cap.
class QuickClock final : public platform::Clock {
public:
    explicit QuickClock(std::uint32_t capMs = 2) : capMs_(capMs) {}
    std::uint64_t NowMs() override;
    void SleepMs(std::uint32_t ms) override;
    std::uint64_t TotalSleptMs() const;

private:
    mutable std::mutex mutex_;
    std::uint32_t capMs_;
    std::uint64_t now_ = 0;
    std::uint64_t slept_ = 0;
};

}  // namespace testsupport
