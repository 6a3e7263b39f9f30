// The simulated logger's side of the block transfer must notice every way a
// transfer can be wrong, or the runs that rely on it would prove nothing.
// Here it is fed by hand, a byte at a time where framing matters.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/BlockTarget.h"

namespace {

std::string Packet(const std::string& data, int sumDelta = 0) {
    unsigned sum = 0;
    for (char c : data) sum += static_cast<unsigned char>(c);
    return std::string(1, '\x01') + static_cast<char>((sum + sumDelta) & 0x7F) + data + "\r\n";
}

std::string Header(std::uint32_t size) {
    std::string h = "$WRT";
    for (int k = 0; k < 4; ++k) h.push_back(static_cast<char>(size >> (8 * k)));
    return h + "\r\n";
}

// Feeds a byte at a time and gathers the answers.
std::string Trickle(sim::BlockTarget& t, const std::string& bytes) {
    std::string out;
    for (char c : bytes) out += t.Feed(std::string(1, c));
    return out;
}

TEST(BlockTarget, TakesADownloadFedByteByByteAndItsSizeMayHoldCrLf) {
    sim::BlockTarget t;
    const std::uint32_t size = 0x0A0D;  // the size itself holds CR LF
    EXPECT_EQ(Trickle(t, "$PMTK182*21\r\n$BEG\r\n" + Header(size)), "!!");
    for (std::uint32_t at = 0; at < size; at += 512) {
        EXPECT_EQ(Trickle(t, Packet(std::string(std::min<std::uint32_t>(512, size - at), 'x'))), "!&") << at;
    }
    EXPECT_EQ(Trickle(t, "$END\r\n"), "%");
    EXPECT_TRUE(t.Completed()) << ::testing::PrintToString(t.Errors());
    EXPECT_EQ(t.Received().size(), size);
    EXPECT_EQ(t.Elements().front(), "wake-up");
}

TEST(BlockTarget, NoticesBrokenPacketsAndOrder) {
    sim::BlockTarget t;
    EXPECT_EQ(t.Feed(Header(600)), "!");  // before any '!' to a handshake
    EXPECT_EQ(t.Feed(Packet("abc", 1)), "@&");                 // wrong sum
    EXPECT_EQ(t.Feed(Packet("")), "!&");                       // empty packet
    EXPECT_EQ(t.Feed(Packet(std::string(513, 'y'))), "!&");    // too long
    EXPECT_EQ(t.Feed(Packet("ab\r\ncd")), "@&");               // CR LF inside: cut short, the rest stray
    EXPECT_EQ(t.Feed(Packet(std::string(100, 'z'))), "!&");    // past the announced 600
    t.Feed("$END\r\n");
    EXPECT_FALSE(t.Completed());
    std::string errors;
    for (const auto& line : t.Errors()) errors += line + "\n";
    for (const char* e : {"header before", "wrong sum", "carries 0", "carries 513", "stray byte", "past the announced",
                          "$END after"}) {
        EXPECT_NE(errors.find(e), std::string::npos) << e << " in " << errors;
    }
}

TEST(BlockTarget, ServesAReadOutAndNoticesWrongBlockReplies) {
    std::vector<std::uint8_t> data(700);
    for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<std::uint8_t>(k);
    sim::BlockTarget t({.logData = data, .badSumOnce = 0});
    // A wake-up with a wrong checksum is noticed and not answered.
    EXPECT_EQ(t.Feed("$PMTK182,5*00\r\n"), "");
    EXPECT_EQ(t.Feed("$PMTK182,5*20\r\n"), "$PMTK001,182,5,3*22\r\n!");
    const std::string head = t.Feed("$TLG\r\n");
    ASSERT_EQ(head.size(), 13u + 514u);
    EXPECT_EQ(head.substr(0, 5), std::string("!\x02\0\0\0", 5));  // two blocks
    // Block 0 went out with a wrong sum; taking it is an error.
    const std::string again = t.Feed("!\r\n");
    ASSERT_EQ(again.size(), 1u + 514u);  // '&' and block 1
    EXPECT_EQ(t.Feed("@\r\n").size(), 1u + 514u);  // a right block refused: error, sent again
    EXPECT_EQ(t.Feed("!\r\n"), "&");
    EXPECT_EQ(t.Feed("$END\r\n"), "%");
    EXPECT_EQ(t.Errors().size(), 3u) << ::testing::PrintToString(t.Errors());
}

}  // namespace
