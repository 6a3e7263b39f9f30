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

// A SerialLink as a SentencePort. Close is the link's ClosePort (purge,
// close, the port name back to "COM1").
class SerialLinkPort final : public SentencePort {
public:
    explicit SerialLinkPort(SerialLink& link) : link_(link) {}
    bool Open() override;
    void Close() override;
    bool IsOpen() const override;
    void Purge() override;
    bool Write(std::string_view bytes) override;
    std::size_t Read(char* buffer, std::size_t count) override;

private:
    SerialLink& link_;
};
