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
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "device/SerialLink.h"
#include "platform/Clock.h"
#include "platform/SerialBackend.h"
#include "sim/BlockTarget.h"
#include "support/ProcessZone.h"
#include "tracklog/BlockTransfer.h"
#include "tracklog/WaypointDownload.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Ports by name: a port that opens may have the simulated logger behind it
// (its writes go to the target, its answers come back on reads) or be
// silent (null). Names that are not listed do not open. One thread only.
struct BlockLine final : platform::SerialBackend {
    std::unique_ptr<platform::SerialChannel> Open(const std::string& name) override;
    std::map<std::string, std::shared_ptr<sim::BlockTarget>> ports;
    std::vector<std::string> events;  // "open COM1", "write COM1", "close COM1", "fail COM2"
    std::string written;
};

struct BlockChannel final : platform::SerialChannel {
    BlockChannel(BlockLine& l, std::string n, std::shared_ptr<sim::BlockTarget> t)
        : line(l), name(std::move(n)), target(std::move(t)) {}
    ~BlockChannel() override { Close(); }
    bool Configure(int) override { return !closed; }
    bool SetQueues(std::uint32_t, std::uint32_t) override { return !closed; }
    bool Read(void* buffer, std::uint32_t count, std::uint32_t* got) override {
        *got = closed ? 0 : static_cast<std::uint32_t>(input.copy(static_cast<char*>(buffer), count));
        input.erase(0, *got);
        return !closed;
    }
    bool Write(const void* buffer, std::uint32_t count, std::uint32_t* done) override {
        *done = closed ? 0 : count;
        const std::string bytes(static_cast<const char*>(buffer), *done);
        line.events.push_back("write " + name);
        line.written += bytes;
        if (target) input += target->Feed(bytes);
        return !closed;
    }
    bool Purge() override { input.clear(); return !closed; }
    bool Close() override {
        if (closed) return false;
        closed = true;
        line.events.push_back("close " + name);
        return true;
    }
    BlockLine& line;
    std::string name;
    std::shared_ptr<sim::BlockTarget> target;
    std::string input;
    bool closed = false;
};

