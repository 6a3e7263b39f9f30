#include "PhotoFiles.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string PhotoData(const std::string& name) { return PELLORA_TEST_DATA_DIR "/photos/" + name; }

std::vector<std::uint8_t> PhotoWithTime(const std::string& name, const std::string& time) {
    std::vector<std::uint8_t> bytes = ReadBytes(PhotoData(name));
    const std::string was = "2008:06:07 09:05:03";  // DateTimeOriginal comes first
    const auto at = std::search(bytes.begin(), bytes.end(), was.begin(), was.end());
    if (at == bytes.end() || time.size() != was.size()) {
        throw std::runtime_error("no capture time to replace in " + name);
    }
    std::copy(time.begin(), time.end(), at);
    return bytes;
}

std::pair<int, std::string> RunCommand(const std::string& command) {
    std::string out;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        return {-1, out};
    }
    std::array<char, 4096> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
        out.append(buffer.data(), n);
    }
    return {::pclose(pipe), out};
}

bool HaveTool(const std::string& tool) { return RunCommand("command -v " + tool).first == 0; }

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}
