// Update image container, CRC-32 and the acceptance of update files.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "device/UpdateImage.h"

namespace fs = std::filesystem;
using namespace update;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Bit-by-bit CRC-32 register step straight from the polynomial, kept apart
// from the production code on purpose.
std::uint32_t RefRegister(std::uint32_t reg, const Bytes& data) {
    for (std::uint8_t b : data) {
        reg ^= b;
        for (int k = 0; k < 8; ++k) {
            reg = (reg >> 1) ^ ((reg & 1u) ? 0xEDB88320u : 0u);
        }
    }
    return reg;
}
std::uint32_t RefCrc(const Bytes& data) { return ~RefRegister(0xFFFFFFFFu, data); }

Bytes Random(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(gen());
    return out;
}

void PutText(Bytes& out, std::size_t at, std::size_t width, const std::string& text) {
    for (std::size_t i = 0; i < width && i < text.size(); ++i) out[at + i] = static_cast<std::uint8_t>(text[i]);
}

struct Header {
    std::string product = "L-731";
    std::string firmware = "V1.24";
    std::array<std::string, 5> hardware{"V01", "V02", "", "", ""};
    std::array<std::string, 5> extra{"", "", "", "", ""};
};

Bytes HeaderBytes(const Header& h) {
    Bytes out(65, 0);
    PutText(out, 0, 10, h.product);
    PutText(out, 10, 5, h.firmware);
    for (std::size_t i = 0; i < 5; ++i) {
        PutText(out, 15 + 5 * i, 5, h.hardware[i]);
        PutText(out, 40 + 5 * i, 5, h.extra[i]);
    }
    return out;
}

// prefix + payload + CRC-32 of the payload, little-endian.
Bytes Image(const Bytes& prefix, const Bytes& payload) {
    Bytes out = prefix;
    out.insert(out.end(), payload.begin(), payload.end());
    const std::uint32_t crc = RefCrc(payload);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(crc >> (8 * k)));
    return out;
}
Bytes HeaderImage(const Header& h, const Bytes& payload) { return Image(HeaderBytes(h), payload); }

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void WriteAll(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

DeviceFields Device(std::string type = "L-731", std::string firmware = "123", std::string hardware = "V01") {
    return DeviceFields{std::move(type), std::move(firmware), std::move(hardware), 0};
}

// A private folder per test; the tests that need relative paths run inside it.
class UpdateFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "pellora-image-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    std::string Temp() const { return Path("Orvik_FW_Temp.bin"); }
    std::string Put(const std::string& name, const Bytes& bytes) const {
        WriteAll(Path(name), bytes);
        return Path(name);
    }
    fs::path dir_;
};

// ---------------------------------------------------------------------------

TEST(UpdateCrc32, StandardCheckValues) {
    const std::string nine = "123456789";
    const auto* p = reinterpret_cast<const std::uint8_t*>(nine.data());
    EXPECT_EQ(Crc32(9, p), 0xCBF43926u);
    EXPECT_EQ(Crc32Update(0xFFFFFFFFu, 9, p), 0x340BC6D9u);  // its complement
    const std::pair<std::string, std::uint32_t> known[] = {
        {"", 0x00000000u}, {"a", 0xE8B7BE43u}, {"abc", 0x352441C2u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u}};
    for (const auto& [text, crc] : known) {
        EXPECT_EQ(Crc32(Bytes(text.begin(), text.end())), crc) << text;
    }
    EXPECT_EQ(Crc32Update(0x12345678u, 0, nullptr), 0x12345678u);
}

TEST(UpdateCrc32, RandomPayloadsMatchBitwiseReference) {
    std::mt19937 gen(7);
    for (int round = 0; round < 40; ++round) {
        const Bytes data = Random(gen() % 3000, static_cast<unsigned>(round));
        const auto n = static_cast<std::uint32_t>(data.size());
        EXPECT_EQ(Crc32(n, data.data()), RefCrc(data)) << n;
        // Any preset register, and continuing across pieces.
        const std::uint32_t preset = gen();
        EXPECT_EQ(Crc32Update(preset, n, data.data()), RefRegister(preset, data));
        const std::uint32_t cut = n / 3;
        EXPECT_EQ(Crc32Update(Crc32Update(0xFFFFFFFFu, cut, data.data()), n - cut, data.data() + cut),
                  ~RefCrc(data));
    }
    const Bytes largest = Random(kMaxPayloadSize, 99);
    EXPECT_EQ(Crc32(largest), RefCrc(largest));
}

