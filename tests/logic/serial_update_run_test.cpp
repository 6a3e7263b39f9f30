// The serial update's worker from start to end: on a scripted port with a
// virtual clock for every way it can end, and at real timing against the
// simulated device on a pseudo-terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "FakeSerial.h"
#include "PtyTestEnv.h"
#include "device/SerialLink.h"
#include "device/SerialUpdate.h"
#include "platform/Clock.h"
#include "platform/SerialBackend.h"
#include "sim/Behaviours.h"
#include "sim/DeviceSimulator.h"
#include "sim/Framing.h"
#include "sim/SerialUpdateTarget.h"

namespace {

// Everything the worker asks of the page, in order.
class RecordingHost : public SerialUpdateHost {
public:
    void SetStateText(int id) override { Add("state " + std::to_string(id)); std::lock_guard l(m_); states.push_back(id); }
    void SetProgressBar(int pos) override { Add("bar " + std::to_string(pos)); std::lock_guard l(m_); bars.push_back(pos); }
    void SetPercentText(const std::string& t) override { Add("percent " + t); std::lock_guard l(m_); percents.push_back(t); }
    void ShowMessage(const std::string& t) override { Add("message " + t); std::lock_guard l(m_); messages.push_back(t); }
    void EnableMainButtons(bool all) override { Add(all ? "buttons all" : "buttons ok+about"); }

    std::vector<std::string> Events() const { std::lock_guard l(m_); return events_; }
    std::function<void(const std::string&)> onEvent;

