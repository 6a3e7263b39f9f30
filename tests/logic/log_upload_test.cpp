// The log read-out: the packet search on texts framed by the simulator's own
// code, and the ways a read-out from the simulated logger ends other than
// done (the window tests upload whole logs). Waits run fifty times faster
// than real time, in proportion.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "PtyTestEnv.h"
#include "device/CommandEngine.h"
#include "device/SerialLink.h"
#include "platform/Clock.h"
#include "sim/Behaviours.h"
#include "sim/DeviceSimulator.h"
#include "sim/Framing.h"
#include "sim/LogImage.h"
#include "support/UtilityManager.h"
#include "tracklog/LogPacket.h"
#include "tracklog/LogUploader.h"

using namespace logupload;

namespace {

std::string Packet(std::uint32_t address, char fill = 'A') {
    char head[32];
    std::snprintf(head, sizeof(head), "PMTK182,8,%08X,", address);
    return sim::Frame(std::string(head) + std::string(kPacketHexChars, fill));
}

TEST(LogPacketTest, FindsOnlyCompleteRightPacketsOfTheWantedAddress) {
    const std::string nmea = sim::Frame("GPGGA,120000.000,3530.0000,N,13915.0000,E,1,08,1.0,100.0,M,0.0,M,,");
    const std::string ack = sim::Frame("ORVIK001,6");
    const std::string text = ack + nmea + Packet(0x10000, '1') + nmea + Packet(0x10800, '2');
    PacketSearch r = FindLogPacket(text, 0, 0x10000);
    ASSERT_EQ(r.status, PacketStatus::kFound);
    EXPECT_EQ(text.substr(r.data, 4), "1111");
    // The next packet is found from where the last search ended, past the
    // position sentence between them.
    r = FindLogPacket(text, r.next, 0x10800);
    ASSERT_EQ(r.status, PacketStatus::kFound);
    EXPECT_EQ(text.substr(r.data, 4), "2222");
    EXPECT_EQ(FindLogPacket(text, r.next, 0x11000).status, PacketStatus::kNotYet);
    // A packet of another address is passed over.
    r = FindLogPacket(text, 0, 0x10800);
    EXPECT_EQ(r.status, PacketStatus::kFound);

    // Judged only when complete: every cut of a packet waits where it begins.
    const std::string one = nmea + Packet(0x800);
    for (std::size_t cut : {nmea.size() + 1, nmea.size() + 5, nmea.size() + 11, nmea.size() + 200, one.size() - 5,
                            one.size() - 3}) {
        r = FindLogPacket(std::string_view(one).substr(0, cut), 0, 0x800);
        EXPECT_EQ(r.status, PacketStatus::kNotYet) << cut;
        EXPECT_EQ(r.next, nmea.size()) << cut;
    }
    EXPECT_EQ(FindLogPacket(std::string_view(one).substr(0, one.size() - 2), 0, 0x800).status, PacketStatus::kFound);

    // A wrong checksum, a short packet and a sentence cut off by the next.
    std::string bad = Packet(0x800);
    bad[bad.size() - 3] = bad[bad.size() - 3] == '0' ? '1' : '0';
    EXPECT_EQ(FindLogPacket(bad, 0, 0x800).status, PacketStatus::kBadChecksum);
    EXPECT_EQ(FindLogPacket(sim::Frame("PMTK182,8,00000800,ABCD"), 0, 0x800).status, PacketStatus::kBadChecksum);
    const std::string cut = Packet(0x800).substr(0, 100) + Packet(0x800, 'B');
    r = FindLogPacket(cut, 0, 0x800);
    ASSERT_EQ(r.status, PacketStatus::kFound);
    EXPECT_EQ(cut.substr(r.data, 2), "BB");

    EXPECT_TRUE(SentenceChecksumOk(nmea.substr(0, nmea.size() - 2)));
    EXPECT_FALSE(SentenceChecksumOk("$GPGGA*"));
}

// A stray "$" before a packet hides nothing whether the text comes whole or
// a byte at a time; data that are not all hex digits make a bad packet.
TEST(LogPacketTest, TheSamePacketsWholeOrInPiecesAndOnlyHexDigits) {
    const std::string letters = sim::Frame("PMTK182,8,00000800," + std::string(kPacketHexChars - 2, 'A') + "G?");
    for (const auto& [text, taken] : {std::pair{"$$" + Packet(0x800, '1'), "11"}, {"x$P$$" + Packet(0x800, 'f'), "ff"},
                                      {letters, "bad"}}) {
        for (const std::size_t piece : {std::size_t{1}, text.size()}) {
            PacketSearch r;
            for (std::size_t have = piece; r.status == PacketStatus::kNotYet && have <= text.size(); have += piece) {
                r = FindLogPacket(std::string_view(text).substr(0, have), r.next, 0x800);
            }
            const bool found = r.status == PacketStatus::kFound, bad = r.status == PacketStatus::kBadChecksum;
            EXPECT_EQ(found ? text.substr(r.data, 2) : bad ? "bad" : "none", taken) << text.substr(0, 6) << piece;
        }
    }
}

TEST(LogPacketTest, SizesProgressAndElapsedText) {
    // The end address rounds up to whole 64 KiB blocks, 0 is the whole
    // memory, and more is clamped to it.
    for (const auto& [end, size] : {std::pair(0u, 0x200000u), {0x10001u, 0x20000u}, {0x10000u, 0x10000u},
                                    {0x1FFFFFu, 0x200000u}, {0x7FFFFFFFu, 0x200000u}}) {
        EXPECT_EQ(LogSizeFromEndAddress(end), size) << end;
    }
    EXPECT_EQ(UploadPercent(0x1FF800, 0x200000), 96u);
    EXPECT_EQ(UploadPercent(0, 0x200000), 0u);
    EXPECT_EQ(ElapsedText(0), "Total mins: 00, secs: 00");
    EXPECT_EQ(ElapsedText(125999), "Total mins: 02, secs: 05");
}

// A read-out from the simulated logger holding `sectors` full sectors.
class LogUploadSimTest : public ::testing::Test {
protected:
    LogUploadSimTest() : clock_(50), scope_(clock_) {}

