#include "platform/PortFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace platform::portfiles {
namespace {
constexpr std::size_t kMaxTextBytes = 126;
}  // namespace

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

std::string CleanText(std::string_view raw) {
    std::string out;
    for (char ch : raw) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n' || c == '\r' || c == 0) {
            break;
        }
        if (c < 0x20 || c == 0x7F) {
            continue;
        }
        out += ch;
    }
    if (out.size() > kMaxTextBytes) {
        std::size_t cut = kMaxTextBytes;
        // Do not split a UTF-8 sequence.
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        out.resize(cut);
    }
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    const auto last = out.find_last_not_of(' ');
    return out.substr(first, last - first + 1);
}

std::string ReadSmallFile(const std::string& path, std::size_t limit) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rbe"), &std::fclose);
    if (!f) {
        return {};
    }
    std::string data(limit, '\0');
    const std::size_t n = std::fread(data.data(), 1, limit, f.get());
    data.resize(n);
    return data;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string ReadLink(const std::string& path) {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    if (n <= 0) {
        return {};
    }
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string Canonical(const std::string& path) {
    char buf[PATH_MAX];
    if (::realpath(path.c_str(), buf) == nullptr) {
        return path;
    }
    return buf;
}

}  // namespace platform::portfiles
