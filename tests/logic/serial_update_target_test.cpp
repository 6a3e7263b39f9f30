// The simulated device's side of the serial update: it must take a correct
// transfer and notice every way a transfer can be wrong, or the end-to-end
// tests that rely on it would prove nothing.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "device/Arc4.h"
#include "device/SerialUpdate.h"
#include "sim/Framing.h"
#include "sim/SerialUpdateTarget.h"

namespace {

// A sender that speaks the protocol by hand, so single sentences can be bent.
class Sender {
public:
    explicit Sender(const std::vector<std::uint8_t>& payload) : payload_(payload) {
        key_ = SerialUpdater::BuildKey();
        Arc4Init(cipher_, key_.data(), key_.size());
    }
    std::string Announce(std::uint32_t length) const {
        const auto crc = static_cast<std::uint32_t>(::crc32(0L, payload_.data(), static_cast<uInt>(payload_.size()))) ^
                         0xFFFFFFFFu;
        return sim::Frame(trv::AnnouncementBody(length, crc));
    }
    std::string Announce() const { return Announce(static_cast<std::uint32_t>(payload_.size())); }
    std::string Key() const { return sim::Frame(trv::KeyBody(key_)); }
    // The next chunk's body, encrypted (the keystream moves on).
    std::string NextChunkBody(std::size_t n = trv::kChunkBytes) {
        n = std::min(n, payload_.size() - offset_);
        std::vector<std::uint8_t> enc(n);
        Arc4Crypt(cipher_, enc.data(), payload_.data() + offset_, n);
        const std::string body = trv::ChunkBody(static_cast<std::uint32_t>(offset_), enc);
        offset_ += n;
        return body;
    }
    std::string End() const { return sim::Frame(trv::EndBody()); }

private:
    std::vector<std::uint8_t> payload_;
    std::array<std::uint8_t, trv::kKeyBytes> key_{};
    Arc4State cipher_;
    std::size_t offset_ = 0;
};

std::vector<std::uint8_t> Payload(std::size_t n) {
    std::vector<std::uint8_t> p(n);
    for (std::size_t k = 0; k < n; ++k) p[k] = static_cast<std::uint8_t>(k * 7 + 1);
    return p;
}

std::string Ack(int number, int value) {
    return sim::Frame("PTRV001," + std::to_string(number) + "," + std::to_string(value));
}

}  // namespace

TEST(SerialUpdateTarget, TakesACorrectTransferAndAnswersEachStep) {
    const auto payload = Payload(250);
    Sender s(payload);
    sim::SerialUpdateTarget t;
    EXPECT_EQ(t.AnswerBytes(s.Announce()), Ack(810, 1));
    EXPECT_EQ(t.AnswerBytes(s.Key()), Ack(819, 1));
    const std::string first = sim::Frame(s.NextChunkBody());
    EXPECT_EQ(t.AnswerBytes(first), Ack(815, 3));
    // The answer went missing: the same sentence again is answered, not stored.
    EXPECT_EQ(t.AnswerBytes(first), Ack(815, 3));
    EXPECT_EQ(t.AnswerBytes(sim::Frame(s.NextChunkBody())), Ack(815, 3));
    EXPECT_EQ(t.AnswerBytes(sim::Frame(s.NextChunkBody())), Ack(815, 3));  // 22 bytes
    EXPECT_EQ(t.AnswerBytes(s.End()), Ack(811, 1));
    EXPECT_TRUE(t.Complete()) << ::testing::PrintToString(t.Errors());
    EXPECT_EQ(t.Payload(), payload);
    EXPECT_EQ(t.ChunksTaken(), 3);
    EXPECT_EQ(t.Resends(), 1);
}

TEST(SerialUpdateTarget, NoticesSentencesOutOfOrder) {
    Sender s(Payload(100));
    sim::SerialUpdateTarget t;
    EXPECT_EQ(t.AnswerBytes(s.Key()), Ack(819, 0));  // key before announcement
    EXPECT_EQ(t.AnswerBytes(s.Announce()), Ack(810, 1));
    EXPECT_EQ(t.AnswerBytes(sim::Frame(s.NextChunkBody())), Ack(815, 0));  // chunk before key
    EXPECT_EQ(t.AnswerBytes(s.End()), Ack(811, 0));
    EXPECT_EQ(t.Errors().size(), 3u);
    EXPECT_FALSE(t.Complete());
}

TEST(SerialUpdateTarget, NoticesWrongOffsetsLengthsAndAlteredResends) {
    const auto payload = Payload(300);
    Sender s(payload);
    sim::SerialUpdateTarget t;
    t.AnswerBytes(s.Announce());
    t.AnswerBytes(s.Key());
    // A first chunk of 100 bytes where 114 are due.
    EXPECT_EQ(t.AnswerBytes(sim::Frame(s.NextChunkBody(100))), Ack(815, 0));
    ASSERT_EQ(t.Errors().size(), 1u);
    EXPECT_NE(t.Errors()[0].find("expected 114"), std::string::npos) << t.Errors()[0];

    sim::SerialUpdateTarget u;
    Sender r(payload);
    u.AnswerBytes(r.Announce());
    u.AnswerBytes(r.Key());
    const std::string first = r.NextChunkBody();
    EXPECT_EQ(u.AnswerBytes(sim::Frame(first)), Ack(815, 3));
    // A resend whose data changed (encrypted again, say).
    std::string altered = first;
    altered.back() = altered.back() == '0' ? '1' : '0';
    EXPECT_EQ(u.AnswerBytes(sim::Frame(altered)), Ack(815, 0));
    // A chunk that skips ahead.
    r.NextChunkBody();
    EXPECT_EQ(u.AnswerBytes(sim::Frame(r.NextChunkBody())), Ack(815, 0));
    EXPECT_EQ(u.Errors().size(), 2u);
    EXPECT_EQ(u.Payload(), std::vector<std::uint8_t>(payload.begin(), payload.begin() + 114));
}

