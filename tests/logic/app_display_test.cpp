// The program started where no window can be shown: one line, exit status 1.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/wait.h>

TEST(ProgramStart, WithoutAReachableDisplayOneLineAndStatusOne) {
    // An X display number nobody serves: no socket file, no abstract socket.
    std::ifstream in("/proc/net/unix");
    const std::string sockets((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int n = 99;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
           sockets.find("/tmp/.X11-unix/X" + std::to_string(n) + "\n") != std::string::npos) {
        ++n;
    }
    const std::string unserved = ":" + std::to_string(n);
    for (const std::string& display : {"DISPLAY=" + unserved, std::string("-u DISPLAY")}) {
        SCOPED_TRACE(display);
        const std::string command = "env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY " + display + " '" +
                                    PELLORA_UPDATE_PATH + "' 2>&1 </dev/null";
        std::FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char buffer[512];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
        const int status = pclose(pipe);
        ASSERT_TRUE(WIFEXITED(status)) << output;
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_EQ(output.rfind("pellora-update: ", 0), 0u) << output;
        EXPECT_EQ(output.find('\n'), output.size() - 1) << output;  // one line
        if (display[0] == 'D') {
            EXPECT_NE(output.find(unserved), std::string::npos) << output;
        }
    }
}
