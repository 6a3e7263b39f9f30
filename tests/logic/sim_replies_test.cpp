// What the simulated devices answer, sentence by sentence, without a line:
// the model presets, the identification replies, the maker's commands and the
// logger's PMTK commands. Inputs are built by the program's own sentence
// builders, so the device is known to understand exactly what the program
// sends; expected replies carry checksums worked out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/CommandEngine.h"
#include "device/Sentence.h"
#include "sim/Behaviours.h"
#include "sim/Framing.h"

namespace {

// The device's answer to the bytes of one sentence, as it goes on the line.
struct Answered {
    std::string bytes;
    std::vector<int> delays;  // per reply
    std::size_t count = 0;
};

Answered Ask(sim::DeviceState& device, const std::string& sent) {
    sim::SentenceAssembler assembler;
    const auto items = assembler.Feed(sent);
    EXPECT_EQ(items.size(), 1u) << sent;
    Answered out;
    if (items.size() != 1 || items[0].kind != sim::SentenceAssembler::Item::Kind::kSentence) {
        ADD_FAILURE() << "not a good sentence: " << sent;
        return out;
    }
    for (const sim::Reply& reply : device.Answer(items[0].sentence)) {
        out.bytes += reply.framed ? sim::Frame(reply.data) : reply.data;
        out.delays.push_back(reply.delayMs);
        ++out.count;
    }
    return out;
}

std::string Qvr(int code) { return sentence::FrameSentence(sentence::QvrQueryBody(code)); }

}  // namespace

// ---------------------------------------------------------------------------
// Presets

