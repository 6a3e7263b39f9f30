// Capture times of a photo folder and the matching of photos to track
// points: the worked edge cases, the list lines and counts, and the same
// results as the insertion sorts and cursor walk of the matching's first form.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <random>

#include "ExifPhotoBuilder.h"
#include "export/PhotoMatch.h"
#include "support/ProcessZone.h"

namespace fs = std::filesystem;

namespace {

// Fills a state with points and photos whose times were read.
PhotoLinkState StateWith(const std::vector<std::int64_t>& points, const std::vector<std::int64_t>& photos) {
    PhotoLinkState state;
    state.batchMode = true;
    for (std::int64_t t : points) {
        state.trackPoints.push_back({0, 0, 0, static_cast<std::uint32_t>(t)});
    }
    for (std::int64_t t : photos) {
        state.photoFiles.push_back({"p" + std::to_string(state.photoFiles.size()), t, 0, true});
    }
    state.SortTrackByTime();
    state.SortPhotosByTime();
    state.MatchPhotosToTrack();
    return state;
}

// The point each photo (in photoFiles order) is matched to, -1 for none.
std::vector<long> Matches(const PhotoLinkState& state) {
    std::vector<long> result(state.photoFiles.size(), -1);
    for (const PhotoOrderEntry& e : state.photoOrder) {
        if (e.matched) {
            result[e.photoIndex] = static_cast<long>(e.pointIndex);
        }
    }
    return result;
}

struct MatchCase {
    const char* name;
    std::vector<std::int64_t> points;
    std::vector<std::int64_t> photos;
    std::vector<long> expected;
};

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

TEST(PhotoMatchTest, NearerToNextOnlyWhenStrictlyNearer) {
    EXPECT_FALSE(IsNearerToNext(0, 100, 50));
    EXPECT_TRUE(IsNearerToNext(0, 100, 51));
    EXPECT_FALSE(IsNearerToNext(0, 100, 0));
    EXPECT_TRUE(IsNearerToNext(0, 100, 99));
}

// The first form: insertion sorts and a cursor that moves only on a match.
std::vector<long> FirstForm(const std::vector<std::int64_t>& points, const std::vector<std::int64_t>& photos) {
    auto insertionOrder = [](const std::vector<std::int64_t>& times) {
        std::vector<std::size_t> order;
        for (std::size_t i = 0; i < times.size(); ++i) {
            std::size_t at = order.size();
            for (std::size_t k = 0; k < order.size(); ++k) {
                if (times[order[k]] > times[i]) {
                    at = k;
                    break;
                }
            }
            order.insert(order.begin() + static_cast<std::ptrdiff_t>(at), i);
        }
        return order;
    };
    const auto track = insertionOrder(points);
    const auto shots = insertionOrder(photos);
    std::vector<long> result(photos.size(), -1);
    std::size_t cursor = 0;
    for (std::size_t photo : shots) {
        const std::int64_t t = photos[photo];
        std::size_t j = cursor;
        while (j < track.size() && points[track[j]] <= t) {
            ++j;
        }
        if (j == track.size() || j == 0 || points[track[j]] - points[track[j - 1]] > 120) {
            continue;
        }
        const std::size_t k = IsNearerToNext(points[track[j - 1]], points[track[j]], t) ? j : j - 1;
        cursor = k;
        result[photo] = static_cast<long>(track[k]);
    }
    return result;
}

TEST(PhotoMatchTest, SameResultsAsTheFirstForm) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::int64_t> points, photos;
        std::int64_t t = 1000;
        const int pointCount = static_cast<int>(random() % 60);
        for (int i = 0; i < pointCount; ++i) {
            t += static_cast<std::int64_t>(random() % 5 == 0 ? random() % 400 : random() % 30);
            points.push_back(t);
        }
        std::shuffle(points.begin(), points.begin() + pointCount / 3, random);
        const int photoCount = static_cast<int>(random() % 40);
        for (int i = 0; i < photoCount; ++i) {
            photos.push_back(900 + static_cast<std::int64_t>(random() % static_cast<unsigned>(t - 800)));
        }
        if (!points.empty() && photoCount > 0) {
            photos[0] = points[random() % points.size()];
        }
        ASSERT_EQ(Matches(StateWith(points, photos)), FirstForm(points, photos)) << "round " << round;
    }
}

TEST(PhotoMatchTest, MorePhotosAndPointsThanFixedTablesHeld) {
    std::vector<std::int64_t> points, photos;
    for (std::int64_t i = 0; i < 150000; ++i) {
        points.push_back(1000 + 10 * i);
        photos.push_back(1000 + 10 * i + 3);
    }
    points.push_back(1000 + 10 * 150000);
    const PhotoLinkState state = StateWith(points, photos);
    const auto matches = Matches(state);
    ASSERT_EQ(matches.size(), 150000u);
    EXPECT_EQ(matches.front(), 0);
    EXPECT_EQ(matches.back(), 149999);
    EXPECT_TRUE(state.trackOrder[149999].hasPhoto);
    EXPECT_FALSE(state.trackOrder[150000].hasPhoto);
}

class PhotoFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetChosenZoneOffset(9 * 3600);
        dir_ = fs::temp_directory_path() / ("pellora-folder-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "dir.jpg");
        ExifPhotoSpec spec;
        spec.dateTimeOriginal = "2008:06:07 09:05:03";  // 1212797103
        WriteBytes(dir_ / "b.JPG", BuildExifPhoto(spec));
        spec.dateTimeOriginal = "2008:06:07 09:05:10";
        WriteBytes(dir_ / "a.jpg", BuildExifPhoto(spec));
        spec.dateTimeOriginal = "2008:06:07 09:09:00";
        WriteBytes(dir_ / "c%d.Jpg", BuildExifPhoto(spec));
        WriteBytes(dir_ / "d.jpeg", BuildExifPhoto(spec));
        WriteBytes(dir_ / "broken.jpg", {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0, 0});
        state_.photoFolder = dir_.string();
        state_.summaryText = "before";
        for (std::uint32_t t : {1212797100u, 1212797160u}) {
            state_.trackPoints.push_back({120.0f, 22.0f, 5.0f, t});
        }
    }
    void TearDown() override {
        ClearChosenZone();
        fs::remove_all(dir_);
    }
    void Run() {
        state_.SortTrackByTime();
        state_.ReadPhotoTimes();
        state_.ApplyTimeCalibration();
        state_.SortPhotosByTime();
        state_.MatchPhotosToTrack();
    }
    std::string Path(const char* name) const { return (dir_ / name).string(); }
    fs::path dir_;
    PhotoLinkState state_;
};

TEST_F(PhotoFolderTest, ListsReadsAndMatchesInNameOrder) {
    // An unread capture time plus the calibration lands inside the track
    // and still takes no part in matching.
    state_.calibrationSeconds = 1212797130;
    state_.trackPoints.push_back({120.0f, 22.0f, 5.0f, 1212797120u});
    Run();
    ASSERT_EQ(state_.PhotoCount(), 4u);
    EXPECT_EQ(state_.photoFiles[0].path, Path("a.jpg"));
    EXPECT_EQ(state_.photoFiles[3].path, Path("c%d.Jpg"));
    EXPECT_EQ(state_.photoFiles[1].exifTime, 1212797103);
    EXPECT_EQ(state_.photoFiles[1].captureTime, 1212797103LL + 1212797130LL);  // past 2^31
    EXPECT_EQ(state_.photoFiles[2].captureTime, 1212797130);
    const std::vector<std::string> expected = {
        " " + Path("a.jpg"), " " + Path("b.JPG"), " " + Path("broken.jpg") + ";Not EXIF format.",
        " " + Path("c%d.Jpg"),
        // Matching, in capture-time order.
        " " + Path("broken.jpg") + ";", " " + Path("b.JPG") + ";", " " + Path("a.jpg") + ";",
        " " + Path("c%d.Jpg") + ";"};
    EXPECT_EQ(state_.photoList, expected);
    EXPECT_EQ(state_.summaryText, ": 3 1 \n: 0 4");
    EXPECT_EQ(state_.photoTimeResults[2].timeRead, 0);
    EXPECT_EQ(state_.photoTimeResults[1].timeRead, 1);
}

TEST_F(PhotoFolderTest, MatchLinesAndBatchModeGiveTheSameMatches) {
    Run();
    EXPECT_EQ(state_.summaryText, ": 3 1 \n: 2 2");
    EXPECT_EQ(state_.photoList[4], " " + Path("broken.jpg") + ";");
    EXPECT_EQ(state_.photoList[5], Path("b.JPG"));
    EXPECT_EQ(state_.photoList[6], Path("a.jpg"));
    const auto matches = Matches(state_);
    EXPECT_EQ(matches, (std::vector<long>{0, 0, -1, -1}));

    PhotoLinkState batch;
    batch.photoFolder = state_.photoFolder;
    batch.trackPoints = state_.trackPoints;
    batch.batchMode = true;
    batch.summaryText = "kept";
    batch.SortTrackByTime();
    batch.ReadPhotoTimes();
    batch.ApplyTimeCalibration();
    batch.SortPhotosByTime();
    batch.MatchPhotosToTrack();
    EXPECT_EQ(Matches(batch), matches);
    EXPECT_TRUE(batch.photoList.empty());
    EXPECT_EQ(batch.summaryText, "kept");
    EXPECT_EQ(batch.photoReadCount + batch.photoFailCount, 0);
    EXPECT_EQ(batch.photoTimeResults[0].timeRead, 0);
    EXPECT_EQ(batch.photoTimeResults[2].message, "Not EXIF format.");
}

TEST_F(PhotoFolderTest, EmptyFolder) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    Run();
    EXPECT_EQ(state_.PhotoCount(), 0u);
    EXPECT_TRUE(state_.photoList.empty());
    EXPECT_EQ(state_.summaryText, "before\n: 0 0");
}

}  // namespace
