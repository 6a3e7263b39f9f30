#include "PtyTestEnv.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace testsupport {

PtyPortDir::PtyPortDir() {
    char templ[] = "/tmp/pellora-ports-XXXXXX";
    if (::mkdtemp(templ) != nullptr) {
        path_ = templ;
    }
    if (const char* old = std::getenv("PELLORA_PORT_DIR")) {
        hadPrevious_ = true;
        previous_ = old;
    }
    ::setenv("PELLORA_PORT_DIR", path_.c_str(), 1);
}

PtyPortDir::~PtyPortDir() {
    if (hadPrevious_) {
        ::setenv("PELLORA_PORT_DIR", previous_.c_str(), 1);
    } else {
        ::unsetenv("PELLORA_PORT_DIR");
    }
    std::error_code ec;
    if (!path_.empty()) {
        std::filesystem::remove_all(path_, ec);
    }
}

PtyPair::PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        return;
    }
    path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    termios tio {};
    if (slave_ >= 0 && ::tcgetattr(slave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slave_, TCSANOW, &tio);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

bool PtyPair::WriteFromDevice(const std::string& bytes) {
    return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

std::string PtyPair::ReadAtDevice(std::size_t want, int timeoutMs) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[4096];
    while (got.size() < want && std::chrono::steady_clock::now() < end) {
        pollfd pfd {master_, POLLIN, 0};
        if (::poll(&pfd, 1, 20) > 0) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return got;
}

int PtyPair::PendingForPort() const {
    int n = -1;
    ::ioctl(slave_, FIONREAD, &n);
    return n;
}

}  // namespace testsupport
