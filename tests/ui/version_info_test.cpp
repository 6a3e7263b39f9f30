// Version blocks: the program's own, and made-up ones written to files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/VersionResource.h"
#include "shell/FileVersionInfo.h"

namespace {

std::string WriteBlock(const platform::VersionSpec& layout, const std::string& name) {
    const auto path = std::filesystem::temp_directory_path() / ("pellora_ver_" + name + std::to_string(::getpid()));
    std::ofstream out(path, std::ios::binary);
    const std::vector<std::uint8_t> junk(100, 0xAB);
    out.write(reinterpret_cast<const char*>(junk.data()), static_cast<std::streamsize>(junk.size()));
    const auto bytes = platform::BuildEmbeddedVersion(layout);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

platform::VersionSpec Sample() {
    platform::VersionSpec layout;
    layout.fixed.productVersionMS = (1u << 16) | 2u;
    layout.fixed.productVersionLS = (3u << 16) | 4u;
    layout.fixed.fileVersionMS = (5u << 16) | 6u;
    layout.fixed.fileVersionLS = (7u << 16) | 8u;
    // 2009-06-15 00:00:00 UTC as a file time.
    const std::uint64_t fileTime = (1245024000ULL + 11644473600ULL) * 10000000ULL;
    layout.fixed.fileDateMS = static_cast<std::uint32_t>(fileTime >> 32);
    layout.fixed.fileDateLS = static_cast<std::uint32_t>(fileTime);
    layout.tables.push_back({"040904B0", {{"CompanyName", "Maker"}, {"ProductName", "Thing ü"}}});
    layout.tables.push_back({"041104B0", {{"CompanyName", "メーカー"}, {"ProductName", "機器"}}});
    layout.translations = {0x04B00409};
    return layout;
}

class VersionInfoTest : public ::testing::Test {
protected:
    void TearDown() override {
        platform::SetUserDefaultLangId(0);
        for (const auto& f : files) std::remove(f.c_str());
    }
    std::string Write(const platform::VersionSpec& layout, const std::string& name) {
        files.push_back(WriteBlock(layout, name));
        return files.back();
    }
    std::vector<std::string> files;
};

TEST_F(VersionInfoTest, TheProgramsOwnVersionIsThreeZeroZeroZero) {
    CFileVersionInfo info;
    ASSERT_TRUE(info.ReadFromModule());
    EXPECT_EQ(info.GetProductVersionPart(3), 3);
    EXPECT_EQ(info.GetProductVersionPart(2), 0);
    EXPECT_EQ(info.GetProductVersionPart(1), 0);
    EXPECT_EQ(info.GetProductVersionPart(0), 0);
    EXPECT_EQ(info.GetProductName(), "Pellora Update");
}

TEST_F(VersionInfoTest, OnlyTranslationDecidesTheStringTable) {
    const std::string path = Write(Sample(), "en");
    for (std::uint16_t user : {0x0411, 0x0409, 0x0407}) {
        platform::SetUserDefaultLangId(user);
        CFileVersionInfo info;
        ASSERT_TRUE(info.ReadFromFile(path));
        EXPECT_EQ(info.GetCompanyName(), "Maker") << user;
        EXPECT_EQ(info.GetProductName(), "Thing ü");
        EXPECT_EQ(info.GetComments(), "");
    }
}

TEST_F(VersionInfoTest, UserLanguageWinsOverTheFirstEntry) {
    platform::VersionSpec layout = Sample();
    layout.translations = {0x04B00409, 0x04B00411};
    const std::string path = Write(layout, "ja");
    platform::SetUserDefaultLangId(0x0411);
    CFileVersionInfo info;
    ASSERT_TRUE(info.ReadFromFile(path));
    EXPECT_EQ(info.GetCompanyName(), "メーカー");
    platform::SetUserDefaultLangId(0x0407);  // German: falls to English by the low byte 9
    ASSERT_TRUE(info.ReadFromFile(path));
    EXPECT_EQ(info.GetCompanyName(), "Maker");
}

TEST_F(VersionInfoTest, PartsAndFixedWords) {
    CFileVersionInfo info;
    ASSERT_TRUE(info.ReadFromFile(Write(Sample(), "parts")));
    EXPECT_EQ(info.GetProductVersionPart(3), 1);
    EXPECT_EQ(info.GetProductVersionPart(2), 2);
    EXPECT_EQ(info.GetProductVersionPart(1), 3);
    EXPECT_EQ(info.GetProductVersionPart(0), 4);
    EXPECT_EQ(info.GetFileVersionPart(3), 5);
    EXPECT_EQ(info.GetFileVersionPart(0), 8);
    EXPECT_EQ(info.GetProductVersionPart(4), 0);
    EXPECT_EQ(info.GetProductVersionPart(-1), 0);
    EXPECT_EQ(info.GetFileVersionPart(7), 0);
    EXPECT_EQ(info.GetFileDate(), 1245024000);
    EXPECT_EQ(info.GetFileFlagsMask(), 0x3Fu);
}

TEST_F(VersionInfoTest, AFixedBlockOfTheWrongLengthIsNotTaken) {
    platform::VersionSpec layout = Sample();
    layout.fixedLength = 48;
    CFileVersionInfo info;
    ASSERT_TRUE(info.ReadFromFile(Write(layout, "short")));
    EXPECT_EQ(info.FixedInfo().signature, 0u);
    EXPECT_EQ(info.GetProductVersionPart(3), 0);
    EXPECT_EQ(info.GetCompanyName(), "Maker");
}

TEST_F(VersionInfoTest, NoTranslationTableReadsNoStrings) {
    platform::VersionSpec layout = Sample();
    layout.hasTranslations = false;
    CFileVersionInfo info;
    ASSERT_TRUE(info.ReadFromFile(Write(layout, "notrans")));
    EXPECT_EQ(info.GetCompanyName(), "");
    EXPECT_EQ(info.GetProductVersionPart(3), 1);
}

TEST_F(VersionInfoTest, FilesWithoutVersionInformation) {
    CFileVersionInfo info;
    EXPECT_FALSE(info.ReadFromFile("/nonexistent/file"));
    const auto path = std::filesystem::temp_directory_path() / ("pellora_plain_" + std::to_string(::getpid()));
    std::ofstream(path) << "no version here";
    files.push_back(path.string());
    EXPECT_FALSE(info.ReadFromFile(path.string()));
    EXPECT_EQ(info.GetProductVersionPart(3), 0);
    // A truncated block is refused, not read past its end.
    auto bytes = platform::BuildEmbeddedVersion(Sample());
    bytes.resize(bytes.size() / 2);
    const auto cut = std::filesystem::temp_directory_path() / ("pellora_cut_" + std::to_string(::getpid()));
    std::ofstream(cut, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    files.push_back(cut.string());
    EXPECT_FALSE(info.ReadFromFile(cut.string()));
}

TEST(FindLanguage, ExactThenLoose) {
    const std::uint32_t table[] = {0x04B00409, 0x03A40411, 0x04B00007};
    std::uint32_t entry = 0;
    EXPECT_TRUE(CFileVersionInfo::FindLanguage(table, sizeof(table), 0x0411, entry, false));
    EXPECT_EQ(entry, 0x03A40411u);
    EXPECT_FALSE(CFileVersionInfo::FindLanguage(table, sizeof(table), 0x0809, entry, false));
    EXPECT_TRUE(CFileVersionInfo::FindLanguage(table, sizeof(table), 0x0809, entry, true));
    EXPECT_EQ(entry, 0x04B00409u);
    EXPECT_FALSE(CFileVersionInfo::FindLanguage(table, sizeof(table), 0x040C, entry, true));
    EXPECT_FALSE(CFileVersionInfo::FindLanguage(nullptr, 0, 9, entry, true));
}

}  // namespace
