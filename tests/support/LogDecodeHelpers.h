// Helpers for tests of the log memory decoder: a host that records what the
// decoder reports, a whole image decoded as the upload does it, and a fresh
// folder whose files can be compared with expected ones.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tracklog/LogDecoder.h"

namespace testsupport {

class RecordingTrlHost : public TrlConversionHost {
public:
    void ShowStatusList() override { ++shown; }
    void AddStatusLine(const std::string& line) override { lines.push_back(line); }
    bool WriteKml(const std::string& trl, const std::string& kml) override;
    bool ConvertWithPhotos(const std::string& trl, const std::string& kml, const std::string& photos) override;

    int shown = 0;
    bool failConversion = false;
    std::vector<std::string> lines;
    std::vector<std::string> calls;  // "kml <trl> <kml>" or "photo <trl> <kml> <folder>"
};

// Every sector through CompactSector and DecodeSector, in address order.
// forceRebuild asks for the ordered table after each sector.
void DecodeImage(LogDecoder& decoder, const std::vector<std::uint8_t>& image, bool forceRebuild = false);

// A fresh empty folder, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    // With a trailing '/'.
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// The regular files of a folder by name.
std::map<std::string, std::vector<std::uint8_t>> ReadFolder(const std::string& folder);

}  // namespace testsupport
