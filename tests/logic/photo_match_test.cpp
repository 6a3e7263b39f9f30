// Capture times of a photo folder and the matching of photos to track
// points: the worked edge cases, the list lines and counts, and the same
// results as the insertion sorts and cursor walk of the matching's first form.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "PhotoFiles.h"
#include "export/PhotoMatch.h"
#include "support/ProcessZone.h"

namespace fs = std::filesystem;

namespace {

// Fills a state with points and photos whose times were read.
PhotoLinkState StateWith(const std::vector<std::int64_t>& points, const std::vector<std::int64_t>& photos) {
    PhotoLinkState state;
    state.batchMode = true;
    for (std::int64_t t : points) state.trackPoints.push_back({0, 0, 0, static_cast<std::uint32_t>(t)});
    for (std::int64_t t : photos) state.photoFiles.push_back({"p" + std::to_string(t), t, 0, true});
    state.SortTrackByTime();
    state.SortPhotosByTime();
    state.MatchPhotosToTrack();
    return state;
}

// The point each photo (in photoFiles order) is matched to, -1 for none.
std::vector<long> Matches(const PhotoLinkState& state) {
    std::vector<long> result(state.photoFiles.size(), -1);
    for (const PhotoOrderEntry& e : state.photoOrder) {
        if (e.matched) result[e.photoIndex] = static_cast<long>(e.pointIndex);
    }
    return result;
}

struct MatchCase {
    const char* name;
    std::vector<std::int64_t> points;
    std::vector<std::int64_t> photos;
    std::vector<long> expected;
};

void PrintTo(const MatchCase& c, std::ostream* out) { *out << c.name; }

class MatchEdgeCases : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchEdgeCases, MatchesTheNearerEnclosingPoint) {
    const MatchCase& c = GetParam();
    EXPECT_EQ(Matches(StateWith(c.points, c.photos)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Photos, MatchEdgeCases,
    ::testing::Values(
        MatchCase{"ExactPointTimeNextWithin120", {1000, 1120}, {1000}, {0}},
        MatchCase{"ExactPointTimeNextBeyond120", {1000, 1121}, {1000}, {-1}},
        MatchCase{"GapOf120Matches", {1000, 1120}, {1100}, {1}},
        MatchCase{"GapOf121DoesNot", {1000, 1121}, {1100}, {-1}},
        MatchCase{"HalfWayGoesToTheEarlier", {1000, 1100}, {1050, 1051}, {0, 1}},
        MatchCase{"AtOrAfterTheLastPoint", {1000, 1100}, {1100, 1200}, {-1, -1}},
        MatchCase{"BeforeTheFirstPoint", {1000, 1100}, {999}, {-1}},
        MatchCase{"TwoPhotosOneNearestPoint", {1000, 1100}, {1010, 1020}, {0, 0}},
        // Equal point times keep file order: the later of the two is the
        // one not later than the photo.
        MatchCase{"EqualPointTimesKeepFileOrder", {1000, 1000, 1060}, {1000}, {1}},
        MatchCase{"PointsOutOfOrderInTheFile", {1200, 1000, 1100}, {1190, 1010}, {0, 1}},
        MatchCase{"MissThenMatchFurtherOn", {1000, 2000, 2050, 5000, 5100}, {1500, 2010, 4000, 5060},
                  {-1, 1, -1, 4}},
        MatchCase{"NoPoints", {}, {1000}, {-1}},
        MatchCase{"AfterTheYear2038", {4102444800, 4102444860}, {4102444850}, {1}}),
    [](const ::testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

// The first form: each item inserted before the first placed entry with a
// strictly later time, and a cursor that moves only on a match.
std::vector<long> FirstForm(const std::vector<std::int64_t>& points, const std::vector<std::int64_t>& photos) {
    const auto insertionOrder = [](const std::vector<std::int64_t>& times) {
        std::vector<std::size_t> order;
        const auto earlier = [&](std::size_t a, std::size_t b) { return times[a] < times[b]; };
        for (std::size_t i = 0; i < times.size(); ++i)
            order.insert(std::upper_bound(order.begin(), order.end(), i, earlier), i);
        return order;
    };
    const auto track = insertionOrder(points);
    std::vector<long> result(photos.size(), -1);
    std::size_t cursor = 0;
    for (std::size_t photo : insertionOrder(photos)) {
        const std::int64_t t = photos[photo];
        std::size_t j = cursor;
        while (j < track.size() && points[track[j]] <= t) ++j;
        if (j < track.size() && j > 0 && points[track[j]] - points[track[j - 1]] <= 120) {
            cursor = IsNearerToNext(points[track[j - 1]], points[track[j]], t) ? j : j - 1;
            result[photo] = static_cast<long>(track[cursor]);
        }
    }
    return result;
}

TEST(PhotoMatchTest, SameResultsAsTheFirstForm) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::int64_t> points(random() % 60), photos(random() % 40);
        std::int64_t t = 1000;
        for (auto& point : points) point = t += random() % 5 == 0 ? random() % 400 : random() % 30;
        std::shuffle(points.begin(), points.begin() + static_cast<long>(points.size() / 3), random);
        for (auto& photo : photos)
            photo = points.empty() || random() % 4 ? 900 + random() % (t - 800) : points[random() % points.size()];
        ASSERT_EQ(Matches(StateWith(points, photos)), FirstForm(points, photos)) << "round " << round;
    }
}

void RunAll(PhotoLinkState& state) {
    state.SortTrackByTime();
    state.ReadPhotoTimes();
    state.ApplyTimeCalibration();
    state.SortPhotosByTime();
    state.MatchPhotosToTrack();
}

// A folder in name order (a.jpg, b.JPG, broken.jpg, c%d.Jpg; not d.jpeg nor
// the folder dir.jpg), its list lines and counts, and batch mode.
TEST(PhotoFolderTest, ListsReadsAndMatches) {
    SetChosenZoneOffset(9 * 3600);
    const fs::path dir = fs::temp_directory_path() / ("pellora-folder-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "dir.jpg");
    const auto put = [&](const char* name, const char* time) {
        WriteBytes((dir / name).string(), PhotoWithTime("built-canon-ii.jpg", time));
    };
    put("b.JPG", "2008:06:07 09:05:03");  // 1212797103
    put("a.jpg", "2008:06:07 09:05:10");
    put("c%d.Jpg", "2008:06:07 09:09:00");
    put("d.jpeg", "2008:06:07 09:09:00");
    WriteBytes((dir / "broken.jpg").string(), {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0, 0});
    const auto path = [&](const char* name) { return (dir / name).string(); };

    PhotoLinkState state;
    state.photoFolder = dir.string();
    state.summaryText = "before";
    for (std::uint32_t t : {1212797100u, 1212797160u}) state.trackPoints.push_back({120.0f, 22.0f, 5.0f, t});
    RunAll(state);
    EXPECT_EQ(state.photoList,
              (std::vector<std::string>{" " + path("a.jpg"), " " + path("b.JPG"),
                                        " " + path("broken.jpg") + ";Not EXIF format.", " " + path("c%d.Jpg"),
                                        " " + path("broken.jpg") + ";", path("b.JPG"), path("a.jpg"),
                                        " " + path("c%d.Jpg") + ";"}));
    EXPECT_EQ(state.summaryText, ": 3 1 \n: 2 2");
    EXPECT_EQ(Matches(state), (std::vector<long>{0, 0, -1, -1}));
    EXPECT_EQ(state.photoTimeResults[1].timeRead, 1);

    // Batch mode: the same matches, no lines, no counts, the summary kept.
    PhotoLinkState batch;
    batch.photoFolder = state.photoFolder;
    batch.trackPoints = state.trackPoints;
    batch.batchMode = true;
    RunAll(batch);
    EXPECT_EQ(Matches(batch), Matches(state));
    EXPECT_TRUE(batch.photoList.empty() && batch.summaryText.empty());
    EXPECT_EQ(batch.photoReadCount + batch.photoFailCount + batch.photoTimeResults[1].timeRead, 0);
    EXPECT_EQ(batch.photoTimeResults[2].message, "Not EXIF format.");

    // A calibration past 2^31 s; the unread photo (time 0 + calibration)
    // lies between two points yet takes no part in matching.
    state.calibrationSeconds = 1212797130;
    state.trackPoints.push_back({120.0f, 22.0f, 5.0f, 1212797120u});
    RunAll(state);
    EXPECT_EQ(state.photoFiles[1].exifTime, 1212797103);
    EXPECT_EQ(state.photoFiles[1].captureTime, 1212797103LL + 1212797130LL);
    EXPECT_EQ(state.photoFiles[2].captureTime, 1212797130);
    EXPECT_EQ(Matches(state), (std::vector<long>{-1, -1, -1, -1}));

    // An empty folder: no lines, the match summary appended.
    fs::remove_all(dir);
    fs::create_directories(dir);
    state.summaryText = "before";
    RunAll(state);
    EXPECT_EQ(state.PhotoCount(), 0u);
    EXPECT_TRUE(state.photoList.empty());
    EXPECT_EQ(state.summaryText, "before\n: 0 0");
    fs::remove_all(dir);
    ClearChosenZone();
}

}  // namespace
