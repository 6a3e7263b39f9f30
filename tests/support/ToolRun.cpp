#include "ToolRun.h"

#include <array>
#include <cstdio>

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
