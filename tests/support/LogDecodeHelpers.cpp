#include "LogDecodeHelpers.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace testsupport {

bool RecordingTrlHost::WriteKml(const std::string& trl, const std::string& kml) {
    calls.push_back("kml " + trl + " " + kml);
    return !failConversion;
}

bool RecordingTrlHost::ConvertWithPhotos(const std::string& trl, const std::string& kml, const std::string& photos) {
    calls.push_back("photo " + trl + " " + kml + " " + photos);
    return !failConversion;
}

void DecodeImage(LogDecoder& decoder, const std::vector<std::uint8_t>& image, bool forceRebuild) {
    std::vector<std::uint8_t> packed(kLogSectorSize);
    decoder.ResetUploadBuffers();
    for (std::size_t off = 0; off + kLogSectorSize <= image.size(); off += kLogSectorSize) {
        const LogSector sector(image.data() + off, kLogSectorSize);
        LogDecoder::CompactSector(sector, PackedSector(packed.data(), kLogSectorSize));
        decoder.DecodeSector(sector);
        if (forceRebuild) {
            decoder.OrderedRecords();
        }
    }
}

namespace {
std::atomic<int> folderCounter{0};
}

TempFolder::TempFolder() {
    const fs::path p = fs::temp_directory_path() /
                       ("pellora-log-" + std::to_string(::getpid()) + "-" + std::to_string(folderCounter++));
    fs::remove_all(p);
    fs::create_directories(p);
    path_ = p.string() + "/";
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::map<std::string, std::vector<std::uint8_t>> ReadFolder(const std::string& folder) {
    std::map<std::string, std::vector<std::uint8_t>> out;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            out[entry.path().filename().string()] =
                std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    return out;
}

}  // namespace testsupport
