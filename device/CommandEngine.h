// The device command engine: builds framed sentences, writes them to the one
// serial port and polls for the device's reply. The logger settings page
// holds one and every other page sends through it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class SerialLink;

// Frames a sentence body: "$" body "*" two upper-case hex digits of the XOR of
// the body bytes, CR LF.
std::string FrameSentence(const std::string& body);

class CommandEngine {
public:
    // The constant reply of every sender while no device is linked.
    static const char* const kNotConnected;
    static constexpr std::size_t kReceiveBufferSize = 0x300000;

    CommandEngine();
    explicit CommandEngine(SerialLink* link);

    void SetLink(SerialLink* link) { link_ = link; }
    SerialLink* GetLink() const { return link_; }

    const char* SendPmtk182(int command, int arg1, int arg2);
    const char* SendOrvikCommand(int code);

private:
    bool LinkGuard();
    void WriteSentence(const std::string& sentence);

    SerialLink* link_ = nullptr;
    std::vector<char> receiveBuffer;
};