// gzip writes the CRC-32 of its input into the last 8 bytes of its output.
TEST_F(UpdateFileTest, Crc32MatchesGzipTrailer) {
    if (std::system("command -v gzip >/dev/null 2>&1") != 0) GTEST_SKIP() << "no gzip";
    for (unsigned seed : {1u, 2u, 3u}) {
        const Bytes data = Random(1000 + 777 * seed, seed);
        const std::string in = Put("crc.bin", data);
        ASSERT_EQ(std::system(("gzip -c -n '" + in + "' > '" + in + ".gz'").c_str()), 0);
        const Bytes gz = ReadAll(in + ".gz");
        ASSERT_GE(gz.size(), 8u);
        const std::size_t at = gz.size() - 8;
        const std::uint32_t crc = gz[at] | gz[at + 1] << 8 | gz[at + 2] << 16 | std::uint32_t(gz[at + 3]) << 24;
        EXPECT_EQ(Crc32(data), crc) << seed;
    }
}

// ---------------------------------------------------------------------------

TEST(UpdateImageParse, HeaderFieldsAndPayload) {
    Header h{"TK-517", "V3.05", {"V04", "V05", "", "", "V01AB"}, {"e1", "", "", "", "XXXXX"}};
    Bytes file = HeaderImage(h, Random(100, 3));
    file[0 + 8] = 'Z';  // after the name's NUL: not part of the text
    UpdateImage image;
    ASSERT_EQ(ParseUpdateImage(file, ImageMode::WithHeader, image), ImageStatus::Ok);
    EXPECT_TRUE(image.hasHeader);
    EXPECT_EQ(image.productName, "TK-517");
    EXPECT_EQ(image.firmwareVersion, "V3.05");  // fills its width
    EXPECT_EQ(image.hardwareVersions[0], "V04");
    EXPECT_EQ(image.hardwareVersions[4], "V01AB");
    EXPECT_EQ(image.extraFields[0], "e1");
    EXPECT_EQ(image.extraFields[4], "XXXXX");
    EXPECT_EQ(image.payload, Random(100, 3));
    EXPECT_EQ(image.crc, RefCrc(Random(100, 3)));
    EXPECT_EQ(ParseUpdateImage(file, ImageMode::Headerless, image), ImageStatus::CrcMismatch);
}

// Sizes around the header, the CRC and the payload limit, in both forms.
TEST(UpdateImageParse, BoundarySizes) {
    struct Row {
        const char* what;
        Bytes file;
        ImageStatus withHeader, headerless;
    };
    const Bytes header = HeaderBytes(Header{});
    const Row rows[] = {
        {"3 bytes", Bytes(3, 0), ImageStatus::TooShort, ImageStatus::TooShort},
        {"4 bytes, empty headerless payload", Image({}, {}), ImageStatus::TooShort, ImageStatus::EmptyPayload},
        {"68 bytes headerless", Image({}, Random(64, 1)), ImageStatus::TooShort, ImageStatus::Ok},
        {"69 bytes, empty payload", Image(header, {}), ImageStatus::EmptyPayload, ImageStatus::CrcMismatch},
        {"70 bytes", Image(header, {0x5A}), ImageStatus::Ok, ImageStatus::CrcMismatch},
        {"limit - 1", Image(header, Random(kMaxPayloadSize - 1, 2)), ImageStatus::Ok, ImageStatus::TooLarge},
        {"limit", Image(header, Random(kMaxPayloadSize, 2)), ImageStatus::Ok, ImageStatus::TooLarge},
        {"limit + 1", Image(header, Random(kMaxPayloadSize + 1, 2)), ImageStatus::TooLarge, ImageStatus::TooLarge},
        {"headerless limit", Image({}, Random(kMaxPayloadSize, 4)), ImageStatus::CrcMismatch, ImageStatus::Ok},
        {"headerless limit + 1", Image({}, Random(kMaxPayloadSize + 1, 4)), ImageStatus::CrcMismatch,
         ImageStatus::TooLarge},
    };
    for (const Row& row : rows) {
        UpdateImage image;
        EXPECT_EQ(ParseUpdateImage(row.file, ImageMode::WithHeader, image), row.withHeader) << row.what;
        EXPECT_EQ(ParseUpdateImage(row.file, ImageMode::Headerless, image), row.headerless) << row.what;
    }
}

