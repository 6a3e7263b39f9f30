// Sources that are not regular files: the shared opener refuses a FIFO at
// once (and a folder), clears its no-wait flag on a regular file, and every
// reader of track logs and text files refuses a FIFO in turn.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <fstream>

#include "Fifo.h"
#include "TempDir.h"
#include "export/PhotoKml.h"
#include "export/TrackConversion.h"
#include "support/SourceFile.h"
#include "support/StdioFileEx.h"

TEST(SourceFileTest, OnlyRegularFilesAreOpenedAndNothingWaitsOnAFifo) {
    const testsupport::TempDir dir;
    const testsupport::Fifo fifo(dir.Folder() + "pipe.trl");
    int error = 0;
    EXPECT_EQ(OpenSourceFile(fifo.Path(), &error), -1);
    EXPECT_EQ(SourceErrorText(error), "not a regular file");
    EXPECT_EQ(OpenSourceStream(dir.path.string(), &error), nullptr);
    EXPECT_EQ(error, EISDIR);
    std::ofstream(dir.Folder() + "plain.trl") << "x";
    const int fd = OpenSourceFile(dir.Folder() + "plain.trl");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    ::close(fd);

    // The format page's Convert, the photo KML and the text file class.
    const track_writers::ConvertResult r = track_writers::ConvertTrackLog(fifo.Path(), {true, true, true, true}, 13);
    EXPECT_EQ(r.source, track_writers::SourceStatus::Unreadable);
    EXPECT_EQ(FormatMessage(track_writers::TrackFormat::Kml, r.Output(track_writers::TrackFormat::Kml), r),
              "KML output not written: cannot read the source file (not a regular file).");
    PhotoLinkState state;
    BuildPhotoKml(state, fifo.Path(), false);
    EXPECT_TRUE(state.trackPoints.empty());
    CStdioFileEx text;
    EXPECT_FALSE(text.Open(fifo.Path(), CStdioFile::modeRead));
    EXPECT_FALSE(CStdioFileEx::IsFileUnicode(fifo.Path()));
    EXPECT_FALSE(fifo.Blocked());
}
