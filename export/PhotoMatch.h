// The photo link tables and the matching of photos to track points.
//
// PhotoLinkState is the one object the photo link page holds: the track
// points of the last photo KML run, the photos of the photo folder with their
// capture times, both in time order, and the matches. All tables are growable
// vectors (a folder may hold any number of photos, a track any number of
// points); every run rebuilds them and they keep the last run's contents.
//
// A run, in its order (WritePhotoKml in PhotoKml.h does it):
//   trackPoints filled; SortTrackByTime; ReadPhotoTimes (ScanPhotoFolder and
//   ReadExifDateTime per photo); ApplyTimeCalibration; SortPhotosByTime;
//   MatchPhotosToTrack.
//
// Folder scan: the regular files directly in photoFolder whose names end in
// ".jpg" in any letter case, in byte order of their names (so a run lists
// them the same way every time); paths are photoFolder + "/" + name.
//
// Times are 64-bit seconds since 1970 UTC. Both sorts are stable: equal times
// keep the order of their source table. A photo is matched to the nearer of
// the two consecutive track points (in time order) that enclose its capture
// time, the earlier one at or before it and the later one strictly after it,
// when those points are at most 120 s apart; half-way goes to the earlier
// point. A photo before the first point, at or after the last point, or whose
// capture time could not be read is unmatched. Matching walks photos and
// points once each in time order.
//
// Outside batch mode the run writes what the page shows: photoList receives
// one line per photo read and one per photo matched, and summaryText the
// counts (the page copies both into its list box 1124 and static 1125). The
// texts come from the string table through `texts`; it holds none of them, so
// they are empty by default. Lines:
//   read      T366 " " T367 path              failed  T366 " " T368 path ";" message
//   matched   T369 T367 path                  missed  T369 " " T370 path ";" T389
//   summary   T366 ": " T367 read " " T368 failed " "  (after every photo read)
//             then "\n" T369 ": " T367 matched " " T368 unmatched  (appended)
//
// One run at a time owns the state; no locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "export/ExifDateTime.h"

// One point of the track as the photo operations use it.
struct PhotoTrackPoint {
    float longitude = 0.0f;  // degrees, east positive
    float latitude = 0.0f;   // degrees, north positive
    float height = 0.0f;     // metres
    std::uint32_t utcTime = 0;
};

struct PhotoFileEntry {
    std::string path;
    std::int64_t captureTime = 0;  // after ApplyTimeCalibration: with the calibration
    std::int64_t exifTime = 0;     // the capture time as read (set by ApplyTimeCalibration)
    bool captureTimeRead = false;  // the capture time was read (in batch mode too)
};

struct PhotoTimeResult {
    int timeRead = 0;  // 1 when read; written outside batch mode only
    std::string message;
};

struct TrackOrderEntry {
    std::size_t pointIndex = 0;
    std::int64_t time = 0;
    bool hasPhoto = false;
};

struct PhotoOrderEntry {
    std::size_t photoIndex = 0;
    std::int64_t time = 0;
    bool matched = false;
    std::size_t pointIndex = 0;  // into trackPoints; 0 while unmatched
};

// Texts of the string table for the list lines and the summary (none of them
// has a text there).
struct PhotoTexts {
    std::string t366, t367, t368, t369, t370, t389;
    std::string t414;  // before the path of a photo whose GPS copy was not made
    ExifTimeTexts exif;  // strings 387 and 388
};

// The greatest gap between two points that a photo between them may be
// matched across.
inline constexpr std::int64_t kMaxPointGapSeconds = 120;

// True when the photo is strictly nearer to the later point.
bool IsNearerToNext(std::int64_t earlierTime, std::int64_t laterTime, std::int64_t photoTime);

class PhotoLinkState {
public:
    // Inputs of a run.
    std::string photoFolder;
    std::int64_t calibrationSeconds = 0;
    bool batchMode = false;
    PhotoTexts texts;

    // Tables.
    std::vector<PhotoTrackPoint> trackPoints;
    std::vector<std::string> pointNames;  // parallel to trackPoints
    std::vector<PhotoFileEntry> photoFiles;
    std::vector<PhotoTimeResult> photoTimeResults;  // parallel to photoFiles
    std::vector<TrackOrderEntry> trackOrder;
    std::vector<PhotoOrderEntry> photoOrder;
    int photoReadCount = 0;
    int photoFailCount = 0;

    // What the page shows.
    std::vector<std::string> photoList;
    std::string summaryText;
    // False after a photo's GPS copy was refused for its maker.
    bool gpsWriteOk = true;

    std::size_t PointCount() const { return trackPoints.size(); }
    std::size_t PhotoCount() const { return photoFiles.size(); }

    void SortTrackByTime();
    void ScanPhotoFolder();
    void ReadPhotoTimes();
    void ApplyTimeCalibration();
    void SortPhotosByTime();
    void MatchPhotosToTrack();
};
