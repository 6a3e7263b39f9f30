// Sentence framing as the device speaks it: "$", the body, "*", two hex digits
// of the XOR of the body bytes, CR LF. The assembler cuts a byte stream into
// such sentences and says what was wrong with the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// XOR of all bytes of the body.
std::uint8_t Checksum(std::string_view body);
// "$" body "*" HH CR LF, upper-case hex.
std::string Frame(std::string_view body);
// The same with a given checksum (a wrong one, for fault tests).
std::string FrameWithChecksum(std::string_view body, std::uint8_t checksum);

struct Sentence {
    std::string raw;                  // as received, "$" to LF
    std::string body;                 // between "$" and "*"
    std::string tag;                  // body up to the first comma, e.g. "PMTK182"
    std::vector<std::string> fields;  // the comma-separated fields after the tag
    std::uint8_t checksum = 0;        // as the sender wrote it
    bool checksumOk = false;
};

// Splits a body into tag and fields.
void SplitBody(const std::string& body, std::string& tag, std::vector<std::string>& fields);

class SentenceAssembler {
public:
    // Longest sentence taken; anything longer is a broken frame.
    static constexpr std::size_t kMaxSentence = 1024;

    struct Item {
        enum class Kind {
            kSentence,     // well framed, checksum right
            kBadChecksum,  // well framed, checksum wrong
            kBadFrame,     // began with "$" but is no sentence
            kNoise,        // bytes outside any sentence
        };
        Kind kind = Kind::kNoise;
        std::string bytes;
        Sentence sentence;  // filled for kSentence and kBadChecksum
    };

    // Takes the next bytes of the stream; returns what they completed. Noise
    // is reported at the end of each call, an unfinished sentence is kept.
    std::vector<Item> Feed(std::string_view bytes);
    // The bytes of an unfinished sentence.
    const std::string& Pending() const { return pending_; }

private:
    void Finish(std::vector<Item>& out);
    std::string pending_;  // begins with "$" while inside a sentence
    std::string noise_;
};

}  // namespace sim
