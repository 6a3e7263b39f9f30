// The flash download from end to end below the page: our library against
// the simulated device's flash target on a pseudo-terminal, driven by the
// update page's flash logic with a host that reopens the port and sends the
// self-check through the command engine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "FlashLibraryRecorder.h"
#include "PtyTestEnv.h"
#include "device/CommandEngine.h"
#include "device/FlashDownload.h"
#include "device/SerialLink.h"
#include "flashlib/FlashFiles.h"
#include "flashlib/FlashLibrary.h"
#include "platform/PosixSerial.h"
#include "sim/DeviceSimulator.h"
#include "sim/FlashTarget.h"
#include "support/UtilityManager.h"

namespace fs = std::filesystem;
namespace res = platform::flashresult;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Payload(std::size_t n) {
    Bytes b(n);
    std::uint32_t s = 0x2545F491u;
    for (auto& x : b) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        x = static_cast<std::uint8_t>(s);
    }
    return b;
}

class FlashOnSimulator : public ::testing::Test {
protected:
    void Start(sim::FlashTargetOptions options) {
        sim::SimOptions simOptions;
        simOptions.port = "COM12";
        simOptions.model = "L-731";
        device_ = std::make_unique<sim::DeviceSimulator>(simOptions);
        target_ = std::make_unique<sim::FlashTarget>(*device_, options);
        std::string error;
        ASSERT_TRUE(device_->Start(&error)) << error;

        char templ[] = "/tmp/pellora-flashsim-XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        folder_ = templ;
        ASSERT_TRUE(platform::flashfiles::WriteFlashFiles(folder_, false, nullptr, &error)) << error;
        temp_ = folder_ + "/Orvik_FW_Temp.bin";
        std::ofstream(temp_, std::ios::binary)
            .write(reinterpret_cast<const char*>(payload_.data()), static_cast<std::streamsize>(payload_.size()));

        flash_.SetProgramFolder(folder_);
        flash_.SetDevice({"V02", 3, temp_});
        // The page's port: COM12 from the combo, reopened for the self-check.
        host_.onReopen = [this] { link_.ApplyPortSettings(11, 6); };
        host_.onSelfCheck = [this] { engine_.SendQvrQuery(837); };
        host_.onClose = [this] { link_.ClosePort(); };
    }
    void TearDown() override {
        link_.ClosePort();
        target_.reset();
        if (device_) device_->Stop();
        std::error_code ec;
        if (!folder_.empty()) fs::remove_all(folder_, ec);
    }
    void Execute() {
        flash_.ClearConditions();
        flash_.PrepareDownload();
        flash_.SetPortName("COM12");
        flash_.RunFirmwareUpdate();
    }
    // The device's line is free again: nobody holds the port.
    bool PortFree() const { return platform::SerialDeviceAvailable(device_->DevicePath()); }

    testsupport::PtyPortDir dir_;
    Bytes payload_ = Payload(200 * 1024 + 123);
    std::unique_ptr<sim::DeviceSimulator> device_;
    std::unique_ptr<sim::FlashTarget> target_;
    std::string folder_;
    std::string temp_;
    platform::FlashStandIn library_;
    platform::ScopedFlashLibrary scopedLibrary_{library_};
    SerialLink link_;
    CommandEngine engine_{&link_};
    testsupport::RecordingFlashHost host_;
    FlashDownloader flash_{host_};
    testsupport::ScopedPageDownloader page_{&flash_};
};

}  // namespace

TEST_F(FlashOnSimulator, AWholeUpdateStoresThePayloadByteForByte) {
    Start({.chip = "MT3329"});
    testsupport::QuickClock clock;
    platform::ScopedClock scoped(clock);
    Execute();

    EXPECT_EQ(flash_.downloadResult.load(), res::kOk);
    EXPECT_TRUE(flash_.Succeeded());
    EXPECT_TRUE(target_->Completed());
    const Bytes stored = target_->StoredImage();
    ASSERT_EQ(stored.size(), payload_.size());
    EXPECT_TRUE(stored == payload_);
    EXPECT_EQ(target_->StoredAgent(), platform::flashfiles::DefaultAgentCode("MT3329"));
    EXPECT_EQ(target_->LastHello().speedCode, 4u);

    // Afterwards the device took the self-check sentence.
    EXPECT_TRUE(target_->WaitSelfCheck(3000));
    EXPECT_EQ(target_->SelfChecksAfterFlash(), 1);

    EXPECT_EQ(host_.StateTexts(), (std::vector<int>{405, 406, 407, 408, 409, 410, 445, 411}));
    EXPECT_EQ(host_.LastPercent(), "100%");
    EXPECT_FALSE(fs::exists(temp_));
    EXPECT_FALSE(link_.IsPortOpen());
    EXPECT_EQ(link_.GetPortHandle(), 0);
    EXPECT_TRUE(PortFree());
    // Nothing of the binary transfer leaked into the sentence side.
    for (const auto& e : device_->Transcript()) {
        EXPECT_NE(e.kind, sim::TranscriptEntry::Kind::kNoise);
        EXPECT_NE(e.kind, sim::TranscriptEntry::Kind::kBadFrame);
    }
}

