// The serial update's sentences and acknowledgements: the register CRC
// against its catalogue check value, the sentence bodies, a small worked
// payload byte for byte as it goes over the line, and the acknowledgement
// reader on broken, foreign and oversized input.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FakeSerial.h"
#include "device/SerialLink.h"
#include "device/SerialUpdate.h"
#include "device/UpdateImage.h"
#include "platform/Clock.h"
#include "platform/SerialBackend.h"
#include "sim/Framing.h"

namespace {

std::vector<int> FeedAll(trv::AckReader& reader, const std::string& bytes) {
    std::vector<int> values;
    for (char c : bytes) {
        if (auto v = reader.Feed(c)) values.push_back(*v);
    }
    return values;
}

const std::uint8_t kCheck[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

}  // namespace

// --- CRC register variant ---------------------------------------------------

TEST(SerialUpdateCrc, RegisterVariantMeetsItsCheckValue) {
    // Preset 0xFFFFFFFF, reflected 0xEDB88320, no final inversion: the
    // catalogue's CRC-32/JAMCRC, check value 0x340BC6D9 over "123456789",
    // the complement of the standard 0xCBF43926.
    EXPECT_EQ(update::Crc32Update(0xFFFFFFFFu, 9, kCheck), 0x340BC6D9u);
    EXPECT_EQ(update::Crc32(9, kCheck), 0xCBF43926u);
}

TEST(SerialUpdateCrc, ComplementOfZlibAndContinuesAcrossPieces) {
    std::vector<std::uint8_t> data(5000);
    for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<std::uint8_t>((k * 131 + 7) ^ (k >> 3));
    const auto whole = update::Crc32Update(0xFFFFFFFFu, static_cast<std::uint32_t>(data.size()), data.data());
    const auto zlibValue = static_cast<std::uint32_t>(::crc32(0L, data.data(), static_cast<uInt>(data.size())));
    EXPECT_EQ(whole, ~zlibValue);
    const auto first = update::Crc32Update(0xFFFFFFFFu, 1234, data.data());
    EXPECT_EQ(update::Crc32Update(first, static_cast<std::uint32_t>(data.size() - 1234), data.data() + 1234), whole);
    EXPECT_EQ(update::Crc32Update(0x12345678u, 0, data.data()), 0x12345678u);
}

// --- Sentence bodies --------------------------------------------------------

TEST(SerialUpdateSentences, BodiesFollowTheirFormats) {
    EXPECT_EQ(trv::AnnouncementBody(131072, 0x00ABCDEFu), "PTRV810,FWUPDATE,131072,00ABCDEF");
    EXPECT_EQ(trv::AnnouncementBody(1, 0xFFFFFFFFu), "PTRV810,FWUPDATE,1,FFFFFFFF");
    const std::uint8_t key[3] = {0x0A, 0xBC, 0xF0};
    EXPECT_EQ(trv::KeyBody(key), "PTRV819,3,0abcf0");
    const std::uint8_t data[4] = {0x00, 0x9F, 0xA0, 0xFF};
    // Offset in six digits, length without padding, data in upper case.
    EXPECT_EQ(trv::ChunkBody(0x1FF8E, data), "PTRV815,01FF8E,4,009FA0FF");
    std::vector<std::uint8_t> full(114, 0x5A);
    EXPECT_EQ(trv::ChunkBody(0, full).substr(0, 18), "PTRV815,000000,72,");
    EXPECT_EQ(trv::ChunkBody(0, full).size(), 18u + 228u);
    EXPECT_EQ(trv::EndBody(), "PTRV811,FWUPDATE");
    EXPECT_EQ(trv::AckPrefix(815), "PTRV001,815");
    EXPECT_EQ(trv::NmeaChecksum("PTRV001,815,3"), 0x3E);
}

TEST(SerialUpdateSentences, KeyIsFixedAndGoesOutInLowerCase) {
    const auto key = SerialUpdater::BuildKey();
    EXPECT_EQ(key, SerialUpdater::BuildKey());
    const std::string body = trv::KeyBody(key);
    ASSERT_EQ(body.size(), std::string("PTRV819,32,").size() + 64);
    EXPECT_EQ(body.rfind("PTRV819,32,", 0), 0u);
    for (char c : body.substr(11)) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f'));
}

// A worked payload on a port that acknowledges everything: what goes over the
// line, sentence by sentence. The expected bytes were worked out apart from
// this program (ARC4 and CRC-32 of another implementation).
class SerialUpdateWorked : public ::testing::Test {
protected:
    struct QuietHost : SerialUpdateHost {
        void SetStateText(int) override {}
        void SetProgressBar(int) override {}
        void SetPercentText(const std::string&) override {}
        void ShowMessage(const std::string& text) override { messages.push_back(text); }
        void EnableMainButtons(bool) override {}
        std::vector<std::string> messages;
    };