    std::vector<int> states, bars;
    std::vector<std::string> percents, messages;

private:
    void Add(const std::string& e) {
        {
            std::lock_guard l(m_);
            events_.push_back(e);
        }
        if (onEvent) onEvent(e);
    }
    mutable std::mutex m_;
    std::vector<std::string> events_;
};

std::vector<std::uint8_t> MakePayload(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> out(size);
    for (auto& b : out) b = static_cast<std::uint8_t>(gen());
    return out;
}

class TempFolder {
public:
    TempFolder() {
        char templ[] = "/tmp/pellora-serialupdate-XXXXXX";
        if (::mkdtemp(templ)) path_ = templ;
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string Write(const std::vector<std::uint8_t>& bytes) const {
        const std::string path = path_ + "/Orvik_FW_Temp.bin";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// What every failure leaves: the box, then the port closed, the payload
// gone, string 447 and the main window's OK and About enabled.
void ExpectFailureAftermath(const RecordingHost& host, const std::string& message, const std::string& payloadPath,
                            const SerialLink& link) {
    const auto events = host.Events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[events.size() - 3], "message " + message);
    EXPECT_EQ(events[events.size() - 2], "state 447");
    EXPECT_EQ(events.back(), "buttons ok+about");
    EXPECT_EQ(host.messages, std::vector<std::string>{message});
    EXPECT_FALSE(Exists(payloadPath));
    EXPECT_FALSE(link.IsPortOpen());
}

// --- On a scripted port, virtual time ----------------------------------------

class SerialUpdateRun : public ::testing::Test {
protected:
    void SetUp() override {
        link_.linkPortName = "COM5";
        backend_.SetResponder([this](const std::string& w) { return target_->AnswerBytes(w); });
    }
    int Run(const std::vector<std::uint8_t>& payload) {
        path_ = folder_.Write(payload);
        updater_.SetPayloadPath(path_);
        return updater_.RunAppUpdate();
    }
    int ChunkWrites() const {
        const auto writes = backend_.Writes();
        return static_cast<int>(std::count_if(writes.begin(), writes.end(),
                                               [](const std::string& w) { return w.rfind("$PTRV815", 0) == 0; }));
    }

    platform::FakeClock clock_;
    platform::ScopedClock scopedClock_{clock_};
    testsupport::FakeSerialBackend backend_;
    platform::ScopedSerialBackend scopedBackend_{backend_};
    std::shared_ptr<sim::SerialUpdateTarget> target_ = std::make_shared<sim::SerialUpdateTarget>();
    TempFolder folder_;
    std::string path_;
    SerialLink link_;
    RecordingHost host_;
    SerialUpdater updater_{host_, link_};
};

TEST_F(SerialUpdateRun, LargestPayloadArrivesWholeAndTheLabelEndsAt100) {
    const auto payload = MakePayload(trv::kMaxPayloadBytes, 1);
    ASSERT_EQ(Run(payload), 1);
    EXPECT_EQ(updater_.Result(), SerialUpdateResult::Done);

    EXPECT_TRUE(target_->Complete()) << ::testing::PrintToString(target_->Errors());
    EXPECT_TRUE(target_->Errors().empty());
    EXPECT_EQ(target_->Payload(), payload);
    EXPECT_EQ(target_->AnnouncedLength(), trv::kMaxPayloadBytes);
    const auto key = SerialUpdater::BuildKey();
    EXPECT_EQ(target_->Key(), std::vector<std::uint8_t>(key.begin(), key.end()));
    // 131072 = 1149 x 114 + 86.
    EXPECT_EQ(target_->ChunksTaken(), 1150);
    EXPECT_EQ(updater_.ChunkSends(), 1150);
    EXPECT_EQ(backend_.Writes().size(), 1u + 1u + 1150u + 1u);
    EXPECT_EQ(backend_.Writes().back(), sim::Frame("PTRV811,FWUPDATE"));

    // Progress: 0 first, rising, and 100 / "100%" at the end with string 411.
    ASSERT_FALSE(host_.bars.empty());
    EXPECT_EQ(host_.bars.front(), 0);
    EXPECT_TRUE(std::is_sorted(host_.bars.begin(), host_.bars.end()));
    EXPECT_EQ(host_.bars.back(), 100);
    EXPECT_EQ(host_.percents.front(), "0%");
    EXPECT_EQ(host_.percents.back(), "100%");
    EXPECT_EQ(host_.states, (std::vector<int>{408, 409, 411}));
    const auto events = host_.Events();
    EXPECT_EQ(events.back(), "buttons all");
    EXPECT_TRUE(host_.messages.empty());
    EXPECT_FALSE(Exists(path_));
    EXPECT_FALSE(link_.IsPortOpen());
    EXPECT_EQ(backend_.OpenChannels(), 0);
}

TEST_F(SerialUpdateRun, OneByteOverTheLimitIsRefusedBeforeThePortOpens) {
    ASSERT_EQ(Run(MakePayload(trv::kMaxPayloadBytes + 1, 2)), 0);
    EXPECT_EQ(updater_.Result(), SerialUpdateResult::TooLarge);
    ExpectFailureAftermath(host_, "File size should be less than 128KB!!", path_, link_);
    EXPECT_TRUE(backend_.OpenedNames().empty());
    EXPECT_TRUE(backend_.Writes().empty());
}

TEST_F(SerialUpdateRun, EmptyPayloadIsRefusedBeforeAnythingIsSent) {
    ASSERT_EQ(Run({}), 0);
    EXPECT_EQ(updater_.Result(), SerialUpdateResult::EmptyPayload);
    ExpectFailureAftermath(host_, SerialUpdater::kMsgEmptyPayload, path_, link_);
    EXPECT_TRUE(backend_.OpenedNames().empty());
    EXPECT_TRUE(backend_.Writes().empty());
}

TEST_F(SerialUpdateRun, MissingPayloadFileAndPortThatWillNotOpen) {
    updater_.SetPayloadPath(folder_.Path() + "/Orvik_FW_Temp.bin");
    EXPECT_EQ(updater_.RunAppUpdate(), 0);
    EXPECT_EQ(updater_.Result(), SerialUpdateResult::CannotOpenFile);
    EXPECT_EQ(host_.messages, std::vector<std::string>{"Fail to open golf data file"});
    EXPECT_TRUE(backend_.OpenedNames().empty());

    RecordingHost host;
    SerialUpdater second(host, link_);
    backend_.SetOpenFails(true);
    const std::string path = folder_.Write(MakePayload(300, 3));
    second.SetPayloadPath(path);
    EXPECT_EQ(second.RunAppUpdate(), 0);
    EXPECT_EQ(second.Result(), SerialUpdateResult::CannotOpenPort);
    ExpectFailureAftermath(host, "Fail to open CommPort", path, link_);
    EXPECT_TRUE(backend_.Writes().empty());
}

TEST_F(SerialUpdateRun, RefusedKeyEndsTheRunBeforeAnyChunk) {
    target_->SetOptions({.refuseKey = true});
    ASSERT_EQ(Run(MakePayload(500, 4)), 0);
    EXPECT_EQ(updater_.Result(), SerialUpdateResult::KeyRefused);
    ExpectFailureAftermath(host_, "Fail to send arc4 key", path_, link_);
    EXPECT_EQ(ChunkWrites(), 0);
    EXPECT_EQ(backend_.OpenChannels(), 0);
}

TEST_F(SerialUpdateRun, AChunkIsSentNineTimesAtMost) {
    // Eight refusals: the ninth send gets through and the payload is whole.
    target_->SetOptions({.refuseChunk = 2, .refuseChunkTimes = 8});
    const auto payload = MakePayload(1000, 5);
    ASSERT_EQ(Run(payload), 1);
    EXPECT_EQ(target_->Payload(), payload);
    EXPECT_TRUE(target_->Complete());
    EXPECT_EQ(target_->Resends(), 8);
    EXPECT_EQ(ChunkWrites(), 9 + 8);  // 9 chunks, the third one 9 times
}

TEST_F(SerialUpdateRun, NineSendsWithoutThreeFail) {
    target_->SetOptions({.refuseChunk = 2, .refuseChunkTimes = 9});
    ASSERT_EQ(Run(MakePayload(1000, 6)), 0);
    EXPECT_EQ(updater_.Result(), SerialUpdateResult::ChunkRefused);
    ExpectFailureAftermath(host_, "Fail to update golf data", path_, link_);
    EXPECT_EQ(ChunkWrites(), 2 + 9);
    EXPECT_TRUE(target_->Errors().empty()) << ::testing::PrintToString(target_->Errors());
    // The sends of one chunk are the same sentence.
    const auto writes = backend_.Writes();
    std::vector<std::string> third;
    for (const auto& w : writes)
        if (w.rfind("$PTRV815,0000E4,", 0) == 0) third.push_back(w);
    ASSERT_EQ(third.size(), 9u);
    EXPECT_TRUE(std::all_of(third.begin(), third.end(), [&](const std::string& w) { return w == third[0]; }));
}

TEST_F(SerialUpdateRun, SilentDeviceCostsTwoBoundedWaits) {
    target_->SetOptions({.silent = true});
    ASSERT_EQ(Run(MakePayload(200, 7)), 0);
    EXPECT_EQ(updater_.Result(), SerialUpdateResult::KeyRefused);
    ExpectFailureAftermath(host_, "Fail to send arc4 key", path_, link_);
    // 1000 empty reads of 1 ms for the announcement and for the key.
    EXPECT_EQ(clock_.SleepCount(), 2000u);
    EXPECT_EQ(clock_.TotalSleptMs(), 2000u);
}

TEST_F(SerialUpdateRun, DeviceFallingSilentMidwayFailsAfterNineWaits) {
    target_->SetOptions({.silentAfterChunks = 3});
    ASSERT_EQ(Run(MakePayload(1000, 8)), 0);
    EXPECT_EQ(updater_.Result(), SerialUpdateResult::ChunkRefused);
    ExpectFailureAftermath(host_, "Fail to update golf data", path_, link_);
    EXPECT_EQ(target_->ChunksTaken(), 3);
    EXPECT_EQ(ChunkWrites(), 3 + 9);
    EXPECT_EQ(clock_.SleepCount(), 9000u);
}

TEST_F(SerialUpdateRun, InputIsPurgedBeforeEveryChunkSend) {
    target_->SetOptions({.refuseChunk = 0, .refuseChunkTimes = 2});
    ASSERT_EQ(Run(MakePayload(400, 9)), 1);
    const auto events = backend_.Events();
    int chunks = 0;
    for (std::size_t k = 0; k < events.size(); ++k) {
        if (events[k].rfind("write $PTRV815", 0) == 0) {
            ++chunks;
            ASSERT_GT(k, 0u);
            EXPECT_EQ(events[k - 1], "purge") << "before chunk send " << chunks;
        }
    }
    EXPECT_EQ(chunks, 4 + 2);
}

TEST_F(SerialUpdateRun, ALateAnswerIsNotTakenForTheNextChunk) {
    // The device answers the first chunk twice (the second answer late), and
    // refuses the second chunk every time. The extra answer must not count.
    backend_.SetResponder([](const std::string& w) -> std::string {
        if (w.rfind("$PTRV810", 0) == 0) return sim::Frame("PTRV001,810,1");
        if (w.rfind("$PTRV819", 0) == 0) return sim::Frame("PTRV001,819,1");
        if (w.rfind("$PTRV815,000000,", 0) == 0) return sim::Frame("PTRV001,815,3") + sim::Frame("PTRV001,815,3");
        if (w.rfind("$PTRV815", 0) == 0) return sim::Frame("PTRV001,815,2");
        return sim::Frame("PTRV001,811,1");
    });
    ASSERT_EQ(Run(MakePayload(300, 10)), 0);
    EXPECT_EQ(updater_.Result(), SerialUpdateResult::ChunkRefused);
    EXPECT_EQ(ChunkWrites(), 1 + 9);
}

TEST_F(SerialUpdateRun, AnAnswerBrokenByADollarStillCounts) {
    backend_.SetResponder([this](const std::string& w) -> std::string {
        const std::string answer = target_->AnswerBytes(w);
        return w.rfind("$PTRV819", 0) == 0 ? "$PTRV001,8" + answer : answer;
    });
    const auto payload = MakePayload(250, 11);
    ASSERT_EQ(Run(payload), 1);
    EXPECT_EQ(target_->Payload(), payload);
}

TEST_F(SerialUpdateRun, StopRequestEndsTheRunWithoutABox) {
    host_.onEvent = [this](const std::string& e) {
        if (e == "state 409") updater_.RequestStop();
    };
    ASSERT_EQ(Run(MakePayload(5000, 12)), 0);
    EXPECT_EQ(updater_.Result(), SerialUpdateResult::Stopped);
    EXPECT_TRUE(host_.messages.empty());
    EXPECT_FALSE(Exists(path_));
    EXPECT_FALSE(link_.IsPortOpen());
    EXPECT_LE(ChunkWrites(), 1);
}

// --- Acknowledgement wait bounds ---------------------------------------------

// A line that never stops delivering noise: every read gives one byte and a
// millisecond goes by. With `gaps`, every other read is empty.
class NoisyBackend : public platform::SerialBackend {
public:
    NoisyBackend(platform::FakeClock& clock, bool gaps) : clock_(clock), gaps_(gaps) {}
    std::unique_ptr<platform::SerialChannel> Open(const std::string&) override {
        return std::make_unique<Channel>(*this);
    }
    std::atomic<long> reads{0};

private:
    struct Channel : platform::SerialChannel {
        explicit Channel(NoisyBackend& o) : owner(o) {}
        bool Configure(int) override { return true; }
        bool SetQueues(std::uint32_t, std::uint32_t) override { return true; }
        bool Read(void* buffer, std::uint32_t count, std::uint32_t* got) override {
            const long n = owner.reads++;
            *got = 0;
            if (count == 0 || (owner.gaps_ && n % 2 == 0)) return true;
            static_cast<char*>(buffer)[0] = "PTRV001,815,3*\r"[n % 15];
            owner.clock_.Advance(1);
            *got = 1;
            return true;
        }
        bool Write(const void*, std::uint32_t count, std::uint32_t* written) override {
            *written = count;
            return true;
        }
        bool Purge() override { return true; }
        bool Close() override { return true; }
        NoisyBackend& owner;
    };
    platform::FakeClock& clock_;
    bool gaps_;
};

TEST(SerialUpdateAckWait, NoiseWithoutEndIsCutByTheClock) {
    platform::FakeClock clock;
    platform::ScopedClock scoped(clock);
    NoisyBackend backend(clock, false);
    platform::ScopedSerialBackend scopedBackend(backend);
    SerialLink link;
    link.linkPortName = "COM7";
    ASSERT_EQ(link.OpenPort(), 1);
    const auto start = clock.NowMs();
    EXPECT_EQ(SerialUpdater::WaitTrvAck(link, 815, trv::kAckLimit), 0);
    EXPECT_EQ(clock.SleepCount(), 0u);  // no read was ever empty
    EXPECT_EQ(clock.NowMs() - start, trv::kAckLimit * trv::kAckMsPerEmptyRead);
}

TEST(SerialUpdateAckWait, EmptyReadsCountOverTheWholeWait) {
    platform::FakeClock clock;
    platform::ScopedClock scoped(clock);
    NoisyBackend backend(clock, true);
    platform::ScopedSerialBackend scopedBackend(backend);
    SerialLink link;
    link.linkPortName = "COM7";
    ASSERT_EQ(link.OpenPort(), 1);
    EXPECT_EQ(SerialUpdater::WaitTrvAck(link, 815, 100), 0);
    // Never two empty reads in a row, yet the wait ends after 100 of them.
    EXPECT_EQ(clock.SleepCount(), 100u);
    EXPECT_EQ(backend.reads.load(), 199);  // empty, noise, ..., the 100th empty
}

TEST(SerialUpdateAckWait, ClosedPortAndStopEndTheWait) {
    platform::FakeClock clock;
    platform::ScopedClock scoped(clock);
    SerialLink closed;
    EXPECT_EQ(SerialUpdater::WaitTrvAck(closed, 810, 50), 0);
    EXPECT_EQ(clock.SleepCount(), 50u);
    std::atomic<bool> stop{true};
    EXPECT_EQ(SerialUpdater::WaitTrvAck(closed, 810, 50, &stop), 0);
    EXPECT_EQ(clock.SleepCount(), 50u);
}

// --- At real timing, against the simulated device ----------------------------

class SerialUpdateOnLine : public ::testing::Test {
protected:
    void Start(const sim::SerialUpdateOptions& options) {
        sim::SimOptions simOptions;
        simOptions.port = "COM33";
        simOptions.model = "ZEP ION";
        simOptions.portDir = dir_.Path();
        device_ = std::make_unique<sim::DeviceSimulator>(simOptions);
        sim::InstallDevice(*device_, sim::ProfileForModel("ZEP ION"));
        target_ = sim::InstallSerialUpdateTarget(*device_, options);
        std::string error;
        ASSERT_TRUE(device_->Start(&error)) << error;
        link_.linkPortName = device_->PortName();
    }
    // The worker on its own thread, as the page runs it, joined.
    int RunOnWorker(const std::vector<std::uint8_t>& payload) {
        path_ = folder_.Write(payload);
        updater_.SetPayloadPath(path_);
        std::atomic<int> result{-1};
        std::thread worker([&] { result = updater_.RunAppUpdate(); });
        worker.join();
        return result.load();
    }
    void TearDown() override {
        link_.ClosePort();
        if (device_) device_->Stop();
    }

    testsupport::PtyPortDir dir_;
    std::unique_ptr<sim::DeviceSimulator> device_;
    std::shared_ptr<sim::SerialUpdateTarget> target_;
    TempFolder folder_;
    std::string path_;
    SerialLink link_;
    RecordingHost host_;
    SerialUpdater updater_{host_, link_};
};

TEST_F(SerialUpdateOnLine, PayloadArrivesWholeWithResends) {
    Start({.refuseChunk = 4, .refuseChunkTimes = 2});
    const auto payload = MakePayload(2000, 21);
    ASSERT_EQ(RunOnWorker(payload), 1);
    EXPECT_TRUE(target_->Complete()) << ::testing::PrintToString(target_->Errors());
    EXPECT_EQ(target_->Payload(), payload);
    EXPECT_EQ(target_->Resends(), 2);
    EXPECT_TRUE(sim::LineProblems(*device_).empty()) << ::testing::PrintToString(sim::LineProblems(*device_));
    EXPECT_EQ(host_.percents.back(), "100%");
    EXPECT_EQ(host_.states.back(), 411);
    EXPECT_FALSE(Exists(path_));
    EXPECT_FALSE(link_.IsPortOpen());
}

TEST_F(SerialUpdateOnLine, RefusedKeyAndSilence) {
    Start({.refuseKey = true});
    ASSERT_EQ(RunOnWorker(MakePayload(300, 22)), 0);
    ExpectFailureAftermath(host_, "Fail to send arc4 key", path_, link_);
    EXPECT_EQ(target_->ChunkSentences(), 0);

    target_->SetOptions({.silent = true});
    RecordingHost host;
    SerialUpdater second(host, link_);
    link_.linkPortName = device_->PortName();
    const std::string path = folder_.Write(MakePayload(300, 23));
    second.SetPayloadPath(path);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(second.RunAppUpdate(), 0);
    const auto took = std::chrono::steady_clock::now() - begin;
    ExpectFailureAftermath(host, "Fail to send arc4 key", path, link_);
    // Two waits of 1000 empty reads: about two seconds, bounded at six.
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_LE(took, std::chrono::milliseconds(6500));
}

}  // namespace
