// The track-log record's byte layout against the worked vector, and whole
// files written in place without going through what stood there.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/AtomicFile.h"
#include "support/ProcessZone.h"
#include "TempDir.h"
#include "tracklog/TrackLogRecord.h"

namespace fs = std::filesystem;

// The fsyncs of this test program: how many, and the size of the last file.
static std::atomic<int> syncs{0};
static std::atomic<off_t> lastSyncedSize{0};
extern "C" int fsync(int fd) {
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    struct stat st {};
    lastSyncedSize = ::fstat(fd, &st) == 0 ? st.st_size : -1;
    ++syncs;
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

// A replaced file keeps mode and owner (where the process may give it away) and is
// synced before it is put in place; a new file is not; a read-only one is refused.
TEST(AtomicFileTest, ReplacedFilesKeepModeAndOwnerAndAreSynced) {
    testsupport::TempDir dir;
    const std::string path = dir.Folder() + "track.trl";
    const bool root = ::geteuid() == 0;  // only root may give a file away
    const struct { mode_t mode; bool written; } kCases[] = {  // mode 0: no file there
        {0, true}, {0600, true}, {0755, true}, {0444, false}, {0400, false}};
    for (const auto& c : kCases) {
        fs::remove(path);
        if (c.mode != 0) {
            std::ofstream(path) << "old";
            ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
            if (root) { ASSERT_EQ(::chown(path.c_str(), 4321, 4322), 0); }
        }
        syncs = 0, lastSyncedSize = 0;
        EXPECT_EQ(WriteFileAtomically(path, "new contents"), c.written) << c.mode;
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, c.written ? 12 : 3);
        const int synced = c.written && c.mode != 0 ? 1 : 0;  // replaced: synced whole
        EXPECT_EQ(std::make_pair(syncs.load(), lastSyncedSize.load()), std::make_pair(synced, off_t{12} * synced));
        if (c.mode == 0) continue;
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        if (root) { EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), std::make_pair(4321u, 4322u)); }
    }
    EXPECT_EQ(testsupport::ReadFolder(dir.path).size(), 1u);  // no new file left behind
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
