#include "platform/SerialBackend.h"

#include <atomic>

namespace platform {
namespace {
// Placeholder until the POSIX backend is in: opens nothing.
class NoPorts final : public SerialBackend {
public:
    std::unique_ptr<SerialChannel> Open(const std::string&) override { return nullptr; }
};
NoPorts g_default;
std::atomic<SerialBackend*> g_backend{&g_default};
}  // namespace

SerialBackend& GetSerialBackend() { return *g_backend.load(std::memory_order_acquire); }

SerialBackend* SetSerialBackend(SerialBackend* backend) {
    SerialBackend* previous = g_backend.exchange(backend ? backend : &g_default);
    return previous == &g_default ? nullptr : previous;
}

}  // namespace platform
