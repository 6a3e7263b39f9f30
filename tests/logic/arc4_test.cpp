// ARC4 against the published test vectors of RFC 6229 (section 2), and the
// properties the serial update relies on: one keystream across calls, the
// same operation both ways, in-place use, and the refusal of an empty key.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "device/Arc4.h"

namespace {

std::vector<std::uint8_t> Hex(const std::string& text) {
    std::vector<std::uint8_t> out;
    unsigned value = 0;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        for (std::size_t k = 0; k + 1 < word.size(); k += 2) {
            std::sscanf(word.substr(k, 2).c_str(), "%2x", &value);
            out.push_back(static_cast<std::uint8_t>(value));
        }
    }
    return out;
}

struct Sample {
    std::size_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

// Lines as the RFC prints them: " DEC 240 HEX f0:  28 cb 11 32  c9 ...".
std::vector<Sample> ParseRfcLines(const std::string& text) {
    std::vector<Sample> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto dec = line.find("DEC");
        const auto colon = line.find(':');
        if (dec == std::string::npos || colon == std::string::npos) continue;
        Sample s;
        s.offset = std::stoul(line.substr(dec + 3));
        s.bytes = Hex(line.substr(colon + 1));
        out.push_back(s);
    }
    return out;
}

struct RfcVector {
    const char* name;
    const char* key;
    const char* lines;
};

void PrintTo(const RfcVector& v, std::ostream* out) { *out << v.name; }

// "40 bits, 0x0102030405" names its test "40bits0x0102030405".
std::string VectorTestName(const ::testing::TestParamInfo<RfcVector>& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p) {
        if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
    }
    return name;
}

// RFC 6229, section 2: keystream samples of 16 bytes at 18 offsets.
const RfcVector kVectors[] = {
    {"40 bits, 0x0102030405", "0102030405", R"(
 DEC    0 HEX    0:  b2 39 63 05  f0 3d c0 27   cc c3 52 4a  0a 11 18 a8
 DEC   16 HEX   10:  69 82 94 4f  18 fc 82 d5   89 c4 03 a4  7a 0d 09 19
 DEC  240 HEX   f0:  28 cb 11 32  c9 6c e2 86   42 1d ca ad  b8 b6 9e ae
 DEC  256 HEX  100:  1c fc f6 2b  03 ed db 64   1d 77 df cf  7f 8d 8c 93
 DEC  496 HEX  1f0:  42 b7 d0 cd  d9 18 a8 a3   3d d5 17 81  c8 1f 40 41
 DEC  512 HEX  200:  64 59 84 44  32 a7 da 92   3c fb 3e b4  98 06 61 f6
 DEC  752 HEX  2f0:  ec 10 32 7b  de 2b ee fd   18 f9 27 76  80 45 7e 22
 DEC  768 HEX  300:  eb 62 63 8d  4f 0b a1 fe   9f ca 20 e0  5b f8 ff 2b
 DEC 1008 HEX  3f0:  45 12 90 48  e6 a0 ed 0b   56 b4 90 33  8f 07 8d a5
 DEC 1024 HEX  400:  30 ab bc c7  c2 0b 01 60   9f 23 ee 2d  5f 6b b7 df
 DEC 1520 HEX  5f0:  32 94 f7 44  d8 f9 79 05   07 e7 0f 62  e5 bb ce ea
 DEC 1536 HEX  600:  d8 72 9d b4  18 82 25 9b   ee 4f 82 53  25 f5 a1 30
 DEC 2032 HEX  7f0:  1e b1 4a 0c  13 b3 bf 47   fa 2a 0b a9  3a d4 5b 8b
 DEC 2048 HEX  800:  cc 58 2f 8b  a9 f2 65 e2   b1 be 91 12  e9 75 d2 d7
 DEC 3056 HEX  bf0:  f2 e3 0f 9b  d1 02 ec bf   75 aa ad e9  bc 35 c4 3c
 DEC 3072 HEX  c00:  ec 0e 11 c4  79 dc 32 9d   c8 da 79 68  fe 96 56 81
 DEC 4080 HEX  ff0:  06 83 26 a2  11 84 16 d2   1f 9d 04 b2  cd 1c a0 50
 DEC 4096 HEX 1000:  ff 25 b5 89  95 99 67 07   e5 1f bd f0  8b 34 d8 75
)"},
    {"256 bits, 0x0102..1f20", "0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20", R"(
 DEC    0 HEX    0:  ea a6 bd 25  88 0b f9 3d   3f 5d 1e 4c  a2 61 1d 91
 DEC   16 HEX   10:  cf a4 5c 9f  7e 71 4b 54   bd fa 80 02  7c b1 43 80
 DEC  240 HEX   f0:  11 4a e3 44  de d7 1b 35   f2 e6 0f eb  ad 72 7f d8
 DEC  256 HEX  100:  02 e1 e7 05  6b 0f 62 39   00 49 64 22  94 3e 97 b6
 DEC  496 HEX  1f0:  91 cb 93 c7  87 96 4e 10   d9 52 7d 99  9c 6f 93 6b
 DEC  512 HEX  200:  49 b1 8b 42  f8 e8 36 7c   be b5 ef 10  4b a1 c7 cd
 DEC  752 HEX  2f0:  87 08 4b 3b  a7 00 ba de   95 56 10 67  27 45 b3 74
 DEC  768 HEX  300:  e7 a7 b9 e9  ec 54 0d 5f   f4 3b db 12  79 2d 1b 35
 DEC 1008 HEX  3f0:  c7 99 b5 96  73 8f 6b 01   8c 76 c7 4b  17 59 bd 90
 DEC 1024 HEX  400:  7f ec 5b fd  9f 9b 89 ce   65 48 30 90  92 d7 e9 58
 DEC 1520 HEX  5f0:  40 f2 50 b2  6d 1f 09 6a   4a fd 4c 34  0a 58 88 15
 DEC 1536 HEX  600:  3e 34 13 5c  79 db 01 02   00 76 76 51  cf 26 30 73
 DEC 2032 HEX  7f0:  f6 56 ab cc  f8 8d d8 27   02 7b 2c e9  17 d4 64 ec
 DEC 2048 HEX  800:  18 b6 25 03  bf bc 07 7f   ba bb 98 f2  0d 98 ab 34
 DEC 3056 HEX  bf0:  8a ed 95 ee  5b 0d cb fb   ef 4e b2 1d  3a 3f 52 f9
 DEC 3072 HEX  c00:  62 5a 1a b0  0e e3 9a 53   27 34 6b dd  b0 1a 9c 18
 DEC 4080 HEX  ff0:  a1 3a 7c 79  c7 e1 19 b5   ab 02 96 ab  28 c3 00 b9
 DEC 4096 HEX 1000:  f3 e4 c0 a2  e0 2d 1d 01   f7 f0 a7 46  18 af 2b 48
)"},
};

