// A FIFO with no writer, as a hostile source. Code that opens it must refuse
// it at once; should an open block instead, a writer comes after 3 s, frees
// it and marks Blocked(), so the test fails rather than hangs.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace testsupport {

class Fifo {
public:
    explicit Fifo(std::string path) : path_(std::move(path)) {
        ::mkfifo(path_.c_str(), 0600);
        writer_ = std::jthread([this](std::stop_token stop) {
            std::mutex m;
            std::unique_lock lock(m);
            std::condition_variable_any().wait_for(lock, stop, std::chrono::seconds(3), [] { return false; });
            for (int i = 0; i < 50 && !stop.stop_requested(); ++i) {  // a blocked reader is there to take it
                const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {  // only a reader waiting in open() lets a writer in
                    blocked_ = true;
                    ::close(fd);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    const std::string& Path() const { return path_; }
    bool Blocked() const { return blocked_; }

private:
    std::string path_;
    std::atomic<bool> blocked_{false};
    std::jthread writer_;
};

}  // namespace testsupport
