// Download-agent and scatter files: the layouts, every check the library
// relies on, and the set written for a program folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "flashlib/FlashFiles.h"
#include "flashlib/FlashProtocol.h"

namespace ff = platform::flashfiles;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using ff::FileStatus;

namespace {

class TempFolder {
public:
    TempFolder() {
        char templ[] = "/tmp/pellora-flashfiles-XXXXXX";
        path_ = ::mkdtemp(templ) ? templ : "";
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }
    std::string Write(const std::string& name, const Bytes& bytes) const {
        const std::string p = path_ + "/" + name;
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<std::streamsize>(bytes.size()));
        return p;
    }
    std::string WriteText(const std::string& name, const std::string& text) const {
        return Write(name, Bytes(text.begin(), text.end()));
    }

private:
    std::string path_;
};

const Bytes kCode = {0x10, 0x20, 0x30, 0x40, 0x50};

}  // namespace

TEST(FlashAgentFile, LayoutOfABuiltAgent) {
    const Bytes file = ff::BuildAgentFile("MT3318", kCode);
    ASSERT_EQ(file.size(), 32u + kCode.size());
    EXPECT_EQ(std::string(file.begin(), file.begin() + 8), "PLDAGENT");
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), std::string("MT3318\0\0", 8));
    EXPECT_EQ(platform::flashproto::GetLe32(&file[16]), 1u);
    EXPECT_EQ(platform::flashproto::GetLe32(&file[20]), kCode.size());
    EXPECT_EQ(platform::flashproto::GetLe32(&file[24]), platform::flashproto::Crc32(kCode));
    EXPECT_EQ(platform::flashproto::GetLe32(&file[28]), 0u);
    EXPECT_EQ(Bytes(file.begin() + 32, file.end()), kCode);

    ff::AgentFile agent;
    ASSERT_EQ(ff::ParseAgentFile(file, agent), FileStatus::Ok);
    EXPECT_EQ(agent.chip, "MT3318");
    EXPECT_EQ(agent.code, kCode);
}

TEST(FlashAgentFile, RefusesWhatIsNotAValidAgent) {
    const Bytes good = ff::BuildAgentFile("MT3329", kCode);
    ff::AgentFile agent;
    auto with = [&](std::size_t offset, std::uint8_t value) {
        Bytes b = good;
        b[offset] = value;
        return ff::ParseAgentFile(b, agent);
    };
    EXPECT_EQ(with(0, 'X'), FileStatus::BadFormat);         // magic
    EXPECT_EQ(with(16, 2), FileStatus::BadFormat);          // format version
    EXPECT_EQ(with(20, 6), FileStatus::BadFormat);          // length says more than there is
    EXPECT_EQ(with(28, 1), FileStatus::BadFormat);          // reserved word
    EXPECT_EQ(with(13, '7'), FileStatus::BadChip);          // "MT3327"
    EXPECT_EQ(with(15, 'Z'), FileStatus::BadFormat);        // padding after the name
    EXPECT_EQ(with(32, 0xFF), FileStatus::BadCrc);          // code changed
    EXPECT_EQ(ff::ParseAgentFile(Bytes(good.begin(), good.begin() + 31), agent), FileStatus::BadFormat);
    EXPECT_EQ(ff::ParseAgentFile(ff::BuildAgentFile("MT3329", {}), agent), FileStatus::BadFormat);
    EXPECT_EQ(ff::ParseAgentFile(ff::BuildAgentFile("MT6235", kCode), agent), FileStatus::BadChip);
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_EQ(ff::ParseAgentFile(longer, agent), FileStatus::BadFormat);
}

TEST(FlashAgentFile, TheChipInTheNameMustBeTheChipInside) {
    TempFolder dir;
    const Bytes mt3329 = ff::BuildAgentFile("MT3329", kCode);
    ff::AgentFile agent;
    EXPECT_EQ(ff::ReadAgentFile(dir.Write("DA_MT3329_x.bin", mt3329), agent), FileStatus::Ok);
    EXPECT_EQ(agent.chip, "MT3329");
    EXPECT_EQ(ff::ReadAgentFile(dir.Write("DA_MT3318_x.bin", mt3329), agent), FileStatus::BadChip);
    EXPECT_EQ(ff::ReadAgentFile(dir.Write("agent.bin", mt3329), agent), FileStatus::Ok);
    EXPECT_EQ(ff::ReadAgentFile(dir.Path() + "/missing.bin", agent), FileStatus::CannotOpen);
    EXPECT_EQ(ff::ReadAgentFile(dir.Path(), agent), FileStatus::CannotOpen);  // a folder
    EXPECT_EQ(ff::ReadAgentFile("", agent), FileStatus::CannotOpen);
    EXPECT_EQ(ff::ReadAgentFile(dir.Write("DA_MT3329_big.bin", Bytes(32 + 64 * 1024 + 1, 0)), agent),
              FileStatus::BadFormat);
}

TEST(FlashScatterFile, ParsesRegionsWithCommentsAndCrLf) {
    const std::string text =
        "# flash layout\r\n"
        "\r\n"
        "PELLORA-SCATTER 1\r\n"
        "  REGION ROM 0x00000000 0x000C8000\r\n"
        "# the rest\n"
        "REGION NVRAM\t0x000F0000 0x10000\n";
    std::vector<ff::ScatterRegion> regions;
    ASSERT_EQ(ff::ParseScatterText(text, regions), FileStatus::Ok);
    ASSERT_EQ(regions.size(), 2u);
    EXPECT_EQ(regions[0], (ff::ScatterRegion{"ROM", 0, 0xC8000}));
    EXPECT_EQ(regions[1], (ff::ScatterRegion{"NVRAM", 0xF0000, 0x10000}));
}

