// A scripted serial backend for tests: records everything written, answers
// through a responder, and counts opens, closes, purges and speeds.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SerialBackend.h"

namespace testsupport {

class FakeSerialBackend : public platform::SerialBackend {
public:
    // Given the bytes of one write, returns the bytes the device sends back
    // (queued for the next reads).
    using Responder = std::function<std::string(const std::string& written)>;

    std::unique_ptr<platform::SerialChannel> Open(const std::string& name) override;

    void SetResponder(Responder r);
    void SetOpenFails(bool fails);
    // Writes for which `fails` holds are refused (nothing written, false).
    void SetWriteFails(std::function<bool(const std::string& bytes)> fails);
    // Reads of up to `count` bytes take what `source` gives instead of the
    // queued input (a device that never stops sending).
    void SetReadSource(std::function<std::string(std::uint32_t count)> source);
    void PushInput(const std::string& bytes);

    // What happened, in order.
    std::vector<std::string> Writes() const;
    std::string AllWritten() const;
    std::vector<std::string> OpenedNames() const;
    std::vector<int> Bauds() const;
    std::vector<std::string> Events() const;  // "open NAME", "baud N", "purge", "close", "write ..."
    int OpenChannels() const;
    void ClearRecord();

private:
    friend class FakeSerialChannel;
    mutable std::mutex mutex_;
    Responder responder_;
    bool openFails_ = false;
    std::function<bool(const std::string&)> writeFails_;
    std::function<std::string(std::uint32_t)> readSource_;
    std::string input_;
    std::vector<std::string> writes_;
    std::vector<std::string> opened_;
    std::vector<int> bauds_;
    std::vector<std::string> events_;
    int openChannels_ = 0;
};

}  // namespace testsupport
