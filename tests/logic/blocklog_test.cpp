// Block read-out records: the worked example, decoding of blocks, the text
// and raw outputs, and the KML document byte for byte against the golden
// files in tests/data/blocklog/, each vetted by xmllint.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "support/ProcessZone.h"
#include "tracklog/BlockLogRecord.h"

namespace fs = std::filesystem;

namespace {

using Block = std::array<std::uint8_t, kBlockLogBlockBytes>;

Block MakeBlock(const std::vector<BlockLogRecord>& records, std::size_t firstSlot = 0) {
    Block block;
    block.fill(0xFF);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto bytes = EncodeBlockLogRecord(records[i]);
        std::copy(bytes.begin(), bytes.end(), block.begin() + static_cast<long>((firstSlot + i) * 16));
    }
    return block;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// 2008-05-03 04:00:00 UTC and one minute later.
const BlockLogRecord kFirst{1215000000, 247500000, 12750, 1209787200};
const BlockLogRecord kSecond{-1, -247500001, -50, 1209787260};

class BlockLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetChosenZoneOffset(8 * 3600);
        dir = fs::temp_directory_path() / ("blocklog-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        ClearChosenZone();
        fs::remove_all(dir);
    }
    fs::path dir;
};

}  // namespace

TEST(BlockLogRecord, WorkedExampleAndSigns) {
    EXPECT_EQ(FormatBlockLogPoint(kFirst), "121.5000000,24.7500000,127.50");
    EXPECT_EQ(FormatBlockLogPoint({-1, 0, -1, 0}), "-0.0000001,0.0000000,-0.01");
    const auto bytes = EncodeBlockLogRecord(kSecond);
    const BlockLogRecord back = DecodeBlockLogRecord(bytes);
    EXPECT_EQ(back.longitude, -1);
    EXPECT_EQ(back.latitude, -247500001);
    EXPECT_EQ(back.time, 1209787260u);
    EXPECT_EQ(bytes[0], 0xFF);  // little-endian
    EXPECT_EQ(bytes[12], 0x7C);  // 1209787260 = 0x481C1C7C
}

TEST_F(BlockLogTest, DecodingSkipsEmptyRecordsAndBlocksPastTheEnd) {
    BlockLogStore store;
    std::string text;
    EXPECT_EQ(DecodeTrackRecords(MakeBlock({}), 0, 1024, kOutputText, store, text), 0u);
    EXPECT_EQ(DecodeTrackRecords(MakeBlock({kFirst}, 31), 512, 1000, kOutputText, store, text), 0u);
    EXPECT_EQ(store.Count(), 0u);
    EXPECT_EQ(DecodeTrackRecords(MakeBlock({kFirst, kSecond}, 5), 512, 1024, kOutputText, store, text), 2u);
    EXPECT_EQ(text,
              "121.5000000,24.7500000,127.50,Sat May  3 12:00:00 2008\n"
              "-0.0000001,-24.7500001,-0.50,Sat May  3 12:01:00 2008\n");
    EXPECT_TRUE(store.Coordinates().empty());  // kept for KML only
}

TEST_F(BlockLogTest, KmlByteForByteAndWellFormed) {
    struct Case { const char* golden; std::vector<BlockLogRecord> records; };
    for (const Case& c : {Case{"one_record.kml", {kFirst}}, Case{"two_records.kml", {kFirst, kSecond}}}) {
        const fs::path out = dir / c.golden;
        TrackLogOutputFile file;
        // A first read-out into the same object must leave nothing behind.
        ASSERT_TRUE(file.Open((dir / "earlier.kml").string(), kOutputKml));
        ASSERT_TRUE(file.StoreBlock(MakeBlock({kSecond, kSecond, kSecond}), 0, 512));
        ASSERT_TRUE(file.Commit());

        ASSERT_TRUE(file.Open(out.string(), kOutputKml));
        ASSERT_TRUE(file.StoreBlock(MakeBlock({}), 0, 1024));
        ASSERT_TRUE(file.StoreBlock(MakeBlock(c.records, 3), 512, 1024));
        EXPECT_FALSE(fs::exists(out));  // in place only at the end
        ASSERT_TRUE(file.Commit());
        EXPECT_EQ(file.Store().Count(), c.records.size());
        EXPECT_EQ(ReadAll(out), ReadAll(fs::path(PELLORA_TEST_DATA_DIR) / "blocklog" / c.golden)) << c.golden;
        const std::string lint = "xmllint --noout '" + out.string() + "'";
        EXPECT_EQ(std::system(lint.c_str()), 0) << c.golden;
    }
}

TEST_F(BlockLogTest, RawAndTextOutputsAndAFileThatCannotBeOpened) {
    TrackLogOutputFile file;
    int error = 0;
    EXPECT_FALSE(file.Open((dir / "missing" / "x.trl").string(), kOutputRaw, &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(file.StoreBlock(MakeBlock({kFirst}), 0, 512));
    EXPECT_FALSE(file.Commit());

    // Raw: the last block gives only the bytes that remain of the transfer.
    ASSERT_TRUE(file.Open((dir / "x.trl").string(), kOutputRaw));
    const Block block = MakeBlock({kFirst, kSecond});
    ASSERT_TRUE(file.StoreBlock(block, 0, 530));
    ASSERT_TRUE(file.StoreBlock(block, 512, 530));
    ASSERT_TRUE(file.Commit());
    const std::string raw = ReadAll(dir / "x.trl");
    ASSERT_EQ(raw.size(), 530u);
    EXPECT_EQ(raw.substr(512), std::string(reinterpret_cast<const char*>(block.data()), 18));

    // Text: one line per record, written in text mode (CR LF).
    ASSERT_TRUE(file.Open((dir / "x.txt").string(), kOutputText));
    ASSERT_TRUE(file.StoreBlock(MakeBlock({kFirst}), 0, 512));
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(ReadAll(dir / "x.txt"), "121.5000000,24.7500000,127.50,Sat May  3 12:00:00 2008\r\n");
}
