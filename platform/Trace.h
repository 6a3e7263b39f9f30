// Debug traces, the program's equivalent of the debugger output stream.
// Nothing is printed unless PELLORA_TRACE is set; tests can capture them.
#pragma once

#include <functional>
#include <string>

namespace platform {

// Writes one trace text as it stands (the text carries its own line end).
void Trace(const std::string& text);
// printf-style convenience.
void TraceF(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Installs a sink that receives every trace (replacing the default); an empty
// function restores the default. Returns the previous sink.
using TraceSink = std::function<void(const std::string&)>;
TraceSink SetTraceSink(TraceSink sink);

}  // namespace platform
