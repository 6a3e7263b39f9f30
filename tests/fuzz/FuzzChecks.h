// What the track-log fuzz targets share: a failed check names itself and
// aborts, which libFuzzer reports as a crash with the input that caused it;
// and the framing of a sentence, written here apart from the program's own.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzcheck {

inline void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// "$", the body, "*", the XOR of the body in two upper-case digits, CR LF.
inline std::string Framed(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

}  // namespace fuzzcheck
