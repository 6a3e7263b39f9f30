// Code-page conversion between 8-bit text and UTF-16, through iconv.
//
// Narrow text in this program is UTF-8: the ANSI code page and the locale's
// default ANSI code page are both 65001. Other code pages (932 for Japanese
// files, the 125x family and so on) are reached through iconv by their
// Windows numbers. Wide text is UTF-16 in std::u16string, the same 16-bit
// units that UTF-16LE files hold.
#pragma once

#include <string>
#include <string_view>

namespace platform {

constexpr int kCodePageUtf8 = 65001;
// Stands for "the ANSI code page" wherever a code page is asked for.
constexpr int kCodePageAnsi = -1;

// The process's ANSI code page (65001).
int AnsiCodePage();
// The default ANSI code page of the user's locale (65001).
unsigned LocaleAnsiCodePage();

// The iconv name for a code page number (kCodePageAnsi resolves to the ANSI
// code page); empty when the number is not known.
std::string CodePageCharset(int codePage);

// 8-bit text in codePage to UTF-16. A byte sequence that is not valid in the
// code page becomes U+FFFD and the conversion goes on. Returns false (and
// leaves out empty) when the code page is unknown or iconv fails otherwise;
// errorCode then holds the errno value when given.
bool MultiByteToWide(int codePage, std::string_view text, std::u16string& out,
                     int* errorCode = nullptr);

// UTF-16 to 8-bit text in codePage. A character the code page cannot hold
// becomes '#' (and usedDefault is set); for UTF-8 an unpaired surrogate
// becomes U+FFFD instead and usedDefault stays false. Returns false (out
// empty) when the code page is unknown or iconv fails otherwise.
bool WideToMultiByte(int codePage, std::u16string_view text, std::string& out,
                     bool* usedDefault = nullptr, int* errorCode = nullptr);

// UTF-8 to UTF-16 and back, the program's own narrow/wide pair.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace platform
