// Fuzz target: the command engine's finders, cutters and value parser over a
// reply in its receive buffer (at its start and against its end) and over a
// text of someone else's, as the pages hand them over.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "device/CommandEngine.h"

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "engine fuzz: %s\n", what);
        std::abort();
    }
}

struct Call {
    int length;
    int kind;
    int skip;
    int count;
    bool hex;
};

void Exercise(CommandEngine& engine, const char* text, const Call& c, bool owned) {
    (void)CommandEngine::IsSentenceComplete(text, c.length);
    (void)engine.FindPmtk182(text, c.length);
    (void)engine.FindOrvik001(text, c.length);
    (void)engine.FindQvrSentence(text, c.kind, c.length);
    (void)engine.ParsePmtk182Value(text, c.hex);
    char* cuts[] = {engine.ExtractOrvik001Field(text, c.skip, c.count), engine.ExtractQvrField(text, c.skip, c.count),
                    engine.ExtractPmtk182Field(text, c.skip, c.count),
                    engine.ExtractPmtk182Field2(text, c.skip, c.count)};
    for (char* field : cuts) {
        if (!field) {
            continue;
        }
        Require(owned, "a text not in the receive buffer was cut");
        Require(field >= engine.receiveBuffer && field <= engine.receiveBuffer + CommandEngine::kReceiveBufferSize,
                "field inside the receive buffer");
        (void)std::strlen(field);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CommandEngine engine;
    FuzzedDataProvider in(data, size);
    Call c;
    c.length = in.ConsumeIntegralInRange<int>(-1, 5000);
    c.kind = in.ConsumeIntegralInRange<int>(-1, 5);
    c.skip = in.ConsumeIntegralInRange<int>(-1, 200);
    c.count = in.ConsumeIntegralInRange<int>(-1, 200);
    c.hex = in.ConsumeBool();
    const std::string reply = in.ConsumeRemainingBytesAsString();
    const std::size_t n = std::min(reply.size(), std::size_t{4096});
    char* const buffer = engine.receiveBuffer;
    const std::size_t end = CommandEngine::kReceiveBufferSize;

    // At the start of the buffer, then as its last bytes.
    std::memcpy(buffer, reply.data(), n);
    Exercise(engine, buffer, c, true);
    std::memset(buffer, 0, n);
    std::memcpy(buffer + end - n, reply.data(), n);
    Exercise(engine, buffer + end - n, c, true);
    std::memset(buffer + end - n, 0, n);
    Require(buffer[end] == '\0', "the zero behind the buffer stays");

    // Someone else's terminated text.
    auto foreign = std::make_unique<char[]>(n + 1);
    std::memcpy(foreign.get(), reply.data(), n);
    foreign[n] = '\0';
    Exercise(engine, foreign.get(), c, false);
    Exercise(engine, CommandEngine::kNotConnected, c, false);
    Exercise(engine, nullptr, c, false);
    return 0;
}
