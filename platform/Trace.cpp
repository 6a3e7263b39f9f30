#include "platform/Trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace platform {
namespace {
std::mutex g_mutex;
TraceSink g_sink;

void DefaultSink(const std::string& text) {
    static const bool enabled = std::getenv("PELLORA_TRACE") != nullptr;
    if (enabled) {
        std::fputs(text.c_str(), stderr);
    }
}
}  // namespace

void Trace(const std::string& text) {
    TraceSink sink;
    {
        std::lock_guard lock(g_mutex);
        sink = g_sink;
    }
    if (sink) {
        sink(text);
    } else {
        DefaultSink(text);
    }
}

void TraceF(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (n > 0) {
        std::vector<char> buffer(static_cast<size_t>(n) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<size_t>(n));
    }
    va_end(args);
    Trace(text);
}

TraceSink SetTraceSink(TraceSink sink) {
    std::lock_guard lock(g_mutex);
    TraceSink previous = std::move(g_sink);
    g_sink = std::move(sink);
    return previous;
}

}  // namespace platform
