#include "sim/DeviceSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/ComPortName.h"
#include "platform/PortDirectory.h"
#include "platform/SerialPortScan.h"

namespace sim {
namespace {

// A write to the program that cannot go on for this long is dropped.
constexpr int kWriteStallMs = 2000;

TranscriptEntry::Kind KindOf(SentenceAssembler::Item::Kind kind) {
    using K = SentenceAssembler::Item::Kind;
    switch (kind) {
        case K::kSentence: return TranscriptEntry::Kind::kReceived;
        case K::kBadChecksum: return TranscriptEntry::Kind::kBadChecksum;
        case K::kBadFrame: return TranscriptEntry::Kind::kBadFrame;
        case K::kNoise: break;
    }
    return TranscriptEntry::Kind::kNoise;
}

}  // namespace

std::string RandomNoise(std::mt19937& random) {
    const std::size_t length = 3 + random() % 6;
    std::string noise;
    while (noise.size() < length) {
        noise += static_cast<char>(random() & 0xFF);
    }
    return noise;
}

const char* KindName(TranscriptEntry::Kind kind) {
    switch (kind) {
        case TranscriptEntry::Kind::kReceived: return "in";
        case TranscriptEntry::Kind::kBadChecksum: return "in, bad checksum";
        case TranscriptEntry::Kind::kBadFrame: return "in, bad frame";
        case TranscriptEntry::Kind::kNoise: return "in, noise";
        case TranscriptEntry::Kind::kSent: return "out";
    }
    return "?";
}

DeviceSimulator::DeviceSimulator(SimOptions options) : options_(std::move(options)) {}

DeviceSimulator::~DeviceSimulator() { Stop(); }

bool DeviceSimulator::OpenTerminal(std::string* error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        if (error) *error = std::string("cannot make a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        if (error) *error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        return false;
    }
    // Raw from the start, so nothing is echoed or translated before the
    // program configures the port itself.
    termios tio {};
    if (::tcgetattr(slave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        ::cfsetspeed(&tio, B115200);
        ::tcsetattr(slave_, TCSANOW, &tio);
    }
    const int flags = ::fcntl(master_, F_GETFL);
    ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (error) *error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    devicePath_ = name;
    return true;
}

void DeviceSimulator::CloseTerminal() {
    for (int* fd : {&master_, &slave_, &wake_[0], &wake_[1]}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

bool DeviceSimulator::Register(std::string* error) {
    const std::string text = options_.friendlyText;
    if (!options_.port.empty()) {
        const auto port = platform::ComPort::Parse(options_.port);
        if (!port) {
            if (error) *error = "not a port name from COM1 to COM50: " + options_.port;
            return false;
        }
        if (!platform::RegisterPortEntry(portDir_, port->Number(), devicePath_, text, error)) {
            return false;
        }
        registeredNumber_ = port->Number();
        portName_ = port->Name();
        return true;
    }
    // The lowest number no port of the machine holds.
    std::set<int> used;
    try {
        platform::PortScanRoots roots;
        roots.portDir = portDir_;
        for (const auto& port : platform::ScanSerialPorts(roots, platform::PortNumbering::Process())) {
            used.insert(port.number);
        }
    } catch (const platform::PortScanError&) {
        // Neither the kernel's list nor the directory could be read: no number is taken.
    }
    std::string lastError = "no free port number";
    for (int n = platform::kFirstFreeComPort; n <= platform::kMaxComPort; ++n) {
        if (used.count(n) != 0) {
            continue;
        }
        // Another simulator may take the same number at the same moment.
        if (platform::RegisterPortEntry(portDir_, n, devicePath_, text, &lastError)) {
            registeredNumber_ = n;
            portName_ = platform::ComPort::FromNumber(n)->Name();
            return true;
        }
    }
    if (error) *error = lastError;
    return false;
}

bool DeviceSimulator::Start(std::string* error) {
    if (running_.load() || thread_.joinable()) {
        if (error) *error = "already running";
        return false;
    }
    portDir_ = options_.portDir.empty() ? platform::DefaultPortDirectory() : options_.portDir;
    if (!OpenTerminal(error) || (options_.registerPort && !Register(error))) {
        CloseTerminal();
        devicePath_.clear();
        return false;
    }
    stopping_ = false;
    running_ = true;
    thread_ = std::thread(&DeviceSimulator::Run, this);
    return true;
}

void DeviceSimulator::Stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        {
            std::lock_guard lock(mutex_);
            changed_.notify_all();
        }
        const char byte = 1;
        (void)!::write(wake_[1], &byte, 1);
        thread_.join();
    }
    running_ = false;
    if (registeredNumber_ != 0) {
        platform::RemovePortEntry(portDir_, registeredNumber_, devicePath_);
        registeredNumber_ = 0;
    }
    CloseTerminal();
}

void DeviceSimulator::SetBehaviour(const std::string& tag, Behaviour behaviour, bool acceptBadChecksum) {
    std::lock_guard lock(mutex_);
    behaviours_[tag] = Entry{std::move(behaviour), acceptBadChecksum};
}

void DeviceSimulator::RemoveBehaviour(const std::string& tag) {
    std::lock_guard lock(mutex_);
    behaviours_.erase(tag);
}

void DeviceSimulator::SetFaults(const FaultOptions& faults) {
    std::lock_guard lock(mutex_);
    options_.faults = faults;
}

FaultOptions DeviceSimulator::Faults() const {
    std::lock_guard lock(mutex_);
    return options_.faults;
}

void DeviceSimulator::SetObserver(std::function<void(const TranscriptEntry&)> observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

void DeviceSimulator::SetRawFilter(RawFilter filter) {
    std::lock_guard lock(mutex_);
    rawFilter_ = std::move(filter);
}

void DeviceSimulator::Record(TranscriptEntry::Kind kind, std::string bytes) {
    TranscriptEntry entry{kind, std::move(bytes)};
    std::function<void(const TranscriptEntry&)> observer;
    {
        std::lock_guard lock(mutex_);
        transcript_.push_back(entry);
        while (transcript_.size() > kTranscriptLimit) {
            transcript_.pop_front();
        }
        observer = observer_;
        changed_.notify_all();
    }
    if (observer) {
        observer(entry);
    }
}

std::vector<TranscriptEntry> DeviceSimulator::Transcript() const {
    std::lock_guard lock(mutex_);
    return {transcript_.begin(), transcript_.end()};
}

std::vector<Sentence> DeviceSimulator::Received() const {
    std::vector<Sentence> out;
    for (const TranscriptEntry& e : Transcript()) {
        if (e.kind != TranscriptEntry::Kind::kReceived) {
            continue;
        }
        SentenceAssembler assembler;
        for (auto& item : assembler.Feed(e.bytes)) {
            if (item.kind == SentenceAssembler::Item::Kind::kSentence) {
                out.push_back(std::move(item.sentence));
            }
        }
    }
    return out;
}

void DeviceSimulator::ClearTranscript() {
    std::lock_guard lock(mutex_);
    transcript_.clear();
}

bool DeviceSimulator::WaitForTranscript(
    const std::function<bool(const std::vector<TranscriptEntry>&)>& done, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return done(std::vector<TranscriptEntry>(transcript_.begin(), transcript_.end()));
    });
}

bool DeviceSimulator::WaitForReceived(std::size_t count, int timeoutMs) const {
    return WaitForTranscript(
        [count](const std::vector<TranscriptEntry>& t) {
            return static_cast<std::size_t>(std::count_if(t.begin(), t.end(), [](const TranscriptEntry& e) {
                       return e.kind == TranscriptEntry::Kind::kReceived;
                   })) >= count;
        },
        timeoutMs);
}

bool DeviceSimulator::PauseMs(int ms) {
    if (ms <= 0) {
        return !stopping_.load();
    }
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}

bool DeviceSimulator::WriteAll(std::string_view bytes) {
    std::lock_guard lock(writeMutex_);
    if (master_ < 0) {
        return false;
    }
    std::size_t done = 0;
    int stalledMs = 0;
    while (done < bytes.size() && !stopping_.load()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            stalledMs = 0;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
        // The program is not reading: wait a little, but not for ever.
        if (stalledMs >= kWriteStallMs) {
            return false;
        }
        pollfd fds[2] = {{master_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
        ::poll(fds, 2, 50);
        stalledMs += 50;
    }
    return done == bytes.size();
}

bool DeviceSimulator::Send(std::string_view bytes) {
    if (!running_.load()) {
        return false;
    }
    const bool ok = WriteAll(bytes);
    Record(TranscriptEntry::Kind::kSent, std::string(bytes));
    return ok;
}

void DeviceSimulator::Answer(const Sentence& sentence, const Behaviour& behaviour) {
    SimContext context{options_.model, state_};
    const Replies replies = behaviour(sentence, context);
    const FaultOptions faults = Faults();
    if (faults.silent) {
        return;
    }
    for (const Reply& reply : replies) {
        if (faults.delayMs > 0 && !PauseMs(faults.delayMs)) {
            return;
        }
        if (reply.delayMs > 0 && !PauseMs(reply.delayMs)) {
            return;
        }
        std::string bytes;
        if (reply.framed) {
            const std::uint8_t sum = Checksum(reply.data);
            bytes = FrameWithChecksum(reply.data, faults.wrongChecksum ? static_cast<std::uint8_t>(sum ^ 0x5A) : sum);
        } else {
            bytes = reply.data;
        }
        if (faults.lineNoise) {
            std::string noise = faults.noiseBytes;
            if (noise.empty()) {
                std::lock_guard lock(mutex_);
                noise = RandomNoise(noise_);
            }
            bytes = noise + bytes;
        }
        const std::size_t parts =
            std::clamp<std::size_t>(static_cast<std::size_t>(std::max(faults.splitParts, 1)), 1, std::max<std::size_t>(bytes.size(), 1));
        const std::size_t step = (bytes.size() + parts - 1) / parts;
        for (std::size_t offset = 0; offset < bytes.size(); offset += step) {
            if (offset > 0 && !PauseMs(faults.splitPauseMs)) {
                return;
            }
            const std::string piece = bytes.substr(offset, step);
            WriteAll(piece);
            Record(TranscriptEntry::Kind::kSent, piece);
        }
    }
}

void DeviceSimulator::Handle(const SentenceAssembler::Item& item) {
    Record(KindOf(item.kind), item.bytes);
    using K = SentenceAssembler::Item::Kind;
    if (item.kind != K::kSentence && item.kind != K::kBadChecksum) {
        return;
    }
    Behaviour behaviour;
    {
        std::lock_guard lock(mutex_);
        const auto it = behaviours_.find(item.sentence.tag);
        if (it == behaviours_.end() || (item.kind == K::kBadChecksum && !it->second.acceptBadChecksum)) {
            return;
        }
        behaviour = it->second.behaviour;
    }
    if (behaviour) {
        Answer(item.sentence, behaviour);
    }
}

void DeviceSimulator::Run() {
    SentenceAssembler assembler;
    char buffer[4096];
    while (!stopping_.load()) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int r = ::poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents != 0) {
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) {
                std::string_view chunk(buffer, static_cast<std::size_t>(n));
                // The echo sends the bytes back as they came, before anything
                // looks at them.
                if (Faults().echo) {
                    WriteAll(chunk);
                    Record(TranscriptEntry::Kind::kSent, std::string(chunk));
                }
                RawFilter filter;
                {
                    std::lock_guard lock(mutex_);
                    filter = rawFilter_;
                }
                std::string passed;
                if (filter) {
                    passed = filter(chunk);
                    chunk = passed;
                }
                for (const auto& item : assembler.Feed(chunk)) {
                    Handle(item);
                }
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
        }
        // Hang-up or error on the terminal: do not spin.
        if (!PauseMs(20)) {
            break;
        }
    }
}

}  // namespace sim