TEST(SimPresets, NamesAliasesAndUnknownNames) {
    struct Case {
        const char* name;
        const char* preset;
        const char* reported;
        bool qvr, orvik, logger;
    } cases[] = {
        {"ZEP ION", "ZEP ION", "TK517", true, false, false},
        {"zep-ion", "ZEP ION", "TK517", true, false, false},
        {"TK517", "ZEP ION", "TK517", true, false, false},
        {"RVN-3", "RVN-3", "TK515", true, false, false},
        {"L-4400C", "L-4400C", "L4400C", true, false, false},
        {"L4400C", "L-4400C", "L4400C", true, false, false},
        {"L4500", "L4500", "L4500", true, false, false},
        {"L-731", "L-731", "TK511", false, true, true},
        {"l731", "L-731", "TK511", false, true, true},
        {"TK511", "TK511", "TK511", true, true, true},
        {"unknown", "unknown", "TK599", true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto p = sim::FindPreset(c.name);
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(p->preset, c.preset);
        EXPECT_EQ(p->modelName, c.reported);
        EXPECT_EQ(p->answersQvr, c.qvr);
        EXPECT_EQ(p->answersOrvik, c.orvik);
        EXPECT_EQ(p->logger, c.logger);
        EXPECT_TRUE(p->acksDisconnect);
        EXPECT_TRUE(sim::ValidateProfile(*p, nullptr));
    }

    const auto silent = sim::ProfileForModel("silent");
    EXPECT_FALSE(silent.answersQvr || silent.answersOrvik || silent.logger || silent.acksDisconnect);
    const auto none = sim::ProfileForModel("");
    EXPECT_FALSE(none.answersQvr || none.answersOrvik || none.logger || none.acksDisconnect);

    // Any other name is reported as it is: a model the program does not know.
    EXPECT_FALSE(sim::FindPreset("XJ-900").has_value());
    const auto other = sim::ProfileForModel("XJ-900");
    EXPECT_EQ(other.modelName, "XJ-900");
    EXPECT_TRUE(other.answersQvr);
    EXPECT_FALSE(other.answersOrvik || other.logger);

    EXPECT_EQ(sim::Presets().size(), 8u);
}

TEST(SimPresets, ValuesThatWouldBreakASentenceAreRefused) {
    auto p = sim::ProfileForModel("ZEP ION");
    std::string why;
    auto refused = [&](auto change) {
        auto q = p;
        change(q);
        return !sim::ValidateProfile(q, &why) && !why.empty();
    };
    EXPECT_TRUE(refused([](auto& q) { q.firmware = "30"; }));
    EXPECT_TRUE(refused([](auto& q) { q.firmware = "3.5"; }));
    EXPECT_TRUE(refused([](auto& q) { q.hardware = ""; }));
    EXPECT_TRUE(refused([](auto& q) { q.hardware = "0*"; }));
    EXPECT_TRUE(refused([](auto& q) { q.hardware = "0123"; }));
    EXPECT_TRUE(refused([](auto& q) { q.modelName = "TK5,17"; }));
    EXPECT_TRUE(refused([](auto& q) { q.modelName = "TK$517"; }));
    EXPECT_TRUE(refused([](auto& q) { q.modelName = "TK517\r\n"; }));
    EXPECT_TRUE(refused([](auto& q) { q.recordMode = 3; }));
    EXPECT_TRUE(refused([](auto& q) { q.logEndAddress = 0x200001; }));
    EXPECT_TRUE(refused([](auto& q) { q.eraseDelayMs = -1; }));
    EXPECT_TRUE(sim::ValidateProfile(p, nullptr));
    EXPECT_FALSE(sim::IsFieldText(std::string(33, 'A')));
    EXPECT_TRUE(sim::IsFieldText(std::string(32, 'A')));
}

// ---------------------------------------------------------------------------
// Identification

TEST(SimReplies, QueryModelsReportNameFirmwareAndHardware) {
    struct Case {
        const char* model;
        const char* name, *firmware, *hardware;
    } cases[] = {
        {"ZEP ION", "$PQVR852,TK517*3A\r\n", "$PQVR861,305*20\r\n", "$PQVR865,04*16\r\n"},
        {"RVN-3", "$PQVR852,TK515*38\r\n", "$PQVR861,210*25\r\n", "$PQVR865,02*10\r\n"},
        {"L-4400C", "$PQVR852,L4400C*19\r\n", "$PQVR861,120*25\r\n", "$PQVR865,03*11\r\n"},
        {"L4500", "$PQVR852,L4500*5B\r\n", "$PQVR861,130*24\r\n", "$PQVR865,03*11\r\n"},
        {"unknown", "$PQVR852,TK599*3C\r\n", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        sim::DeviceState device(sim::ProfileForModel(c.model));
        EXPECT_EQ(Ask(device, Qvr(810)).bytes, c.name);
        if (c.firmware) {
            EXPECT_EQ(Ask(device, Qvr(861)).bytes, c.firmware);
            EXPECT_EQ(Ask(device, Qvr(865)).bytes, c.hardware);
        }
        // They do not take the maker's older commands, but end the exchange.
        EXPECT_EQ(Ask(device, sentence::BuildOrvikSentence(1)).count, 0u);
        EXPECT_EQ(Ask(device, sentence::BuildOrvikSentence(3)).count, 0u);
        EXPECT_EQ(Ask(device, sentence::BuildOrvikSentence(2)).bytes, "$ORVIK001,2*66\r\n");
        // Nor the logger's, and the self-check trigger gets no answer.
        EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(400, 0, 0)).count, 0u);
        EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(2, 8, 0)).count, 0u);
        EXPECT_EQ(Ask(device, Qvr(837)).count, 0u);
    }
}

TEST(SimReplies, TrackLoggerAnswersTheMakersCommandsOnly) {
    sim::DeviceState device(sim::ProfileForModel("L-731"));
    EXPECT_EQ(Ask(device, Qvr(810)).count, 0u);  // so the program falls back
    EXPECT_EQ(Ask(device, Qvr(861)).count, 0u);
    EXPECT_EQ(Ask(device, Qvr(865)).count, 0u);
    EXPECT_EQ(Ask(device, sentence::BuildOrvikSentence(1)).bytes, "$ORVIK001,1,TK511*63\r\n");
    EXPECT_EQ(Ask(device, sentence::BuildOrvikSentence(2)).bytes, "$ORVIK001,2*66\r\n");
    EXPECT_EQ(Ask(device, sentence::BuildOrvikSentence(4)).bytes, "$ORVIK001,4*60\r\n");
    EXPECT_EQ(Ask(device, sentence::BuildOrvikSentence(6)).bytes, "$ORVIK001,6*62\r\n");
    EXPECT_EQ(Ask(device, sentence::BuildOrvikSentence(9)).bytes, "$ORVIK001,9*6D\r\n");
    EXPECT_EQ(Ask(device, sentence::BuildOrvikSentence(5)).count, 0u);
    EXPECT_EQ(Ask(device, sentence::BuildOrvikSentence(12)).count, 0u);
    EXPECT_EQ(Ask(device, sim::Frame("ORVIK731,x")).count, 0u);
    EXPECT_EQ(Ask(device, sim::Frame("ORVIK731")).count, 0u);
    EXPECT_EQ(device.WriteNameCount(), 1);
    EXPECT_EQ(device.OrvikCodes(), (std::vector<int>{1, 2, 4, 6, 9, 5, 12}));

    // An acknowledgement the device does not give can be switched off.
    device.Update([](sim::DeviceProfile& p) { p.acksDisconnect = false; });
    EXPECT_EQ(Ask(device, sentence::BuildOrvikSentence(2)).count, 0u);
    // And a family switched on while the device runs answers at once.
    device.Update([](sim::DeviceProfile& p) { p.answersQvr = true; });
    EXPECT_EQ(Ask(device, Qvr(810)).bytes, sim::Frame("PQVR852,TK511"));
}

