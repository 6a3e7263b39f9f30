// Simulated devices on a pseudo-terminal, asked through the program's own
// serial port and command engine at real timing: line faults the engine
// takes in its stride, the track logger's queries and settings, the erase,
// the link speed and the memory read. The identification of every model,
// as the update page runs it, is played from the recorded sessions of
// tests/data/sessions.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PtyTestEnv.h"
#include "device/CommandEngine.h"
#include "device/SerialLink.h"
#include "platform/Clock.h"
#include "sim/Behaviours.h"
#include "sim/DeviceSimulator.h"
#include "support/UtilityManager.h"

namespace {

bool Answered(const char* reply) { return reply && CommandEngine::IsSentenceComplete(reply, 256); }

// The sentences the device took, as "TAG,field,...".
std::vector<std::string> Taken(const sim::DeviceSimulator& device) {
    std::vector<std::string> out;
    for (const auto& s : device.Received()) out.push_back(s.body);
    return out;
}

std::vector<std::string> SentByDevice(const sim::DeviceSimulator& device) {
    std::vector<std::string> out;
    for (const auto& e : device.Transcript())
        if (e.kind == sim::TranscriptEntry::Kind::kSent) out.push_back(e.bytes);
    return out;
}

class SimOnLine : public ::testing::Test {
protected:
    void StartDevice(const std::string& model, const std::function<void(sim::DeviceProfile&)>& change = {}) {
        sim::SimOptions options;
        options.port = "COM31";
        options.model = model;
        options.portDir = dir_.Path();
        device_ = std::make_unique<sim::DeviceSimulator>(options);
        sim::DeviceProfile profile = sim::ProfileForModel(model);
        if (change) change(profile);
        state_ = sim::InstallDevice(*device_, profile);
        std::string error;
        ASSERT_TRUE(device_->Start(&error)) << error;
        link_.linkPortName = device_->PortName();
        ASSERT_EQ(link_.OpenPort(), 1);
        portLinked = 1;
        engine_.SetLink(&link_);
    }
    void TearDown() override {
        portLinked = 0;
        theUtility.highSpeedLink = 0;
        link_.ClosePort();
        if (device_) device_->Stop();
    }

    testsupport::PtyPortDir dir_;
    std::unique_ptr<sim::DeviceSimulator> device_;
    std::shared_ptr<sim::DeviceState> state_;
    SerialLink link_;
    CommandEngine engine_;
};

std::string WrongChecksum(const std::string& body) {
    return sim::FrameWithChecksum(body, static_cast<std::uint8_t>(sim::Checksum(body) ^ 0x5A));
}

}  // namespace