TEST(FlashScatterFile, RefusesBrokenFiles) {
    std::vector<ff::ScatterRegion> regions;
    const std::string header = "PELLORA-SCATTER 1\n";
    EXPECT_EQ(ff::ParseScatterText("", regions), FileStatus::BadFormat);
    EXPECT_EQ(ff::ParseScatterText(header, regions), FileStatus::BadFormat);  // no region
    EXPECT_EQ(ff::ParseScatterText("REGION ROM 0x0 0x100\n", regions), FileStatus::BadFormat);  // no header
    EXPECT_EQ(ff::ParseScatterText("PELLORA-SCATTER 2\nREGION ROM 0x0 0x100\n", regions), FileStatus::BadFormat);
    EXPECT_EQ(ff::ParseScatterText(header + "REGION ROM 0 0x100\n", regions), FileStatus::BadFormat);
    EXPECT_EQ(ff::ParseScatterText(header + "REGION ROM 0x0 0x0\n", regions), FileStatus::BadFormat);
    EXPECT_EQ(ff::ParseScatterText(header + "REGION ROM 0x0 0xG0\n", regions), FileStatus::BadFormat);
    EXPECT_EQ(ff::ParseScatterText(header + "REGION ROM 0x0 0x100 extra\n", regions), FileStatus::BadFormat);
    EXPECT_EQ(ff::ParseScatterText(header + "REGION R-OM 0x0 0x100\n", regions), FileStatus::BadFormat);
    EXPECT_EQ(ff::ParseScatterText(header + "REGION ABCDEFGHIJKLMNOPQ 0x0 0x100\n", regions), FileStatus::BadFormat);
    EXPECT_EQ(ff::ParseScatterText(header + "REGION ROM 0xFFFFFF00 0x101\n", regions), FileStatus::BadFormat);
    EXPECT_EQ(ff::ParseScatterText(header + "REGION ROM 0xFFFFFF00 0x100\n", regions), FileStatus::Ok);
    EXPECT_EQ(ff::ParseScatterText(header + "REGION A 0x0 0x100\nREGION A 0x200 0x100\n", regions),
              FileStatus::BadFormat);  // same name twice
    EXPECT_EQ(ff::ParseScatterText(header + "REGION A 0x200 0x100\nREGION B 0x0 0x201\n", regions),
              FileStatus::BadFormat);  // overlap
    EXPECT_EQ(ff::ParseScatterText(header + "REGION A 0x200 0x100\nREGION B 0x0 0x200\n", regions), FileStatus::Ok);
    EXPECT_EQ(regions.front().name, "A");  // the order of the file is kept
}

TEST(FlashScatterFile, BuildThenReadGivesTheSameRegions) {
    TempFolder dir;
    const std::vector<ff::ScatterRegion> regions = {{"ROM", 0x0, 0x100000}, {"CFG", 0x100000, 0x1000}};
    const std::string path = dir.WriteText("scat.txt", ff::BuildScatterText(regions));
    std::vector<ff::ScatterRegion> back;
    ASSERT_EQ(ff::ReadScatterFile(path, back), FileStatus::Ok);
    EXPECT_EQ(back, regions);
    EXPECT_EQ(ff::ReadScatterFile(dir.Path() + "/none.txt", back), FileStatus::CannotOpen);
    EXPECT_EQ(ff::ReadScatterFile(dir.WriteText("big.txt", std::string(64 * 1024 + 1, '#')), back), FileStatus::TooLarge);
}

TEST(FlashProgramFolder, WritesAValidSet) {
    TempFolder dir;
    std::vector<std::string> written;
    std::string error;
    ASSERT_TRUE(ff::WriteFlashFiles(dir.Path(), false, &written, &error)) << error;
    ASSERT_EQ(written.size(), 3u);
    ff::AgentFile agent;
    ASSERT_EQ(ff::ReadAgentFile(dir.Path() + "/DA_MT3318_v1.bin", agent), FileStatus::Ok);
    EXPECT_EQ(agent.chip, "MT3318");
    EXPECT_EQ(agent.code.size(), 1024u);
    const Bytes code3318 = agent.code;
    ASSERT_EQ(ff::ReadAgentFile(dir.Path() + "/DA_MT3329_v1.bin", agent), FileStatus::Ok);
    EXPECT_EQ(agent.chip, "MT3329");
    EXPECT_NE(agent.code, code3318);
    std::vector<ff::ScatterRegion> regions;
    ASSERT_EQ(ff::ReadScatterFile(dir.Path() + "/scat.txt", regions), FileStatus::Ok);
    EXPECT_EQ(regions, ff::DefaultRegions());
    EXPECT_FALSE(fs::exists(dir.Path() + "/MTK_AllInOne_DA_MT3318_v1.bin"));

    ASSERT_TRUE(ff::WriteFlashFiles(dir.Path(), true, &written, &error)) << error;
    EXPECT_EQ(written.size(), 5u);
    EXPECT_EQ(ff::ReadAgentFile(dir.Path() + "/MTK_AllInOne_DA_MT3329_v1.bin", agent), FileStatus::Ok);
    EXPECT_EQ(agent.chip, "MT3329");

    EXPECT_FALSE(ff::WriteFlashFiles(dir.Path() + "/absent", false, &written, &error));
    EXPECT_FALSE(error.empty());
}
