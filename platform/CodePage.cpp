#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace platform {
namespace {

struct NamedCodePage {
    int number;
    const char* charset;
};

// Windows code page numbers and the iconv names of the same character sets.
constexpr NamedCodePage kCodePages[] = {
    {65001, "UTF-8"},       {1200, "UTF-16LE"},     {1201, "UTF-16BE"},
    {932, "CP932"},         {936, "CP936"},         {949, "CP949"},
    {950, "CP950"},         {54936, "GB18030"},     {20932, "EUC-JP"},
    {51932, "EUC-JP"},      {50220, "ISO-2022-JP"}, {874, "CP874"},
    {437, "CP437"},         {850, "CP850"},         {852, "CP852"},
    {866, "CP866"},         {1250, "CP1250"},       {1251, "CP1251"},
    {1252, "CP1252"},       {1253, "CP1253"},       {1254, "CP1254"},
    {1255, "CP1255"},       {1256, "CP1256"},       {1257, "CP1257"},
    {1258, "CP1258"},       {20127, "ASCII"},       {20866, "KOI8-R"},
    {21866, "KOI8-U"},      {28591, "ISO-8859-1"},  {28592, "ISO-8859-2"},
    {28595, "ISO-8859-5"},  {28597, "ISO-8859-7"},  {28605, "ISO-8859-15"},
};

constexpr char16_t kReplacement = 0xFFFD;

// One iconv descriptor for the length of a conversion.
class Converter {
public:
    Converter(const std::string& to, const std::string& from)
        : cd_(iconv_open(to.c_str(), from.c_str())) {}
    ~Converter() {
        if (ok()) {
            iconv_close(cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much of [in, in + inLeft) as it can into out (which grows
    // as needed). Returns 0, or the errno value that stopped it (EILSEQ at an
    // invalid sequence, EINVAL at an incomplete one); in and inLeft then
    // point at the offending bytes.
    int Run(const char*& in, std::size_t& inLeft, std::vector<char>& out, std::size_t& used) {
        for (;;) {
            if (out.size() - used < 16) {
                out.resize(out.size() * 2 + 64);
            }
            char* outPtr = out.data() + used;
            std::size_t outLeft = out.size() - used;
            char* inPtr = const_cast<char*>(in);
            const std::size_t rc = iconv(cd_, in ? &inPtr : nullptr, in ? &inLeft : nullptr,
                                         &outPtr, &outLeft);
            const int error = rc == static_cast<std::size_t>(-1) ? errno : 0;
            used = static_cast<std::size_t>(outPtr - out.data());
            if (in) {
                in = inPtr;
            }
            if (error == E2BIG) {
                continue;
            }
            return error;
        }
    }

    // Writes whatever returns a stateful encoding to its initial state.
    int Flush(std::vector<char>& out, std::size_t& used) {
        const char* none = nullptr;
        std::size_t zero = 0;
        return Run(none, zero, out, used);
    }

private:
    iconv_t cd_;
};

void AppendUnit(std::u16string& out, unsigned char lo, unsigned char hi) {
    out.push_back(static_cast<char16_t>(lo | (hi << 8)));
}

}  // namespace

int AnsiCodePage() { return kCodePageUtf8; }

unsigned LocaleAnsiCodePage() { return kCodePageUtf8; }

std::string CodePageCharset(int codePage) {
    if (codePage == kCodePageAnsi) {
        codePage = AnsiCodePage();
    }
    for (const NamedCodePage& entry : kCodePages) {
        if (entry.number == codePage) {
            return entry.charset;
        }
    }
    return {};
}

bool MultiByteToWide(int codePage, std::string_view text, std::u16string& out, int* errorCode) {
    out.clear();
    if (errorCode) {
        *errorCode = 0;
    }
    const std::string charset = CodePageCharset(codePage);
    if (charset.empty()) {
        if (errorCode) {
            *errorCode = EINVAL;
        }
        return false;
    }
    Converter converter("UTF-16LE", charset);
    if (!converter.ok()) {
        if (errorCode) {
            *errorCode = EINVAL;
        }
        return false;
    }
    std::vector<char> buffer(text.size() * 2 + 64);
    std::size_t used = 0;
    const char* in = text.data();
    std::size_t inLeft = text.size();
    std::u16string result;
    auto takeBuffer = [&] {
        for (std::size_t i = 0; i + 1 < used; i += 2) {
            AppendUnit(result, static_cast<unsigned char>(buffer[i]),
                       static_cast<unsigned char>(buffer[i + 1]));
        }
        used = 0;
    };
    while (inLeft > 0) {
        const int error = converter.Run(in, inLeft, buffer, used);
        if (error == 0) {
            break;
        }
        if (error != EILSEQ && error != EINVAL) {
            if (errorCode) {
                *errorCode = error;
            }
            return false;
        }
        // An invalid byte: one replacement character, then go on after it.
        // An incomplete sequence at the end: one replacement for the rest.
        converter.Flush(buffer, used);
        takeBuffer();
        result.push_back(kReplacement);
        if (error == EINVAL) {
            inLeft = 0;
        } else {
            ++in;
            --inLeft;
        }
    }
    converter.Flush(buffer, used);
    takeBuffer();
    out = std::move(result);
    return true;
}

bool WideToMultiByte(int codePage, std::u16string_view text, std::string& out, bool* usedDefault,
                     int* errorCode) {
    out.clear();
    if (usedDefault) {
        *usedDefault = false;
    }
    if (errorCode) {
        *errorCode = 0;
    }
    const std::string charset = CodePageCharset(codePage);
    if (charset.empty()) {
        if (errorCode) {
            *errorCode = EINVAL;
        }
        return false;
    }
    Converter converter(charset, "UTF-16LE");
    if (!converter.ok()) {
        if (errorCode) {
            *errorCode = EINVAL;
        }
        return false;
    }
    const bool toUtf8 = charset == "UTF-8";
    std::vector<char> bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    std::vector<char> buffer(text.size() * 3 + 64);
    std::size_t used = 0;
    const char* in = bytes.data();
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        const int error = converter.Run(in, inLeft, buffer, used);
        if (error == 0) {
            break;
        }
        if (error != EILSEQ && error != EINVAL) {
            if (errorCode) {
                *errorCode = error;
            }
            return false;
        }
        // A character the target cannot hold, or an unpaired surrogate:
        // return to the initial shift state, put the default character, and
        // skip the one character (two units for a surrogate pair).
        converter.Flush(buffer, used);
        const char* fallback = toUtf8 ? "\xEF\xBF\xBD" : "#";
        for (const char* p = fallback; *p; ++p) {
            if (used == buffer.size()) {
                buffer.resize(buffer.size() * 2 + 64);
            }
            buffer[used++] = *p;
        }
        if (usedDefault && !toUtf8) {
            *usedDefault = true;
        }
        const std::size_t unitIndex = (bytes.size() - inLeft) / 2;
        std::size_t skip = 1;
        if (error == EINVAL) {
            skip = text.size() - unitIndex;
        } else if (unitIndex + 1 < text.size() && text[unitIndex] >= 0xD800 &&
                   text[unitIndex] <= 0xDBFF && text[unitIndex + 1] >= 0xDC00 &&
                   text[unitIndex + 1] <= 0xDFFF) {
            skip = 2;
        }
        in += skip * 2;
        inLeft -= skip * 2;
    }
    converter.Flush(buffer, used);
    out.assign(buffer.data(), used);
    return true;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    MultiByteToWide(kCodePageUtf8, text, out);
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    WideToMultiByte(kCodePageUtf8, text, out);
    return out;
}

}  // namespace platform
