// What the fuzz targets share: the input reader (with <algorithm>, <cstring>, <string>, <vector>); a check
// that names itself and aborts, which libFuzzer reports as a crash with its input; and text and sentence
// helpers written apart from the program's own.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fuzzcheck {

inline void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

inline unsigned Xor(const void* bytes, std::size_t n) {
    unsigned sum = 0;
    while (n > 0) sum ^= static_cast<const unsigned char*>(bytes)[--n];
    return sum;
}

// "$", the body, "*", the XOR of the body in two upper-case digits, CR LF.
inline std::string Framed(const std::string& body) {
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", Xor(body.data(), body.size()));
    return "$" + body + tail;
}

inline std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Occurrences of what in text from its `from`th character on.
inline std::size_t Count(std::string_view text, std::string_view what, std::size_t from = 0) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what, from); at != text.npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace fuzzcheck
