#include "platform/SerialBackend.h"

#include <atomic>

#include "platform/PosixSerial.h"

namespace platform {
namespace {
// The machine's own ports.
PosixSerialBackend g_default;
std::atomic<SerialBackend*> g_backend{&g_default};
}  // namespace

SerialBackend& GetSerialBackend() { return *g_backend.load(std::memory_order_acquire); }

SerialBackend* SetSerialBackend(SerialBackend* backend) {
    SerialBackend* previous = g_backend.exchange(backend ? backend : &g_default);
    return previous == &g_default ? nullptr : previous;
}

}  // namespace platform
