// Our flash-download library: handles and loads with their results, the
// checks of Run's records, and whole transfers against the flash target's
// engine behind a scripted serial backend, on virtual time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include "FakeSerial.h"
#include "platform/Clock.h"
#include "flashlib/FlashFiles.h"
#include "flashlib/FlashLibrary.h"
#include "flashlib/FlashProtocol.h"
#include "sim/FlashTarget.h"

namespace fs = std::filesystem;
namespace ff = platform::flashfiles;
namespace fp = platform::flashproto;
namespace rec = platform::flashrecord;
namespace res = platform::flashresult;
using platform::FlashHandle;
using platform::FlashToken;
using platform::PutRecordU32;
using Bytes = std::vector<std::uint8_t>;

namespace {

// What the callbacks saw, in order.
std::mutex g_logMutex;
std::vector<std::string> g_log;
int g_cancelAt = -1;  // the image progress call that returns non-zero

void Log(std::string s) {
    std::lock_guard lock(g_logMutex);
    g_log.push_back(std::move(s));
}

int DaInit(std::uint32_t v) {
    Log("da-init " + std::to_string(v));
    return 0;
}
int DaProgress(std::uint8_t p, std::uint32_t done, std::uint32_t total, void* user) {
    Log("da " + std::to_string(p) + " " + std::to_string(done) + "/" + std::to_string(total) +
        (user ? " user" : " null"));
    return 0;
}
int DlInit(std::uint32_t v) {
    Log("dl-init " + std::to_string(v));
    return 0;
}
int DlProgress(std::uint8_t p, std::uint32_t done, std::uint32_t total, void* user) {
    Log("dl " + std::to_string(p) + " " + std::to_string(done) + "/" + std::to_string(total) +
        (user ? " user" : " null"));
    std::lock_guard lock(g_logMutex);
    int calls = 0;
    for (const auto& s : g_log) calls += s.rfind("dl ", 0) == 0 ? 1 : 0;
    return calls == g_cancelAt ? 1 : 0;
}

Bytes Pattern(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    for (auto& x : b) {
        seed = seed * 1103515245u + 12345u;
        x = static_cast<std::uint8_t>(seed >> 16);
    }
    return b;
}

// The run's records, filled the way the update page fills them.
struct Records {
    platform::PortRecord port{};
    platform::BootRecord boot{};
    platform::DownloadRecord download{};
    int userObject = 0;
    FlashToken user{static_cast<void*>(&userObject)};
    FlashToken bootSelf{static_cast<void*>(&boot)};
    FlashToken daInit{&DaInit};
    FlashToken daProgress{&DaProgress};
    FlashToken dlInit{&DlInit};
    FlashToken dlProgress{&DlProgress};

