// The flash-download library: loads a download agent and an image and writes
// them into the device's GPS chip over the serial port, reporting progress
// through four callbacks.
//
// The program reaches the library through the abstract FlashLibrary and the
// process-wide instance GetFlashLibrary(); tests install another one. The
// default instance is FlashStandIn, our own library, which speaks the
// transfer protocol of FlashProtocol.h to the device's boot loader.
//
// The records, results and tokens are in FlashRecords.h, the transfer engine
// in FlashTransfer.h; this file keeps the library's operations and the
// stand-in's handle bookkeeping: agents and downloads by handle, behind one
// mutex, each kept alive by shared ownership while a run uses it.
//
// Run opens the port "COM<n>" through GetSerialBackend(), transfers, and
// closes the port before it returns, whatever the outcome. Waits go through
// the injectable clock (platform::Sleep / NowMs) unless a clock is given to
// the stand-in itself.
//
// The stand-in sits in a folder of its own but keeps the platform namespace:
// the program reaches it as a service below itself, like the serial backend.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "flashlib/FlashRecords.h"
#include "flashlib/FlashTransfer.h"
#include "platform/Clock.h"

namespace platform {

class FlashLibrary {
public:
    virtual ~FlashLibrary() = default;

    virtual std::uint32_t CreateDaHandle(FlashHandle* daHandle) = 0;                                    // 25
    virtual std::uint32_t CreateDlHandle(FlashHandle* dlHandle) = 0;                                    // 13
    virtual std::uint32_t SetDaParameter(FlashHandle daHandle, std::uint32_t value) = 0;                // 29
    virtual std::uint32_t LoadDa(FlashHandle daHandle, const char* path) = 0;                           // 31
    virtual std::uint32_t LoadScatter(FlashHandle dlHandle, const char* path) = 0;                      // 15
    virtual std::uint32_t SetDlOption(FlashHandle dlHandle, std::uint32_t value) = 0;                   // 47
    virtual std::uint32_t LoadImage(FlashHandle dlHandle, std::uint32_t index, const char* path) = 0;   // 20
    virtual std::uint32_t EnableImage(FlashHandle dlHandle, std::uint32_t index, std::uint32_t on) = 0; // 50
    virtual std::uint32_t Run(const PortRecord* port, const BootRecord* boot, const DownloadRecord* download,
                              std::uint32_t* status, RunReport* report) = 0;                            // 10
    virtual std::uint32_t UnloadDa(FlashHandle daHandle) = 0;                                           // 33
    virtual std::uint32_t UnloadImage(FlashHandle dlHandle, std::uint32_t index) = 0;                   // 22
    virtual std::uint32_t DestroyDaHandle(FlashHandle* daHandle) = 0;                                   // 26
    virtual std::uint32_t DestroyDlHandle(FlashHandle* dlHandle) = 0;                                   // 14
};

// The library in force for the process (the stand-in by default).
FlashLibrary& GetFlashLibrary();
// Installs another library; nullptr restores the default. Returns the previous.
FlashLibrary* SetFlashLibrary(FlashLibrary* library);

class ScopedFlashLibrary {
public:
    explicit ScopedFlashLibrary(FlashLibrary& library) : previous_(SetFlashLibrary(&library)) {}
    ~ScopedFlashLibrary() { SetFlashLibrary(previous_); }
    ScopedFlashLibrary(const ScopedFlashLibrary&) = delete;
    ScopedFlashLibrary& operator=(const ScopedFlashLibrary&) = delete;

private:
    FlashLibrary* previous_;
};

// ---------------------------------------------------------------------------
// Our library.

class FlashStandIn final : public FlashLibrary {
public:
    // Limits of the time-outs taken from the records; larger values, and 0,
    // give the defaults.
    static constexpr std::uint32_t kMaxAnswerTimeoutMs = 10000;
    static constexpr std::uint32_t kDefaultAnswerTimeoutMs = 1000;
    static constexpr std::uint32_t kMaxHelloTimeoutMs = 5000;
    static constexpr std::uint32_t kDefaultHelloTimeoutMs = 500;
    static constexpr std::uint32_t kMaxHelloPhaseMs = 30000;
    static constexpr std::uint32_t kDefaultHelloPhaseMs = 5000;
    // The largest image file read, whatever the record allows.
    static constexpr std::size_t kMaxImageFile = 16u * 1024 * 1024;

    FlashStandIn();
    ~FlashStandIn() override;

    std::uint32_t CreateDaHandle(FlashHandle* daHandle) override;
    std::uint32_t CreateDlHandle(FlashHandle* dlHandle) override;
    std::uint32_t SetDaParameter(FlashHandle daHandle, std::uint32_t value) override;
    std::uint32_t LoadDa(FlashHandle daHandle, const char* path) override;
    std::uint32_t LoadScatter(FlashHandle dlHandle, const char* path) override;
    std::uint32_t SetDlOption(FlashHandle dlHandle, std::uint32_t value) override;
    std::uint32_t LoadImage(FlashHandle dlHandle, std::uint32_t index, const char* path) override;
    std::uint32_t EnableImage(FlashHandle dlHandle, std::uint32_t index, std::uint32_t on) override;
    std::uint32_t Run(const PortRecord* port, const BootRecord* boot, const DownloadRecord* download,
                      std::uint32_t* status, RunReport* report) override;
    std::uint32_t UnloadDa(FlashHandle daHandle) override;
    std::uint32_t UnloadImage(FlashHandle dlHandle, std::uint32_t index) override;
    std::uint32_t DestroyDaHandle(FlashHandle* daHandle) override;
    std::uint32_t DestroyDlHandle(FlashHandle* dlHandle) override;

    // A clock for the library's own waits (tests); null: the process clock.
    void SetClock(Clock* clock) { clock_.store(clock); }
    // Objects alive (for leak tests).
    std::size_t LiveHandles() const;
    // Statistics of the last run.
    FlashTransferStats LastStats() const;

private:
    struct Agent;
    struct Download;
    std::shared_ptr<Agent> FindAgent(FlashHandle handle) const;
    std::shared_ptr<Download> FindDownload(FlashHandle handle) const;
    FlashHandle NextHandle();

    mutable std::mutex mutex_;
    std::map<FlashHandle, std::shared_ptr<Agent>> agents_;
    std::map<FlashHandle, std::shared_ptr<Download>> downloads_;
    FlashHandle nextHandle_ = 0x00DA0001;
    FlashTransferStats lastStats_;
    std::atomic<Clock*> clock_{nullptr};
};

}  // namespace platform