std::unique_ptr<platform::SerialChannel> BlockLine::Open(const std::string& name) {
    const auto it = ports.find(name);
    events.push_back((it == ports.end() ? "fail " : "open ") + name);
    return it == ports.end() ? nullptr : std::make_unique<BlockChannel>(*this, name, it->second);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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
class BlockRun {
public:
    BlockRun() : BlockRun(sim::BlockTargetOptions{}) {}
    explicit BlockRun(sim::BlockTargetOptions options)
        : target(std::make_shared<sim::BlockTarget>(std::move(options))) {
        line.ports["COM1"] = target;
        link.SetPortLister([](std::vector<ComPortInfo>& out, bool) { out.clear(); });
    }
    BlockTransferCallbacks Callbacks() {
        return {[this](const std::string& t) { statuses.push_back(t); },
                [this](int p, const std::string& label) {
                    bars.push_back(p);
                    labels.push_back(label);
                }};
    }

    platform::FakeClock clock;
    platform::ScopedClock scopedClock{clock};
    BlockLine line;
    platform::ScopedSerialBackend scopedBackend{line};
    std::shared_ptr<sim::BlockTarget> target;
    SerialLink link;
    std::atomic<int> sendPmtkFirst{1};
    std::vector<std::string> statuses, labels;
    std::vector<int> bars;
};

enum class Source { kEmpty, kCrLfFile, kLongLineFile, kBlankLines, k512, k513, kThreeBlocks };

Bytes SourceBytes(Source s) {
    const std::string dir = std::string(PELLORA_TEST_DATA_DIR) + "/blocks/";
    switch (s) {
        case Source::kEmpty: return {};
        case Source::kCrLfFile: return ReadFile(dir + "waypoints_crlf.mpt");
        case Source::kLongLineFile: return ReadFile(dir + "long_line.mpt");
        case Source::kBlankLines: {
            std::string t;
            for (int k = 0; k < 300; ++k) t += "\r\n";
            return Bytes(t.begin(), t.end());
        }
        case Source::k512: return Random(512, 5);
        case Source::k513: return Random(513, 6);
        case Source::kThreeBlocks: return Random(3 * 512, 7);
    }
    return {};
}

struct Case {
    const char* name;
    BlockTransfer::Use use;
    Source source;
    sim::BlockTargetOptions device;
    BlockTransferStatus expected;
    int stringId = 0;
    int resends = 0;  // packets or blocks the device took again
};

using Use = BlockTransfer::Use;
using St = BlockTransferStatus;
using Stage = sim::BlockStage;

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
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class BlockTransferRun : public ::testing::TestWithParam<Case> {};

TEST_P(BlockTransferRun, AgainstTheSimulatedLogger) {
    const Case& c = GetParam();
    const Bytes source = SourceBytes(c.source);
    sim::BlockTargetOptions options = c.device;
    if (c.use == Use::kReadOut) options.logData = source;
    BlockRun run(options);
    BlockTransfer engine(run.link,
                         c.use == Use::kReadOut ? BlockTransfer::ReadOut() : BlockTransfer::WaypointDownload(),
                         &run.sendPmtkFirst);

    Bytes stored;
    BlockTransferResult result;
    if (c.use == Use::kReadOut) {
        result = engine.ReadTrackLogBlocks(
            [&](std::uint32_t offset, std::span<const std::uint8_t> data) {
                EXPECT_EQ(offset, stored.size());
                stored.insert(stored.end(), data.begin(), data.end());
                return true;
            },
            run.Callbacks());
    } else {
        result = engine.DownloadFileBlocks(source, static_cast<std::uint32_t>(waypoint::ComputePaddedSize(source.size())),
                                           run.Callbacks());
    }

    EXPECT_EQ(result.status, c.expected) << BlockTransferStatusName(result.status) << ": " << result.text;
    EXPECT_EQ(result.stringId, c.stringId);
    EXPECT_EQ(run.target->Errors(), std::vector<std::string>{});
    EXPECT_EQ(run.target->Resends(), c.resends);
    EXPECT_FALSE(engine.IsRunning());
    EXPECT_EQ(run.sendPmtkFirst.load(), 0);  // the wake-up went out once

    if (c.expected != St::kDone) {
        EXPECT_FALSE(result.text.empty());
        EXPECT_FALSE(run.target->Completed());
        if (c.expected == St::kNoResponse) {
            EXPECT_EQ(result.text, "Get no response from device. Please restart device again.");
        }
        return;
    }
    EXPECT_TRUE(result.text.empty());
    EXPECT_TRUE(run.target->Completed());
    EXPECT_TRUE(std::is_sorted(run.bars.begin(), run.bars.end()));
    EXPECT_TRUE(source.empty() ? run.labels.empty() : run.labels.back() == "100%");
    if (c.use == Use::kReadOut) {
        EXPECT_EQ(stored, source);
        EXPECT_EQ(run.statuses, (std::vector<std::string>{"Uploading...", "Waiting for Finishing..."}));
        return;
    }
    const std::size_t padded = waypoint::ComputePaddedSize(source.size());
    EXPECT_EQ(run.target->AnnouncedSize(), padded);
    EXPECT_EQ(run.target->HeaderTag(), "$WRT");
    EXPECT_EQ(run.target->Received(), Padded(source, padded));
    EXPECT_EQ(run.statuses, (std::vector<std::string>{"Downloading...", "Waiting for Finishing..."}));
    // No packet reaches from the file into the padding.
    std::size_t at = 0;
    for (const std::string& packet : run.target->PacketData()) {
        EXPECT_TRUE(at + packet.size() <= source.size() || at >= source.size()) << "packet at " << at;
        at += packet.size();
    }
    // Only COM1 was ever opened: an answer in the last attempt counts.
    for (const std::string& e : run.line.events) {
        EXPECT_EQ(e.find("COM2"), std::string::npos) << e;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, BlockTransferRun, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(BlockTransferWire, CrLfTextGoesOutOneLinePerPacketEachAfterTheFirstOpeningWithTheLf) {
    const Bytes file = SourceBytes(Source::kCrLfFile);
    BlockRun run;
    BlockTransfer engine(run.link, BlockTransfer::WaypointDownload(), &run.sendPmtkFirst);
    ASSERT_TRUE(engine.DownloadFileBlocks(file, 512).ok());
    const auto packets = run.target->PacketData();
    const std::string text(file.begin(), file.end());
    ASSERT_EQ(packets.size(), 11u);  // 9 lines (one blank), the LF of the last, the padding
    EXPECT_EQ(packets[0], "Waypoint File Version 1.1\r");
    EXPECT_EQ(packets[1], "\nWGS 84\r");
    EXPECT_EQ(packets[6], "\n\r");  // the blank line
    EXPECT_EQ(packets[9], "\n");
    EXPECT_EQ(packets[10], std::string(512 - file.size(), '\xFF'));
    // On the wire: wake-up, handshake, header, packets ending CR CR LF, end.
    const std::string wire = run.line.written;
    EXPECT_EQ(wire.rfind("$PMTK182*21\r\n$BEG\r\n$WRT", 0), 0u);
    EXPECT_NE(wire.find(std::string("\x01") + "\x3e" + "Waypoint File Version 1.1\r\r\n"), std::string::npos)
        << "sum of the first line";
    EXPECT_EQ(wire.substr(wire.size() - 6), "$END\r\n");
    EXPECT_EQ(run.target->Elements().front(), "wake-up");
}

TEST(BlockTransferSearch, ClosesEachPortBeforeItMovesOnAndFindsTheDeviceOnCom3) {
    BlockRun run;
    run.line.ports.erase("COM1");  // COM1 does not open, COM2 stays silent
    run.line.ports["COM2"] = nullptr;
    run.line.ports["COM3"] = run.target;
    BlockTransfer engine(run.link, BlockTransfer::WaypointDownload(), &run.sendPmtkFirst);
    const Bytes file = SourceBytes(Source::k513);
    ASSERT_TRUE(engine.DownloadFileBlocks(file, 1024).ok());
    EXPECT_EQ(run.target->Received(), Padded(file, 1024));
    const auto events = run.line.events;
    std::vector<std::string> opens;
    std::string open;
    for (const std::string& e : events) {
        if (e.rfind("open ", 0) == 0) {
            EXPECT_TRUE(open.empty()) << e << " while " << open << " is open";
            open = e.substr(5);
            opens.push_back(open);
        } else if (e.rfind("close ", 0) == 0) {
            open.clear();
        }
    }
    EXPECT_EQ(opens, (std::vector<std::string>{"COM2", "COM3"}));
    // The wake-up, then one handshake per attempt.
    EXPECT_EQ(std::count(events.begin(), events.end(), "write COM2"), 1 + blocks::kDownloadAttemptsPerPort);
}

TEST(BlockTransferSearch, NoPortThatOpensAndASecondStartThatDoesNothing) {
    BlockRun run;
    run.line.ports.clear();
    BlockTransfer engine(run.link, BlockTransfer::WaypointDownload(), &run.sendPmtkFirst);
    const auto r = engine.DownloadFileBlocks(SourceBytes(Source::k512), 512);
    EXPECT_EQ(r.status, St::kNoPort);
    EXPECT_EQ(r.stringId, 104);
    EXPECT_EQ(run.link.linkPortName.get(), "COM1");
    EXPECT_TRUE(run.line.written.empty());

    // A start while a transfer runs (here: from inside its progress report)
    // returns at once and sends nothing.
    BlockRun second;
    BlockTransfer busy(second.link, BlockTransfer::WaypointDownload(), &second.sendPmtkFirst);
    const Bytes file = SourceBytes(Source::kCrLfFile);
    std::vector<BlockTransferStatus> nested;
    std::size_t writtenBefore = 0;
    BlockTransferCallbacks cb;
    cb.progress = [&](int, const std::string&) {
        if (!nested.empty()) return;
        writtenBefore = second.line.written.size();
        nested.push_back(busy.DownloadFileBlocks(file, 512).status);
        nested.push_back(waypoint::DownloadWaypointFile(busy, "/nonexistent.mpt", {}).status);
        EXPECT_EQ(second.line.written.size(), writtenBefore);
    };
    ASSERT_TRUE(busy.DownloadFileBlocks(file, 512, cb).ok());
    EXPECT_EQ(nested, (std::vector<BlockTransferStatus>{St::kBusy, St::kBusy}));
    EXPECT_EQ(second.target->Received(), Padded(file, 512));

    // A stop asked for while the transfer runs ends it at the next wait.
    BlockRun third;
    BlockTransfer stopped(third.link, BlockTransfer::WaypointDownload(), &third.sendPmtkFirst);
    cb.progress = [&](int, const std::string&) { stopped.RequestStop(); };
    EXPECT_EQ(stopped.DownloadFileBlocks(file, 512, cb).status, St::kStopped);
    EXPECT_EQ(third.target->PacketData().size(), 1u);
}

TEST(WaypointDownload, PaddingDateTextAndTheWorkerJob) {
    EXPECT_EQ(waypoint::ComputePaddedSize(0), 0u);
    EXPECT_EQ(waypoint::ComputePaddedSize(1), 512u);
    EXPECT_EQ(waypoint::ComputePaddedSize(512), 512u);
    EXPECT_EQ(waypoint::ComputePaddedSize(513), 1024u);
    EXPECT_EQ(waypoint::ComputePaddedSize(1000), 1024u);
    EXPECT_EQ(waypoint::ComputePaddedSize(1024), 1024u);

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
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), 513);
    const struct timespec times[2] = {{instant, 0}, {instant, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    const auto info = waypoint::ReadWaypointFileInfo(path);
    ClearChosenZone();
    EXPECT_TRUE(info.found);
    EXPECT_EQ(info.name, "route.mpt");
    EXPECT_EQ(info.date, "2008/03/07 02:15 PM");
    EXPECT_EQ(info.version, "Default File Version");
    EXPECT_EQ(info.totalSize, 1024u);

    // The worker's job: texts in order, the file padded to 1,024 bytes.
    BlockRun run;
    BlockTransfer engine(run.link, BlockTransfer::WaypointDownload(), &run.sendPmtkFirst);
    ASSERT_TRUE(waypoint::DownloadWaypointFile(engine, path, run.Callbacks()).ok());
    EXPECT_EQ(run.statuses, (std::vector<std::string>{"Waiting for Starting...", "Downloading...",
                                                      "Waiting for Finishing...",
                                                      "Download Successfully. Please power off and then power on device."}));
    EXPECT_EQ(run.target->Received(), Padded(file, 1024));

    // A file that cannot be opened: reported, the port never touched, no
    // claim of success.
    BlockRun none;
    BlockTransfer idle(none.link, BlockTransfer::WaypointDownload(), &none.sendPmtkFirst);
    const auto r = waypoint::DownloadWaypointFile(idle, folder + "/missing.mpt", none.Callbacks());
    EXPECT_EQ(r.status, St::kCannotOpenFile);
    EXPECT_TRUE(none.line.events.empty());
    EXPECT_EQ(none.statuses, (std::vector<std::string>{"Waiting for Starting...", r.text}));
    EXPECT_FALSE(waypoint::ReadWaypointFileInfo(folder + "/missing.mpt").found);
    std::filesystem::remove_all(folder);
}

}  // namespace