    Records(int comPort, std::uint32_t speed, FlashHandle da, FlashHandle dl) {
        port[0] = static_cast<std::uint8_t>(comPort);
        PutRecordU32(port, rec::kPortSpeed, speed);
        PutRecordU32(port, rec::kPortAnswerTimeout, 0x0FFFFFFF);
        PutRecordU32(port, rec::kPortHelloTimeout, 0x0FFFFFFF);
        PutRecordU32(boot, rec::kBootDaHandle, da);
        PutRecordU32(boot, rec::kBootInitCallback, daInit.value());
        PutRecordU32(boot, rec::kBootInitUser, user.value());
        PutRecordU32(boot, rec::kBootProgressCallback, daProgress.value());
        PutRecordU32(boot, rec::kBootProgressUser, user.value());
        PutRecordU32(boot, rec::kBootHelloPhaseTimeout, 0x0FFFFFFF);
        PutRecordU32(boot, rec::kBootCheckAgent, 1);
        PutRecordU32(boot, rec::kBootSelf, bootSelf.value());
        boot[rec::kBootFlag340] = 1;
        PutRecordU32(boot, rec::kBootFlag344, 1);
        PutRecordU32(download, rec::kDlHandle, dl);
        PutRecordU32(download, rec::kDlInitCallback, dlInit.value());
        PutRecordU32(download, rec::kDlInitUser, user.value());
        PutRecordU32(download, rec::kDlProgressCallback, dlProgress.value());
        PutRecordU32(download, rec::kDlProgressUser, user.value());
        PutRecordU32(download, rec::kDlFlag392, 1);
        PutRecordU32(download, rec::kDlFlag416, 1);
        PutRecordU32(download, rec::kDlMaxImage, 0x00100000);
    }
};

class FlashStandInTest : public ::testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard lock(g_logMutex);
            g_log.clear();
        }
        g_cancelAt = -1;
        char templ[] = "/tmp/pellora-flashlib-XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        dir_ = templ;
        std::string error;
        ASSERT_TRUE(ff::WriteFlashFiles(dir_, false, nullptr, &error)) << error;
        image_ = Pattern(5000, 7);
        imagePath_ = WriteFile("Orvik_FW_Temp.bin", image_);
        serial_.SetResponder([this](const std::string& written) { return engine_.Feed(written); });
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string WriteFile(const std::string& name, const Bytes& bytes) {
        const std::string p = dir_ + "/" + name;
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<std::streamsize>(bytes.size()));
        return p;
    }
    // Handles with the agent, the scatter file and the image loaded.
    void Prepare(const std::string& agent = "DA_MT3329_v1.bin") {
        ASSERT_EQ(lib_.CreateDaHandle(&da_), res::kOk);
        ASSERT_EQ(lib_.CreateDlHandle(&dl_), res::kOk);
        ASSERT_EQ(lib_.SetDaParameter(da_, 0xC00), res::kOk);
        ASSERT_EQ(lib_.LoadDa(da_, (dir_ + "/" + agent).c_str()), res::kOk);
        ASSERT_EQ(lib_.LoadScatter(dl_, (dir_ + "/scat.txt").c_str()), res::kOk);
        ASSERT_EQ(lib_.SetDlOption(dl_, 0x100), res::kOk);
        ASSERT_EQ(lib_.LoadImage(dl_, 0, imagePath_.c_str()), res::kOk);
        ASSERT_EQ(lib_.EnableImage(dl_, 0, 1), res::kOk);
    }
    std::uint32_t RunOn(int comPort, std::uint32_t speed = 4) {
        Records r(comPort, speed, da_, dl_);
        user_ = r.user.value();
        return lib_.Run(&r.port, &r.boot, &r.download, &status_, &report_);
    }
    std::vector<std::string> LogCopy() {
        std::lock_guard lock(g_logMutex);
        return g_log;
    }
    void Release() {
        lib_.UnloadDa(da_);
        lib_.UnloadImage(dl_, 0);
        lib_.DestroyDaHandle(&da_);
        lib_.DestroyDlHandle(&dl_);
    }

    std::string dir_;
    Bytes image_;
    std::string imagePath_;
    platform::FakeClock clock_;
    platform::ScopedClock scopedClock_{clock_};
    testsupport::FakeSerialBackend serial_;
    platform::ScopedSerialBackend scopedSerial_{serial_};
    sim::FlashTargetEngine engine_{{.chip = "MT3329"}};
    platform::FlashStandIn lib_;
    FlashHandle da_ = 0;
    FlashHandle dl_ = 0;
    std::uint32_t status_ = 0;
    platform::RunReport report_{};
    std::uint32_t user_ = 0;
};

}  // namespace

TEST_F(FlashStandInTest, HandlesAreCreatedDestroyedAndCheckedByEveryOperation) {
    ASSERT_EQ(lib_.CreateDaHandle(&da_), res::kOk);
    ASSERT_EQ(lib_.CreateDlHandle(&dl_), res::kOk);
    EXPECT_NE(da_, 0u);
    EXPECT_NE(dl_, 0u);
    EXPECT_NE(da_, dl_);
    EXPECT_EQ(lib_.LiveHandles(), 2u);
    // A handle of the other kind is no handle.
    EXPECT_EQ(lib_.LoadDa(dl_, "x"), res::kBadHandle);
    EXPECT_EQ(lib_.LoadScatter(da_, "x"), res::kBadHandle);
    EXPECT_EQ(lib_.SetDaParameter(0, 1), res::kBadHandle);
    EXPECT_EQ(lib_.LoadImage(da_, 0, imagePath_.c_str()), res::kBadHandle);
    EXPECT_EQ(lib_.CreateDaHandle(nullptr), res::kBadHandle);
    EXPECT_EQ(lib_.DestroyDaHandle(&da_), res::kOk);
    EXPECT_EQ(da_, 0u);
    EXPECT_EQ(lib_.DestroyDaHandle(&da_), res::kBadHandle);
    EXPECT_EQ(lib_.DestroyDlHandle(&dl_), res::kOk);
    EXPECT_EQ(lib_.LiveHandles(), 0u);
}