// ---------------------------------------------------------------------------
// Logger commands

TEST(SimReplies, LoggerQueriesAndSettings) {
    sim::DeviceState device(sim::ProfileForModel("L-731"));
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(400, 0, 0)).bytes, "$PMTK001,400,3*34\r\n");
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(2, 8, 0)).bytes, "$PMTK182,3,8,0001A000*6E\r\n");
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(2, 3, 0)).bytes, "$PMTK182,3,3,50*10\r\n");
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(2, 4, 0)).bytes, "$PMTK182,3,4,1000*13\r\n");
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(2, 6, 0)).bytes, "$PMTK182,3,6,1*21\r\n");
    // The program reads the end address back in hexadecimal.
    const std::string address = Ask(device, sentence::BuildPmtk182Sentence(2, 8, 0)).bytes;
    EXPECT_EQ(sentence::ParsePmtk182Value(address.c_str(), address.size(), true), 0x1A000u);

    // Settings take effect and are acknowledged.
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(1, 3, 1200)).bytes, "$PMTK001,182,1,3*26\r\n");
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(1, 4, 10000)).bytes, "$PMTK001,182,1,3*26\r\n");
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(1, 6, 2)).bytes, "$PMTK001,182,1,3*26\r\n");
    const auto p = device.Profile();
    EXPECT_EQ(p.logIntervalTenths, 1200);
    EXPECT_EQ(p.logDistanceTenths, 10000);
    EXPECT_EQ(p.recordMode, 2);
    const std::string distance = Ask(device, sentence::BuildPmtk182Sentence(2, 4, 0)).bytes;
    EXPECT_EQ(distance, sim::Frame("PMTK182,3,4,10000"));
    EXPECT_EQ(sentence::ParsePmtk182Value(distance.c_str(), distance.size(), false), 10000u);

    // Values the logger cannot take, items it does not have, broken fields.
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(1, 6, 3)).bytes, "$PMTK001,182,1,2*27\r\n");
    EXPECT_EQ(device.Profile().recordMode, 2);
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(2, 10, 0)).bytes, "$PMTK001,182,2,1*27\r\n");
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(9, 0, 0)).bytes, "$PMTK001,182,9,1*2C\r\n");
    EXPECT_EQ(Ask(device, sim::Frame("PMTK182,1,3,5x")).bytes, sim::Frame("PMTK001,182,1,0"));
    // A query of no item is answered as a query; recording goes on and off.
    EXPECT_EQ(Ask(device, sim::Frame("PMTK182,2")).bytes, sim::Frame("PMTK182,3"));
    EXPECT_EQ(Ask(device, sim::Frame("PMTK182,11")).bytes, sim::Frame("PMTK001,182,11,3"));
    EXPECT_FALSE(device.Profile().recording);
    EXPECT_EQ(Ask(device, sim::Frame("PMTK182,10")).bytes, sim::Frame("PMTK001,182,10,3"));
    EXPECT_TRUE(device.Profile().recording);
    EXPECT_EQ(Ask(device, sim::Frame("PMTK182,x")).bytes, "$PMTK001,182,0*38\r\n");
    EXPECT_EQ(Ask(device, sim::Frame("PMTK182")).count, 0u);  // the bare wake-up
    EXPECT_EQ(device.Profile().logIntervalTenths, 1200);
}