// ---------------------------------------------------------------------------

TEST_F(UpdateFileTest, BoundarySizesEndToEnd) {
    const std::string name = "L731_FW_V1.30_QVR.zep";  // headerless name: L-731, V1.30, V01/V02
    const Bytes header = HeaderBytes(Header{});
    const struct {
        const char* what;
        Bytes file;
        CheckOutcome outcome;
        std::size_t payload;
    } rows[] = {
        {"3", Bytes(3, 0), CheckOutcome::Refused, 0},
        {"4", Image({}, {}), CheckOutcome::Refused, 0},
        {"68", Image({}, Random(64, 1)), CheckOutcome::Accepted, 64},
        {"69", Image(header, {}), CheckOutcome::Refused, 0},
        {"70", Image(header, {7}), CheckOutcome::Accepted, 1},
        {"limit", Image(header, Random(kMaxPayloadSize, 2)), CheckOutcome::Accepted, kMaxPayloadSize},
        {"limit + 1", Image(header, Random(kMaxPayloadSize + 1, 2)), CheckOutcome::Refused, 0},
        {"far too large", Bytes(kMaxFileSize + 1, 0), CheckOutcome::Refused, 0},
    };
    for (const auto& row : rows) {
        WriteAll(Temp(), {1, 2, 3});  // an earlier payload
        const UpdateFileCheck r = CheckUpdateFile(Put(name, row.file), Device());
        EXPECT_EQ(r.outcome, row.outcome) << row.what;
        EXPECT_EQ(r.executeEnabled, row.outcome == CheckOutcome::Accepted) << row.what;
        if (row.outcome == CheckOutcome::Accepted) {
            EXPECT_EQ(ReadAll(Temp()).size(), row.payload) << row.what;
        } else {
            EXPECT_EQ(r.messageStringId, 415) << row.what;
            EXPECT_FALSE(fs::exists(Temp())) << row.what;
        }
    }
}

// A header whose bytes leave the CRC register at its preset makes a file that
// checks out both with and without header.
TEST_F(UpdateFileTest, HeaderFormPreferredOverHeaderless) {
    Bytes header = HeaderBytes(Header{"TK517", "V3.10", {"V04"}, {}});
    // Forge header bytes 61..64 so that the register after the header is
    // 0xFFFFFFFF again (run the table step backwards from the target).
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) table[i] = RefRegister(i, Bytes{0});
    std::uint32_t t = 0xFFFFFFFFu;
    for (int k = 0; k < 4; ++k) {
        std::uint32_t idx = 0;
        while ((table[idx] >> 24) != (t >> 24)) ++idx;
        t = ((t ^ table[idx]) << 8) | idx;
    }
    const std::uint32_t before = RefRegister(0xFFFFFFFFu, Bytes(header.begin(), header.begin() + 61));
    for (int k = 0; k < 4; ++k) header[61 + k] = static_cast<std::uint8_t>((t ^ before) >> (8 * k));
    ASSERT_EQ(RefRegister(0xFFFFFFFFu, header), 0xFFFFFFFFu);

    const Bytes file = Image(header, Random(500, 5));
    UpdateImage image;
    ASSERT_EQ(ParseUpdateImage(file, ImageMode::Headerless, image), ImageStatus::Ok);
    // The name carries the model digits, which a headerless reading would use.
    const UpdateFileCheck r = CheckUpdateFile(Put("L731_FW_V1.30_QVR.zep", file), Device("ZEP ION", "300", "V04"));
    EXPECT_EQ(r.outcome, CheckOutcome::Accepted);
    EXPECT_FALSE(r.headerless);
    EXPECT_EQ(r.header.productName, "ZEP ION");
    EXPECT_EQ(r.verdictStringId, 437);
    EXPECT_EQ(ReadAll(Temp()), Random(500, 5));
}