TEST_F(FlashStandInTest, LoadResultsPassOrFailTheSuccessTest) {
    ASSERT_EQ(lib_.CreateDaHandle(&da_), res::kOk);
    ASSERT_EQ(lib_.CreateDlHandle(&dl_), res::kOk);
    const auto ok = [](std::uint32_t r) { return platform::LoadSucceeded(r); };
    EXPECT_TRUE(ok(lib_.LoadDa(da_, (dir_ + "/DA_MT3318_v1.bin").c_str())));
    EXPECT_FALSE(ok(lib_.LoadDa(da_, (dir_ + "/DA_MT3318_none.bin").c_str())));
    EXPECT_FALSE(ok(lib_.LoadDa(da_, "")));
    EXPECT_FALSE(ok(lib_.LoadDa(da_, nullptr)));
    EXPECT_EQ(lib_.LoadDa(da_, WriteFile("DA_MT3318_bad.bin", Bytes(40, 1)).c_str()), res::kBadFile);
    // An MT3329 agent under an MT3318 name.
    std::vector<std::uint8_t> agent3329;
    ASSERT_EQ(ff::ReadWholeFile(dir_ + "/DA_MT3329_v1.bin", 1 << 20, agent3329), ff::FileStatus::Ok);
    EXPECT_EQ(lib_.LoadDa(da_, WriteFile("DA_MT3318_odd.bin", agent3329).c_str()), res::kWrongChip);

    EXPECT_TRUE(ok(lib_.LoadScatter(dl_, (dir_ + "/scat.txt").c_str())));
    EXPECT_FALSE(ok(lib_.LoadScatter(dl_, WriteFile("bad.txt", Bytes{'x'}).c_str())));
    EXPECT_FALSE(ok(lib_.LoadImage(dl_, 0, (dir_ + "/none.bin").c_str())));
    EXPECT_FALSE(ok(lib_.LoadImage(dl_, 0, WriteFile("empty.bin", {}).c_str())));
    EXPECT_FALSE(ok(lib_.LoadImage(dl_, 1, imagePath_.c_str())));
    // Larger than the scatter file's 1 MiB region.
    EXPECT_EQ(lib_.LoadImage(dl_, 0, WriteFile("huge.bin", Bytes(0x100001, 0)).c_str()), res::kTooLarge);
    EXPECT_EQ(lib_.EnableImage(dl_, 0, 1), res::kNotReady);
    EXPECT_TRUE(ok(lib_.LoadImage(dl_, 0, imagePath_.c_str())));
    EXPECT_EQ(lib_.EnableImage(dl_, 0, 1), res::kOk);
    // Every failure carries a bit from 8 to 15; the port failure does not.
    for (std::uint32_t r : {res::kBadHandle, res::kFileNotFound, res::kBadFile, res::kWrongChip, res::kTooLarge,
                            res::kNotReady, res::kBadPort, res::kTimeout, res::kRefused, res::kCrcMismatch,
                            res::kBadRecord, res::kLineFailed, res::kCancelled}) {
        EXPECT_FALSE(ok(r)) << r;
    }
    EXPECT_TRUE(ok(res::kOk));
    Release();
}

