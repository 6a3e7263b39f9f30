// A narrow view of a serial port for the operations that send a sentence and
// poll for its reply (the track-log page's PMTK182 sender, the Bluetooth
// address operations). Pages hand in the port they talk through; tests hand
// in a recording fake.
//
// Reads return at once with whatever has arrived, up to the count. Every call
// may come from a worker thread; SerialLinkPort passes each one to the
// SerialLink, which locks.
#pragma once

#include <cstddef>
#include <string_view>

class SerialLink;

class SentencePort {
public:
    virtual ~SentencePort() = default;
    // Opens the port (a port that is open is opened afresh); false on failure.
    virtual bool Open() = 0;
    // Purges and closes; nothing when closed.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Drops pending input and output.
    virtual void Purge() = 0;
    // Sends every byte; false when not all went out (or the port is closed).
    virtual bool Write(std::string_view bytes) = 0;
    // Takes what has come, at most count bytes; 0 when nothing or closed.
    virtual std::size_t Read(char* buffer, std::size_t count) = 0;
};

// A SerialLink as a SentencePort. Close is the link's ClosePort (purge and
// close). The update page's port goes back to the name "COM1" then, as it
// always does; a page's own port for the Bluetooth operations keeps its name
// (kKeepName), so that it opens the same port the next time.
class SerialLinkPort final : public SentencePort {
public:
    enum class CloseMode { kResetName, kKeepName };
    explicit SerialLinkPort(SerialLink& link, CloseMode mode = CloseMode::kResetName) : link_(link), mode_(mode) {}
    bool Open() override;
    void Close() override;
    bool IsOpen() const override;
    void Purge() override;
    bool Write(std::string_view bytes) override;
    std::size_t Read(char* buffer, std::size_t count) override;

private:
    SerialLink& link_;
    CloseMode mode_;
};