TEST_F(UpdateFileTest, HeaderlessNameRule) {
    const Bytes file = Image({}, Random(300, 6));
    struct Row {
        const char* name;
        int verdict;
        const char* product;
        const char* firmware;
    } rows[] = {
        // n-20..n-18 "731", n-12..n-9 the version digits, n-7..n-5 the maker code.
        {"L731_FW_V1.30_QVR.zep", 437, "L-731", "V1.30"},
        {"x731_FW_V1.23_QVR.zep", 438, "L-731", "V1.23"},
        {"L731_FWxV0.99_QVR.zep", 439, "L-731", "V0.99"},
        {"L7310_FW_V1.30_QVR.zep", 435, "", ""},  // digits one place off
        {"L7x1_FW_V1.30_QVR.zep", 435, "", ""},   // all three required
    };
    for (const Row& row : rows) {
        const UpdateFileCheck r = CheckUpdateFile(Put(row.name, file), Device());
        EXPECT_TRUE(r.headerless) << row.name;
        EXPECT_EQ(r.verdictStringId, row.verdict) << row.name;
        EXPECT_EQ(r.edits[1].text, row.product) << row.name;  // 1213
        EXPECT_EQ(r.edits[0].text, row.firmware) << row.name;  // 1212
        // Only 1212 to 1215 are written.
        for (const HeaderEdit& e : r.edits) {
            EXPECT_EQ(e.written, e.controlId <= 1215) << row.name << " " << e.controlId;
        }
        if (row.verdict == 437 || row.verdict == 438) {
            EXPECT_EQ(r.edits[2].text, "V01");
            EXPECT_EQ(r.edits[3].text, "V02");
        }
        EXPECT_EQ(fs::exists(Temp()), row.verdict != 435) << row.name;
    }
}

TEST(UpdateProductName, Normalisation) {
    const std::pair<const char*, const char*> rows[] = {
        {"L731", "L-731"},      {"L-731", "L-731"},   {"TK511", "L-731"},    {"TK511-B", "L-731"},
        {"L4400C", "L-4400C"},  {"L4500", "L-4400C"}, {"L-4400C", "L-4400C"}, {"L-4500", "L-4400C"},
        {"TK515", "RVN-3"},     {"TK-515", "RVN-3"},  {"TrekPal515", "RVN-3"}, {"TK517", "ZEP ION"},
        {"TK-517", "ZEP ION"},  {"ZEP ION", "ZEP ION"}, {"RVN-3", "RVN-3"},   {"L-4400", "L-4400"},
        {"TK51", "TK51"},       {"tk517", "tk517"},   {"", ""},               {"Pellora", "Pellora"},
    };
    for (const auto& [in, out] : rows) EXPECT_EQ(NormaliseProductName(in), out) << in;
}

TEST_F(UpdateFileTest, MakerCodeTest) {
    const Bytes file = HeaderImage(Header{}, Random(80, 8));
    const std::pair<const char*, bool> rows[] = {
        {"fw_QVR.zep", true}, {"fw_Qxx.zep", true}, {"fw_xVx.zep", true}, {"fw_xxR.zep", true},
        {"fw_xxx.zep", false}, {"fw_RQV.zep", false}, {"fw_qvr.zep", false}, {"fw_QVR.zepx", false},
    };
    for (const auto& [name, passes] : rows) {
        EXPECT_EQ(PassesMakerCode(name), passes) << name;
        WriteAll(Temp(), {9});
        const UpdateFileCheck r = CheckUpdateFile(Put(name, file), Device());
        if (passes) {
            EXPECT_EQ(r.outcome, CheckOutcome::Accepted) << name;
            continue;
        }
        EXPECT_EQ(r.outcome, CheckOutcome::NotMakerFile) << name;
        EXPECT_EQ(r.messageStringId, 444);
        EXPECT_EQ(r.messageCaption, "WARNING!!");
        EXPECT_FALSE(r.executeEnabled);
        for (const HeaderEdit& e : r.edits) EXPECT_EQ(e.text, "");
        EXPECT_EQ(ReadAll(Temp()), Bytes{9});  // no file touched
    }
}

