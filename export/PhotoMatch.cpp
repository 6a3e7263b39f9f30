#include "export/PhotoMatch.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

bool IsNearerToNext(std::int64_t earlierTime, std::int64_t laterTime, std::int64_t photoTime) {
    return (photoTime - earlierTime) > (laterTime - photoTime);
}

void PhotoLinkState::SortTrackByTime() {
    trackOrder.clear();
    trackOrder.reserve(trackPoints.size());
    for (std::size_t i = 0; i < trackPoints.size(); ++i) {
        trackOrder.push_back({i, static_cast<std::int64_t>(trackPoints[i].utcTime), false});
    }
    std::stable_sort(trackOrder.begin(), trackOrder.end(),
                     [](const TrackOrderEntry& a, const TrackOrderEntry& b) { return a.time < b.time; });
}

void PhotoLinkState::ScanPhotoFolder() {
    namespace fs = std::filesystem;
    photoFiles.clear();
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator it(photoFolder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() < 4) {
            continue;
        }
        std::string extension = name.substr(name.size() - 4);
        for (char& c : extension) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        std::error_code statError;
        // Follows links: a link to a photo is a photo; a folder or a device is not.
        if (extension != ".jpg" || !it->is_regular_file(statError)) {
            continue;
        }
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::string folder = photoFolder;
    if (!folder.empty() && folder.back() != '/') {
        folder += '/';
    }
    photoFiles.reserve(names.size());
    for (const std::string& name : names) {
        PhotoFileEntry entry;
        entry.path = folder + name;
        photoFiles.push_back(std::move(entry));
    }
}

void PhotoLinkState::ReadPhotoTimes() {
    photoFiles.clear();
    ScanPhotoFolder();
    photoList.clear();
    photoReadCount = 0;
    photoFailCount = 0;
    photoTimeResults.assign(photoFiles.size(), PhotoTimeResult{});
    for (std::size_t i = 0; i < photoFiles.size(); ++i) {
        PhotoFileEntry& photo = photoFiles[i];
        PhotoTimeResult& result = photoTimeResults[i];
        int failed = 0;
        ReadExifDateTime(photo.path, photo.captureTime, failed, result.message, texts.exif);
        photo.captureTimeRead = failed == 0;
        if (batchMode) {
            continue;
        }
        if (failed) {
            ++photoFailCount;
            result.timeRead = 0;
            photoList.push_back(texts.t366 + " " + texts.t368 + photo.path + ";" + result.message);
        } else {
            ++photoReadCount;
            result.timeRead = 1;
            photoList.push_back(texts.t366 + " " + texts.t367 + photo.path);
        }
        summaryText = texts.t366 + ": " + texts.t367 + std::to_string(photoReadCount) + " " +
                      texts.t368 + std::to_string(photoFailCount) + " ";
    }
}

void PhotoLinkState::ApplyTimeCalibration() {
    for (PhotoFileEntry& photo : photoFiles) {
        photo.exifTime = photo.captureTime;
        photo.captureTime = photo.captureTime + calibrationSeconds;
    }
}

void PhotoLinkState::SortPhotosByTime() {
    photoOrder.clear();
    photoOrder.reserve(photoFiles.size());
    for (std::size_t i = 0; i < photoFiles.size(); ++i) {
        photoOrder.push_back({i, photoFiles[i].captureTime, false, 0});
    }
    std::stable_sort(photoOrder.begin(), photoOrder.end(),
                     [](const PhotoOrderEntry& a, const PhotoOrderEntry& b) { return a.time < b.time; });
}

void PhotoLinkState::MatchPhotosToTrack() {
    // next: the first trackOrder entry strictly later than the current photo.
    // Photos come in time order, so it only moves forward.
    std::size_t next = 0;
    int matchedCount = 0;
    int unmatchedCount = 0;
    const std::size_t points = std::min(trackOrder.size(), trackPoints.size());
    for (PhotoOrderEntry& entry : photoOrder) {
        const std::int64_t t = entry.time;
        entry.matched = false;
        entry.pointIndex = 0;
        const PhotoFileEntry& photo = photoFiles[entry.photoIndex];
        if (photo.captureTimeRead) {
            while (next < points && trackOrder[next].time <= t) {
                ++next;
            }
            if (next < points && next > 0 &&
                trackOrder[next].time - trackOrder[next - 1].time <= kMaxPointGapSeconds) {
                const std::size_t k =
                    IsNearerToNext(trackOrder[next - 1].time, trackOrder[next].time, t) ? next : next - 1;
                entry.matched = true;
                entry.pointIndex = trackOrder[k].pointIndex;
                trackOrder[k].hasPhoto = true;
            }
        }
        if (batchMode) {
            continue;
        }
        if (entry.matched) {
            photoList.push_back(texts.t369 + texts.t367 + photo.path);
            ++matchedCount;
        } else {
            photoList.push_back(texts.t369 + " " + texts.t370 + photo.path + ";" + texts.t389);
            ++unmatchedCount;
        }
    }
    if (!batchMode) {
        summaryText += "\n" + texts.t369 + ": " + texts.t367 + std::to_string(matchedCount) + " " +
                       texts.t368 + std::to_string(unmatchedCount);
    }
}
