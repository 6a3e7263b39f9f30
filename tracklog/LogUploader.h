// The log read-out: reads the logger's log memory block by block over the
// serial link and hands every block, in address order, to a sink.
//
// Per block of 64 KiB at address A:
//   1. $ORVIK731,6 announces the block (its answer is not used);
//   2. the observer arms the watchdog (bridge ports);
//   3. $PMTK182,7,A+2048p,10000-2048p asks for the block from packet p on
//      (p = 0, or the packet to resume from); at high speed the request goes
//      out in 16-byte pieces 50 ms apart, as the logger takes it;
//   4. the 32 - p packets are taken as they complete (LogPacket.h); the
//      first good one disarms the watchdog. A packet with a wrong checksum
//      asks for the block again from that packet on, keeping those before it,
//      at most kMaxResumesPerBlock times; then the read-out ends as timed out.
// A request that cannot be written is tried kRequestTries times, then the
// read-out ends as failed.
//
// Threads: Run runs on the caller's thread (the upload worker) and starts the
// receive thread, which appends what the port delivers to the engine's
// receiveBuffer while a request is outstanding and waits with poll()
// meanwhile; Run joins it before it returns, whatever ends the read-out.
// Both take the engine's receive lock around every read-and-append and every
// look into the buffer; the engine's senders take it too, and the receive
// thread does not read between requests, while the worker uses them.
// A read that fails on an open port (the device gone) ends it as port lost.
// The silence limit is a time: no byte for kSilenceMs while a request is
// outstanding, or no wanted packet for that long, ends the read-out as timed
// out. The flags stopReceive, blockTimedOut and receiveActive are shared with
// the page's watchdog (UI thread): stopReceive or blockTimedOut set from
// outside end the read-out.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <thread>

#include "tracklog/LogPacket.h"

class CommandEngine;
class SerialLink;

class UploadObserver {
public:
    virtual ~UploadObserver() = default;
    // The percentage of the log taken so far.
    virtual void Progress(unsigned) {}
    virtual void ArmWatchdog() {}
    virtual void DisarmWatchdog() {}
};

class LogUploader {
public:
    enum class Result { kDone, kTimedOut, kPortLost, kCancelled, kRequestFailed };

    static constexpr int kMaxResumesPerBlock = 8;
    static constexpr int kRequestTries = 3;
    static constexpr std::uint64_t kSilenceMs = 15000;
    static constexpr std::size_t kReadChunk = 4096;
    static constexpr std::size_t kHighSpeedPiece = 16;
    static constexpr std::uint32_t kHighSpeedPieceMs = 50;
    static constexpr int kPollSliceMs = 20;

    struct Flags {
        std::atomic<int>& stopReceive;
        std::atomic<int>& blockTimedOut;
        std::atomic<int>& receiveActive;
    };
    using BlockSink = std::function<void(std::uint32_t address, std::span<const std::uint8_t> block)>;

    LogUploader(CommandEngine& engine, SerialLink& link, Flags flags, UploadObserver& observer);
    ~LogUploader();
    LogUploader(const LogUploader&) = delete;
    LogUploader& operator=(const LogUploader&) = delete;

    // Reads [0, logSize) in blocks; watchdog: arm and disarm it per block.
    Result Run(std::uint32_t logSize, bool watchdog, const BlockSink& sink);

    // The read request, as the logger takes it: false when it could not be
    // written (or no device is linked).
    bool SendLoggerCommand(int command, std::uint32_t arg1, std::uint32_t arg2);

    int Resumes() const { return resumes_; }
    int Requests() const { return requests_; }

private:
    enum class Wait { kFound, kBadChecksum, kTimedOut, kPortLost, kCancelled };

    Result ReadBlock(std::uint32_t address, std::uint32_t logSize, bool watchdog, std::span<std::uint8_t> block);
    Wait WaitForPacket(std::uint32_t address, std::size_t& from, std::span<std::uint8_t> out);
    // Starts or ends taking the port's input into the buffer; starting
    // empties the buffer's part that the last request used.
    void SetActive(bool active);
    void ReceiveLoop();

    CommandEngine& engine_;
    SerialLink& link_;
    Flags flags_;
    UploadObserver& observer_;
    std::thread receiver_;

    // What the receive thread has put in the buffer; under the engine's
    // receive lock.
    std::size_t fill_ = 0;
    std::size_t dirty_ = 0;  // bytes of the buffer that may be non-zero
    // New data and state changes, for the waits of both threads.
    std::mutex waitMutex_;
    std::condition_variable changed_;
    std::uint64_t generation_ = 0;  // counts appends and activations (waitMutex_)
    std::atomic<std::uint64_t> activeSince_{0};
    // A read failed on an open port: the device has gone (a bridge pulled).
    std::atomic<bool> portLost_{false};
    int resumes_ = 0;
    int requests_ = 0;
    bool watchdogArmed_ = false;
};