    void Start(std::size_t sectors) {
        sim::SimOptions options;
        options.portDir = dir_.Path();
        device_ = std::make_unique<sim::DeviceSimulator>(options);
        state_ = sim::InstallDevice(*device_, sim::ProfileForModel("L-731"));
        state_->WriteMemory(0, sim::LogImage::Synthetic(sectors * sim::LogImage::kSlotsPerSector - 9, 1767225600u,
                                                        997, 301)
                                   .Build(sectors));
        ASSERT_TRUE(device_->Start());
        link_.linkPortName = device_->PortName();
        ASSERT_EQ(link_.OpenPort(), 1);
        portLinked = 1;
        engine_.SetLink(&link_);
    }
    void TearDown() override {
        portLinked = 0;
        link_.ClosePort();
        if (device_) device_->Stop();
    }
    // Reads `size` bytes; the blocks must come in order.
    LogUploader::Result Upload(std::uint32_t size) {
        return uploader_.Run(size, true, [&](std::uint32_t address, std::span<const std::uint8_t> block) {
            EXPECT_EQ(address, got_.size());
            got_.insert(got_.end(), block.begin(), block.end());
        });
    }
    // The logger answers PMTK182 sentences through `answer`.
    void Behave(std::function<sim::Replies(const sim::Sentence&)> answer) {
        device_->SetBehaviour("PMTK182", [answer](const sim::Sentence& s, sim::SimContext&) { return answer(s); });
    }

    platform::ScaledClock clock_;
    platform::ScopedClock scope_;
    testsupport::PtyPortDir dir_;
    std::unique_ptr<sim::DeviceSimulator> device_;
    std::shared_ptr<sim::DeviceState> state_;
    SerialLink link_;
    CommandEngine engine_;
    std::atomic<int> stop_{0}, timedOut_{0}, active_{0};
    UploadObserver recorder_;
    LogUploader uploader_{engine_, link_, {stop_, timedOut_, active_}, recorder_};
    std::vector<std::uint8_t> got_;
};

TEST_F(LogUploadSimTest, ALoggerThatVanishesEndsTheReadOutAsPortLost) {
    Start(4);
    std::thread pull([&] {
        while (state_->ReadRequests().size() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        device_->Stop();
    });
    EXPECT_EQ(Upload(0x40000), LogUploader::Result::kPortLost);
    pull.join();
    EXPECT_LE(got_.size(), 0x20000u);
    EXPECT_EQ(active_.load(), 0);
}

TEST_F(LogUploadSimTest, AFloodBeyondTheReceiveBufferStaysInsideIt) {
    Start(1);
    // 3.25 MiB of position output and no packet: more than the buffer holds.
    Behave([](const sim::Sentence& s) {
        sim::Replies flood;
        if (s.body.rfind("PMTK182,7,", 0) == 0) {
            for (int i = 0; i < 52; ++i) flood.push_back(sim::Reply::Raw(std::string(0x10000, 'N')));
        }
        return flood;
    });
    EXPECT_EQ(Upload(0x10000), LogUploader::Result::kTimedOut);
    // Filled to its last byte, and not one beyond.
    EXPECT_EQ(engine_.receiveBuffer[CommandEngine::kReceiveBufferSize - 1], 'N');
    EXPECT_EQ(engine_.receiveBuffer[CommandEngine::kReceiveBufferSize], 0);
}

TEST_F(LogUploadSimTest, ResumesOfABlockAreBounded) {
    Start(1);
    Behave([live = state_](const sim::Sentence& s) {  // every first packet damaged
        sim::Replies replies = live->Answer(s);
        if (s.body.rfind("PMTK182,7,", 0) == 0 && !replies.empty()) {
            replies.front() = sim::Reply::Raw(sim::FrameWithChecksum(replies.front().data, 0));
        }
        return replies;
    });
    EXPECT_EQ(Upload(0x10000), LogUploader::Result::kTimedOut);
    EXPECT_EQ(uploader_.Resumes(), LogUploader::kMaxResumesPerBlock);
    EXPECT_EQ(state_->ReadRequests().size(), static_cast<std::size_t>(LogUploader::kMaxResumesPerBlock + 1));
}

TEST_F(LogUploadSimTest, ARequestThatCannotBeSentIsTriedAgainAndNeverEndsAsDone) {
    Start(1);
    EXPECT_TRUE(uploader_.SendLoggerCommand(7, 0, 0x800));
    portLinked = 0;  // the link is down: nothing is sent, and the engine closes the port
    EXPECT_FALSE(uploader_.SendLoggerCommand(7, 0, 0x800));
    EXPECT_EQ(Upload(0x10000), LogUploader::Result::kPortLost);
    EXPECT_EQ(uploader_.Requests(), LogUploader::kRequestTries);
    EXPECT_TRUE(got_.empty());
}

}  // namespace
