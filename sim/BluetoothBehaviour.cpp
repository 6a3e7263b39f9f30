// The Bluetooth module of the simulated loggers: its address query, address
// write and rate setting (see Behaviours.h for the sentences).
#include <cctype>

#include "sim/Behaviours.h"

namespace sim {
namespace {

bool IsHexField(const std::string& text, std::size_t digits) {
    if (text.size() != digits) {
        return false;
    }
    for (unsigned char c : text) {
        if (!std::isxdigit(c)) {
            return false;
        }
    }
    return true;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

Replies DeviceState::AnswerBluetooth(const Sentence& sentence) {
    const auto& f = sentence.fields;
    std::lock_guard lock(mutex_);
    DeviceProfile& p = profile_;
    if (sentence.tag == "PMTK492") {
        if (!f.empty()) {
            return {Reply::Sentence("PMTK001,492,0")};
        }
        return {Reply::Sentence("PMTK592," + p.btAddress)};
    }
    if (sentence.tag == "PMTK392") {
        if (f.size() != 2 || !IsHexField(f[0], 6) || !IsHexField(f[1], 6)) {
            return {Reply::Sentence("PMTK001,392,0")};
        }
        p.btAddress = Upper(f[0] + f[1]);
        // The module takes the address and starts again.
        return {Reply::Sentence("PMTK001,392,3"), Reply::Sentence("PMTK010,001")};
    }
    if (sentence.tag == "PMTK220") {
        if (f.size() != 1 || f[0].empty() || f[0].size() > 5 ||
            f[0].find_first_not_of("0123456789") != std::string::npos) {
            return {Reply::Sentence("PMTK001,220,0")};
        }
        const int ms = std::stoi(f[0]);
        if (ms < 100 || ms > 10000) {
            return {Reply::Sentence("PMTK001,220,2")};
        }
        p.fixIntervalMs = ms;
        return {Reply::Sentence("PMTK001,220,3")};
    }
    return {};
}

}  // namespace sim
