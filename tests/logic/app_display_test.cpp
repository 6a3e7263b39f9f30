// The program started where no window can be shown: one line, exit status 1.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// An X display number nobody serves: neither its socket file nor its
// abstract socket exists.
int UnservedDisplay() {
    std::ifstream in("/proc/net/unix");
    const std::string sockets((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (int n = 99; n < 400; ++n) {
        const std::string name = "/tmp/.X11-unix/X" + std::to_string(n);
        if (!std::filesystem::exists(name) && sockets.find(name + "\n") == std::string::npos) {
            return n;
        }
    }
    return -1;
}

struct Outcome {
    int status = -1;
    std::string errors;
};

// Runs the program with the environment's display variables replaced.
Outcome Start(const char* display) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("DISPLAY=", 0) != 0 && entry.rfind("WAYLAND_DISPLAY=", 0) != 0 &&
            entry.rfind("QT_QPA_PLATFORM=", 0) != 0) {
            env.push_back(entry);
        }
    }
    if (display) {
        env.push_back(std::string("DISPLAY=") + display);
    }
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);

    int pipeFds[2];
    Outcome run;
    if (::pipe(pipeFds) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    char program[] = PELLORA_UPDATE_PATH;
    char* argv[] = {program, nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) run.errors.append(buffer, n);
    ::close(pipeFds[0]);
    if (spawned == 0 && ::waitpid(pid, &run.status, 0) != pid) run.status = -1;
    return run;
}

}  // namespace

TEST(ProgramStart, WithoutAReachableDisplayOneLineAndStatusOne) {
    const int n = UnservedDisplay();
    ASSERT_GE(n, 0);
    const std::string unserved = ":" + std::to_string(n);
    for (const char* display : {unserved.c_str(), static_cast<const char*>(nullptr)}) {
        const Outcome run = Start(display);
        SCOPED_TRACE(display ? display : "no DISPLAY");
        ASSERT_TRUE(WIFEXITED(run.status)) << run.errors;
        EXPECT_EQ(WEXITSTATUS(run.status), 1);
        ASSERT_FALSE(run.errors.empty());
        EXPECT_EQ(run.errors.find('\n'), run.errors.size() - 1) << run.errors;
        EXPECT_EQ(run.errors.rfind("pellora-update: ", 0), 0u) << run.errors;
        if (display) {
            EXPECT_NE(run.errors.find(unserved), std::string::npos) << run.errors;
        }
    }
}