constexpr std::size_t kStreamLength = 4112;

}  // namespace

class Arc4Rfc6229 : public ::testing::TestWithParam<RfcVector> {};

// The keystream is what ARC4 gives for a plaintext of zeros.
TEST_P(Arc4Rfc6229, KeystreamMatchesEverySample) {
    const RfcVector& v = GetParam();
    const std::vector<std::uint8_t> key = Hex(v.key);
    const std::vector<Sample> samples = ParseRfcLines(v.lines);
    ASSERT_EQ(samples.size(), 18u);

    Arc4State state;
    ASSERT_TRUE(Arc4Init(state, key.data(), key.size()));
    std::vector<std::uint8_t> zeros(kStreamLength, 0), stream(kStreamLength, 0xAA);
    Arc4Crypt(state, stream.data(), zeros.data(), stream.size());
    for (const Sample& s : samples) {
        ASSERT_EQ(s.bytes.size(), 16u) << "offset " << s.offset;
        const std::vector<std::uint8_t> got(stream.begin() + static_cast<long>(s.offset),
                                            stream.begin() + static_cast<long>(s.offset + 16));
        EXPECT_EQ(got, s.bytes) << v.name << " at offset " << s.offset;
    }
}

// Byte by byte, and in chunks of the serial update's size, the stream is the
// same: every call continues where the last one stopped.
TEST_P(Arc4Rfc6229, OneStreamAcrossCallsOfAnySize) {
    const RfcVector& v = GetParam();
    const std::vector<std::uint8_t> key = Hex(v.key);
    const std::vector<Sample> samples = ParseRfcLines(v.lines);

    Arc4State bytewise;
    ASSERT_TRUE(Arc4Init(bytewise, key.data(), key.size()));
    std::vector<std::uint8_t> a(kStreamLength);
    for (auto& b : a) b = Arc4NextByte(bytewise);

    Arc4State chunked;
    ASSERT_TRUE(Arc4Init(chunked, key.data(), key.size()));
    std::vector<std::uint8_t> zeros(kStreamLength, 0), c(kStreamLength);
    for (std::size_t at = 0; at < kStreamLength;) {
        const std::size_t n = std::min<std::size_t>(at % 3 == 0 ? 114 : 7, kStreamLength - at);
        Arc4Crypt(chunked, c.data() + at, zeros.data() + at, n);
        at += n;
    }
    EXPECT_EQ(a, c);
    for (const Sample& s : samples) {
        EXPECT_EQ(std::vector<std::uint8_t>(a.begin() + static_cast<long>(s.offset),
                                            a.begin() + static_cast<long>(s.offset + 16)),
                  s.bytes)
            << v.name << " at offset " << s.offset;
    }
}

INSTANTIATE_TEST_SUITE_P(Rfc6229, Arc4Rfc6229, ::testing::ValuesIn(kVectors), VectorTestName);

TEST(Arc4, KnownPlaintextAndTheWayBack) {
    // The classic "Key" / "Plaintext" pair.
    const std::string keyText = "Key";
    const std::string plain = "Plaintext";
    Arc4State enc;
    ASSERT_TRUE(Arc4Init(enc, reinterpret_cast<const std::uint8_t*>(keyText.data()), keyText.size()));
    std::vector<std::uint8_t> cipher(plain.size());
    Arc4Crypt(enc, cipher.data(), reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size());
    EXPECT_EQ(cipher, Hex("BBF316E8D940AF0AD3"));

    // The receiving side decrypts with a fresh state from the same key, in place.
    Arc4State dec;
    ASSERT_TRUE(Arc4Init(dec, reinterpret_cast<const std::uint8_t*>(keyText.data()), keyText.size()));
    Arc4Decrypt(dec, cipher.data(), cipher.data(), cipher.size());
    EXPECT_EQ(std::string(cipher.begin(), cipher.end()), plain);
}

TEST(Arc4, KeysTheCipherCannotTake) {
    Arc4State state;
    const std::uint8_t one = 1;
    EXPECT_FALSE(Arc4Init(state, &one, 0));
    EXPECT_FALSE(state.keyed);
    EXPECT_FALSE(Arc4Init(state, nullptr, 5));

    // An unkeyed state leaves the data as it is rather than inventing a stream.
    const std::uint8_t in[3] = {1, 2, 3};
    std::uint8_t out[3] = {};
    Arc4Crypt(state, out, in, 3);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 3), std::vector<std::uint8_t>(in, in + 3));
    EXPECT_EQ(Arc4NextByte(state), 0);
}
