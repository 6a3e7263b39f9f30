// The program started on the displays users have: its window where one can be
// shown, else one line on standard error and status 1, never the toolkit's abort.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TempDir.h"

namespace {

// A shell command run with no display of the test's own; its standard output
// and error on one stream. It first says its process id, so it can be ended.
struct Child {
    explicit Child(const std::string& command) {
        const std::string line =
            "echo $$; exec env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY -u XDG_SESSION_TYPE " + command;
        out = ::popen((line + " 2>&1").c_str(), "r");
        pid = std::atoi(Read("\n").c_str());
        text.clear();
    }
    ~Child() {
        if (!out) return;
        if (pid > 0) ::kill(pid, SIGKILL);
        ::pclose(out);
    }
    // The output until it holds `wanted` (with "", until it ends).
    std::string Read(const std::string& wanted = "") {
        char line[4096];
        while ((wanted.empty() || text.find(wanted) == std::string::npos) && out && std::fgets(line, sizeof line, out)) {
            text += line;
        }
        return text;
    }
    // Waits for the command's end; its wait status.
    int Wait() {
        Read();
        const int status = ::pclose(out);
        out = nullptr;
        return status;
    }
    std::FILE* out = nullptr;
    pid_t pid = 0;
    std::string text;
};

}  // namespace

// An X server that ends when its last client leaves, as a fresh server resets:
// the toolkit's connection must be the first and only one the program makes.
TEST(ProgramStart, ShowsItsWindowOnAServerThatEndsWithItsLastClient) {
    // The server writes its number once it takes connections; the rest of what it says goes nowhere.
    Child server("Xvfb -displayfd 3 -terminate -nolisten tcp -screen 0 1024x768x24 3>&1 >/dev/null");
    const std::string display = ":" + server.Read("\n").substr(0, server.text.find('\n'));
    ASSERT_GT(display.size(), 1u) << "no Xvfb server started (scripts/deps.sh installs it)";

    Child program("DISPLAY=" + display + " PELLORA_TRACE=1 '" PELLORA_UPDATE_PATH "'");
    const std::string built = program.Read("Installing extended tab control");  // the window is being built
    ASSERT_NE(built.find("Installing extended tab control"), std::string::npos) << built;
    std::string window;
    for (int i = 0; i < 100 && window.find("IsViewable") == std::string::npos; ::usleep(100000), ++i) {
        window = Child("xwininfo -display " + display + " -name 'Pellora Update'").Read();
    }
    EXPECT_NE(window.find("IsViewable"), std::string::npos) << window;
}

TEST(ProgramStart, WithoutAUsableDisplayOneLineAndStatusOne) {
    // An X display number nobody serves: no socket file, no abstract socket.
    std::ifstream in("/proc/net/unix");
    const std::string sockets((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int n = 99;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
           sockets.find("/tmp/.X11-unix/X" + std::to_string(n) + "\n") != std::string::npos) {
        ++n;
    }
    const std::string dead = ":" + std::to_string(n);
    testsupport::TempDir runtime;  // holds no Wayland socket
    const std::string stale = "WAYLAND_DISPLAY=wayland-pellora-stale";
    const std::vector<std::string> cases {stale, stale + " DISPLAY=" + dead, "DISPLAY=" + dead, ""};
    for (const std::string& variables : cases) {
        const std::string named = variables.empty() ? "no display" : variables.substr(variables.rfind('=') + 1);
        SCOPED_TRACE(named);
        Child program(variables + " XDG_RUNTIME_DIR='" + runtime.path.string() + "' '" PELLORA_UPDATE_PATH "'");
        const std::string output = program.Read();
        const int status = program.Wait();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << ": " << output;
        EXPECT_EQ(output.rfind("pellora-update: ", 0), 0u) << output;
        EXPECT_EQ(output.find('\n'), output.size() - 1) << output;  // one line
        EXPECT_NE(output.find(named), std::string::npos) << output;
    }
}