TEST_F(FlashStandInTest, AWholeRunStoresTheImageAndReportsInOrder) {
    Prepare();
    ASSERT_EQ(RunOn(12, 4), res::kOk);
    EXPECT_TRUE(engine_.Completed());
    EXPECT_EQ(engine_.Image(), image_);
    EXPECT_EQ(engine_.LastHello().chip, "MT3329");
    EXPECT_EQ(engine_.LastHello().agentParameter, 0xC00u);
    EXPECT_EQ(engine_.LastHello().speedCode, 4u);
    EXPECT_EQ(engine_.LastHello().option, 0x100u);
    EXPECT_EQ(engine_.Agent(), ff::DefaultAgentCode("MT3329"));

    // The port named by the record, at the speed of the code, closed at the end.
    EXPECT_EQ(serial_.OpenedNames(), std::vector<std::string>{"COM12"});
    EXPECT_EQ(serial_.Bauds(), std::vector<int>{460800});
    EXPECT_EQ(serial_.OpenChannels(), 0);
    EXPECT_EQ(serial_.Events().back(), "close");

    // Init, then progress per acknowledged block: one agent block, five image blocks.
    const std::string u = std::to_string(user_);
    const std::vector<std::string> expected = {
        "da-init " + u, "da 100 1024/1024 user", "dl-init " + u,
        "dl 20 1024/5000 user", "dl 40 2048/5000 user", "dl 61 3072/5000 user",
        "dl 81 4096/5000 user", "dl 100 5000/5000 user"};
    EXPECT_EQ(LogCopy(), expected);

    EXPECT_EQ(status_, platform::flashstage::kEndDone);
    EXPECT_EQ(platform::GetRecordU32(report_, rec::kReportResult), 0u);
    EXPECT_EQ(platform::GetRecordU32(report_, rec::kReportImageBytes), 5000u);
    EXPECT_EQ(platform::GetRecordU32(report_, rec::kReportImageCrc), fp::Crc32(image_));
    EXPECT_EQ(platform::GetRecordU32(report_, rec::kReportDeviceCrc), fp::Crc32(image_));
    EXPECT_EQ(platform::GetRecordU32(report_, rec::kReportResends), 0u);
    EXPECT_EQ(platform::GetRecordU32(report_, rec::kReportFrames), 8u);  // hello, 1 + 5 blocks, end

    // The bytes on the line are exactly what the protocol's size says.
    const fp::TransferSize size = fp::ExpectedTransferSize(1024, image_.size());
    EXPECT_EQ(lib_.LastStats().bytesOut, size.hostBytes);
    EXPECT_EQ(lib_.LastStats().bytesIn, size.deviceBytes);
    Release();
    EXPECT_EQ(lib_.LiveHandles(), 0u);
}

TEST_F(FlashStandInTest, SpeedCodesChooseTheBitRate) {
    EXPECT_EQ(platform::FlashSpeedBaud(0), 115200);
    EXPECT_EQ(platform::FlashSpeedBaud(4), 460800);
    EXPECT_EQ(platform::FlashSpeedBaud(6), 921600);
    EXPECT_EQ(platform::FlashSpeedBaud(5), 115200);
    Prepare();
    ASSERT_EQ(RunOn(3, 6), res::kOk);
    ASSERT_EQ(RunOn(3, 0), res::kOk);
    EXPECT_EQ(serial_.Bauds(), (std::vector<int>{921600, 115200}));
    Release();
}

TEST_F(FlashStandInTest, APortOutsideOneToFiftyIsNeverOpened) {
    Prepare();
    for (int port : {0, 51, 255}) {
        EXPECT_EQ(RunOn(port), res::kBadPort) << port;
    }
    // Something in bytes 1 to 3 makes another number (257 here), refused too.
    Records r(1, 4, da_, dl_);
    r.port[1] = 1;
    EXPECT_EQ(lib_.Run(&r.port, &r.boot, &r.download, &status_, &report_), res::kBadPort);
    EXPECT_TRUE(serial_.OpenedNames().empty());
    EXPECT_EQ(RunOn(50), res::kOk);
    EXPECT_EQ(serial_.OpenedNames(), std::vector<std::string>{"COM50"});
    Release();
}

