#include "device/Sentence.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sentence {

unsigned char Checksum(std::string_view body) {
    unsigned char sum = 0;
    for (char c : body) {
        sum = static_cast<unsigned char>(sum ^ static_cast<unsigned char>(c));
    }
    return sum;
}

char HexDigit(int nibble) {
    const int n = nibble & 0x0F;
    return static_cast<char>(n < 10 ? '0' + n : n + 55);
}

std::string FrameSentence(std::string_view body) {
    const unsigned char sum = Checksum(body);
    std::string out;
    out.reserve(body.size() + 6);
    out += '$';
    out += body;
    out += '*';
    out += HexDigit(sum >> 4);
    out += HexDigit(sum);
    out += '\r';
    out += '\n';
    return out;
}

int Pmtk182HexArgs(int command, int arg1) {
    switch (command) {
    case 1:
        return (arg1 == 1 || arg1 == 2) ? 2 : 0;
    case 3:
        return (arg1 == 2 || arg1 == 8 || arg1 == 9 || arg1 == 10 || arg1 == 11) ? 2 : 0;
    case 6:
        return arg1 == 2 ? 2 : 0;
    case 7:
    case 8:
    case 12:
        return 3;
    default:
        return 0;
    }
}

namespace {


bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

}  // namespace

void AppendArg(std::string& body, int value, bool hex) {
    char field[16];
    if (hex) {
        std::snprintf(field, sizeof field, ",%X", static_cast<unsigned>(value));
    } else {
        std::snprintf(field, sizeof field, ",%d", value);
    }
    body += field;
}

std::string Pmtk182Body(int command, int arg1, int arg2) {
    if (command == 400) {
        return "PMTK400";
    }
    const int mask = Pmtk182HexArgs(command, arg1);
    const bool keepsBoth = command == 7 || command == 12;
    std::string body = "PMTK182," + std::to_string(command);
    if (arg1 != 0 || keepsBoth) {
        AppendArg(body, arg1, (mask & 1) != 0);
    }
    if (arg2 != 0 || keepsBoth || (command == 6 && arg1 == 2)) {
        AppendArg(body, arg2, (mask & 2) != 0);
    }
    return body;
}

std::string BuildPmtk182Sentence(int command, int arg1, int arg2) {
    return FrameSentence(Pmtk182Body(command, arg1, arg2));
}

std::string_view Pmtk182ReplyTag(int command) {
    return (command == 2 || command == 7) ? kTagPmtk182 : kTagPmtk001;
}

std::string BuildOrvikSentence(int code) {
    return FrameSentence("ORVIK731," + std::to_string(code));
}

std::string OrvikAck(int code) {
    return "$ORVIK001," + std::to_string(code);
}

std::string_view QvrQueryBody(int code) {
    switch (code) {
    case 810: return "PQVR810";
    case 861: return "PQVR829";
    case 865: return "PQVR832";
    case 837: return "PQVR837";
    default: return {};
    }
}

std::string_view QvrReplyTag(int code) {
    switch (code) {
    case 810: return "$PQVR852";
    case 861: return "$PQVR861";
    case 865: return "$PQVR865";
    default: return {};
    }
}

std::string_view QvrKindTag(int kind) {
    switch (kind) {
    case 0: return kTagQvr;
    case 1: return "$PQVR852";
    case 2: return "$PQVR861";
    case 3: return "$PQVR865";
    case 4: return "$PQVR900";
    default: return {};
    }
}

std::uint32_t HexToInt(std::string_view text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'X' || text[1] == 'x')) {
        text.remove_prefix(2);
    }
    std::uint32_t value = 0;
    for (char c : text) {
        if (!IsHex(c)) {
            break;
        }
        value = (value << 4) | static_cast<std::uint32_t>(HexValue(c));
    }
    return value;
}

std::uint32_t HexToInt(const char* text) {
    return text ? HexToInt(std::string_view(text)) : 0;
}

std::uint32_t DecimalToInt(std::string_view text) {
    // strtoll needs a terminated text; fields are short.
    const std::string copy(text);
    const long long value = std::strtoll(copy.c_str(), nullptr, 10);
    return static_cast<std::uint32_t>(static_cast<unsigned long long>(value));
}

bool IsSentenceComplete(const char* text, std::size_t length) {
    if (!text) {
        return false;
    }
    for (std::size_t i = 0; i < length && text[i] != '\0'; ++i) {
        if (text[i] == '*') {
            // Each step stops at the terminator, so nothing past the text is read.
            return text[i + 1] != '\0' && text[i + 2] != '\0' && text[i + 3] == '\r' &&
                   text[i + 4] == '\n';
        }
    }
    return false;
}

const char* FindTag(const char* buffer, std::size_t scan, std::size_t extent, std::string_view tag) {
    if (!buffer || tag.empty() || extent < tag.size()) {
        return nullptr;
    }
    const std::size_t last = std::min(scan, extent - tag.size() + 1);
    for (std::size_t i = 0; i < last; ++i) {
        if (buffer[i] == '$' && std::memcmp(buffer + i, tag.data(), tag.size()) == 0) {
            return buffer + i;
        }
    }
    return nullptr;
}

char* ExtractTagField(char* buffer, std::size_t extent, std::string_view tag, int skip, int count) {
    if (skip < 0 || count < 0) {
        return nullptr;
    }
    const char* found = FindTag(buffer, kReplyScanBytes, extent, tag);
    if (!found) {
        return nullptr;
    }
    char* start = buffer + (found - buffer);
    const std::size_t room = extent - static_cast<std::size_t>(start - buffer);
    const std::size_t textLength = strnlen(start, room);
    const std::size_t from = static_cast<std::size_t>(skip);
    const std::size_t cut = from + static_cast<std::size_t>(count);
    if (from >= textLength) {
        return start + textLength;
    }
    if (cut < textLength) {
        start[cut] = '\0';
    }
    return start + from;
}

std::uint32_t ParsePmtk182Value(const char* buffer, std::size_t extent, bool hex) {
    const char* found = FindTag(buffer, kReplyScanBytes, extent, kTagPmtk182);
    if (!found) {
        return 0;
    }
    const std::size_t room = extent - static_cast<std::size_t>(found - buffer);
    const std::size_t textLength = strnlen(found, room);
    constexpr std::size_t kValueOffset = 13;
    constexpr std::size_t kValueWidth = 10;
    if (textLength <= kValueOffset) {
        return 0;
    }
    std::string_view field(found + kValueOffset, std::min(kValueWidth, textLength - kValueOffset));
    if (!field.empty() && field.front() == ',') {
        field.remove_prefix(1);
    }
    field = field.substr(0, field.find('*'));
    return hex ? HexToInt(field) : DecimalToInt(field);
}

}  // namespace sentence