// Nothing ever answers, so the polls run on virtual time; the device still
// takes every sentence from the line.
TEST_F(SimOnLine, SilentDeviceAnswersNothing) {
    StartDevice("silent");
    platform::FakeClock clock;
    platform::ScopedClock useClock(clock);
    // The identification's sentences: each one polls its full count.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(engine_.SendQvrQuery(810), nullptr);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(engine_.SendOrvikCommand(1), nullptr);
    EXPECT_EQ(engine_.SendOrvikCommand(2), nullptr);
    EXPECT_EQ(clock.SleepCount(), 7u * CommandEngine::kReplyPolls);
    ASSERT_TRUE(device_->WaitForReceived(7, 3000));
    EXPECT_EQ(Taken(*device_), (std::vector<std::string>{"PQVR810", "PQVR810", "PQVR810", "ORVIK731,1",
                                                         "ORVIK731,1", "ORVIK731,1", "ORVIK731,2"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(SentByDevice(*device_).empty());
}

// The engine never checks a reply's checksum.
TEST_F(SimOnLine, RepliesWithAWrongChecksumAreTaken) {
    StartDevice("TK511");
    sim::FaultOptions faults;
    faults.wrongChecksum = true;
    device_->SetFaults(faults);
    const char* reply = engine_.SendQvrQuery(810);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(std::string(reply), WrongChecksum("PQVR852,TK511"));
    EXPECT_TRUE(CommandEngine::IsSentenceComplete(reply, 256));
    reply = engine_.SendOrvikCommand(3);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(std::string(reply), WrongChecksum("ORVIK001,3,106"));
}

TEST_F(SimOnLine, NoiseWithDollarAndNulBeforeAMakerReply) {
    StartDevice("L-731");
    sim::FaultOptions faults;
    faults.lineNoise = true;
    faults.noiseBytes = std::string("$\0$ORVIK\0\0$", 11);
    device_->SetFaults(faults);
    for (int code : {1, 3, 7}) {
        const char* reply = engine_.SendOrvikCommand(code);
        ASSERT_NE(reply, nullptr) << code;
        EXPECT_EQ(std::string(reply, 11), "$ORVIK001," + std::to_string(code));
        EXPECT_TRUE(CommandEngine::IsSentenceComplete(reply, 256));
    }
}

TEST_F(SimOnLine, LoggerConnectQueryAndSettings) {
    StartDevice("L-731", [](sim::DeviceProfile& p) { p.logEndAddress = 0x3F200; });
    // The track-logger connect.
    const char* reply = engine_.SendPmtk182(400, 0, 0);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(std::string(reply), sim::Frame("PMTK001,400,3"));
    reply = engine_.SendPmtk182Retry(2, 8, 0);
    ASSERT_TRUE(Answered(reply));
    EXPECT_EQ(engine_.ParsePmtk182Value(reply, true), 0x3F200u);

    // The logger page's Read.
    reply = engine_.SendPmtk182Retry(2, 6, 0);
    ASSERT_TRUE(Answered(reply));
    EXPECT_EQ(std::string(reply, 14), "$PMTK182,3,6,1");
    reply = engine_.SendPmtk182Retry(2, 3, 0);
    ASSERT_TRUE(Answered(reply));
    EXPECT_EQ(engine_.ParsePmtk182Value(reply, false), 50u);

    // Its Apply: set, acknowledged, and read back.
    reply = engine_.SendPmtk182Retry(1, 3, 1200);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(std::string(reply), sim::Frame("PMTK001,182,1,3"));
    EXPECT_EQ(state_->Profile().logIntervalTenths, 1200);
    EXPECT_EQ(engine_.ParsePmtk182Value(engine_.SendPmtk182Retry(2, 3, 0), false), 1200u);
    EXPECT_EQ(std::string(engine_.SendOrvikCommand(9), 11), "$ORVIK001,9");

    EXPECT_EQ(Taken(*device_),
              (std::vector<std::string>{"PMTK400", "PMTK182,2,8", "PMTK182,2,6", "PMTK182,2,3", "PMTK182,1,3,1200",
                                        "PMTK182,2,3", "ORVIK731,9"}));
}

TEST_F(SimOnLine, EraseIsAcknowledgedWhenDone) {
    StartDevice("L-731", [](sim::DeviceProfile& p) { p.eraseDelayMs = 400; });
    state_->WriteMemory(0, {0x01, 0x02});
    const auto start = std::chrono::steady_clock::now();
    const char* reply = engine_.SendPmtk182Retry(6, 1, 0);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(std::string(reply), sim::Frame("PMTK001,182,6,3"));
    EXPECT_GE(took, std::chrono::milliseconds(400));
    EXPECT_LT(took, std::chrono::milliseconds(3000));
    EXPECT_EQ(state_->EraseCount(), 1);
    EXPECT_EQ(engine_.ParsePmtk182Value(engine_.SendPmtk182Retry(2, 8, 0), true), 0u);
    EXPECT_EQ(state_->ReadMemory(0, 2), (std::vector<std::uint8_t>{0xFF, 0xFF}));
}

TEST_F(SimOnLine, SpeedChangeInHighSpeedPieces) {
    StartDevice("L-731");
    theUtility.highSpeedLink = 1;
    const char* reply = engine_.SendPmtk182(14, 38400, 0);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(std::string(reply), sim::Frame("PMTK001,182,14,3"));
    EXPECT_EQ(state_->Profile().linkBaud, 38400);
    // Twenty-two bytes, taken by the device as one sentence.
    EXPECT_EQ(Taken(*device_), std::vector<std::string>{"PMTK182,14,38400"});
}

TEST_F(SimOnLine, LastSectorReadThroughTheOnePollRead) {
    StartDevice("L-731");
    bool answered = false;
    EXPECT_FALSE(engine_.IsLastSectorUsed(&answered));
    EXPECT_TRUE(answered);
    state_->WriteMemory(0x1F000F, {0xFE});
    EXPECT_TRUE(engine_.IsLastSectorUsed(&answered));
    EXPECT_TRUE(answered);
    for (const auto& body : Taken(*device_)) EXPECT_EQ(body, "PMTK182,7,1F0000,10");
}

TEST_F(SimOnLine, WriteNameAndAnEchoingLine) {
    StartDevice("L-731");
    EXPECT_EQ(std::string(engine_.SendOrvikCommand(4), 11), "$ORVIK001,4");
    EXPECT_EQ(state_->WriteNameCount(), 1);
    // A line that echoes what it is sent: the echo is no answer, the reply
    // behind it is.
    sim::FaultOptions faults;
    faults.echo = true;
    device_->SetFaults(faults);
    const char* reply = engine_.SendPmtk182Retry(2, 4, 0);
    ASSERT_TRUE(Answered(reply));
    EXPECT_EQ(std::string(reply), sim::Frame("PMTK182,3,4,1000"));
}