// Product and hardware mismatches, version verdicts and force mode.
TEST_F(UpdateFileTest, Verdicts) {
    const DeviceFields force = ForceUpdateDevice();
    const struct {
        const char* what;
        Header header;
        DeviceFields device;
        int verdict;
    } rows[] = {
        {"other product", Header{"RVN-3"}, Device(), 435},
        {"normalised product", Header{"TK511"}, Device(), 437},
        {"other hardware", Header{"L-731", "V1.24", {"V02", "V03"}}, Device(), 436},
        {"hardware only in extras", Header{"L-731", "V1.24", {"V02"}, {"V01"}}, Device(), 436},
        {"hardware in entry 5", Header{"L-731", "V1.24", {"", "", "", "", "V01"}}, Device(), 437},
        {"newer", Header{"L-731", "V2.00"}, Device(), 437},
        {"equal", Header{"L-731", "V1.23"}, Device(), 438},
        {"older", Header{"L-731", "V1.22"}, Device(), 439},
        {"no device hardware", Header{"L-731", "V1.24", {"V01", ""}}, Device("L-731", "123", ""), 436},
        {"no device type", Header{""}, Device("", "123", "V01"), 435},
        {"force, newer", Header{"Pellora", "V0.01"}, force, 116},
        {"force, any version", Header{"Pellora", "V9.99", {"V07", "V01"}}, force, 116},
        {"force, equal", Header{"Pellora", "V0.00"}, force, 438},
        {"force, other product", Header{"L-731", "V1.00"}, force, 435},
        {"force, without V01", Header{"Pellora", "V1.00", {"V02"}}, force, 436},
    };
    for (const auto& row : rows) {
        const Bytes payload = Random(256, 11);
        const UpdateFileCheck r = CheckUpdateFile(Put("fw_QVR.zep", HeaderImage(row.header, payload)), row.device);
        const bool passes = row.verdict != 435 && row.verdict != 436;
        EXPECT_EQ(r.verdictStringId, row.verdict) << row.what;
        EXPECT_EQ(r.outcome, passes ? CheckOutcome::Accepted : CheckOutcome::Rejected) << row.what;
        EXPECT_EQ(r.executeEnabled, passes) << row.what;
        EXPECT_EQ(r.messageStringId, 0) << row.what;
        EXPECT_TRUE(r.payloadExtracted) << row.what;
        EXPECT_EQ(fs::exists(Temp()), passes) << row.what;
        if (passes) {
            EXPECT_EQ(ReadAll(Temp()), payload) << row.what;
        }
        // All twelve edits show the header, whatever the verdict.
        for (const HeaderEdit& e : r.edits) EXPECT_TRUE(e.written) << row.what;
        EXPECT_EQ(r.edits[2].text, row.header.hardware[0]) << row.what;
    }
}

TEST(UpdateVersions, ValuesAndForceDevice) {
    EXPECT_EQ(FirmwareVersionValue("V0.00"), 0);
    EXPECT_EQ(FirmwareVersionValue("V1.23"), 123);
    EXPECT_EQ(FirmwareVersionValue("V3.05"), 305);
    EXPECT_EQ(FirmwareVersionValue("V9.99"), 999);
    EXPECT_EQ(FirmwareVersionValue("Vx.yy"), 0);
    EXPECT_EQ(FirmwareVersionValue("V1"), 100);
    EXPECT_EQ(FirmwareVersionValue(""), 0);
    EXPECT_EQ(DeviceFirmwareValue("305"), 305);
    EXPECT_EQ(DeviceFirmwareValue(" 42x"), 42);
    EXPECT_EQ(DeviceFirmwareValue("V0.00"), 0);
    EXPECT_EQ(DeviceFirmwareValue("99999999999999"), INT_MAX);
    const DeviceFields force = ForceUpdateDevice();
    EXPECT_EQ(force.deviceTypeName, "Pellora");
    EXPECT_EQ(force.deviceFirmwareText, "V0.00");
    EXPECT_EQ(DeviceFirmwareValue(force.deviceFirmwareText), kForceFirmwareValue);
    EXPECT_EQ(force.deviceHardwareVersion, "V01");
    EXPECT_EQ(force.forceUpdateMode, 1);
}

// ---------------------------------------------------------------------------