TEST_F(FlashStandInTest, RecordsThatDoNotHoldAreRefusedBeforeThePortOpens) {
    Prepare();
    {
        Records r(5, 4, da_, dl_);
        PutRecordU32(r.boot, rec::kBootSelf, r.user.value());  // not the boot record's token
        EXPECT_EQ(lib_.Run(&r.port, &r.boot, &r.download, &status_, &report_), res::kBadRecord);
    }
    {
        Records r(5, 4, da_, dl_);
        PutRecordU32(r.boot, rec::kBootInitCallback, r.daProgress.value());  // a callback of the other kind
        EXPECT_EQ(lib_.Run(&r.port, &r.boot, &r.download, &status_, &report_), res::kBadRecord);
    }
    {
        Records r(5, 4, da_, dl_);
        PutRecordU32(r.download, rec::kDlProgressUser, 0x7FFFFFF0);  // an unknown token
        EXPECT_EQ(lib_.Run(&r.port, &r.boot, &r.download, &status_, &report_), res::kBadRecord);
    }
    {
        Records r(5, 4, dl_, da_);  // handles swapped
        EXPECT_EQ(lib_.Run(&r.port, &r.boot, &r.download, &status_, &report_), res::kBadHandle);
    }
    {
        Records r(5, 4, da_, dl_);
        PutRecordU32(r.download, rec::kDlMaxImage, 4999);  // the image is larger than allowed
        EXPECT_EQ(lib_.Run(&r.port, &r.boot, &r.download, &status_, &report_), res::kTooLarge);
    }
    EXPECT_EQ(lib_.Run(nullptr, nullptr, nullptr, &status_, &report_), res::kBadRecord);
    EXPECT_TRUE(serial_.OpenedNames().empty());
    Release();
}

TEST_F(FlashStandInTest, NothingRunsWithoutAgentScatterAndEnabledImage) {
    ASSERT_EQ(lib_.CreateDaHandle(&da_), res::kOk);
    ASSERT_EQ(lib_.CreateDlHandle(&dl_), res::kOk);
    EXPECT_EQ(RunOn(5), res::kNotReady);  // nothing loaded
    ASSERT_EQ(lib_.LoadDa(da_, (dir_ + "/DA_MT3329_v1.bin").c_str()), res::kOk);
    ASSERT_EQ(lib_.LoadImage(dl_, 0, imagePath_.c_str()), res::kOk);
    ASSERT_EQ(lib_.EnableImage(dl_, 0, 1), res::kOk);
    EXPECT_EQ(RunOn(5), res::kNotReady);  // no scatter file
    ASSERT_EQ(lib_.LoadScatter(dl_, (dir_ + "/scat.txt").c_str()), res::kOk);
    ASSERT_EQ(lib_.EnableImage(dl_, 0, 0), res::kOk);
    EXPECT_EQ(RunOn(5), res::kNotReady);  // image not enabled
    ASSERT_EQ(lib_.EnableImage(dl_, 0, 1), res::kOk);
    ASSERT_EQ(lib_.UnloadDa(da_), res::kOk);
    EXPECT_EQ(RunOn(5), res::kNotReady);  // agent unloaded
    EXPECT_TRUE(serial_.OpenedNames().empty());
    Release();
}

TEST_F(FlashStandInTest, APortThatCannotBeOpenedIsResultOne) {
    Prepare();
    serial_.SetOpenFails(true);
    EXPECT_EQ(RunOn(7), res::kNoDevice);
    EXPECT_EQ(status_, platform::flashstage::kNone);
    EXPECT_TRUE(LogCopy().empty());
    Release();
}

TEST_F(FlashStandInTest, ASilentDeviceEndsTheRunWithinTheHelloBound) {
    Prepare();
    engine_.SetOptions({.chip = "MT3329", .silent = true});
    const std::uint64_t start = clock_.NowMs();
    EXPECT_EQ(RunOn(7), res::kNoDevice);
    // Records ask for "default" time-outs (0x0FFFFFFF): the bounded defaults apply.
    EXPECT_LE(clock_.NowMs() - start, platform::FlashStandIn::kDefaultHelloPhaseMs + 10);
    EXPECT_GE(clock_.NowMs() - start, platform::FlashStandIn::kDefaultHelloPhaseMs - 10);
    EXPECT_GE(engine_.Frames(), 2);  // the hello was tried again
    EXPECT_EQ(status_, platform::flashstage::kPortOpen);
    EXPECT_EQ(serial_.OpenChannels(), 0);
    EXPECT_TRUE(LogCopy().empty());
    Release();
}