TEST_F(FlashOnSimulator, ASilentTargetFailsWithinBoundedTime) {
    Start({.chip = "MT3329", .silent = true});
    platform::FakeClock clock;
    platform::ScopedClock scoped(clock);
    const auto begin = std::chrono::steady_clock::now();
    Execute();
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_LT(took, std::chrono::seconds(20));
    EXPECT_EQ(flash_.downloadResult.load(), res::kNoDevice);
    // 2 s before, the hello phase, 1.5 s after result 1, 2 x 2 s.
    EXPECT_LE(clock.NowMs(), 2000u + platform::FlashStandIn::kDefaultHelloPhaseMs + 1500u + 4000u + 100u);
    EXPECT_EQ(host_.StateTexts(), (std::vector<int>{405, 410, 447}));
    EXPECT_FALSE(fs::exists(temp_));
    EXPECT_TRUE(PortFree());
    EXPECT_FALSE(target_->Completed());
}

TEST_F(FlashOnSimulator, ARefusedBlockFails) {
    Start({.chip = "MT3329", .refuseImageBlock = 3});
    testsupport::QuickClock clock;
    platform::ScopedClock scoped(clock);
    Execute();
    EXPECT_EQ(flash_.downloadResult.load(), res::kRefused);
    EXPECT_EQ(target_->StoredImage().size(), 3u * 1024);
    EXPECT_EQ(target_->Refusals(), 1);
    EXPECT_EQ(host_.StateTexts().back(), 447);
    EXPECT_FALSE(host_.HasEvent("selfcheck"));
    EXPECT_FALSE(fs::exists(temp_));
    EXPECT_TRUE(PortFree());
}

TEST_F(FlashOnSimulator, ACrcMismatchFails) {
    Start({.chip = "MT3329", .corruptEndCrc = true});
    testsupport::QuickClock clock;
    platform::ScopedClock scoped(clock);
    Execute();
    EXPECT_EQ(flash_.downloadResult.load(), res::kCrcMismatch);
    EXPECT_TRUE(target_->Completed());  // the device thinks it is done; the program knows better
    EXPECT_EQ(host_.StateTexts().back(), 447);
    EXPECT_FALSE(fs::exists(temp_));
    EXPECT_TRUE(PortFree());
}

TEST_F(FlashOnSimulator, SentencesStillReachTheDeviceAroundTheFlashTarget) {
    payload_ = Payload(3000);
    Start({.chip = "MT3329"});
    device_->SetBehaviour("PQVR810", [](const sim::Sentence&, sim::SimContext&) {
        return sim::Replies{sim::Reply::Sentence("PQVR852,L-731")};
    });
    auto port = platform::OpenSerialDevice(device_->DevicePath());
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->Configure(115200));
    const std::string query = "$PQVR810*3C\r\n";
    std::uint32_t n = 0;
    ASSERT_TRUE(port->Write(query.data(), static_cast<std::uint32_t>(query.size()), &n));
    ASSERT_TRUE(device_->WaitForReceived(1, 3000));
    std::string reply;
    for (int i = 0; i < 200 && reply.find('\n') == std::string::npos; ++i) {
        char buffer[128];
        std::uint32_t got = 0;
        port->Read(buffer, sizeof buffer, &got);
        reply.append(buffer, got);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(reply.rfind("$PQVR852,L-731*", 0), 0u) << reply;
    port.reset();

    // A self-check before any flash is counted, but not as one after a flash.
    link_.ApplyPortSettings(11, 6);
    engine_.SendQvrQuery(837);
    for (int i = 0; i < 300 && target_->SelfChecks() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(target_->SelfChecks(), 1);
    EXPECT_EQ(target_->SelfChecksAfterFlash(), 0);
    link_.ClosePort();
}
