// Device sentences: framing, the PMTK182 argument rules and the small parsers
// that pick fields out of replies. Plain functions over bytes and texts, shared
// by the command engine, the log upload and the device simulator.
//
// Framing: "$", the body, "*", two upper-case hex digits of the XOR of the
// body bytes, CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sentence {

// Replies are looked for within this many bytes of a read.
inline constexpr std::size_t kReplyScanBytes = 80;

inline constexpr std::string_view kTagPmtk182 = "$PMTK182";
inline constexpr std::string_view kTagPmtk001 = "$PMTK001";
inline constexpr std::string_view kTagOrvik001 = "$ORVIK001";
inline constexpr std::string_view kTagQvr = "$PQVR";

// XOR of all bytes of a body (everything between "$" and "*").
unsigned char Checksum(std::string_view body);

// Upper-case hexadecimal character of a nibble (only the low four bits count).
char HexDigit(int nibble);

// "$" body "*" checksum CR LF.
std::string FrameSentence(std::string_view body);

// Radix mask of a PMTK182 command: bit 0 set = arg1 goes out in hexadecimal,
// bit 1 set = arg2 in hexadecimal.
int Pmtk182HexArgs(int command, int arg1);

// Appends ",<value>" to a sentence body, in upper-case hexadecimal when hex.
void AppendArg(std::string& body, int value, bool hex);

// Body of a PMTK182 command ("PMTK400" for command 400): a zero argument is
// left out unless the command keeps it (7 and 12 keep both, 6 with item 2
// keeps arg2).
std::string Pmtk182Body(int command, int arg1, int arg2);
// The framed sentence of Pmtk182Body.
std::string BuildPmtk182Sentence(int command, int arg1, int arg2);
// Tag that answers a PMTK182 command: "$PMTK182" for 2 and 7, else "$PMTK001".
std::string_view Pmtk182ReplyTag(int command);

// "$ORVIK731,<code>" framed, and the acknowledgement "$ORVIK001,<code>" that
// answers it (without framing).
std::string BuildOrvikSentence(int code);
std::string OrvikAck(int code);

// The maker's query sentences by code (810, 861, 865, 837). Empty views for an
// unknown code; the reply tag is empty for 837, which is not answered.
std::string_view QvrQueryBody(int code);
std::string_view QvrReplyTag(int code);
// Tag looked for by FindQvrSentence: kind 0 any "$PQVR", 1 "$PQVR852",
// 2 "$PQVR861", 3 "$PQVR865", 4 "$PQVR900"; empty for other kinds.
std::string_view QvrKindTag(int kind);

// Value of a hexadecimal text: case-insensitive, a leading "0X" skipped,
// digits taken up to the first other character; 32 bits, higher digits fall
// off.
std::uint32_t HexToInt(std::string_view text);
std::uint32_t HexToInt(const char* text);

// Decimal value of a text: leading blanks skipped, optional sign, digits up to
// the first other character; taken modulo 2^32.
std::uint32_t DecimalToInt(std::string_view text);

// TRUE when a "*" lies within the first length characters of the text and the
// third and fourth characters after it are CR and LF. Never reads past the
// text's terminating zero.
bool IsSentenceComplete(const char* text, std::size_t length);

// First occurrence of tag whose "$" lies within the first scan bytes of
// buffer; the whole tag must lie within the extent readable bytes. Null when
// absent or when buffer is null.
const char* FindTag(const char* buffer, std::size_t scan, std::size_t extent, std::string_view tag);

// Finds tag within the first 80 bytes, cuts the text skip + count characters
// after the tag's "$" and returns the text skip characters after the "$".
// extent is the number of writable bytes at buffer. A field that starts past
// the end of the text is returned empty (pointing at the text's end). Null
// when the tag is absent or skip or count is negative.
char* ExtractTagField(char* buffer, std::size_t extent, std::string_view tag, int skip, int count);

// The value field of a parameter reply ("$PMTK182,3,<item>,<value>*CS"),
// found within the first 80 bytes and read in hexadecimal or decimal. 0 when
// there is no such reply. Reads nothing past extent bytes or the text's end.
std::uint32_t ParsePmtk182Value(const char* buffer, std::size_t extent, bool hex);

}  // namespace sentence

// Existing callers frame through this name.
using sentence::FrameSentence;
