// Fuzz target: the sentence helpers over any bytes. Texts are handed over as
// the helpers' callers hold them (exact-size heap copies, terminated where the
// helper reads a terminated text), so AddressSanitizer sees any byte read or
// written past them; the checks tie framing and parsing together.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "device/Sentence.h"

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "sentence fuzz: %s\n", what);
        std::abort();
    }
}

constexpr std::string_view kTags[] = {sentence::kTagPmtk182, sentence::kTagPmtk001, sentence::kTagOrvik001,
                                      sentence::kTagQvr, "$PQVR861", "$"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int command = in.ConsumeIntegral<int>();
    const int arg1 = in.ConsumeIntegral<int>();
    const int arg2 = in.ConsumeIntegral<int>();
    const std::size_t scan = in.ConsumeIntegralInRange<std::size_t>(0, 200);
    const int skip = in.ConsumeIntegralInRange<int>(-2, 120);
    const int count = in.ConsumeIntegralInRange<int>(-2, 120);
    const std::string_view tag = kTags[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kTags) - 1)];
    const bool hex = in.ConsumeBool();
    const std::string text = in.ConsumeRemainingBytesAsString();

    // Framing: "$", body, "*", the checksum in two digits, CR LF.
    const std::string framed = sentence::FrameSentence(text);
    Require(framed.size() == text.size() + 6 && framed.front() == '$' && framed.compare(1, text.size(), text) == 0,
            "frame");
    const unsigned char sum = sentence::Checksum(text);
    Require(sentence::HexToInt(std::string_view(framed).substr(text.size() + 2, 2)) == sum, "checksum digits");
    if (text.find('*') == std::string::npos && text.find('\0') == std::string::npos) {
        Require(sentence::IsSentenceComplete(framed.c_str(), framed.size()), "framed sentence complete");
    }

    // Builders of the device's sentences.
    const std::string pmtk = sentence::BuildPmtk182Sentence(command, arg1, arg2);
    Require(sentence::IsSentenceComplete(pmtk.c_str(), pmtk.size()), "PMTK182 sentence complete");
    (void)sentence::Pmtk182ReplyTag(command);
    (void)sentence::BuildOrvikSentence(command);
    (void)sentence::OrvikAck(command);
    (void)sentence::QvrQueryBody(command);
    (void)sentence::QvrReplyTag(command);
    (void)sentence::QvrKindTag(arg1);
    (void)sentence::HexDigit(arg2);

    // Number readers: a value written in hex reads back.
    char digits[16];
    std::snprintf(digits, sizeof digits, "0X%X", static_cast<unsigned>(arg1));
    Require(sentence::HexToInt(digits) == static_cast<std::uint32_t>(arg1), "hex round trip");
    (void)sentence::HexToInt(text);
    (void)sentence::DecimalToInt(text);

    // A terminated copy for the readers of terminated texts.
    const std::size_t n = text.size();
    auto terminated = std::make_unique<char[]>(n + 1);
    std::memcpy(terminated.get(), text.data(), n);
    terminated[n] = '\0';
    (void)sentence::IsSentenceComplete(terminated.get(), scan);
    (void)sentence::HexToInt(terminated.get());

    // An unterminated copy for the finder, whose extent is the copy's size.
    auto exact = std::make_unique<char[]>(n ? n : 1);
    std::memcpy(exact.get(), text.data(), n);
    if (const char* found = sentence::FindTag(exact.get(), scan, n, tag)) {
        Require(found >= exact.get() && found + tag.size() <= exact.get() + n &&
                    std::memcmp(found, tag.data(), tag.size()) == 0,
                "found tag inside the text");
    }
    (void)sentence::ParsePmtk182Value(exact.get(), n, hex);

    // The cutter writes only within its extent; the field it returns is a
    // terminated text inside the copy.
    if (char* field = sentence::ExtractTagField(terminated.get(), n, tag, skip, count)) {
        Require(field >= terminated.get() && field <= terminated.get() + n, "field inside the text");
        Require(std::strlen(field) <= static_cast<std::size_t>(count), "field no longer than asked");
    }
    return 0;
}
