#include "UiTestUtil.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdlib>
#include <filesystem>

namespace testsupport {

TraceCapture::TraceCapture() {
    previous_ = platform::SetTraceSink([this](const std::string& text) {
        std::lock_guard lock(mutex_);
        lines_.push_back(text);
    });
}

TraceCapture::~TraceCapture() { platform::SetTraceSink(previous_); }

std::vector<std::string> TraceCapture::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

int TraceCapture::Count(const std::string& text) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& line : lines_) n += (line == text);
    return n;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

std::string ArtifactDir() {
    std::filesystem::path dir = std::filesystem::path(PELLORA_BUILD_DIR) / "artifacts";
    std::filesystem::create_directories(dir);
    return dir.string();
}

}  // namespace testsupport