    void SetUp() override {
        char templ[] = "/tmp/pellora-trv-XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        dir_ = templ;
        backend_.SetResponder([](const std::string& w) -> std::string {
            if (w.rfind("$PTRV810", 0) == 0) return sim::Frame("PTRV001,810,1");
            if (w.rfind("$PTRV819", 0) == 0) return sim::Frame("PTRV001,819,1");
            if (w.rfind("$PTRV815", 0) == 0) return sim::Frame("PTRV001,815,3");
            if (w.rfind("$PTRV811", 0) == 0) return sim::Frame("PTRV001,811,1");
            return {};
        });
        link_.linkPortName = "COM5";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::vector<std::string> Run(const std::vector<std::uint8_t>& payload) {
        const std::string path = dir_ + "/Orvik_FW_Temp.bin";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(payload.data()),
                                                    static_cast<std::streamsize>(payload.size()));
        SerialUpdater updater(host_, link_);
        updater.SetPayloadPath(path);
        EXPECT_EQ(updater.RunAppUpdate(), 1);
        EXPECT_TRUE(host_.messages.empty());
        return backend_.Writes();
    }

    std::string dir_;
    platform::FakeClock clock_;
    platform::ScopedClock scopedClock_{clock_};
    testsupport::FakeSerialBackend backend_;
    platform::ScopedSerialBackend scopedBackend_{backend_};
    SerialLink link_;
    QuietHost host_;
};

TEST_F(SerialUpdateWorked, NineBytesInOneChunk) {
    const std::vector<std::uint8_t> payload(std::begin(kCheck), std::end(kCheck));
    const std::vector<std::string> expected = {
        "$PTRV810,FWUPDATE,9,340BC6D9*51\r\n",
        "$PTRV819,32,f1016603deef3f5cbac3efea305ae24a9984be5e2155e855e7e96e14710c76f4*3F\r\n",
        "$PTRV815,000000,9,E1971BDF8428E48563*5D\r\n",
        "$PTRV811,FWUPDATE*14\r\n",
    };
    EXPECT_EQ(Run(payload), expected);
}

TEST_F(SerialUpdateWorked, AFullChunkAndAShortOne) {
    // 118 bytes 00 01 .. 75: one chunk of 114 (length field 72), then one of
    // 4 at offset 000072 whose keystream goes on from the first.
    std::vector<std::uint8_t> payload(118);
    for (std::size_t k = 0; k < payload.size(); ++k) payload[k] = static_cast<std::uint8_t>(k);
    const std::vector<std::string> expected = {
        "$PTRV810,FWUPDATE,118,AACBB422*5A\r\n",
        "$PTRV819,32,f1016603deef3f5cbac3efea305ae24a9984be5e2155e855e7e96e14710c76f4*3F\r\n",
        "$PTRV815,000000,72,"
        "D0A42AE8B51BD5BA52EE1F4B7DE754DB8D6507A787C5B789159B95EED209D24FE6849E3348671C72838E5D61CE2FC563AE48"
        "259EA63BA511B5A3A12E1F7E0D95A115E1B8BC7C9412F8DA16D24E966BB541E480EC9BF535A1003B2C6CE95B20C38C60A8DB"
        "52B6DEEB34ABC4B4E59140044700*16\r\n",
        "$PTRV815,000072,4,4643C5EE*52\r\n",
        "$PTRV811,FWUPDATE*14\r\n",
    };
    EXPECT_EQ(Run(payload), expected);
}

// --- Acknowledgements -------------------------------------------------------

TEST(SerialUpdateAck, TakesTheValueOfAGoodAnswerAtItsLineFeed) {
    trv::AckReader reader(815);
    const std::string ack = sim::Frame("PTRV001,815,3");
    for (std::size_t k = 0; k + 1 < ack.size(); ++k) EXPECT_FALSE(reader.Feed(ack[k]).has_value()) << k;
    EXPECT_EQ(reader.Feed('\n'), 3);
    // Noise around it is dropped.
    trv::AckReader again(819);
    EXPECT_EQ(FeedAll(again, "\x01garbage\r\n" + sim::Frame("PTRV001,819,1") + "tail"), std::vector<int>{1});
}

TEST(SerialUpdateAck, IgnoresWrongChecksumsForeignNumbersAndLowerCaseDigits) {
    trv::AckReader reader(815);
    std::string lower = sim::Frame("PTRV001,815,3");  // ...*3E\r\n
    ASSERT_NE(lower.find("*3E"), std::string::npos);
    lower.replace(lower.find("*3E"), 3, "*3e");
    const std::string input = sim::FrameWithChecksum("PTRV001,815,3", 0x3F) +  // wrong checksum
                              sim::Frame("PTRV001,810,3") +                    // another sentence's answer
                              sim::Frame("PTRV002,815,3") +                    // not an acknowledgement
                              lower +                                          // digits must be upper case
                              "$PTRV001,815,3*3E\n" +                          // no CR in its place
                              sim::Frame("PTRV001,815,2");                     // the one that counts
    EXPECT_EQ(FeedAll(reader, input), std::vector<int>{2});
}

TEST(SerialUpdateAck, ADollarInsideAnAnswerStartsItAgain) {
    trv::AckReader reader(819);
    // The first answer breaks off; the "$" of the next one restarts the buffer.
    EXPECT_EQ(FeedAll(reader, "$PTRV001,8" + sim::Frame("PTRV001,819,1")), std::vector<int>{1});
    // Without the restart, "PTRV001,8$PTRV001,819,1" would be the body and fail.
    trv::AckReader twice(815);
    EXPECT_EQ(FeedAll(twice, "$$$" + sim::Frame("PTRV001,815,3")), std::vector<int>{3});
}

TEST(SerialUpdateAck, DropsSentencesTooShortForTheChecksum) {
    trv::AckReader reader(815);
    EXPECT_TRUE(FeedAll(reader, "$\n$\r\n$*\r\n$3*\r\n$*3E\n").empty());
    EXPECT_FALSE(reader.InsideSentence());
    EXPECT_EQ(FeedAll(reader, sim::Frame("PTRV001,815,3")), std::vector<int>{3});
}

TEST(SerialUpdateAck, DropsSentencesLongerThanTheBufferWithoutWritingPastIt) {
    // From after "$" to LF the buffer holds 256 bytes: body + "*HH\r\n".
    const std::string fits = "PTRV001,815," + std::string(251 - 13, 'x') + "3";
    ASSERT_EQ(fits.size() + 5, trv::kAckBufferBytes);
    trv::AckReader reader(815);
    EXPECT_EQ(FeedAll(reader, sim::Frame(fits)), std::vector<int>{3});

    const std::string tooLong = "PTRV001,815," + std::string(252 - 13, 'x') + "3";
    EXPECT_TRUE(FeedAll(reader, sim::Frame(tooLong)).empty());
    // A long run with an answer's tail but no "$" of its own is not taken.
    EXPECT_TRUE(FeedAll(reader, "$" + std::string(300, 'A') + sim::Frame("PTRV001,815,3").substr(1)).empty());
    // The next proper answer is.
    EXPECT_EQ(FeedAll(reader, sim::Frame("PTRV001,815,3")), std::vector<int>{3});
}