TEST_F(FlashStandInTest, ADeviceThatFallsSilentMidwayTimesOutBounded) {
    Prepare();
    // The device answers the hello and the agent, then nothing.
    serial_.SetResponder([this](const std::string& written) {
        std::string answer = engine_.Feed(written);
        return engine_.Agent().size() == 1024 && engine_.Image().size() >= 2048 ? std::string() : answer;
    });
    const std::uint64_t start = clock_.NowMs();
    EXPECT_EQ(RunOn(7), res::kTimeout);
    const std::uint64_t took = clock_.NowMs() - start;
    EXPECT_LE(took, 4u * platform::FlashStandIn::kDefaultAnswerTimeoutMs + 50);
    EXPECT_EQ(status_, platform::flashstage::kAgentDone);
    EXPECT_EQ(platform::GetRecordU32(report_, rec::kReportResends), 3u);
    EXPECT_EQ(serial_.OpenChannels(), 0);
    Release();
}

TEST_F(FlashStandInTest, ExplicitTimeOutsAreTakenAndHugeOnesBounded) {
    Prepare();
    engine_.SetOptions({.chip = "MT3329", .silent = true});
    Records r(7, 4, da_, dl_);
    PutRecordU32(r.port, rec::kPortHelloTimeout, 200);
    PutRecordU32(r.boot, rec::kBootHelloPhaseTimeout, 600);
    std::uint64_t start = clock_.NowMs();
    EXPECT_EQ(lib_.Run(&r.port, &r.boot, &r.download, &status_, &report_), res::kNoDevice);
    EXPECT_LE(clock_.NowMs() - start, 610u);
    EXPECT_EQ(engine_.Frames(), 3);  // 600 / 200

    PutRecordU32(r.port, rec::kPortHelloTimeout, 0xFFFFFFFF);
    PutRecordU32(r.boot, rec::kBootHelloPhaseTimeout, 0xFFFFFFFE);
    start = clock_.NowMs();
    EXPECT_EQ(lib_.Run(&r.port, &r.boot, &r.download, &status_, &report_), res::kNoDevice);
    EXPECT_LE(clock_.NowMs() - start, platform::FlashStandIn::kMaxHelloPhaseMs);
    Release();
}

TEST_F(FlashStandInTest, ARefusedBlockEndsTheRun) {
    Prepare();
    engine_.SetOptions({.chip = "MT3329", .refuseImageBlock = 2});
    EXPECT_EQ(RunOn(7), res::kRefused);
    EXPECT_EQ(engine_.Image().size(), 2048u);
    EXPECT_FALSE(engine_.Completed());
    EXPECT_EQ(platform::GetRecordU32(report_, rec::kReportImageBytes), 2048u);
    EXPECT_EQ(status_, platform::flashstage::kAgentDone);
    const auto log = LogCopy();
    EXPECT_EQ(log.back(), "dl 40 2048/5000 user");
    EXPECT_EQ(serial_.OpenChannels(), 0);
    Release();
}

TEST_F(FlashStandInTest, TheWrongChipIsRefusedAtTheHello) {
    Prepare("DA_MT3318_v1.bin");
    EXPECT_EQ(RunOn(7), res::kRefused);
    EXPECT_FALSE(engine_.HelloSeen());
    EXPECT_TRUE(LogCopy().empty());
    Release();
}

TEST_F(FlashStandInTest, ACrcMismatchAtTheEndFailsTheRun) {
    Prepare();
    engine_.SetOptions({.chip = "MT3329", .corruptEndCrc = true});
    EXPECT_EQ(RunOn(7), res::kCrcMismatch);
    EXPECT_EQ(status_, platform::flashstage::kImageDone);
    EXPECT_EQ(platform::GetRecordU32(report_, rec::kReportDeviceCrc), fp::Crc32(image_) ^ 0xFFFFFFFFu);
    Release();
}

