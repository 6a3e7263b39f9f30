// The command engine against line faults of the simulated device, at real
// timing: replies with a wrong checksum are taken (the engine never checks
// one), and noise holding "$" and NUL before a maker reply does not hide it.
// The same faults through the whole identification are recorded sessions
// (tests/data/sessions).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "PtyTestEnv.h"
#include "device/CommandEngine.h"
#include "device/SerialLink.h"
#include "sim/Behaviours.h"
#include "sim/DeviceSimulator.h"
#include "support/UtilityManager.h"

namespace {

class EngineLineFaults : public ::testing::Test {
protected:
    void Start(const std::string& model, const sim::FaultOptions& faults) {
        sim::SimOptions options;
        options.port = "COM32";
        options.portDir = dir_.Path();
        options.faults = faults;
        device_ = std::make_unique<sim::DeviceSimulator>(options);
        sim::InstallModelBehaviours(*device_, model);
        std::string error;
        ASSERT_TRUE(device_->Start(&error)) << error;
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

    testsupport::PtyPortDir dir_;
    std::unique_ptr<sim::DeviceSimulator> device_;
    SerialLink link_;
    CommandEngine engine_;
};

std::string WrongChecksum(const std::string& body) {
    return sim::FrameWithChecksum(body, static_cast<std::uint8_t>(sim::Checksum(body) ^ 0x5A));
}

}  // namespace

TEST_F(EngineLineFaults, RepliesWithAWrongChecksumAreTaken) {
    sim::FaultOptions faults;
    faults.wrongChecksum = true;
    Start("TK511", faults);
    const char* reply = engine_.SendQvrQuery(810);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(std::string(reply), WrongChecksum("PQVR852,TK511"));
    EXPECT_TRUE(CommandEngine::IsSentenceComplete(reply, 256));
    reply = engine_.SendOrvikCommand(3);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(std::string(reply), WrongChecksum("ORVIK001,3,106"));
}

TEST_F(EngineLineFaults, NoiseWithDollarAndNulBeforeAMakerReply) {
    sim::FaultOptions faults;
    faults.lineNoise = true;
    faults.noiseBytes = std::string("$\0$ORVIK\0\0$", 11);
    Start("L-731", faults);
    for (int code : {1, 3, 7}) {
        const char* reply = engine_.SendOrvikCommand(code);
        ASSERT_NE(reply, nullptr) << code;
        EXPECT_EQ(std::string(reply, 11), "$ORVIK001," + std::to_string(code));
        EXPECT_TRUE(CommandEngine::IsSentenceComplete(reply, 256));
    }
}
