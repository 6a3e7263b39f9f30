// The track-log record's byte layout against the worked vector, and whole
// files written in place without going through what stood there.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/AtomicFile.h"
#include "support/ProcessZone.h"
#include "support/StdioFileEx.h"
#include "tracklog/TrackLogRecord.h"

namespace fs = std::filesystem;

// Every fsync of this test program, by the size of the file synced.
static std::vector<off_t> syncedSizes;
extern "C" int fsync(int fd) {
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    struct stat st {};
    syncedSizes.push_back(::fstat(fd, &st) == 0 ? st.st_size : -1);
    return real(fd);
}

TEST(TrackLogRecordTest, WorkedVector) {
    // 2024-06-01 12:00:00Z, 35.5, 139.25, 100.0
    const TrackLogRecordBytes expected = {0x40, 0x0D, 0x5B, 0x66, 0x00, 0x00, 0x0E, 0x42,
                                          0x00, 0x40, 0x0B, 0x43, 0x00, 0xC8, 0x42, 0xBE};
    EXPECT_EQ(EncodeTrackLogRecord({1717243200u, 35.5f, 139.25f, 100.0f}), expected);
    const TrackLogRecord back = DecodeTrackLogRecord(expected);
    EXPECT_EQ(back.utcTime, 1717243200u);
    EXPECT_EQ(back.latitude, 35.5f);
    EXPECT_EQ(back.longitude, 139.25f);
    EXPECT_EQ(back.height, 100.0f);
    EXPECT_TRUE(RecordChecksumValid(expected));
    TrackLogRecordBytes broken = expected;
    broken[3] ^= 1;
    EXPECT_FALSE(RecordChecksumValid(broken));
}

TEST(AtomicFileTest, ReplacesALinkInsteadOfWritingThroughIt) {
    const fs::path dir = fs::temp_directory_path() / ("pellora-atomic-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    { std::ofstream(dir / "victim") << "keep"; }
    fs::create_symlink(dir / "victim", dir / "out.bin");

    ASSERT_TRUE(WriteFileAtomically((dir / "out.bin").string(), "new"));
    EXPECT_FALSE(fs::is_symlink(dir / "out.bin"));
    std::ifstream victim(dir / "victim");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), {}), "keep");
    std::ifstream out(dir / "out.bin");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(out), {}), "new");

    {   // Abandoned: the old contents stay and no new file is left.
        AtomicFile file;
        ASSERT_TRUE(file.Open((dir / "out.bin").string()));
        file.Write("partial");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
    EXPECT_FALSE(WriteFileAtomically(dir.string(), "x"));
    fs::remove_all(dir);
}

// A replaced file keeps its mode (and its owner, where the process may give
// it), reaches the disk before it is put in place, and a file nobody may
// write is refused, untouched; both through AtomicFile and the text file.
TEST(AtomicFileTest, ReplacedFilesKeepModeAndOwnerAndAreSynced) {
    const fs::path dir = fs::temp_directory_path() / ("pellora-replace-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "track.trl").string();
    const auto viaText = [](const std::string& p, const std::string& bytes) {
        CStdioFile file;
        if (!file.Open(p, CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFile::typeBinary)) return false;
        file.Write(bytes.data(), bytes.size());
        file.Close();
        return true;
    };
    const bool root = ::geteuid() == 0;  // only root may give a file away
    const struct { mode_t mode; bool written; } kCases[] = {{0600, true}, {0640, true}, {0755, true},
                                                            {0444, false}, {0400, false}};
    for (int writer = 0; writer < 2; ++writer) {
        for (const auto& c : kCases) {
            fs::remove(path);
            { std::ofstream(path) << "old"; }
            ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
            if (root) { ASSERT_EQ(::chown(path.c_str(), 4321, 4322), 0); }
            syncedSizes.clear();
            const std::string bytes = "new contents";
            EXPECT_EQ(writer == 0 ? WriteFileAtomically(path, bytes) : viaText(path, bytes), c.written) << c.mode;
            struct stat st {};
            ASSERT_EQ(::stat(path.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, c.mode) << writer;
            if (root) { EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), std::make_pair(4321u, 4322u)); }
            EXPECT_EQ(st.st_size, c.written ? 12 : 3);
            EXPECT_EQ(syncedSizes, std::vector<off_t>(c.written ? 1 : 0, 12)) << c.mode;
        }
        syncedSizes.clear();  // a new file is not synced
        ASSERT_TRUE(writer == 0 ? WriteFileAtomically(path + ".new", "x") : viaText(path + ".new", "x"));
        EXPECT_TRUE(syncedSizes.empty());
        fs::remove(path + ".new");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    fs::remove_all(dir);
}

TEST(AtomicFileTest, NamePartsStayInsideTheFolder) {
    EXPECT_EQ(SafeFileNamePart("a/b\\c"), "a_b_c");
    EXPECT_EQ(SafeFileNamePart(".."), "__");
    EXPECT_EQ(SafeFileNamePart("."), "_");
    EXPECT_EQ(SafeFileNamePart("x..y"), "x__y");
    EXPECT_EQ(SafeFileNamePart("Taro"), "Taro");
}

TEST(ProcessZoneTest, AChosenOffsetIsUsedWithoutTouchingTheEnvironment) {
    std::tm tm{};
    SetChosenZoneOffset(9 * 3600);
    ASSERT_TRUE(ToLocalTime(1717243200, tm));  // 2024-06-01 12:00:00Z
    EXPECT_EQ(tm.tm_hour, 21);
    SetChosenZoneOffset(-12 * 3600);
    ASSERT_TRUE(ToLocalTime(1717243200, tm));
    EXPECT_EQ(tm.tm_mday, 1);
    EXPECT_EQ(tm.tm_hour, 0);
    ClearChosenZone();
    EXPECT_FALSE(ChosenZoneOffset().has_value());
    EXPECT_FALSE(ToUtcTime(INT64_MIN, tm));
}
