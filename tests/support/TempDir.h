// A fresh private folder under /tmp, removed with all it holds when the
// guard goes; and the files of a folder read back.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/pellora-test-XXXXXX";
        if (const char* made = ::mkdtemp(pattern)) path = made;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // The folder's name with a '/' at its end.
    std::string Folder() const { return path.string() + "/"; }

    std::filesystem::path path;
};

// The regular files of a folder, by name.
inline std::map<std::string, std::vector<std::uint8_t>> ReadFolder(const std::filesystem::path& folder) {
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        files[e.path().filename().string()] = std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

}  // namespace testsupport
