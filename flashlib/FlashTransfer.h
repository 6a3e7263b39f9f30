// The stand-in's transfer engine: hello, download agent, image and end over
// an open serial channel, each frame sent until the device acknowledges it
// (FlashProtocol.h), with the four callbacks reporting progress. The
// stand-in's Run drives it; the benchmark drives it against the flash target
// in memory. Waits go through the clock given, else the process clock.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "flashlib/FlashRecords.h"
#include "platform/Clock.h"
#include "platform/SerialBackend.h"

namespace platform {

struct FlashTransferParams {
    std::string chip;
    std::uint32_t agentParameter = 0;
    std::uint32_t speedCode = 0;
    std::uint32_t option = 0;
    std::uint32_t regionStart = 0;
    std::span<const std::uint8_t> agent;
    std::span<const std::uint8_t> image;
    std::uint32_t answerTimeoutMs = 1000;     // per frame and try
    std::uint32_t helloTimeoutMs = 500;       // per hello try
    std::uint32_t helloPhaseTimeoutMs = 5000; // all hello tries together
    int helloTries = 10;
    int frameTries = 4;                       // first send and three more
    std::uint32_t pollMs = 1;
};

// The four callbacks as the transfer calls them; empty ones are skipped. A
// non-zero return stops the transfer.
struct FlashTransferEvents {
    std::function<int()> agentInit;
    std::function<int(std::uint8_t, std::uint32_t, std::uint32_t)> agentProgress;
    std::function<int()> imageInit;
    std::function<int(std::uint8_t, std::uint32_t, std::uint32_t)> imageProgress;
};

struct FlashTransferStats {
    std::uint32_t stage = flashstage::kNone;
    std::uint64_t bytesOut = 0;
    std::uint64_t bytesIn = 0;
    std::uint32_t frames = 0;
    std::uint32_t resends = 0;
    std::uint32_t imageBytesAcked = 0;
    std::uint32_t imageCrc = 0;
    std::uint32_t deviceCrc = 0;
    std::uint32_t deviceLength = 0;
};

// Hello, agent, image, end. Returns a Run result (kNoDevice when the hello
// never got an answer). The clock is the process clock when null.
std::uint32_t RunFlashTransfer(SerialChannel& channel, const FlashTransferParams& params,
                               const FlashTransferEvents& events, FlashTransferStats* stats,
                               Clock* clock = nullptr);

// Bit rate for a speed code.
int FlashSpeedBaud(std::uint32_t speedCode);

}  // namespace platform
