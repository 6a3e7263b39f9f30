// Framing, argument rules and reply parsers of the command engine.
// Expected checksums were worked out separately (XOR of the body bytes with an
// independent script), not with the code under test.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "device/CommandEngine.h"
#include "device/Sentence.h"

namespace {

// A heap copy with no byte to spare: any read past its end is reported.
std::unique_ptr<char[]> ExactText(const std::string& text) {
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

// Places a reply in the engine's buffer, as a poll would.
const char* Hold(CommandEngine& engine, const std::string& reply) {
    engine.ClearRxBuffer();
    std::memcpy(engine.receiveBuffer, reply.data(), reply.size());
    return engine.receiveBuffer;
}

}  // namespace

TEST(SentenceFraming, KnownChecksums) {
    const std::pair<const char*, const char*> cases[] = {
        {"PMTK182,2,8", "$PMTK182,2,8*33\r\n"},
        {"PQVR810", "$PQVR810*3C\r\n"},
        {"ORVIK731,2", "$ORVIK731,2*62\r\n"},
        {"PMTK400", "$PMTK400*36\r\n"},
        {"", "$*00\r\n"},
        {"z", "$z*7A\r\n"},  // upper-case digits
        // The classic example sentence of the NMEA 0183 literature.
        {"GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,",
         "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"},
    };
    for (const auto& [body, framed] : cases) {
        EXPECT_EQ(sentence::FrameSentence(body), framed) << body;
    }
    for (int n = 0; n < 16; ++n) {
        EXPECT_EQ(CommandEngine::HexDigit(n), "0123456789ABCDEF"[n]);
    }
}

TEST(Pmtk182Arguments, RadixTable) {
    const int rows[][3] = {
        {1, 1, 2},  {1, 2, 2},  {1, 3, 0},  {3, 2, 2},  {3, 8, 2},  {3, 9, 2},   {3, 10, 2},
        {3, 11, 2}, {3, 3, 0},  {6, 2, 2},  {6, 1, 0},  {7, 0, 3},  {8, 1, 3},   {12, 9, 3},
        {2, 8, 0},  {4, 1, 0},  {5, 2, 0},  {9, 2, 0},  {10, 0, 0}, {11, 0, 0},  {0, 1, 0},
        {13, 1, 0}, {14, 2, 0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(CommandEngine::Pmtk182HexArgs(r[0], r[1]), r[2]) << r[0] << " item " << r[1];
    }
}

TEST(Pmtk182Arguments, ZeroArgumentsLeftOutExceptWhereKept) {
    struct Case {
        int command, arg1, arg2;
        const char* sentence;
    };
    const Case cases[] = {
        {2, 8, 0, "$PMTK182,2,8*33\r\n"},          // no third field
        {7, 0, 0, "$PMTK182,7,0,0*22\r\n"},        // 7 keeps both
        {12, 0, 0, "$PMTK182,12,0,0*16\r\n"},      // and so does 12
        {6, 2, 0, "$PMTK182,6,2,0*21\r\n"},        // erase item 2 keeps arg2
        {6, 1, 0, "$PMTK182,6,1*3E\r\n"},
        {1, 3, 50, "$PMTK182,1,3,50*12\r\n"},      // decimal
        {1, 2, 255, "$PMTK182,1,2,FF*16\r\n"},     // hexadecimal value
        {1, 0, 5, "$PMTK182,1,5*3D\r\n"},          // no placeholder for the zero
        {14, 921600, 0, "$PMTK182,14,921600*30\r\n"},
        {7, 0x1F0000, 16, "$PMTK182,7,1F0000,10*54\r\n"},
        {400, 5, 6, "$PMTK400*36\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sentence::BuildPmtk182Sentence(c.command, c.arg1, c.arg2), c.sentence);
    }
    EXPECT_EQ(sentence::Pmtk182ReplyTag(2), "$PMTK182");
    EXPECT_EQ(sentence::Pmtk182ReplyTag(7), "$PMTK182");
    EXPECT_EQ(sentence::Pmtk182ReplyTag(400), "$PMTK001");
    EXPECT_EQ(sentence::Pmtk182ReplyTag(6), "$PMTK001");
}

TEST(NumberParsing, HexAndDecimal) {
    EXPECT_EQ(sentence::HexToInt("0001A000"), 0x1A000u);
    EXPECT_EQ(sentence::HexToInt("0x1f"), 0x1Fu);
    EXPECT_EQ(sentence::HexToInt("FF*12"), 0xFFu);
    EXPECT_EQ(sentence::HexToInt("123456789"), 0x23456789u);  // the top digit falls off
    EXPECT_EQ(sentence::HexToInt("G1"), 0u);
    EXPECT_EQ(CommandEngine::HexToInt(nullptr), 0u);
    EXPECT_EQ(sentence::DecimalToInt("  42*1C"), 42u);
    EXPECT_EQ(sentence::DecimalToInt("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(sentence::DecimalToInt("abc"), 0u);
}

TEST(SentenceComplete, WorkedExamplesAndTextEnds) {
    EXPECT_TRUE(CommandEngine::IsSentenceComplete("$PMTK001,182,1,3*26\r\n", 256));
    EXPECT_FALSE(CommandEngine::IsSentenceComplete("$PQVR852,TK515*38", 256));
    EXPECT_FALSE(CommandEngine::IsSentenceComplete("$PQVR852,TK515*38\n\r", 256));
    // The "*" must lie within length characters; CR LF may lie beyond.
    EXPECT_FALSE(CommandEngine::IsSentenceComplete("$PMTK001,182,1,3*26\r\n", 16));
    EXPECT_TRUE(CommandEngine::IsSentenceComplete("$PMTK001,182,1,3*26\r\n", 17));
    EXPECT_FALSE(CommandEngine::IsSentenceComplete(nullptr, 256));
    for (const char* text : {"Not Connected", "$A*", "$A*0", "$A*00\r"}) {
        EXPECT_FALSE(CommandEngine::IsSentenceComplete(ExactText(text).get(), 256)) << text;
    }
}

TEST(ReplyFinders, WithinLengthAndInsideTheBuffer) {
    CommandEngine engine;
    const char* at = Hold(engine, "0123456789$PMTK182,3,8,0001A000*6E\r\n");
    EXPECT_EQ(engine.FindPmtk182(at, 11), at + 10);
    EXPECT_EQ(engine.FindPmtk182(at, 10), nullptr);
    EXPECT_EQ(engine.FindOrvik001(at, 80), nullptr);
    EXPECT_EQ(engine.FindPmtk182(nullptr, 80), nullptr);

    const char* qvr = Hold(engine, "$PQVR865,04*16\r\n$PQVR852,TK515*38\r\n");
    EXPECT_EQ(engine.FindQvrSentence(qvr, 0, 80), qvr);
    EXPECT_EQ(engine.FindQvrSentence(qvr, 1, 80), qvr + 16);
    EXPECT_EQ(engine.FindQvrSentence(qvr, 2, 80), nullptr);
    EXPECT_EQ(engine.FindQvrSentence(qvr, 3, 80), qvr);
    EXPECT_EQ(engine.FindQvrSentence(qvr, 5, 80), nullptr);

    // A tag cut off by the end of the buffer is not there.
    engine.ClearRxBuffer();
    char* end = engine.receiveBuffer + CommandEngine::kReceiveBufferSize;
    std::memcpy(end - 5, "$PMTK", 5);
    EXPECT_EQ(engine.FindPmtk182(end - 5, 4096), nullptr);
    std::memcpy(end - 8, "$PMTK182", 8);
    EXPECT_EQ(engine.FindPmtk182(end - 8, 4096), end - 8);
}

TEST(FieldCutters, IdentificationFields) {
    CommandEngine engine;
    EXPECT_STREQ(engine.ExtractOrvik001Field(Hold(engine, "$GPRMC,x*00\r\n$ORVIK001,3,123*7B\r\n"), 12, 3), "123");
    // Hardware: the last of three characters is the "*" of a two-character version.
    EXPECT_STREQ(engine.ExtractOrvik001Field(Hold(engine, "$ORVIK001,7,C1*3D\r\n"), 12, 3), "C1*");
    EXPECT_STREQ(engine.ExtractQvrField(Hold(engine, "$PQVR861,305*20\r\n"), 9, 3), "305");
    EXPECT_STREQ(engine.ExtractQvrField(Hold(engine, "$PQVR865,04*16\r\n"), 9, 3), "04*");
    EXPECT_STREQ(engine.ExtractPmtk182Field2(Hold(engine, "$PMTK182,3,8,0001A000*6E\r\n"), 13, 8), "0001A000");
    // Missing tag, tag beyond 80 bytes, bad counts.
    EXPECT_EQ(engine.ExtractOrvik001Field(Hold(engine, "$PMTK001,182,1,3*26\r\n"), 12, 3), nullptr);
    EXPECT_EQ(engine.ExtractOrvik001Field(Hold(engine, std::string(80, 'x') + "$ORVIK001,3,1*7B"), 12, 3), nullptr);
    EXPECT_EQ(engine.ExtractOrvik001Field(Hold(engine, "$ORVIK001,3,123*7B\r\n"), -1, 3), nullptr);
    // A field that starts past the text's end is empty, not stale memory.
    EXPECT_STREQ(engine.ExtractOrvik001Field(Hold(engine, "$ORVIK001,3"), 12, 3), "");
    // Texts the engine does not own are never written.
    auto own = ExactText("$ORVIK001,3,123*7B\r\n");
    EXPECT_EQ(engine.ExtractOrvik001Field(own.get(), 12, 3), nullptr);
    EXPECT_STREQ(own.get(), "$ORVIK001,3,123*7B\r\n");
}

TEST(ParameterValue, WorkedExamples) {
    CommandEngine engine;
    EXPECT_EQ(engine.ParsePmtk182Value(Hold(engine, "$PMTK182,3,8,0001A000*6E\r\n"), true), 0x1A000u);
    // Item 10: two digits, so the comma is skipped.
    EXPECT_EQ(engine.ParsePmtk182Value(Hold(engine, "$PMTK182,3,10,5*12\r\n"), false), 5u);
    EXPECT_EQ(engine.ParsePmtk182Value(Hold(engine, "$PMTK182,3,3,50*10\r\n"), false), 50u);
    EXPECT_EQ(engine.ParsePmtk182Value(Hold(engine, "$PMTK001,182,2,3*25\r\n$PMTK182,3,6,2*22\r\n"), false), 2u);
    // No parameter reply, or one beyond the first 80 bytes, gives 0.
    EXPECT_EQ(engine.ParsePmtk182Value(Hold(engine, "$PMTK001,182,2,3*25\r\n"), true), 0u);
    EXPECT_EQ(engine.ParsePmtk182Value(Hold(engine, std::string(80, ' ') + "$PMTK182,3,3,50*10\r\n"), false), 0u);
    // The value field is at most ten characters long.
    EXPECT_EQ(engine.ParsePmtk182Value(Hold(engine, "$PMTK182,3,8,123456789ABCDEF"), true), 0x3456789Au);
}

TEST(NotConnectedReply, ScannedComparedAndParsedSafely) {
    CommandEngine engine;
    const char* nc = CommandEngine::kNotConnected;
    EXPECT_STREQ(nc, "Not Connected");
    auto copy = ExactText(nc);  // exact size: an over-read would be reported
    for (const char* text : {nc, static_cast<const char*>(copy.get())}) {
        EXPECT_EQ(engine.FindPmtk182(text, 4096), nullptr);
        EXPECT_EQ(engine.FindOrvik001(text, 80), nullptr);
        EXPECT_EQ(engine.FindQvrSentence(text, 0, 80), nullptr);
        EXPECT_FALSE(CommandEngine::IsSentenceComplete(text, 256));
        EXPECT_EQ(engine.ExtractOrvik001Field(text, 12, 3), nullptr);
        EXPECT_EQ(engine.ExtractQvrField(text, 9, 3), nullptr);
        EXPECT_EQ(engine.ExtractPmtk182Field(text, 13, 10), nullptr);
        EXPECT_EQ(engine.ParsePmtk182Value(text, true), 0u);
        EXPECT_STREQ(text, "Not Connected");
    }
}
