// The flash transfer protocol: frame layout against worked examples (CRC
// values from Python's binascii.crc32), the scanner on split, noisy and
// broken input, the hello layout and the size of a whole transfer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flashlib/FlashProtocol.h"

namespace fp = platform::flashproto;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes B(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

std::vector<fp::FrameScanner::Frame> ScanAll(fp::FrameScanner& scanner, const Bytes& bytes, std::string* outside = nullptr) {
    std::vector<fp::FrameScanner::Frame> frames;
    scanner.Feed(bytes, frames, outside);
    return frames;
}

}  // namespace

TEST(FlashProtocolFrame, CrcIsTheStandardCrc32) {
    const std::string check = "123456789";
    EXPECT_EQ(fp::Crc32(std::span(reinterpret_cast<const std::uint8_t*>(check.data()), check.size())), 0xCBF43926u);
    EXPECT_EQ(fp::Crc32({}), 0u);
}

TEST(FlashProtocolFrame, EncodesTheWorkedExample) {
    // Program frame, type 1, sequence 0x0102, payload AA BB. The CRC covers
    // 01 02 01 02 00 AA BB: 0xE9E1AA9D.
    const Bytes frame = fp::EncodeFrame(fp::kHostStart, 0x01, 0x0102, B({0xAA, 0xBB}));
    EXPECT_EQ(frame, B({0xA5, 0x01, 0x02, 0x01, 0x02, 0x00, 0xAA, 0xBB, 0x9D, 0xAA, 0xE1, 0xE9}));
    // Device answer: ACK to sequence 7, no payload; CRC of 06 07 00 00 00 is 0xD4B53A04.
    EXPECT_EQ(fp::EncodeFrame(fp::kDeviceStart, fp::kAnswerAck, 7, {}),
              B({0x5A, 0x06, 0x07, 0x00, 0x00, 0x00, 0x04, 0x3A, 0xB5, 0xD4}));
}

TEST(FlashProtocolScanner, FindsFramesSplitByteByByte) {
    const Bytes a = fp::EncodeFrame(fp::kHostStart, fp::kTypeAgent, 3, B({1, 2, 3}));
    const Bytes b = fp::EncodeFrame(fp::kHostStart, fp::kTypeEnd, 4, {});
    Bytes both = a;
    both.insert(both.end(), b.begin(), b.end());
    fp::FrameScanner scanner(fp::kHostStart, fp::kMaxPayload);
    std::vector<fp::FrameScanner::Frame> frames;
    for (std::uint8_t byte : both) {
        scanner.Feed(std::span(&byte, 1), frames);
        if (frames.empty()) {
            EXPECT_TRUE(scanner.InFrame());
        }
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].type, fp::kTypeAgent);
    EXPECT_EQ(frames[0].sequence, 3);
    EXPECT_EQ(frames[0].payload, B({1, 2, 3}));
    EXPECT_TRUE(frames[0].crcOk);
    EXPECT_EQ(frames[1].type, fp::kTypeEnd);
    EXPECT_TRUE(frames[1].payload.empty());
    EXPECT_FALSE(scanner.InFrame());
}

TEST(FlashProtocolScanner, HandsBackSentencesAroundFrames) {
    const std::string before = "$PQVR810*3C\r\n";
    const std::string after = "$PQVR837*39\r\n";
    Bytes stream(before.begin(), before.end());
    const Bytes frame = fp::EncodeFrame(fp::kHostStart, fp::kTypeHello, 0, B({9}));
    stream.insert(stream.end(), frame.begin(), frame.end());
    stream.insert(stream.end(), after.begin(), after.end());
    fp::FrameScanner scanner(fp::kHostStart, fp::kMaxPayload);
    std::string outside;
    const auto frames = ScanAll(scanner, stream, &outside);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(outside, before + after);
}

TEST(FlashProtocolScanner, ReportsABrokenCrcWithItsHeader) {
    Bytes frame = fp::EncodeFrame(fp::kHostStart, fp::kTypeImage, 0x0203, B({1, 2, 3, 4}));
    frame[7] ^= 0x01;  // a payload bit flips on the line
    fp::FrameScanner scanner(fp::kHostStart, fp::kMaxPayload);
    const auto frames = ScanAll(scanner, frame);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_FALSE(frames[0].crcOk);
    EXPECT_EQ(frames[0].sequence, 0x0203);
}

