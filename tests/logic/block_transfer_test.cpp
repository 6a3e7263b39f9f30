// The block transfer against the simulated logger (sim/BlockTarget), both
// directions, on scripted ports in virtual time: one table of runs, each
// checked for its result, what the device took or what the program stored,
// and the device's own complaints about the wire.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <random>

#include "FakeSerial.h"
#include "PhotoFiles.h"  // ReadBytes, WriteBytes
#include "device/SerialLink.h"
#include "platform/Clock.h"
#include "sim/BlockTarget.h"
#include "sim/Framing.h"
#include "support/ProcessZone.h"
#include "tracklog/BlockTransfer.h"
#include "tracklog/WaypointDownload.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;
using Use = BlockTransfer::Use;
using St = BlockTransferStatus;
using Stage = sim::BlockStage;

// Ports by name: a listed port opens and has the simulated logger behind it,
// or nobody (null); other names do not open. `tried` holds every name asked for.
struct BlockLine final : testsupport::FakeSerialBackend {
    std::unique_ptr<platform::SerialChannel> Open(const std::string& name) override {
        tried.push_back(name);
        if (!ports.contains(name)) return nullptr;
        current = ports[name];
        return FakeSerialBackend::Open(name);
    }
    BlockLine() {
        SetResponder([this](const std::string& w) { return current ? current->Feed(w) : std::string(); });
    }
    std::map<std::string, std::shared_ptr<sim::BlockTarget>> ports;
    std::shared_ptr<sim::BlockTarget> current;
    Strings tried;
};

Bytes Random(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(gen());
    return out;
}

Bytes Padded(Bytes bytes, std::size_t to) {
    bytes.resize(to, blocks::kPadByte);
    return bytes;
}

// The device on COM1, the program's port lister showing nothing (so the
// search starts at COM1), virtual time, the wake-up due.
struct BlockRun {
    explicit BlockRun(sim::BlockTargetOptions options = {})
        : target(std::make_shared<sim::BlockTarget>(std::move(options))) {
        line.ports["COM1"] = target;
        link.SetPortLister([](std::vector<ComPortInfo>& out, bool) { out.clear(); });
    }
    BlockTransferCallbacks Callbacks() {
        return {[this](const std::string& t) { statuses.push_back(t); },
                [this](int p, const std::string& label) { bars.push_back(p); labels.push_back(label); }};
    }
    BlockTransfer Download() { return BlockTransfer(link, BlockTransfer::WaypointDownload(), &sendPmtkFirst); }

    platform::FakeClock clock;
    platform::ScopedClock scopedClock{clock};
    BlockLine line;
    platform::ScopedSerialBackend scopedBackend{line};
    std::shared_ptr<sim::BlockTarget> target;
    SerialLink link;
    std::atomic<int> sendPmtkFirst{1};
    Strings statuses, labels;
    std::vector<int> bars;
};

enum class Source { kEmpty, kCrLfFile, kLongLineFile, kBlankLines, k512, k513, kThreeBlocks };

Bytes SourceBytes(Source s) {
    const std::string dir = std::string(PELLORA_TEST_DATA_DIR) + "/blocks/";
    const std::string blankLines = [] { std::string t; for (int k = 0; k < 300; ++k) t += "\r\n"; return t; }();
    switch (s) {
        case Source::kEmpty: return {};
        case Source::kCrLfFile: return ReadBytes(dir + "waypoints_crlf.mpt");
        case Source::kLongLineFile: return ReadBytes(dir + "long_line.mpt");
        case Source::kBlankLines: return Bytes(blankLines.begin(), blankLines.end());
        case Source::k512: return Random(512, 5);
        case Source::k513: return Random(513, 6);
        case Source::kThreeBlocks: return Random(3 * 512, 7);
    }
    return {};
}

struct Case {
    const char* name;
    Use use;
    Source source;
    sim::BlockTargetOptions device;
    St expected;
    int stringId = 0;
    int resends = 0;  // packets or blocks the device took again
    bool endWriteFails = false;  // "$END" cannot be written
};

