#include "FakeSerial.h"

#include <algorithm>
#include <cstring>

namespace testsupport {

class FakeSerialChannel final : public platform::SerialChannel {
public:
    explicit FakeSerialChannel(FakeSerialBackend& owner) : owner_(owner) {}
    ~FakeSerialChannel() override { Close(); }

    bool Configure(int baud) override {
        std::lock_guard lock(owner_.mutex_);
        if (closed_) return false;
        owner_.bauds_.push_back(baud);
        owner_.events_.push_back("baud " + std::to_string(baud));
        return true;
    }
    bool SetQueues(std::uint32_t, std::uint32_t) override { return !closed_; }
    bool Read(void* buffer, std::uint32_t count, std::uint32_t* got) override {
        std::lock_guard lock(owner_.mutex_);
        if (got) *got = 0;
        if (closed_) return false;
        if (owner_.readSource_) owner_.input_ = owner_.readSource_(count);
        const std::uint32_t n = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(owner_.input_.size()));
        std::memcpy(buffer, owner_.input_.data(), n);
        owner_.input_.erase(0, n);
        if (got) *got = n;
        return true;
    }
    bool Write(const void* buffer, std::uint32_t count, std::uint32_t* written) override {
        FakeSerialBackend::Responder responder;
        std::string bytes(static_cast<const char*>(buffer), count);
        {
            std::lock_guard lock(owner_.mutex_);
            if (written) *written = 0;
            if (closed_ || (owner_.writeFails_ && owner_.writeFails_(bytes))) return false;
            owner_.writes_.push_back(bytes);
            owner_.events_.push_back("write " + bytes);
            responder = owner_.responder_;
            if (written) *written = count;
        }
        if (responder) {
            std::string reply = responder(bytes);
            std::lock_guard lock(owner_.mutex_);
            owner_.input_ += reply;
        }
        return true;
    }
    bool Purge() override {
        std::lock_guard lock(owner_.mutex_);
        if (closed_) return false;
        owner_.input_.clear();
        owner_.events_.push_back("purge");
        return true;
    }
    bool Close() override {
        std::lock_guard lock(owner_.mutex_);
        if (closed_) return false;
        closed_ = true;
        --owner_.openChannels_;
        owner_.events_.push_back("close");
        return true;
    }

private:
    FakeSerialBackend& owner_;
    bool closed_ = false;
};

std::unique_ptr<platform::SerialChannel> FakeSerialBackend::Open(const std::string& name) {
    std::lock_guard lock(mutex_);
    if (openFails_) {
        events_.push_back("open failed " + name);
        return nullptr;
    }
    opened_.push_back(name);
    events_.push_back("open " + name);
    ++openChannels_;
    return std::make_unique<FakeSerialChannel>(*this);
}

void FakeSerialBackend::SetResponder(Responder r) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(r);
}

void FakeSerialBackend::SetOpenFails(bool fails) {
    std::lock_guard lock(mutex_);
    openFails_ = fails;
}

void FakeSerialBackend::SetWriteFails(std::function<bool(const std::string&)> fails) {
    std::lock_guard lock(mutex_);
    writeFails_ = std::move(fails);
}

void FakeSerialBackend::SetReadSource(std::function<std::string(std::uint32_t)> source) {
    std::lock_guard lock(mutex_);
    readSource_ = std::move(source);
}

void FakeSerialBackend::PushInput(const std::string& bytes) {
    std::lock_guard lock(mutex_);
    input_ += bytes;
}

std::vector<std::string> FakeSerialBackend::Writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

std::string FakeSerialBackend::AllWritten() const {
    std::lock_guard lock(mutex_);
    std::string all;
    for (const auto& w : writes_) all += w;
    return all;
}

std::vector<std::string> FakeSerialBackend::OpenedNames() const {
    std::lock_guard lock(mutex_);
    return opened_;
}

std::vector<int> FakeSerialBackend::Bauds() const {
    std::lock_guard lock(mutex_);
    return bauds_;
}

std::vector<std::string> FakeSerialBackend::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

int FakeSerialBackend::OpenChannels() const {
    std::lock_guard lock(mutex_);
    return openChannels_;
}

void FakeSerialBackend::ClearRecord() {
    std::lock_guard lock(mutex_);
    writes_.clear();
    opened_.clear();
    bauds_.clear();
    events_.clear();
}

}  // namespace testsupport
