// Each simulated model on a pseudo-terminal, asked through the program's own
// serial port and command engine at real timing: the identification exactly
// as the update page runs it, the track logger's queries and settings, the
// erase, the link speed and the memory read.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
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

// What the update page learns from a device, and how it got there.
struct Identity {
    int model = 0;
    bool modelKnown = false;
    std::string firmware;  // the three digits
    std::string hardware;  // "V" and two characters
    bool disconnectAcked = false;
};

bool Answered(const char* reply) { return reply && CommandEngine::IsSentenceComplete(reply, 256); }

// The update page's identification: the model query up to three times, else
// the maker's model command up to three times; then firmware and hardware up
// to five times each; then the disconnect sentence.
Identity Identify(CommandEngine& engine) {
    Identity id;
    std::string modelReply;
    for (int i = 0; i < 3 && !id.modelKnown; ++i) {
        const char* reply = engine.SendQvrQuery(810);
        if (Answered(reply)) {
            modelReply = reply;
            id.modelKnown = true;
        }
    }
    if (!id.modelKnown) {
        for (int i = 0; i < 3 && !id.modelKnown; ++i) {
            if (Answered(engine.SendOrvikCommand(1))) {
                id.model = 3;
                id.modelKnown = true;
            }
        }
    } else {
        const struct {
            const char* prefix;
            int code;
        } table[] = {{"$PQVR852,TK515", 4}, {"$PQVR852,TK517", 7}, {"$PQVR852,L4400C", 6},
                     {"$PQVR852,L4500", 5}, {"$PQVR852,TK511", 3}};
        for (const auto& row : table) {
            if (modelReply.compare(0, std::strlen(row.prefix), row.prefix) == 0) {
                id.model = row.code;
                break;
            }
        }
        id.modelKnown = id.model != 0;
    }
    if (id.model >= 3) {
        for (int i = 0; i < 5 && id.firmware.empty(); ++i) {
            const char* reply = id.model == 3 ? engine.SendOrvikCommand(3) : engine.SendQvrQuery(861);
            if (!Answered(reply)) continue;
            const char* field = id.model == 3 ? engine.ExtractOrvik001Field(reply, 12, 3)
                                              : engine.ExtractQvrField(reply, 9, 3);
            if (field) id.firmware = field;
        }
        for (int i = 0; i < 5 && id.hardware.empty(); ++i) {
            const char* reply = id.model == 3 ? engine.SendOrvikCommand(7) : engine.SendQvrQuery(865);
            if (!Answered(reply)) continue;
            const char* cut = id.model == 3 ? engine.ExtractOrvik001Field(reply, 12, 3)
                                            : engine.ExtractQvrField(reply, 9, 3);
            if (!cut) continue;
            std::string field = cut;
            if (id.model == 3 && field.rfind("C1", 0) == 0) field.replace(0, 2, "01");
            if (!field.empty()) field.pop_back();
            id.hardware = "V" + field;
        }
    }
    const char* bye = engine.SendOrvikCommand(2);
    id.disconnectAcked = bye && bye != CommandEngine::kNotConnected;
    return id;
}

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

struct ModelCase {
    const char* model;
    int code;
    const char* firmware;  // set on the device; empty: the preset's
    const char* hardware;
    const char* wantFirmware;
    const char* wantHardware;
};

void PrintTo(const ModelCase& c, std::ostream* out) { *out << c.model; }

class SimQueryModels : public SimOnLine, public ::testing::WithParamInterface<ModelCase> {};

}  // namespace

TEST_P(SimQueryModels, IdentifiedAsTheUpdatePageDoes) {
    const ModelCase& c = GetParam();
    StartDevice(c.model, [&](sim::DeviceProfile& p) {
        if (*c.firmware) p.firmware = c.firmware;
        if (*c.hardware) p.hardware = c.hardware;
    });
    const Identity id = Identify(engine_);
    EXPECT_EQ(id.model, c.code);
    EXPECT_TRUE(id.modelKnown);
    EXPECT_EQ(id.firmware, c.wantFirmware);
    EXPECT_EQ(id.hardware, c.wantHardware);
    EXPECT_TRUE(id.disconnectAcked);
    EXPECT_EQ(Taken(*device_), (std::vector<std::string>{"PQVR810", "PQVR829", "PQVR832", "ORVIK731,2"}));
    EXPECT_EQ(SentByDevice(*device_).size(), 4u);  // one write per reply
}

