// The block transfer on a real line: the simulated logger on a
// pseudo-terminal, the engine on a worker thread as the pages run it, time
// run twenty times faster with every wait in proportion.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "PtyTestEnv.h"
#include "device/SerialLink.h"
#include "platform/Clock.h"
#include "sim/BlockTarget.h"
#include "sim/DeviceSimulator.h"
#include "tracklog/BlockTransfer.h"

namespace {

class BlockTransferOnLine : public ::testing::Test {
protected:
    void Start(const sim::BlockTargetOptions& options) {
        sim::SimOptions simOptions;
        simOptions.port = "COM34";
        simOptions.portDir = dir_.Path();
        device_ = std::make_unique<sim::DeviceSimulator>(simOptions);
        target_ = sim::AttachBlockTarget(*device_, options);
        std::string error;
        ASSERT_TRUE(device_->Start(&error)) << error;
        link_.linkPortName = device_->PortName();  // the logger's bridge: recognised
    }
    void TearDown() override {
        link_.ClosePort();
        if (device_) device_->Stop();
    }

    platform::ScaledClock clock_{20};
    platform::ScopedClock scoped_{clock_};
    testsupport::PtyPortDir dir_;
    std::unique_ptr<sim::DeviceSimulator> device_;
    std::shared_ptr<sim::BlockTarget> target_;
    SerialLink link_;
    std::atomic<int> sendPmtkFirst_{1};
};

TEST_F(BlockTransferOnLine, WaypointFileArrivesWholeWithAResend) {
    Start({.badSumOnce = 3});
    std::ifstream in(std::string(PELLORA_TEST_DATA_DIR) + "/blocks/long_line.mpt", std::ios::binary);
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    BlockTransfer engine(link_, BlockTransfer::WaypointDownload(), &sendPmtkFirst_);
    BlockTransferResult result;
    std::thread worker([&] { result = engine.DownloadFileBlocks(file, 1024); });
    worker.join();
    ASSERT_TRUE(result.ok()) << result.text;
    std::vector<std::uint8_t> expected = file;
    expected.resize(1024, blocks::kPadByte);
    EXPECT_EQ(target_->Received(), expected);
    EXPECT_EQ(target_->Resends(), 1);
    EXPECT_TRUE(target_->Completed()) << ::testing::PrintToString(target_->Errors());
}

TEST_F(BlockTransferOnLine, ReadOutOfThreeBlocksWithABadSum) {
    std::vector<std::uint8_t> data(1536);
    std::mt19937 gen(9);
    for (auto& b : data) b = static_cast<std::uint8_t>(gen());
    Start({.logData = data, .badSumOnce = 2, .busyWakeUps = 2});
    BlockTransfer engine(link_, BlockTransfer::ReadOut(), &sendPmtkFirst_);
    std::vector<std::uint8_t> stored;
    BlockTransferResult result;
    std::thread worker([&] {
        result = engine.ReadTrackLogBlocks([&](std::uint32_t, std::span<const std::uint8_t> d) {
            stored.insert(stored.end(), d.begin(), d.end());
            return true;
        });
    });
    worker.join();
    ASSERT_TRUE(result.ok()) << result.text;
    EXPECT_EQ(stored, data);
    EXPECT_EQ(target_->Resends(), 1);
    EXPECT_TRUE(target_->Completed()) << ::testing::PrintToString(target_->Errors());
}

}  // namespace
