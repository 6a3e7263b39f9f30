// The simulator's sentence framing and assembler, checked against published
// NMEA sentences.
#include <gtest/gtest.h>

#include "sim/Framing.h"

using sim::SentenceAssembler;
using Kind = SentenceAssembler::Item::Kind;

TEST(SimFraming, ChecksumsOfPublishedSentences) {
    // Textbook NMEA examples and MediaTek's own test and restart commands.
    EXPECT_EQ(sim::Frame("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"),
              "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
    EXPECT_EQ(sim::Frame("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"),
              "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n");
    EXPECT_EQ(sim::Frame("PMTK000"), "$PMTK000*32\r\n");
    EXPECT_EQ(sim::Frame("PMTK101"), "$PMTK101*32\r\n");
    EXPECT_EQ(sim::Frame("PQVR810"), "$PQVR810*3C\r\n");  // letters in upper case
    EXPECT_EQ(sim::Frame(""), "$*00\r\n");
    EXPECT_EQ(sim::FrameWithChecksum("PMTK000", 0xAB), "$PMTK000*AB\r\n");
}

TEST(SimFraming, AssemblesSentencesAcrossReads) {
    SentenceAssembler a;
    const std::string s = sim::Frame("PMTK182,2,8");
    EXPECT_TRUE(a.Feed(s.substr(0, 5)).empty());
    EXPECT_TRUE(a.Feed(s.substr(5, 7)).empty());
    auto items = a.Feed(s.substr(12) + sim::Frame("PQVR810"));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].kind, Kind::kSentence);
    EXPECT_EQ(items[0].bytes, s);
    EXPECT_EQ(items[0].sentence.body, "PMTK182,2,8");
    EXPECT_EQ(items[0].sentence.tag, "PMTK182");
    EXPECT_EQ(items[0].sentence.fields, (std::vector<std::string>{"2", "8"}));
    EXPECT_EQ(items[0].sentence.checksum, 0x33);
    EXPECT_EQ(items[1].sentence.tag, "PQVR810");
    EXPECT_TRUE(items[1].sentence.fields.empty());
    EXPECT_TRUE(a.Pending().empty());
}

TEST(SimFraming, SortsOutWhatIsWrong) {
    SentenceAssembler a;
    auto items = a.Feed("\x01\xFFnoise$PMTK000*33\r\n$GPRMC,,,*6a\r\n");
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].kind, Kind::kNoise);
    EXPECT_EQ(items[0].bytes, "\x01\xFFnoise");
    EXPECT_EQ(items[1].kind, Kind::kBadChecksum);  // PMTK000 sums to 32
    EXPECT_EQ(items[1].sentence.checksum, 0x33);
    EXPECT_FALSE(items[1].sentence.checksumOk);
    // Lower-case digits are read too; the sum of "GPRMC,,," is not 6A.
    EXPECT_EQ(items[2].kind, Kind::kBadChecksum);

    const char* broken[] = {
        "$PMTK000\r\n",          // no checksum
        "$PMTK000*3\r\n",        // one digit
        "$PMTK000*3G\r\n",       // not hex
        "$PMTK000*32\n",         // no CR
        "$PMTK000*32X\r\n",      // something after the digits
        "$PMT*K000*32\r\n",      // two stars
    };
    for (const char* b : broken) {
        SentenceAssembler fresh;
        auto got = fresh.Feed(b);
        ASSERT_EQ(got.size(), 1u) << b;
        EXPECT_EQ(got[0].kind, Kind::kBadFrame) << b;
        EXPECT_EQ(got[0].bytes, b);
    }

    // A sentence cut short by the next one, and one that never ends.
    items = a.Feed("$PMTK18" + sim::Frame("PMTK000"));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].kind, Kind::kBadFrame);
    EXPECT_EQ(items[0].bytes, "$PMTK18");
    EXPECT_EQ(items[1].kind, Kind::kSentence);
    items = a.Feed("$" + std::string(SentenceAssembler::kMaxSentence, 'A'));
    ASSERT_GE(items.size(), 1u);
    EXPECT_EQ(items[0].kind, Kind::kBadFrame);
    EXPECT_EQ(items[0].bytes.size(), SentenceAssembler::kMaxSentence);
    items = a.Feed(sim::Frame("PMTK000"));  // back in step at the next "$"
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(items.back().kind, Kind::kSentence);
}

TEST(SimFraming, SplitsBodies) {
    std::string tag;
    std::vector<std::string> fields;
    sim::SplitBody("PMTK182,7,,1F0000", tag, fields);
    EXPECT_EQ(tag, "PMTK182");
    EXPECT_EQ(fields, (std::vector<std::string>{"7", "", "1F0000"}));
    sim::SplitBody("ORVIK731,", tag, fields);
    EXPECT_EQ(fields, (std::vector<std::string>{""}));
}
