// pellora-devsim plays a model chosen by name, with the firmware and hardware
// versions given on its command line, and refuses values that would break
// its sentences.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "PtyTestEnv.h"
#include "device/CommandEngine.h"
#include "device/SerialLink.h"
#include "support/UtilityManager.h"

extern char** environ;

namespace {

// The program run with the arguments; its standard output (and error) on a pipe.
class Devsim {
public:
    explicit Devsim(std::vector<std::string> args, bool errorToo = false) {
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (errorToo) posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        args.insert(args.begin(), PELLORA_DEVSIM_PATH);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        fd_ = out[0];
    }
    ~Devsim() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) ::close(fd_);
    }
    bool Started() const { return pid_ > 0; }
    // Output up to the end of a line, or everything until the program ends.
    std::string Read(bool wholeOutput, int timeoutMs = 5000) {
        std::string text;
        char c = 0;
        while (wholeOutput || text.find('\n') == std::string::npos) {
            pollfd pfd {fd_, POLLIN, 0};
            if (::poll(&pfd, 1, timeoutMs) <= 0 || ::read(fd_, &c, 1) != 1) break;
            text += c;
        }
        return text;
    }
    // Ends the program with SIGTERM (when running) and returns its exit
    // code; -1 when it did not end within ten seconds (it is killed then).
    int Finish(bool terminate) {
        if (pid_ <= 0) return -1;
        if (terminate) ::kill(pid_, SIGTERM);
        int status = 0;
        pid_t done = 0;
        for (int i = 0; i < 1000 && done == 0; ++i) {
            done = ::waitpid(pid_, &status, WNOHANG);
            if (done == 0) ::usleep(10000);
        }
        if (done == 0) return -1;  // the destructor kills it
        pid_ = 0;
        return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = 0;
    int fd_ = -1;
};

}  // namespace

TEST(SimDevsimModels, PlaysTheNamedModelWithGivenVersions) {
    testsupport::PtyPortDir dir;
    Devsim devsim({"--port", "COM33", "--model", "ZEP ION", "--firmware", "306", "--hardware", "05", "--logger",
                   "--log-end", "0x3F200"});
    ASSERT_TRUE(devsim.Started());
    const std::string line = devsim.Read(false);
    ASSERT_EQ(line.rfind("COM33 /dev/", 0), 0u) << line;

    SerialLink link;
    link.linkPortName = "COM33";
    ASSERT_EQ(link.OpenPort(), 1);
    portLinked = 1;
    CommandEngine engine(&link);
    const char* reply = engine.SendQvrQuery(810);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(std::string(reply, 14), "$PQVR852,TK517");
    reply = engine.SendQvrQuery(861);
    ASSERT_NE(reply, nullptr);
    EXPECT_STREQ(engine.ExtractQvrField(reply, 9, 3), "306");
    reply = engine.SendQvrQuery(865);
    ASSERT_NE(reply, nullptr);
    EXPECT_STREQ(engine.ExtractQvrField(reply, 9, 3), "05*");
    // A logger too, as asked.
    EXPECT_EQ(engine.ParsePmtk182Value(engine.SendPmtk182Retry(2, 8, 0), true), 0x3F200u);
    portLinked = 0;
    link.ClosePort();
    EXPECT_EQ(devsim.Finish(true), 0);
}

TEST(SimDevsimModels, BadValuesAndTheModelList) {
    testsupport::PtyPortDir dir;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--port", "COM35", "--firmware", "30"},
             {"--port", "COM35", "--hardware", "0*4"},
             {"--port", "COM35", "--model-name", "TK,517"},
             {"--port", "COM35", "--record-mode", "3"},
             {"--port", "COM35", "--log-end", "200001"},
             {"--port", "COM35", "--log-end", "xyz"},
         }) {
        Devsim devsim(args, true);
        ASSERT_TRUE(devsim.Started());
        const std::string text = devsim.Read(true);
        EXPECT_EQ(devsim.Finish(false), 2) << args[2] << " " << args[3];
        EXPECT_NE(text.find("pellora-devsim:"), std::string::npos) << text;
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir.Path() + "/COM35")));
    }

    Devsim list({"--list-models"});
    ASSERT_TRUE(list.Started());
    const std::string models = "\n" + list.Read(true);
    EXPECT_EQ(list.Finish(false), 0);
    for (const char* name : {"L-731", "RVN-3", "L-4400C", "L4500", "ZEP ION", "unknown", "silent"}) {
        EXPECT_NE(models.find(std::string("\n") + name + " "), std::string::npos) << name;
    }

    // A name that is no preset is played as an unknown model, with a note.
    Devsim other({"--port", "COM36", "--model", "XJ-900"}, true);
    ASSERT_TRUE(other.Started());
    const std::string note = other.Read(false);
    EXPECT_NE(note.find("\"XJ-900\" is no preset model"), std::string::npos) << note;
    EXPECT_EQ(other.Finish(true), 0);
}
