// pellora-devsim started by itself shows up in the program's port list as a
// CP210x bridge, and takes its entry away when stopped.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "PtyTestEnv.h"
#include "device/ComPortList.h"
#include "device/SerialLink.h"

extern char** environ;

namespace {

// Reads the program's first line of output.
std::string FirstLine(int fd, int timeoutMs) {
    std::string line;
    char c = 0;
    while (line.find('\n') == std::string::npos) {
        pollfd pfd {fd, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0 || ::read(fd, &c, 1) != 1) {
            break;
        }
        line += c;
    }
    return line;
}

}  // namespace

TEST(SimDevsim, AppearsInThePortListAsABridge) {
    testsupport::PtyPortDir dir;  // handed down to the child through the environment
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char program[] = PELLORA_DEVSIM_PATH;
    char port[] = "--port";
    char com7[] = "COM7";
    char* argv[] = {program, port, com7, nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ASSERT_EQ(spawned, 0);
    // Whatever fails below, the child does not outlive the test.
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            if (pid > 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    } reaper{pid};

    const std::string line = FirstLine(out[0], 10000);
    EXPECT_EQ(line.rfind("COM7 /dev/", 0), 0u) << line;

    std::vector<ComPortInfo> ports;
    ListComPorts(ports, false);
    const ComPortInfo* found = nullptr;
    for (const auto& p : ports) {
        if (p.portName == "COM7") found = &p;
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->friendlyName, "CP210x USB to UART Bridge Controller (COM7)");
    EXPECT_EQ(found->description, "CP210x USB to UART Bridge Controller");
    EXPECT_EQ(found->isUsbDevice, 1);

    // The update page's search and the logger check see it too.
    SerialLink link;
    link.linkPortName = "COM7";
    EXPECT_EQ(link.CheckDevicePort(), 1);

    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    reaper.pid = 0;
    ::close(out[0]);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir.Path() + "/COM7")));
    ListComPorts(ports, false);
    for (const auto& p : ports) {
        EXPECT_NE(p.devicePath.rfind("/dev/pts/", 0), 0u) << p.portName;
    }
}