TEST_F(UpdateFileTest, PathBounds) {
    const Bytes file = HeaderImage(Header{}, Random(90, 12));
    // The longest folder whose temporary payload path still fits 255 characters.
    fs::path deep = dir_;
    while (deep.string().size() < 200) deep /= std::string(30, 'd');
    deep /= std::string(237 - 1 - deep.string().size(), 'e');
    ASSERT_EQ(deep.string().size(), 237u);
    fs::create_directories(deep);
    const std::string fits = (deep / "a_QVR.zep").string();  // 247 characters
    WriteAll(fits, file);
    UpdateFileCheck r = CheckUpdateFile(fits, Device());
    EXPECT_EQ(r.outcome, CheckOutcome::Accepted);
    EXPECT_EQ(r.tempPayloadPath, (deep / "Orvik_FW_Temp.bin").string());
    EXPECT_EQ(r.updateFileFolder, deep.string());

    const fs::path deeper = deep.string() + "f";  // its temporary path: 256 characters
    fs::create_directories(deeper);
    WriteAll((deeper / "a_QVR.zep").string(), file);
    r = CheckUpdateFile((deeper / "a_QVR.zep").string(), Device());
    EXPECT_EQ(r.outcome, CheckOutcome::Refused);
    EXPECT_EQ(r.status, ImageStatus::PathTooLong);

    r = CheckUpdateFile("/" + std::string(251, 'x') + "_QVR.zep", Device());  // 260 characters
    EXPECT_EQ(r.status, ImageStatus::PathTooLong);
    EXPECT_EQ(r.messageStringId, 415);

    // Relative paths: a name without a folder, and paths too short for the
    // name rules, refused without a crash.
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_);
    fs::create_directory("d");
    WriteAll("fw_QVR.zep", file);
    WriteAll("d/fQVR.zep", Image({}, Random(70, 13)));  // headerless, 10 characters
    const struct {
        const char* path;
        ImageStatus status;
    } rows[] = {
        {"fw_QVR.zep", ImageStatus::NoFolder},       {"a.zep", ImageStatus::NameTooShort},
        {"d/xR.zep", ImageStatus::CannotOpen},       {"", ImageStatus::Ok},
        {"d/fQVR.zep", ImageStatus::NameTooShort},   {"d/", ImageStatus::NameTooShort},
    };
    for (const auto& row : rows) {
        r = CheckUpdateFile(row.path, Device());
        EXPECT_EQ(r.status, row.status) << row.path;
        EXPECT_EQ(r.outcome, *row.path ? CheckOutcome::Refused : CheckOutcome::Ignored) << row.path;
        EXPECT_FALSE(r.executeEnabled);
    }
    EXPECT_FALSE(fs::exists("d/Orvik_FW_Temp.bin"));
    fs::current_path(cwd);
}

TEST_F(UpdateFileTest, NewCheckClearsThePreviousOne) {
    const std::string good = Put("good_QVR.zep", HeaderImage(Header{}, Random(120, 14)));
    UpdateFileCheck r = CheckUpdateFile(good, Device());
    ASSERT_EQ(r.outcome, CheckOutcome::Accepted);
    ASSERT_TRUE(fs::exists(Temp()));

    Bytes broken = HeaderImage(Header{}, Random(120, 14));
    broken[100] ^= 1;
    r = CheckUpdateFile(Put("bad_QVR.zep", broken), Device());
    EXPECT_EQ(r.outcome, CheckOutcome::Refused);
    EXPECT_EQ(r.status, ImageStatus::CrcMismatch);
    EXPECT_EQ(r.messageStringId, 415);
    EXPECT_EQ(r.messageCaptionStringId, 300);
    EXPECT_EQ(r.verdictStringId, 0);
    EXPECT_FALSE(r.executeEnabled);
    for (const HeaderEdit& e : r.edits) EXPECT_EQ(e.text, "") << e.controlId;
    EXPECT_FALSE(fs::exists(Temp()));  // the earlier payload is gone too

    // A rejected file after an accepted one leaves no payload either.
    ASSERT_EQ(CheckUpdateFile(good, Device()).outcome, CheckOutcome::Accepted);
    r = CheckUpdateFile(good, Device("RVN-3", "100", "V01"));
    EXPECT_EQ(r.outcome, CheckOutcome::Rejected);
    EXPECT_FALSE(fs::exists(Temp()));
}

