#include "device/CommandEngine.h"

#include <cstdio>
#include <cstring>

#include "device/SerialLink.h"
#include "platform/Clock.h"
#include "support/UtilityManager.h"

const char* const CommandEngine::kNotConnected = "Not Connected";

std::string FrameSentence(const std::string& body) {
    unsigned char sum = 0;
    for (unsigned char c : body) {
        sum ^= c;
    }
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "$" + body + "*";
    out += kHex[sum >> 4];
    out += kHex[sum & 0x0F];
    out += "\r\n";
    return out;
}

CommandEngine::CommandEngine() : receiveBuffer(kReceiveBufferSize + 1, 0) {}

CommandEngine::CommandEngine(SerialLink* link) : CommandEngine() { link_ = link; }

bool CommandEngine::LinkGuard() {
    if (portLinked.load() != 0 && link_) {
        return true;
    }
    if (link_ && link_->IsPortOpen()) {
        link_->PurgePort();
        link_->ClosePortReset();
    }
    return false;
}

void CommandEngine::WriteSentence(const std::string& sentence) {
    std::uint32_t written = 0;
    link_->WritePort(sentence.data(), static_cast<std::uint32_t>(sentence.size()), &written);
}

const char* CommandEngine::SendPmtk182(int command, int arg1, int arg2) {
    theUtility.sendPmtkFirst = 1;
    std::fill(receiveBuffer.begin(), receiveBuffer.end(), 0);
    if (!LinkGuard()) {
        return kNotConnected;
    }
    std::string body = command == 400 ? "PMTK400" : "PMTK182," + std::to_string(command);
    if (arg1 != 0) body += "," + std::to_string(arg1);
    if (arg2 != 0) body += "," + std::to_string(arg2);
    WriteSentence(FrameSentence(body));
    const char* expected = (command == 2 || command == 7) ? "$PMTK182" : "$PMTK001";
    for (int poll = 0; poll < 10; ++poll) {
        platform::Sleep(38);
        std::uint32_t got = 0;
        std::memset(receiveBuffer.data(), 0, 81);
        link_->ReadPort(receiveBuffer.data(), 80, &got);
        if (std::strncmp(receiveBuffer.data(), expected, 8) == 0) {
            return receiveBuffer.data();
        }
    }
    return nullptr;
}

const char* CommandEngine::SendOrvikCommand(int code) {
    theUtility.sendPmtkFirst = 1;
    std::fill(receiveBuffer.begin(), receiveBuffer.end(), 0);
    if (!LinkGuard()) {
        return kNotConnected;
    }
    WriteSentence(FrameSentence("ORVIK731," + std::to_string(code)));
    const std::string ack = "$ORVIK001," + std::to_string(code);
    for (int poll = 0; poll < 60; ++poll) {
        platform::Sleep(38);
        std::uint32_t got = 0;
        std::memset(receiveBuffer.data(), 0, 81);
        link_->ReadPort(receiveBuffer.data(), 80, &got);
        const char* found = std::strstr(receiveBuffer.data(), ack.c_str());
        if (found) {
            return found;
        }
    }
    return nullptr;
}