TEST(SimReplies, EraseWaitsItsTimeAndEmptiesTheLog) {
    auto profile = sim::ProfileForModel("L-731");
    profile.eraseDelayMs = 750;
    sim::DeviceState device(profile);
    device.WriteMemory(0x100, {1, 2, 3});
    const std::string erase = sentence::BuildPmtk182Sentence(6, 1, 0);
    ASSERT_EQ(erase, "$PMTK182,6,1*3E\r\n");
    const Answered a = Ask(device, erase);
    EXPECT_EQ(a.bytes, "$PMTK001,182,6,3*21\r\n");
    EXPECT_EQ(a.delays, std::vector<int>{750});
    EXPECT_EQ(device.EraseCount(), 1);
    EXPECT_EQ(device.ReadMemory(0x100, 3), (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(2, 8, 0)).bytes, sim::Frame("PMTK182,3,8,00000000"));
    // Only the whole log can be erased.
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(6, 2, 0)).bytes, sim::Frame("PMTK001,182,6,1"));
    EXPECT_EQ(device.EraseCount(), 1);
}

TEST(SimReplies, LinkSpeedChange) {
    sim::DeviceState device(sim::ProfileForModel("L-731"));
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(14, 921600, 0)).bytes, "$PMTK001,182,14,3*12\r\n");
    EXPECT_EQ(device.Profile().linkBaud, 921600);
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(14, 38400, 0)).bytes, "$PMTK001,182,14,3*12\r\n");
    EXPECT_EQ(device.Profile().linkBaud, 38400);
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(14, 12345, 0)).bytes, "$PMTK001,182,14,2*13\r\n");
    EXPECT_EQ(device.Profile().linkBaud, 38400);
}

TEST(SimReplies, MemoryReadInDataSentences) {
    sim::DeviceState device(sim::ProfileForModel("L-731"));
    // The last sector's first 16 bytes, as the program asks for them.
    const std::string last = sentence::BuildPmtk182Sentence(7, 0x1F0000, 16);
    ASSERT_EQ(last.substr(0, last.find('*')), "$PMTK182,7,1F0000,10");
    EXPECT_EQ(Ask(device, last).bytes, "$PMTK182,8,001F0000,FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF*5A\r\n");

    device.WriteMemory(0x1F0004, {0x00, 0x12, 0xAB});
    const std::string used = Ask(device, last).bytes;
    EXPECT_EQ(used.substr(0, 52), "$PMTK182,8,001F0000,FFFFFFFF0012ABFFFFFFFFFFFFFFFFFF");
    EXPECT_TRUE(CommandEngine::IsSentenceComplete(used.c_str(), 96));

    // A block read comes as 2048-byte packets, one sentence each.
    const Answered block = Ask(device, sentence::BuildPmtk182Sentence(7, 0x10000, 0x10000));
    EXPECT_EQ(block.count, 32u);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < block.bytes.size();) {
        const std::size_t end = block.bytes.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(block.bytes.substr(at, end + 2 - at));
        at = end + 2;
    }
    ASSERT_EQ(lines.size(), 32u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // "$PMTK182,8," address "," 4096 digits, framed like every sentence.
        const std::string& line = lines[i];
        EXPECT_EQ(line.substr(0, 11), "$PMTK182,8,");
        EXPECT_EQ(sentence::HexToInt(line.substr(11, 8)), 0x10000u + 2048u * i);
        EXPECT_EQ(line.find('*'), 20u + 4096u);
        EXPECT_EQ(sentence::FrameSentence(line.substr(1, line.size() - 6)), line);
    }
    // A short tail packet, and reads the memory cannot serve.
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(7, 0, 0x801)).count, 2u);
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(7, 0, 0)).bytes, "$PMTK001,182,7,2*21\r\n");
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(7, 0x1FFFF0, 0x11)).bytes, "$PMTK001,182,7,2*21\r\n");
    EXPECT_EQ(Ask(device, sentence::BuildPmtk182Sentence(7, 0, 0x10001)).bytes, "$PMTK001,182,7,2*21\r\n");
    EXPECT_EQ(Ask(device, sim::Frame("PMTK182,7,FFFFFFFFF,10")).bytes, sim::Frame("PMTK001,182,7,0"));
}