INSTANTIATE_TEST_SUITE_P(Models, SimQueryModels,
                         ::testing::Values(ModelCase{"ZEP ION", 7, "", "", "305", "V04"},
                                           ModelCase{"RVN-3", 4, "412", "07", "412", "V07"},
                                           ModelCase{"L-4400C", 6, "", "", "120", "V03"},
                                           ModelCase{"L4500", 5, "131", "11", "131", "V11"}),
                         [](const auto& info) {
                             std::string name;
                             for (char ch : std::string(info.param.model))
                                 if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
                             return name;
                         });

// The three unanswered model queries take about 7 s of real polling.
TEST_F(SimOnLine, TrackLoggerIsFoundThroughTheFallback) {
    StartDevice("L-731", [](sim::DeviceProfile& p) { p.firmware = "305"; });
    const Identity id = Identify(engine_);
    EXPECT_EQ(id.model, 3);
    EXPECT_EQ(id.firmware, "305");
    EXPECT_EQ(id.hardware, "V01");  // the device's "C1"
    EXPECT_TRUE(id.disconnectAcked);
    EXPECT_EQ(Taken(*device_), (std::vector<std::string>{"PQVR810", "PQVR810", "PQVR810", "ORVIK731,1",
                                                         "ORVIK731,3", "ORVIK731,7", "ORVIK731,2"}));
    EXPECT_EQ(state_->OrvikCodes(), (std::vector<int>{1, 3, 7, 2}));
}

TEST_F(SimOnLine, UnknownModelNameLeavesTheDeviceUnknown) {
    StartDevice("XJ-900");
    const Identity id = Identify(engine_);
    EXPECT_EQ(id.model, 0);
    EXPECT_FALSE(id.modelKnown);
    EXPECT_EQ(id.firmware, "");
    EXPECT_EQ(id.hardware, "");
    EXPECT_EQ(Taken(*device_), (std::vector<std::string>{"PQVR810", "ORVIK731,2"}));
    ASSERT_FALSE(SentByDevice(*device_).empty());
    EXPECT_EQ(SentByDevice(*device_)[0], sim::Frame("PQVR852,XJ-900"));
}

// Nothing ever answers, so the polls run on virtual time; the device still
// takes every sentence from the line.
TEST_F(SimOnLine, SilentDeviceAnswersNothing) {
    StartDevice("silent");
    platform::FakeClock clock;
    platform::ScopedClock useClock(clock);
    const Identity id = Identify(engine_);
    EXPECT_FALSE(id.modelKnown);
    EXPECT_FALSE(id.disconnectAcked);
    EXPECT_EQ(clock.SleepCount(), 7u * CommandEngine::kReplyPolls);
    ASSERT_TRUE(device_->WaitForReceived(7, 3000));
    EXPECT_EQ(Taken(*device_), (std::vector<std::string>{"PQVR810", "PQVR810", "PQVR810", "ORVIK731,1",
                                                         "ORVIK731,1", "ORVIK731,1", "ORVIK731,2"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(SentByDevice(*device_).empty());
}

TEST_F(SimOnLine, RepliesSplitAcrossReadsAreStillFound) {
    StartDevice("ZEP ION");
    sim::FaultOptions faults;
    faults.splitParts = 2;
    faults.splitPauseMs = 50;  // the second half comes a poll after the first
    device_->SetFaults(faults);
    const Identity id = Identify(engine_);
    EXPECT_EQ(id.model, 7);
    EXPECT_EQ(id.firmware, "305");
    EXPECT_EQ(id.hardware, "V04");
    EXPECT_EQ(SentByDevice(*device_).size(), 8u);
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