TEST_F(FlashStandInTest, ANakIsAnsweredBySendingTheBlockAgain) {
    Prepare();
    engine_.SetOptions({.chip = "MT3329", .nakImageBlockOnce = 1});
    EXPECT_EQ(RunOn(7), res::kOk);
    EXPECT_EQ(engine_.Image(), image_);
    EXPECT_EQ(platform::GetRecordU32(report_, rec::kReportResends), 1u);
    Release();
}

TEST_F(FlashStandInTest, ALostAnswerLeadsToARepeatTheDeviceStoresOnce) {
    Prepare();
    engine_.SetOptions({.chip = "MT3329", .corruptAnswerOnce = 3});
    EXPECT_EQ(RunOn(7), res::kOk);
    EXPECT_EQ(engine_.Image(), image_);
    EXPECT_EQ(engine_.Duplicates(), 1);
    EXPECT_EQ(platform::GetRecordU32(report_, rec::kReportResends), 1u);
    Release();
}

TEST_F(FlashStandInTest, ACallbackCanStopTheRun) {
    Prepare();
    g_cancelAt = 2;
    EXPECT_EQ(RunOn(7), res::kCancelled);
    EXPECT_EQ(engine_.Image().size(), 2048u);
    EXPECT_EQ(serial_.OpenChannels(), 0);
    Release();
}

TEST_F(FlashStandInTest, GarbageOnTheLineDoesNotKeepTheRunAlive) {
    Prepare();
    // The device answers every frame with noise only: the hello phase still
    // ends on time.
    serial_.SetResponder([](const std::string&) { return std::string(64, '\x5A'); });
    const std::uint64_t start = clock_.NowMs();
    EXPECT_EQ(RunOn(7), res::kNoDevice);
    EXPECT_LE(clock_.NowMs() - start, platform::FlashStandIn::kDefaultHelloPhaseMs + 10);
    Release();
}

TEST(FlashTokens, StandForTheirTargetUntilReleased) {
    const std::size_t before = platform::FlashTokenCount();
    int object = 0;
    std::uint32_t pointerToken = 0;
    {
        FlashToken p(static_cast<void*>(&object));
        FlashToken i(&DaInit);
        FlashToken g(&DaProgress);
        FlashToken none(static_cast<void*>(nullptr));
        pointerToken = p.value();
        EXPECT_NE(p.value(), 0u);
        EXPECT_NE(p.value(), i.value());
        EXPECT_NE(i.value(), g.value());
        EXPECT_EQ(none.value(), 0u);
        EXPECT_EQ(platform::ResolveFlashPointer(p.value()), &object);
        EXPECT_EQ(platform::ResolveFlashInitCallback(i.value()), &DaInit);
        EXPECT_EQ(platform::ResolveFlashProgressCallback(g.value()), &DaProgress);
        // Of another kind: nothing.
        EXPECT_EQ(platform::ResolveFlashPointer(i.value()), nullptr);
        EXPECT_EQ(platform::ResolveFlashInitCallback(g.value()), nullptr);
        EXPECT_EQ(platform::ResolveFlashProgressCallback(p.value()), nullptr);
        EXPECT_EQ(platform::ResolveFlashPointer(0), nullptr);
        FlashToken moved = std::move(p);
        EXPECT_EQ(moved.value(), pointerToken);
        EXPECT_EQ(p.value(), 0u);
        EXPECT_EQ(platform::FlashTokenCount(), before + 3);
    }
    EXPECT_EQ(platform::FlashTokenCount(), before);
    EXPECT_EQ(platform::ResolveFlashPointer(pointerToken), nullptr);
}

TEST(FlashLibraryInstance, TestsCanInstallAnother) {
    platform::FlashLibrary& standard = platform::GetFlashLibrary();
    EXPECT_NE(dynamic_cast<platform::FlashStandIn*>(&standard), nullptr);
    platform::FlashStandIn other;
    {
        platform::ScopedFlashLibrary scoped(other);
        EXPECT_EQ(&platform::GetFlashLibrary(), &other);
    }
    EXPECT_EQ(&platform::GetFlashLibrary(), &standard);
}