const Case kCases[] = {
    // Downloads, reassembled by the device byte for byte.
    {"CrLfTextOneLinePerPacket", Use::kDownload, Source::kCrLfFile, {}, St::kDone},
    {"LineCutAt512", Use::kDownload, Source::kLongLineFile, {}, St::kDone},
    {"BlankLinesAfterACarriageReturnSum", Use::kDownload, Source::kBlankLines, {}, St::kDone},
    {"FileOf512Bytes", Use::kDownload, Source::k512, {}, St::kDone},
    {"FileOf513Bytes", Use::kDownload, Source::k513, {}, St::kDone},
    {"PacketWithBadSumResent", Use::kDownload, Source::kCrLfFile, {.badSumOnce = 2}, St::kDone, 0, 1},
    {"BusyPacketThenTaken", Use::kDownload, Source::kCrLfFile, {.busyPacket = 1, .busyTimes = 2}, St::kDone, 0, 2},
    {"BusyHandshakesThenAccepted", Use::kDownload, Source::kCrLfFile, {.busyWakeUps = 3}, St::kDone},
    {"AcceptedInTheLastAttempt", Use::kDownload, Source::k513, {.busyWakeUps = 29}, St::kDone},
    {"EndAnsweredBusyOnce", Use::kDownload, Source::k512, {.endBusyOnce = true}, St::kDone},
    {"EmptyFileEndsWithoutAPercentage", Use::kDownload, Source::kEmpty, {}, St::kDone},
    {"DownloadRefusedAtHandshake", Use::kDownload, Source::k512, {.refuse = Stage::kWakeUp}, St::kRefused, 103},
    {"DownloadRefusedAtHeader", Use::kDownload, Source::k512, {.refuse = Stage::kHeader}, St::kHeaderRefused, 105},
    {"DownloadStoppedAtHeader", Use::kDownload, Source::k512, {.refuse = Stage::kHeaderStop}, St::kHeaderStopped, 106},
    {"DownloadAbortedAfterPacket", Use::kDownload, Source::kCrLfFile, {.abortAfter = 1}, St::kAborted, 107},
    {"DownloadDeviceFallsSilent", Use::kDownload, Source::kCrLfFile, {.silentAfter = 2}, St::kDeviceSilent},
    {"DownloadDeviceSilent", Use::kDownload, Source::k512, {.silent = true}, St::kNoResponse, 104},
    {"DownloadEndCannotBeWritten", Use::kDownload, Source::k512, {}, St::kPortFailed, 0, 0, true},
    // Read-outs of the device's data.
    {"ReadOutThreeBlocks", Use::kReadOut, Source::kThreeBlocks, {}, St::kDone},
    {"ReadOutOfAnEmptyLog", Use::kReadOut, Source::kEmpty, {}, St::kDone},
    {"ReadOutBlockWithBadSumResent", Use::kReadOut, Source::kThreeBlocks, {.badSumOnce = 1}, St::kDone, 0, 1},
    {"ReadOutBusyThenAccepted", Use::kReadOut, Source::kThreeBlocks, {.busyWakeUps = 3}, St::kDone},
    {"ReadOutDeviceAlwaysBusy", Use::kReadOut, Source::kThreeBlocks, {.busyWakeUps = 100000}, St::kNoResponse},
    {"ReadOutRefusedAtWakeUp", Use::kReadOut, Source::kThreeBlocks, {.refuse = Stage::kWakeUp}, St::kRefused, 103},
    {"ReadOutRefusedAtRequest", Use::kReadOut, Source::kThreeBlocks, {.refuse = Stage::kRequest}, St::kRequestRefused, 109},
    {"ReadOutAbortedAfterBlock", Use::kReadOut, Source::kThreeBlocks, {.abortAfter = 1}, St::kAborted, 107},
    {"ReadOutDeviceFallsSilent", Use::kReadOut, Source::kThreeBlocks, {.silentAfter = 1}, St::kDeviceSilent},
    {"ReadOutDeviceSilent", Use::kReadOut, Source::kThreeBlocks, {.silent = true}, St::kNoResponse},
    {"ReadOutEndCannotBeWritten", Use::kReadOut, Source::kThreeBlocks, {}, St::kPortFailed, 0, 0, true},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class BlockTransferRun : public ::testing::TestWithParam<Case> {};

TEST_P(BlockTransferRun, AgainstTheSimulatedLogger) {
    const Case& c = GetParam();
    const bool readOut = c.use == Use::kReadOut;
    const Bytes source = SourceBytes(c.source);
    sim::BlockTargetOptions options = c.device;
    if (readOut) options.logData = source;
    BlockRun run(options);
    if (c.endWriteFails) run.line.SetWriteFails([](const std::string& w) { return w == blocks::kEnd; });
    BlockTransfer engine(run.link, readOut ? BlockTransfer::ReadOut() : BlockTransfer::WaypointDownload(),
                         &run.sendPmtkFirst);
    Bytes stored;
    const auto store = [&](std::uint32_t offset, std::span<const std::uint8_t> data) {
        EXPECT_EQ(offset, stored.size());
        stored.insert(stored.end(), data.begin(), data.end());
        return true;
    };
    const std::size_t padded = waypoint::ComputePaddedSize(source.size());
    const BlockTransferResult result =
        readOut ? engine.ReadTrackLogBlocks(store, run.Callbacks())
                : engine.DownloadFileBlocks(source, static_cast<std::uint32_t>(padded), run.Callbacks());

    EXPECT_EQ(result.status, c.expected) << BlockTransferStatusName(result.status) << ": " << result.text;
    EXPECT_EQ(result.stringId, c.stringId);
    EXPECT_EQ(run.target->Errors(), Strings{});
    EXPECT_EQ(run.target->Resends(), c.resends);
    EXPECT_FALSE(engine.IsRunning());
    EXPECT_EQ(run.sendPmtkFirst.load(), 0);  // the wake-up went out once
    EXPECT_EQ(result.text.empty(), c.expected == St::kDone);
    EXPECT_EQ(run.target->Completed(), c.expected == St::kDone);
    if (c.expected == St::kNoResponse) {
        EXPECT_EQ(result.text, "Get no response from device. Please restart device again.");
    }
    if (c.expected != St::kDone) return;
    EXPECT_TRUE(std::is_sorted(run.bars.begin(), run.bars.end()));
    EXPECT_TRUE(source.empty() ? run.labels.empty() : run.labels.back() == "100%");
    EXPECT_EQ(run.statuses, (Strings{readOut ? "Uploading..." : "Downloading...", "Waiting for Finishing..."}));
    if (readOut) {
        EXPECT_EQ(stored, source);
        return;
    }
    EXPECT_EQ(run.target->AnnouncedSize(), padded);
    EXPECT_EQ(run.target->HeaderTag(), "$WRT");
    EXPECT_EQ(run.target->Received(), Padded(source, padded));
    std::size_t at = 0;  // no packet reaches from the file into the padding
    for (const std::string& packet : run.target->PacketData()) {
        EXPECT_TRUE(at + packet.size() <= source.size() || at >= source.size()) << "packet at " << at;
        at += packet.size();
    }
    // Only COM1 was ever tried: an answer in the last attempt counts.
    EXPECT_TRUE(std::ranges::all_of(run.line.tried, [](const auto& n) { return n == "COM1"; }));
}

INSTANTIATE_TEST_SUITE_P(Table, BlockTransferRun, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(BlockTransferWire, CrLfTextGoesOutOneLinePerPacketEachAfterTheFirstOpeningWithTheLf) {
    const Bytes file = SourceBytes(Source::kCrLfFile);
    BlockRun run;
    ASSERT_TRUE(run.Download().DownloadFileBlocks(file, 512).ok());
    const auto packets = run.target->PacketData();
    ASSERT_EQ(packets.size(), 11u);  // 9 lines (one blank), the LF of the last, the padding
    EXPECT_EQ(packets[0], "Waypoint File Version 1.1\r");
    EXPECT_EQ(packets[1], "\nWGS 84\r");
    EXPECT_EQ(packets[6], "\n\r");  // the blank line
    EXPECT_EQ(packets[9], "\n");
    EXPECT_EQ(packets[10], std::string(512 - file.size(), '\xFF'));
    // On the wire: wake-up, handshake, header, packets ending CR CR LF, end.
    const std::string wire = run.line.AllWritten();
    EXPECT_EQ(wire.rfind("$PMTK182*21\r\n$BEG\r\n$WRT", 0), 0u);
    EXPECT_NE(wire.find("\x01\x3eWaypoint File Version 1.1\r\r\n"), std::string::npos) << "sum of the first line";
    EXPECT_EQ(wire.substr(wire.size() - 6), "$END\r\n");
    EXPECT_EQ(run.target->Elements().front(), "wake-up");
}

TEST(BlockTransferSearch, ClosesEachPortBeforeItMovesOnAndFindsTheDeviceOnCom3) {
    BlockRun run;
    run.line.ports = {{"COM2", nullptr}, {"COM3", run.target}};  // COM1 does not open, COM2 stays silent
    const Bytes file = SourceBytes(Source::k513);
    ASSERT_TRUE(run.Download().DownloadFileBlocks(file, 1024).ok());
    EXPECT_EQ(run.target->Received(), Padded(file, 1024));
    std::string open;
    int com2Writes = 0;
    for (const std::string& e : run.line.Events()) {
        if (e.rfind("open ", 0) == 0) {
            EXPECT_TRUE(open.empty()) << e << " while " << open << " is open";
            open = e.substr(5);
        }
        if (e == "close") open.clear();
        com2Writes += open == "COM2" && e.rfind("write ", 0) == 0;
    }
    EXPECT_EQ(run.line.OpenedNames(), (Strings{"COM2", "COM3"}));
    EXPECT_EQ(com2Writes, 1 + blocks::kDownloadAttemptsPerPort);  // the wake-up, one handshake per attempt
}

TEST(BlockTransferSearch, NoPortThatOpensASecondStartThatDoesNothingAndAStop) {
    BlockRun run;
    run.line.ports.clear();
    const auto r = run.Download().DownloadFileBlocks(SourceBytes(Source::k512), 512);
    EXPECT_EQ(r.status, St::kNoPort);
    EXPECT_EQ(r.stringId, 104);
    EXPECT_EQ(run.link.linkPortName.get(), "COM1");
    EXPECT_TRUE(run.line.Writes().empty());

    // A start while a transfer runs (here: from inside its progress report)
    // returns at once and sends nothing.
    BlockRun second;
    BlockTransfer busy = second.Download();
    const Bytes file = SourceBytes(Source::kCrLfFile);
    std::vector<St> nested;
    BlockTransferCallbacks cb;
    cb.progress = [&](int, const std::string&) {
        if (!nested.empty()) return;
        const std::size_t writtenBefore = second.line.Writes().size();
        nested.push_back(busy.DownloadFileBlocks(file, 512).status);
        nested.push_back(waypoint::DownloadWaypointFile(busy, "/nonexistent.mpt", {}).status);
        EXPECT_EQ(second.line.Writes().size(), writtenBefore);
    };
    ASSERT_TRUE(busy.DownloadFileBlocks(file, 512, cb).ok());
    EXPECT_EQ(nested, (std::vector<St>{St::kBusy, St::kBusy}));
    EXPECT_EQ(second.target->Received(), Padded(file, 512));

    // A stop asked for while the transfer runs ends it at the next wait.
    BlockRun third;
    BlockTransfer stopped = third.Download();
    cb.progress = [&](int, const std::string&) { stopped.RequestStop(); };
    EXPECT_EQ(stopped.DownloadFileBlocks(file, 512, cb).status, St::kStopped);
    EXPECT_EQ(third.target->PacketData().size(), 1u);
}

TEST(BlockTransferSearch, TheWakeUpReplyWaitEndsAtItsDeadlineOrAStopWhileSentencesKeepComing) {
    const std::string nmea = sim::Frame("GPGGA,120000.000,3530.0000,N,13915.0000,E,1,08,1.0,100.0,M,0.0,M,,");
    for (const bool stop : {false, true}) {
        BlockRun run;
        BlockTransfer engine(run.link, BlockTransfer::ReadOut(), &run.sendPmtkFirst);
        std::size_t given = 0;
        run.line.SetReadSource([&](std::uint32_t) {  // a byte a millisecond
            run.clock.Advance(1);
            if (stop && given == 500) engine.RequestStop();
            return given < 200000 ? std::string(1, nmea[given++ % nmea.size()]) : std::string();
        });
        const BlockTransferResult r = engine.ReadTrackLogBlocks({});
        EXPECT_LE(given, stop ? 502u : 1500u) << "bytes taken, stop " << stop;
        EXPECT_TRUE(!stop || r.status == St::kStopped) << BlockTransferStatusName(r.status);
    }
}

TEST(WaypointDownload, PaddingDateTextAndTheWorkerJob) {
    for (auto [size, padded] : {std::pair<std::size_t, std::size_t>{0, 0}, {1, 512}, {512, 512}, {513, 1024},
                                {1000, 1024}, {1024, 1024}}) {
        EXPECT_EQ(waypoint::ComputePaddedSize(size), padded) << size;
    }
    // 7 March 2008, 14:15 local time at UTC+8 is 06:15 UTC.
    SetChosenZoneOffset(8 * 3600);
    const std::int64_t instant = 1204870500;  // 2008-03-07 06:15:00Z
    EXPECT_EQ(waypoint::FormatFileDate(instant), "2008/03/07 02:15 PM");
    EXPECT_EQ(waypoint::FormatFileDate(instant - 14 * 3600), "2008/03/07 12:15 AM");
    EXPECT_EQ(waypoint::FormatFileDate(instant - 2 * 3600), "2008/03/07 12:15 PM");

    const Bytes file = SourceBytes(Source::k513);
    const std::string folder = ::testing::TempDir() + "pellora-blocks-" + std::to_string(::getpid());
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/route.mpt";
    WriteBytes(path, file);
    const struct timespec times[2] = {{instant, 0}, {instant, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    const auto info = waypoint::ReadWaypointFileInfo(path);
    ClearChosenZone();
    EXPECT_TRUE(info.found);
    EXPECT_EQ(info.name + "|" + info.date + "|" + info.version, "route.mpt|2008/03/07 02:15 PM|Default File Version");
    EXPECT_EQ(info.totalSize, 1024u);

    // The worker's job: texts in order, the file padded to 1,024 bytes.
    BlockRun run;
    BlockTransfer engine = run.Download();
    ASSERT_TRUE(waypoint::DownloadWaypointFile(engine, path, run.Callbacks()).ok());
    EXPECT_EQ(run.statuses, (Strings{"Waiting for Starting...", "Downloading...", "Waiting for Finishing...",
                                     "Download Successfully. Please power off and then power on device."}));
    EXPECT_EQ(run.target->Received(), Padded(file, 1024));

    // A file that cannot be opened: reported, the port never touched, no
    // claim of success.
    BlockRun none;
    BlockTransfer idle = none.Download();
    const auto r = waypoint::DownloadWaypointFile(idle, folder + "/missing.mpt", none.Callbacks());
    EXPECT_EQ(r.status, St::kCannotOpenFile);
    EXPECT_TRUE(none.line.tried.empty());
    EXPECT_EQ(none.statuses, (Strings{"Waiting for Starting...", r.text}));
    EXPECT_FALSE(waypoint::ReadWaypointFileInfo(folder + "/missing.mpt").found);
    ::mkfifo((folder + "/pipe.mpt").c_str(), 0600);  // refused, never waited on
    EXPECT_EQ(waypoint::DownloadWaypointFile(idle, folder + "/pipe.mpt", none.Callbacks()).status, St::kCannotOpenFile);
    std::filesystem::remove_all(folder);
}

}  // namespace