TEST(FlashProtocolScanner, AStartByteWithAnImpossibleLengthIsNoFrame) {
    // A5 followed by a length of 0xFFFF is noise; the real frame after it is found.
    Bytes stream = B({0xA5, 0x01, 0x00, 0x00, 0xFF, 0xFF});
    const Bytes frame = fp::EncodeFrame(fp::kHostStart, fp::kTypeAgent, 1, B({7, 7}));
    stream.insert(stream.end(), frame.begin(), frame.end());
    fp::FrameScanner scanner(fp::kHostStart, fp::kMaxPayload);
    std::string outside;
    const auto frames = ScanAll(scanner, stream, &outside);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].crcOk);
    EXPECT_EQ(frames[0].payload, B({7, 7}));
    EXPECT_EQ(outside, std::string("\xA5\x01\x00\x00\xFF\xFF", 6));
}

TEST(FlashProtocolScanner, TheAnswerLimitIsKept) {
    const Bytes big = fp::EncodeFrame(fp::kDeviceStart, fp::kAnswerAck, 0, Bytes(fp::kMaxAnswerPayload + 1, 0));
    fp::FrameScanner scanner(fp::kDeviceStart, fp::kMaxAnswerPayload);
    EXPECT_TRUE(ScanAll(scanner, big).empty());
    const Bytes fits = fp::EncodeFrame(fp::kDeviceStart, fp::kAnswerAck, 0, Bytes(fp::kMaxAnswerPayload, 0));
    fp::FrameScanner scanner2(fp::kDeviceStart, fp::kMaxAnswerPayload);
    EXPECT_EQ(ScanAll(scanner2, fits).size(), 1u);
}

TEST(FlashProtocolHello, LayoutAndRoundTrip) {
    fp::Hello hello;
    hello.chip = "MT3329";
    hello.agentParameter = 0xC00;
    hello.speedCode = 6;
    hello.option = 0x100;
    hello.agentLength = 2048;
    hello.agentCrc = 0x11223344;
    hello.imageLength = 819200;
    hello.imageCrc = 0xA0B0C0D0;
    hello.regionStart = 0x1000;
    const Bytes p = fp::EncodeHello(hello);
    ASSERT_EQ(p.size(), 40u);
    EXPECT_EQ(std::string(p.begin(), p.begin() + 8), std::string("MT3329\0\0", 8));
    EXPECT_EQ(fp::GetLe32(&p[8]), 0xC00u);
    EXPECT_EQ(fp::GetLe32(&p[12]), 6u);
    EXPECT_EQ(fp::GetLe32(&p[16]), 0x100u);
    EXPECT_EQ(fp::GetLe32(&p[20]), 2048u);
    EXPECT_EQ(fp::GetLe32(&p[24]), 0x11223344u);
    EXPECT_EQ(fp::GetLe32(&p[28]), 819200u);
    EXPECT_EQ(fp::GetLe32(&p[32]), 0xA0B0C0D0u);
    EXPECT_EQ(fp::GetLe32(&p[36]), 0x1000u);
    fp::Hello back;
    ASSERT_TRUE(fp::DecodeHello(p, back));
    EXPECT_EQ(back.chip, "MT3329");
    EXPECT_EQ(back.imageLength, 819200u);
    EXPECT_EQ(back.regionStart, 0x1000u);
    EXPECT_FALSE(fp::DecodeHello(Bytes(39, 0), back));

    std::uint32_t length = 0;
    std::uint32_t crc = 0;
    ASSERT_TRUE(fp::DecodeLengthCrc(fp::EncodeLengthCrc(5, 0xDEADBEEF), length, crc));
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(crc, 0xDEADBEEFu);
    EXPECT_FALSE(fp::DecodeLengthCrc(Bytes(7, 0), length, crc));
}

TEST(FlashProtocolSize, OverheadStaysUnderFivePercentOfTheImage) {
    // Counted against the image alone, and with the 1 KiB agent counted as
    // overhead too.
    for (std::size_t image : {64u * 1024, 256u * 1024, 800u * 1024}) {
        const fp::TransferSize size = fp::ExpectedTransferSize(1024, image);
        const double protocolOnly = static_cast<double>(size.Overhead()) / static_cast<double>(image);
        const double withAgent = static_cast<double>(size.Overhead() + 1024) / static_cast<double>(image);
        EXPECT_LT(protocolOnly, 0.05) << image;
        EXPECT_LT(withAgent, 0.05) << image;
    }
    // Worked: 1 KiB agent and 1 KiB image make four frames each way.
    const fp::TransferSize small = fp::ExpectedTransferSize(1024, 1024);
    EXPECT_EQ(small.hostBytes, 4u * 10 + 40 + 8 + 2048);
    EXPECT_EQ(small.deviceBytes, 4u * 10 + 8);
}
