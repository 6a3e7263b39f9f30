// The program started on the displays users have: its window where one can be
// shown, else one line on standard error and status 1, never the toolkit's abort.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TempDir.h"

extern char** environ;

namespace {

// A command run through env(1) with no display of the test's own; its standard
// output and error on one pipe.
struct Child {
    explicit Child(std::vector<std::string> args) {
        args.insert(args.begin(), {"env", "-u", "QT_QPA_PLATFORM", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u",
                                   "XDG_SESSION_TYPE"});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        if (::posix_spawnp(&pid, "env", &actions, nullptr, argv.data(), environ) != 0) pid = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        fd = out[0];
    }
    ~Child() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::close(fd);
    }
    // The output until it holds `wanted` (with "", until it ends), or 60 s.
    std::string Read(const std::string& wanted = "") {
        char buffer[512];
        pollfd ready {fd, POLLIN, 0};
        for (ssize_t got = 1; got > 0 && (wanted.empty() || text.find(wanted) == std::string::npos);) {
            got = ::poll(&ready, 1, 60000) > 0 ? ::read(fd, buffer, sizeof buffer) : 0;
            if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
        }
        return text;
    }
    pid_t pid = 0;
    int fd = -1;
    std::string text;
};

}  // namespace

// An X server that ends when its last client leaves, as a fresh server resets:
// the toolkit's connection must be the first and only one the program makes.
TEST(ProgramStart, ShowsItsWindowOnAServerThatEndsWithItsLastClient) {
    // The server writes its number once it takes connections.
    Child server({"sh", "-c", "exec Xvfb -displayfd 1 -terminate -nolisten tcp -screen 0 1024x768x24 2>/dev/null"});
    const std::string display = ":" + server.Read("\n").substr(0, server.text.find('\n'));
    ASSERT_GT(display.size(), 1u) << "no Xvfb server started (scripts/deps.sh installs it)";

    Child program({"DISPLAY=" + display, "PELLORA_TRACE=1", PELLORA_UPDATE_PATH});
    const std::string built = program.Read("Installing extended tab control");  // the window is being built
    ASSERT_NE(built.find("Installing extended tab control"), std::string::npos) << built;
    std::string window;
    for (int i = 0; i < 100 && window.find("IsViewable") == std::string::npos; ::usleep(100000), ++i) {
        window = Child({"xwininfo", "-display", display, "-name", "Pellora Update"}).Read();
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
    const std::vector<std::vector<std::string>> cases {
        {stale}, {stale, "DISPLAY=" + dead}, {"DISPLAY=" + dead}, {}};
    for (auto args : cases) {
        const std::string named = args.empty() ? "no display" : args.back().substr(args.back().find('=') + 1);
        SCOPED_TRACE(named);
        args.insert(args.end(), {"XDG_RUNTIME_DIR=" + runtime.path.string(), PELLORA_UPDATE_PATH});
        Child program(args);
        const std::string output = program.Read();
        int status = 0;
        ASSERT_EQ(::waitpid(program.pid, &status, 0), program.pid);
        program.pid = 0;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << ": " << output;
        EXPECT_EQ(output.rfind("pellora-update: ", 0), 0u) << output;
        EXPECT_EQ(output.find('\n'), output.size() - 1) << output;  // one line
        EXPECT_NE(output.find(named), std::string::npos) << output;
    }
}