TEST_F(UpdateFileTest, UnwritableTemporaryPayload) {
    const std::string file = Put("fw_QVR.zep", HeaderImage(Header{}, Random(5000, 15)));
    fs::create_directory(Temp());  // nobody can write a file where a folder stands
    UpdateFileCheck r = CheckUpdateFile(file, Device());
    EXPECT_EQ(r.outcome, CheckOutcome::Refused);
    EXPECT_EQ(r.status, ImageStatus::WriteFailed);
    EXPECT_FALSE(r.executeEnabled);
    EXPECT_TRUE(fs::is_directory(Temp()));  // and it is left alone
    fs::remove(Temp());

    if (::geteuid() != 0) {  // a read-only folder
        fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::remove);
        r = CheckUpdateFile(file, Device());
        EXPECT_EQ(r.status, ImageStatus::WriteFailed);
        fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::add);
    }

    // A full disk, in a child limited to 1000-byte files.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const UpdateFileCheck c = CheckUpdateFile(file, Device());
        const bool ok = c.status == ImageStatus::WriteFailed && c.messageStringId == 415 &&
                        !c.executeEnabled && !fs::exists(Temp());
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(UpdateFileTest, UpdateFileIsNeverOverwritten) {
    const Bytes bytes = HeaderImage(Header{}, Random(150, 16));
    const std::string file = Put("fw_QVR.zep", bytes);
    fs::create_hard_link(file, Temp());
    const UpdateFileCheck r = CheckUpdateFile(file, Device());
    EXPECT_EQ(r.status, ImageStatus::SameFile);
    EXPECT_EQ(ExtractFirmwarePayload(ImageMode::WithHeader, file, Temp()), ImageStatus::SameFile);
    EXPECT_EQ(ReadAll(file), bytes);

    EXPECT_EQ(CheckUpdateFile(Path("missing_QVR.zep"), Device()).status, ImageStatus::CannotOpen);
    fs::create_directory(Path("dir_QVR.zep"));
    EXPECT_EQ(CheckUpdateFile(Path("dir_QVR.zep"), Device()).status, ImageStatus::CannotOpen);
}

// A link standing at the payload's name is replaced, never written through,
// whether its target exists or not; removing the payload removes the name.
TEST_F(UpdateFileTest, PayloadNameHeldByALink) {
    const Bytes payload = Random(3000, 18);
    const std::string file = Put("fw_QVR.zep", HeaderImage(Header{}, payload));
    const Bytes victim = Random(100, 19);
    for (const std::string& target : {Put("victim.txt", victim), Path("planted.txt")}) {
        fs::remove(Temp());
        fs::create_symlink(target, Temp());
        const UpdateFileCheck r = CheckUpdateFile(file, Device());
        EXPECT_EQ(r.outcome, CheckOutcome::Accepted);
        EXPECT_FALSE(fs::is_symlink(Temp()));
        EXPECT_EQ(ReadAll(Temp()), payload);
    }
    EXPECT_EQ(ReadAll(Path("victim.txt")), victim);
    EXPECT_FALSE(fs::exists(Path("planted.txt")));

    fs::remove(Temp());
    fs::create_symlink(Path("victim.txt"), Temp());
    RemovePayloadFile(Temp());
    EXPECT_FALSE(fs::exists(fs::symlink_status(Temp())));
    EXPECT_EQ(ReadAll(Path("victim.txt")), victim);
}

// The firmware page's use: header form only, the header is not compared.
TEST_F(UpdateFileTest, ExtractFirmwarePayload) {
    const Bytes payload = Random(4000, 17);
    Bytes file = HeaderImage(Header{"anything"}, payload);
    UpdateImage image;
    EXPECT_EQ(ExtractFirmwarePayload(ImageMode::WithHeader, Put("fw.bin", file), Temp(), &image), ImageStatus::Ok);
    EXPECT_EQ(ReadAll(Temp()), payload);
    EXPECT_EQ(image.productName, "anything");
    file.back() ^= 0x80;  // the CRC's top byte
    EXPECT_EQ(ExtractFirmwarePayload(ImageMode::WithHeader, Put("fw.bin", file), Temp()), ImageStatus::CrcMismatch);
    EXPECT_FALSE(fs::exists(Temp()));
}

}  // namespace
