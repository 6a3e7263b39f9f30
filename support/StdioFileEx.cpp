#include "support/StdioFileEx.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/CodePage.h"
#include "platform/Trace.h"
#include "support/SourceFile.h"

namespace {

constexpr unsigned kAccessMask = 0x0003;
constexpr char16_t kByteOrderMark = 0xFEFF;

std::string ErrorText(int error, const std::string& path, const std::string& what) {
    return what + " " + path + ": " + std::strerror(error);
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

}  // namespace

CFileException::CFileException(int error, const std::string& path, const std::string& what)
    : std::runtime_error(ErrorText(error, path, what)), osError(error), fileName(path) {}

namespace {

void AppendUtf16Le(std::u16string_view wide, std::string& bytes) {
    bytes.reserve(bytes.size() + wide.size() * 2);
    for (char16_t unit : wide) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// CStdioFile

CStdioFile::CStdioFile(const std::string& fileName, unsigned openFlags) {
    CFileException error;
    if (!CStdioFile::Open(fileName, openFlags, &error)) {
        throw error;
    }
}

CStdioFile::~CStdioFile() {
    if (stream_ && !Finish()) {
        platform::TraceF("Closing %s failed: %s\n", path_.c_str(), std::strerror(errno));
    }
}

bool CStdioFile::Finish() {
    std::FILE* stream = stream_;
    stream_ = nullptr;
    if (afresh_.IsOpen()) {
        return afresh_.Commit();  // errno set on failure
    }
    return std::fclose(stream) == 0;
}

bool CStdioFile::Open(const std::string& fileName, unsigned openFlags, CFileException* error) {
    if (stream_) {
        Finish();
    }
    auto fail = [&](int code) {
        if (error) {
            *error = CFileException(code, fileName, "Cannot open");
        }
        return false;
    };
    int osFlags = O_CLOEXEC;
    const char* mode = "rb";
    switch (openFlags & kAccessMask) {
    case modeRead:
        osFlags |= O_RDONLY;
        mode = "rb";
        break;
    case modeWrite:
        osFlags |= O_WRONLY;
        mode = "wb";
        break;
    case modeReadWrite:
        osFlags |= O_RDWR;
        mode = "r+b";
        break;
    default:
        return fail(EINVAL);
    }
    if (openFlags & modeCreate) {
        osFlags |= O_CREAT;
        if (!(openFlags & modeNoTruncate) && (openFlags & kAccessMask) != modeRead) {
            osFlags |= O_TRUNC;
        }
    }
    std::FILE* stream = nullptr;
    if ((openFlags & kAccessMask) == modeWrite && (osFlags & O_TRUNC)) {
        // Written afresh: a new file beside the name, renamed into place on close.
        int code = 0;
        if (!afresh_.Open(fileName, &code)) {
            return fail(code);
        }
        stream = afresh_.Stream();
    } else if ((openFlags & kAccessMask) == modeRead && !(openFlags & modeCreate)) {
        // A file to read: only a regular one, opened so a FIFO cannot block.
        int code = 0;
        stream = OpenSourceStream(fileName, &code);
        if (!stream) {
            return fail(code);
        }
    } else {
        const int fd = ::open(fileName.c_str(), osFlags, 0666);
        if (fd < 0) {
            return fail(errno);
        }
        stream = ::fdopen(fd, mode);
        if (!stream) {
            const int code = errno;
            ::close(fd);
            return fail(code);
        }
    }
    stream_ = stream;
    textMode_ = (openFlags & typeBinary) == 0;
    path_ = fileName;
    return true;
}

void CStdioFile::Abandon() {
    if (!stream_) {
        return;
    }
    if (afresh_.IsOpen()) {
        afresh_.Abandon();
    } else {
        std::fclose(stream_);
    }
    stream_ = nullptr;
}

void CStdioFile::Close() {
    if (!stream_) {
        return;
    }
    if (!Finish()) {
        ThrowError(errno, "Cannot close");
    }
}

void CStdioFile::ThrowError(int error, const char* what) const {
    throw CFileException(error, path_, what);
}

std::uint64_t CStdioFile::GetPosition() const {
    if (!stream_) {
        return 0;
    }
    const off_t position = ::ftello(stream_);
    if (position < 0) {
        ThrowError(errno, "Cannot get the position of");
    }
    return static_cast<std::uint64_t>(position);
}

std::uint64_t CStdioFile::GetLength() {
    if (!stream_) {
        return 0;
    }
    // Bytes still in the stream's buffer count as written.
    if (std::fflush(stream_) != 0) {
        ThrowError(errno, "Cannot write");
    }
    struct stat info {};
    if (::fstat(::fileno(stream_), &info) != 0) {
        ThrowError(errno, "Cannot get the length of");
    }
    return static_cast<std::uint64_t>(info.st_size);
}

std::uint64_t CStdioFile::Seek(std::int64_t offset, SeekPosition from) {
    if (!stream_ || ::fseeko(stream_, static_cast<off_t>(offset), from) != 0) {
        ThrowError(stream_ ? errno : EBADF, "Cannot seek in");
    }
    return GetPosition();
}

unsigned CStdioFile::Read(void* buffer, unsigned count) {
    if (!stream_) {
        ThrowError(EBADF, "Cannot read");
    }
    auto* out = static_cast<unsigned char*>(buffer);
    unsigned done = 0;
    if (!textMode_) {
        done = static_cast<unsigned>(std::fread(out, 1, count, stream_));
    } else {
        while (done < count) {
            int c = std::getc(stream_);
            if (c == EOF) {
                break;
            }
            if (c == '\r') {
                const int next = std::getc(stream_);
                if (next == '\n') {
                    c = '\n';
                } else if (next != EOF) {
                    std::ungetc(next, stream_);
                }
            }
            out[done++] = static_cast<unsigned char>(c);
        }
    }
    if (std::ferror(stream_)) {
        ThrowError(errno, "Cannot read");
    }
    return done;
}

void CStdioFile::Write(const void* buffer, std::size_t count) {
    if (!stream_) {
        ThrowError(EBADF, "Cannot write");
    }
    const char* bytes = static_cast<const char*>(buffer);
    std::string translated;
    if (textMode_) {
        translated.reserve(count + count / 16);
        for (std::size_t i = 0; i < count; ++i) {
            if (bytes[i] == '\n') {
                translated.push_back('\r');
            }
            translated.push_back(bytes[i]);
        }
        bytes = translated.data();
        count = translated.size();
    }
    if (count > 0 && std::fwrite(bytes, 1, count, stream_) != count) {
        ThrowError(errno, "Cannot write");
    }
}

void CStdioFile::WriteString(const std::string& text) { Write(text.data(), text.size()); }

bool CStdioFile::ReadString(std::string& line) {
    if (!stream_) {
        ThrowError(EBADF, "Cannot read");
    }
    line.clear();
    bool any = false;
    for (;;) {
        int c = std::getc(stream_);
        if (c == EOF) {
            break;
        }
        any = true;
        if (c == '\r' && textMode_) {
            const int next = std::getc(stream_);
            if (next == '\n') {
                c = '\n';
            } else if (next != EOF) {
                std::ungetc(next, stream_);
            }
        }
        if (c == '\n') {
            break;
        }
        line.push_back(static_cast<char>(c));
    }
    if (std::ferror(stream_)) {
        ThrowError(errno, "Cannot read");
    }
    return any;
}

// ---------------------------------------------------------------------------
// CStdioFileEx

CStdioFileEx::CStdioFileEx(const std::string& fileName, unsigned openFlags) {
    CFileException error;
    if (!CStdioFileEx::Open(fileName, openFlags, &error)) {
        throw error;
    }
}

bool CStdioFileEx::PrepareOpenFlags(const std::string& fileName, unsigned& openFlags) {
    isUnicodeText_ = false;
    const unsigned access = openFlags & kAccessMask;
    if ((openFlags & modeWriteUnicode) && access != modeWrite && access != modeReadWrite) {
        platform::Trace("UTF-16 output needs a file opened for writing\n");
        return false;
    }
    bool binary = false;
    if ((openFlags & typeText) && !(openFlags & modeCreate) && access != modeWrite &&
        IsFileUnicode(fileName)) {
        isUnicodeText_ = true;
        binary = true;
    }
    // No line-end translation may touch UTF-16 bytes: a UTF-16 file is always
    // opened binary, whether or not the caller asked for text mode.
    if (openFlags & modeWriteUnicode) {
        binary = true;
    }
    if (binary) {
        openFlags = (openFlags & ~typeText) | typeBinary;
    }
    return true;
}

bool CStdioFileEx::Open(const std::string& fileName, unsigned openFlags, CFileException* error) {
    conversionFailed_ = false;
    if (!PrepareOpenFlags(fileName, openFlags)) {
        if (error) {
            *error = CFileException(EINVAL, fileName, "Cannot open");
        }
        return false;
    }
    openFlags_ = openFlags;
    return CStdioFile::Open(fileName, openFlags, error);
}

int CStdioFileEx::ResolvedCodePage() const {
    return codePage_ == platform::kCodePageAnsi ? platform::AnsiCodePage() : codePage_;
}

void CStdioFileEx::WriteString(const std::string& text) {
    conversionFailed_ = false;
    if (openFlags_ & modeWriteUnicode) {
        if (GetPosition() == 0) {
            const unsigned char mark[2] = {kByteOrderMark & 0xFF, kByteOrderMark >> 8};
            Write(mark, sizeof mark);
        }
        std::u16string wide;
        int error = 0;
        if (!platform::MultiByteToWide(ResolvedCodePage(), text, wide, &error)) {
            platform::TraceF("Error in MultiByteToWideChar: %d\n", error);
            conversionFailed_ = true;
            return;
        }
        std::string bytes;
        AppendUtf16Le(wide, bytes);
        Write(bytes.data(), bytes.size());
        return;
    }
    const int locale = static_cast<int>(GetLocaleCodePage());
    const int target = ResolvedCodePage();
    if (locale != 0 && locale != target) {
        std::u16string wide;
        std::string recoded;
        int error = 0;
        if (!platform::MultiByteToWide(locale, text, wide, &error)) {
            platform::TraceF("Error in MultiByteToWideChar: %d\n", error);
            conversionFailed_ = true;
            return;
        }
        if (!platform::WideToMultiByte(target, wide, recoded, nullptr, &error)) {
            platform::TraceF("Error in WideCharToMultiByte: %d\n", error);
            conversionFailed_ = true;
            return;
        }
        CStdioFile::WriteString(recoded);
        return;
    }
    CStdioFile::WriteString(text);
}

bool CStdioFileEx::ReadUnicodeLine(std::u16string& units) {
    std::FILE* stream = GetStream();
    units.clear();
    while (units.size() < kUnicodeLineUnits) {
        const int lo = std::getc(stream);
        if (lo == EOF) {
            break;
        }
        const int hi = std::getc(stream);
        if (hi == EOF) {
            // A lone last byte is no UTF-16 unit: keep a mark of it.
            units.push_back(0xFFFD);
            break;
        }
        const char16_t unit = static_cast<char16_t>(lo | (hi << 8));
        units.push_back(unit);
        if (unit == u'\n') {
            break;
        }
    }
    if (std::ferror(stream)) {
        ThrowError(errno, "Cannot read");
    }
    // A full piece must not end between the two halves of a surrogate pair:
    // the high half goes back to start the next piece.
    if (units.size() == kUnicodeLineUnits && IsHighSurrogate(units.back())) {
        Seek(-2, current);
        units.pop_back();
    }
    return !units.empty();
}

bool CStdioFileEx::ReadString(std::string& line) {
    conversionFailed_ = false;
    if (!IsOpen()) {
        ThrowError(EBADF, "Cannot read");
    }
    bool readSomething = false;
    if (isUnicodeText_) {
        if (GetPosition() == 0) {
            unsigned char mark[2];
            if (std::fread(mark, 1, sizeof mark, GetStream()) != sizeof mark) {
                return false;
            }
        }
        std::u16string units;
        if (!ReadUnicodeLine(units)) {
            return false;
        }
        readSomething = true;
        std::string converted;
        int error = 0;
        if (platform::WideToMultiByte(ResolvedCodePage(), units, converted, nullptr, &error)) {
            line = std::move(converted);
        } else {
            platform::TraceF("Error in WideCharToMultiByte: %d\n", error);
            conversionFailed_ = true;
            line.clear();
        }
    } else {
        if (!CStdioFile::ReadString(line)) {
            return false;
        }
        readSomething = true;
        const int locale = static_cast<int>(GetLocaleCodePage());
        const int source = ResolvedCodePage();
        if (locale > 0 && locale != source) {
            std::u16string wide;
            std::string recoded;
            int error = 0;
            if (!platform::MultiByteToWide(source, line, wide, &error)) {
                platform::TraceF("Error in MultiByteToWideChar: %d\n", error);
                conversionFailed_ = true;
            } else if (!platform::WideToMultiByte(locale, wide, recoded, nullptr, &error)) {
                platform::TraceF("Error in WideCharToMultiByte: %d\n", error);
                conversionFailed_ = true;
            } else if (!wide.empty()) {
                line = std::move(recoded);
            }
        }
    }
    if (line.size() > 1 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
        line.resize(line.size() - 2);
    } else if (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.pop_back();
    }
    return readSomething;
}

std::uint64_t CStdioFileEx::GetCharCount() {
    if (!IsOpen()) {
        return 0;
    }
    const std::uint64_t length = GetLength();
    if (isUnicodeText_ || (openFlags_ & modeWriteUnicode)) {
        return length >= 2 ? (length - 2) / 2 : 0;
    }
    return length;
}

bool CStdioFileEx::IsFileUnicode(const std::string& fileName) {
    std::FILE* file = OpenSourceStream(fileName);
    if (!file) {
        return false;
    }
    unsigned char mark[2] = {0, 0};
    const std::size_t n = std::fread(mark, 1, sizeof mark, file);
    std::fclose(file);
    return n == 2 && (mark[0] | (mark[1] << 8)) == kByteOrderMark;
}

unsigned CStdioFileEx::GetLocaleCodePage() { return platform::LocaleAnsiCodePage(); }

bool CStdioFileEx::Utf16FileBytes(std::string_view text, int codePage, std::string& bytes) {
    std::u16string wide;
    if (!text.empty() && MultiByteToUnicode(text, wide, codePage) == 0) {
        return false;
    }
    bytes.assign("\xFF\xFE");
    AppendUtf16Le(wide, bytes);
    return true;
}

int CStdioFileEx::MultiByteToUnicode(std::string_view text, std::u16string& out, int codePage) {
    int error = 0;
    if (!platform::MultiByteToWide(codePage, text, out, &error)) {
        platform::TraceF("Error in MultiByteToWideChar: %d\n", error);
        return 0;
    }
    return static_cast<int>(out.size());
}

int CStdioFileEx::UnicodeToMultiByte(std::u16string_view text, std::string& out, int codePage) {
    int error = 0;
    if (!platform::WideToMultiByte(codePage, text, out, nullptr, &error)) {
        platform::TraceF("Error in WideCharToMultiByte: %d\n", error);
        return 0;
    }
    return static_cast<int>(out.size());
}

int CStdioFileEx::GetMultiByteLength(std::u16string_view text, int codePage) {
    std::string out;
    if (!platform::WideToMultiByte(codePage, text, out)) {
        return 0;
    }
    return static_cast<int>(out.size()) + 1;
}