TEST(SerialUpdateTarget, NoticesBadFormsAndFraming) {
    sim::SerialUpdateTarget t;
    EXPECT_EQ(t.AnswerBytes(sim::Frame("PTRV810,FWUPDATE,10,abcdef01")), Ack(810, 0));  // lower-case CRC
    EXPECT_EQ(t.AnswerBytes(sim::Frame("PTRV810,FWUPDATE,10,ABCDEF01")), Ack(810, 1));
    EXPECT_EQ(t.AnswerBytes(sim::Frame("PTRV819,32," + std::string(64, 'A'))), Ack(819, 0));  // upper-case key
    EXPECT_EQ(t.AnswerBytes(sim::Frame("PTRV819,16," + std::string(32, 'a'))), Ack(819, 0));  // short key
    EXPECT_EQ(t.Errors().size(), 3u);

    // A wrong checksum is reported and not answered; lower-case digits are
    // reported; bytes that are no sentence are reported.
    sim::SerialUpdateTarget u;
    EXPECT_EQ(u.AnswerBytes(sim::FrameWithChecksum("PTRV811,FWUPDATE", 0)), "");
    sim::SerialUpdateTarget v;
    std::string framed = sim::Frame("PTRV810,FWUPDATE,8,0000000A");
    ASSERT_EQ(framed.substr(framed.size() - 5), "*5C\r\n");
    framed[framed.size() - 3] = 'c';
    EXPECT_EQ(v.AnswerBytes(framed), Ack(810, 1));
    v.AnswerBytes("garbage\r\n");
    EXPECT_EQ(u.Errors().size(), 1u);
    EXPECT_EQ(v.Errors().size(), 2u) << ::testing::PrintToString(v.Errors());
}

TEST(SerialUpdateTarget, EndChecksLengthAndCrc) {
    const auto payload = Payload(120);
    {
        Sender s(payload);
        sim::SerialUpdateTarget t;
        t.AnswerBytes(s.Announce());
        t.AnswerBytes(s.Key());
        t.AnswerBytes(sim::Frame(s.NextChunkBody()));
        EXPECT_EQ(t.AnswerBytes(s.End()), Ack(811, 0));  // 6 bytes missing
        EXPECT_FALSE(t.Complete());
    }
    {
        // The announcement's CRC belongs to other data.
        auto other = payload;
        other[5] ^= 1;
        Sender announcer(other);
        Sender s(payload);
        sim::SerialUpdateTarget t;
        t.AnswerBytes(announcer.Announce());
        t.AnswerBytes(s.Key());
        t.AnswerBytes(sim::Frame(s.NextChunkBody()));
        t.AnswerBytes(sim::Frame(s.NextChunkBody()));
        EXPECT_EQ(t.AnswerBytes(s.End()), Ack(811, 0));
        EXPECT_FALSE(t.Complete());
        EXPECT_EQ(t.Payload(), payload);
    }
}

TEST(SerialUpdateTarget, RefusesAndFallsSilentWhenToldTo) {
    const auto payload = Payload(300);
    Sender s(payload);
    sim::SerialUpdateTarget t({.refuseKey = true, .keyRefusalValue = 7});
    t.AnswerBytes(s.Announce());
    EXPECT_EQ(t.AnswerBytes(s.Key()), Ack(819, 7));

    Sender r(payload);
    sim::SerialUpdateTarget u({.refuseChunk = 1, .refuseChunkTimes = 2, .silentAfterChunks = 2});
    u.AnswerBytes(r.Announce());
    u.AnswerBytes(r.Key());
    EXPECT_EQ(u.AnswerBytes(sim::Frame(r.NextChunkBody())), Ack(815, 3));
    const std::string second = sim::Frame(r.NextChunkBody());
    EXPECT_EQ(u.AnswerBytes(second), Ack(815, 2));
    EXPECT_EQ(u.AnswerBytes(second), Ack(815, 2));
    EXPECT_EQ(u.AnswerBytes(second), Ack(815, 3));
    EXPECT_EQ(u.Refusals(), 2);
    EXPECT_EQ(u.AnswerBytes(sim::Frame(r.NextChunkBody())), "");  // silent now
    EXPECT_EQ(u.ChunksTaken(), 2);
    EXPECT_TRUE(u.Errors().empty()) << ::testing::PrintToString(u.Errors());

    sim::SerialUpdateTarget quiet({.silent = true});
    EXPECT_EQ(quiet.AnswerBytes(Sender(payload).Announce()), "");
}
