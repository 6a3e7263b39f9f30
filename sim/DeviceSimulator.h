// The device simulator: a GPS device on a pseudo-terminal.
//
// Start() opens a pseudo-terminal in raw mode, keeps its own end of the
// terminal open (so the program may open and close the port as often as it
// likes) and registers the terminal in the port directory as "COMn" with a
// friendly driver text, by default that of a CP210x bridge. Stop() removes the
// entry again. A reader thread assembles the sentences the program sends,
// checks their framing and checksums, keeps a transcript and answers through
// the behaviour table.
//
// Extending the device: a behaviour answers one sentence tag. It receives the
// parsed sentence and a context (the model name and a key/value store it may
// use between sentences) and returns the replies, each written in one write:
//
//     sim.SetBehaviour("PQVR810", [](const sim::Sentence&, sim::SimContext& ctx) {
//         return sim::Replies{sim::Reply::Sentence("PQVR852," + ctx.model)};
//     });
//
// The tables for the device models live in Behaviours.cpp
// (InstallModelBehaviours); a sentence without a behaviour gets no reply.
//
// Fault knobs (FaultOptions) act on every reply: silence, a delay, a wrong
// checksum, a reply split across writes, an echo of the raw bytes as they come
// in (before they are assembled, unfinished sentences and noise included), and
// line noise in front of the reply: random bytes of any value ("$" and NUL
// too), or fixed bytes. The simulator keeps real time: it stands for a device
// outside the program.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/Framing.h"

namespace sim {

// One reply of the device.
struct Reply {
    std::string data;     // the body of a sentence, or the raw bytes
    bool framed = false;  // a sentence: framed on sending, the checksum fault applies
    int delayMs = 0;      // the device is busy this long before it sends this reply

    static Reply Sentence(std::string_view body) { return Make(body, true); }
    static Reply Raw(std::string_view bytes) { return Make(bytes, false); }
    // The same reply, sent after a pause (an erase that takes its time).
    Reply After(int ms) const {
        Reply r = *this;
        r.delayMs = ms;
        return r;
    }

private:
    static Reply Make(std::string_view bytes, bool framed) {
        Reply r;
        r.data = std::string(bytes);
        r.framed = framed;
        return r;
    }
};
using Replies = std::vector<Reply>;

struct SimContext {
    const std::string& model;
    std::map<std::string, std::string>& state;  // kept between sentences
};

using Behaviour = std::function<Replies(const Sentence&, SimContext&)>;

struct FaultOptions {
    bool silent = false;         // answer nothing
    int delayMs = 0;             // wait this long before each reply
    bool wrongChecksum = false;  // sentences go out with a wrong checksum
    int splitParts = 1;          // write each reply in this many pieces
    int splitPauseMs = 20;       // pause between the pieces
    bool echo = false;           // send back whatever comes in, as it comes
    bool lineNoise = false;      // a few garbage bytes in front of each reply
    std::string noiseBytes;      // with lineNoise: these bytes instead of random ones
};

// The random noise of one reply: 3 to 8 bytes, each of any value 0 to 255.
std::string RandomNoise(std::mt19937& random);

struct TranscriptEntry {
    enum class Kind { kReceived, kBadChecksum, kBadFrame, kNoise, kSent };
    Kind kind = Kind::kNoise;
    std::string bytes;
};
const char* KindName(TranscriptEntry::Kind kind);

struct SimOptions {
    std::string port;  // "COMn"; empty: the lowest free number from COM3
    std::string friendlyText = "CP210x USB to UART Bridge Controller";
    std::string model;
    std::string portDir;  // empty: the port directory in force
    bool registerPort = true;
    FaultOptions faults;
};

class DeviceSimulator {
public:
    explicit DeviceSimulator(SimOptions options = {});
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    bool Start(std::string* error = nullptr);
    // Ends the reader thread, removes the port entry and closes the terminal.
    // Safe to call more than once.
    void Stop();
    bool Running() const { return running_.load(); }

    std::string PortName() const { return portName_; }      // "COMn"; empty unregistered
    std::string DevicePath() const { return devicePath_; }  // /dev/pts/N
    const std::string& Model() const { return options_.model; }

    void SetBehaviour(const std::string& tag, Behaviour behaviour, bool acceptBadChecksum = false);
    void RemoveBehaviour(const std::string& tag);
    void SetFaults(const FaultOptions& faults);
    FaultOptions Faults() const;

    // Output the device sends by itself, in one write.
    bool Send(std::string_view bytes);
    bool SendSentence(std::string_view body) { return Send(Frame(body)); }

    std::vector<TranscriptEntry> Transcript() const;
    // The well-framed sentences received, checksum right.
    std::vector<Sentence> Received() const;
    void ClearTranscript();
    // Waits (real time) until `count` good sentences have come in.
    bool WaitForReceived(std::size_t count, int timeoutMs) const;
    // Waits until the predicate holds for the transcript.
    bool WaitForTranscript(const std::function<bool(const std::vector<TranscriptEntry>&)>& done,
                           int timeoutMs) const;
    // Called for every transcript entry, on the thread that made it.
    void SetObserver(std::function<void(const TranscriptEntry&)> observer);

    // Raw input filter: while one is set, every chunk read from the line goes
    // through it first, and only what it returns goes on to the sentence
    // assembler (the flash target takes its binary frames this way). It runs
    // on the reader thread. An empty function removes it.
    using RawFilter = std::function<std::string(std::string_view)>;
    void SetRawFilter(RawFilter filter);

    // Transcript entries kept; older ones drop off.
    static constexpr std::size_t kTranscriptLimit = 20000;

private:
    struct Entry {
        Behaviour behaviour;
        bool acceptBadChecksum = false;
    };

    bool OpenTerminal(std::string* error);
    bool Register(std::string* error);
    void Run();
    void Handle(const SentenceAssembler::Item& item);
    void Answer(const Sentence& sentence, const Behaviour& behaviour);
    bool WriteAll(std::string_view bytes);
    bool PauseMs(int ms);  // false when stopping
    void Record(TranscriptEntry::Kind kind, std::string bytes);
    void CloseTerminal();

    SimOptions options_;
    std::string portDir_;
    std::string portName_;
    std::string devicePath_;
    int registeredNumber_ = 0;
    int master_ = -1;
    int slave_ = -1;       // our own end, kept open
    int wake_[2] = {-1, -1};
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};

    mutable std::mutex mutex_;  // table, faults, state, transcript
    mutable std::condition_variable changed_;
    std::map<std::string, Entry> behaviours_;
    std::map<std::string, std::string> state_;
    std::deque<TranscriptEntry> transcript_;
    std::function<void(const TranscriptEntry&)> observer_;
    RawFilter rawFilter_;
    std::mt19937 noise_{20240611u};

    std::mutex writeMutex_;  // one write at a time on the line
};

}  // namespace sim
