// Line-oriented text files.
//
// CStdioFile is the plain text-file base: a stdio stream with open flags,
// where "text mode" (the default, or typeText) stores each LF written as
// CR LF and reads CR LF back as LF. Linux streams have no text mode, so the
// translation is done here.
//
// CStdioFileEx adds UTF-16LE: opened with modeWriteUnicode it writes UTF-16LE
// with the byte-order mark FF FE; opened for reading in text mode it
// recognises a UTF-16LE file by that mark and reads its lines as 8-bit text.
// 8-bit text is re-coded between the file's code page and the locale's.
//
// Narrow text is UTF-8 (code page 65001, the program's ANSI code page); wide
// text is std::u16string, whose 16-bit units are exactly what a UTF-16LE file
// holds (wchar_t is 32 bits here, so std::wstring would not match the file).
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

#include "support/AtomicFile.h"

// Thrown by the file classes on a failed open (opening constructor), write,
// seek or close. osError is the errno value.
class CFileException : public std::runtime_error {
public:
    CFileException() : std::runtime_error("file error") {}
    CFileException(int error, const std::string& path, const std::string& what);
    int osError = 0;
    std::string fileName;
};

class CStdioFile {
public:
    // Open flags. Text mode unless typeBinary is given.
    static constexpr unsigned modeRead = 0x0000;
    static constexpr unsigned modeWrite = 0x0001;
    static constexpr unsigned modeReadWrite = 0x0002;
    static constexpr unsigned modeCreate = 0x1000;
    static constexpr unsigned modeNoTruncate = 0x2000;
    static constexpr unsigned typeText = 0x4000;
    static constexpr unsigned typeBinary = 0x8000;

    enum SeekPosition { begin = SEEK_SET, current = SEEK_CUR, end = SEEK_END };

    CStdioFile() = default;
    // Opens or throws CFileException.
    CStdioFile(const std::string& fileName, unsigned openFlags);
    // Closes an open file; errors at that point are only traced (call Close
    // to see them).
    virtual ~CStdioFile();
    CStdioFile(const CStdioFile&) = delete;
    CStdioFile& operator=(const CStdioFile&) = delete;

    // False when the file cannot be opened; error, when given, says why.
    virtual bool Open(const std::string& fileName, unsigned openFlags,
                      CFileException* error = nullptr);
    // Flushes and closes; throws CFileException when the data could not be
    // written. Closing a closed file does nothing.
    //
    // A file opened to be created and written afresh (modeCreate with
    // modeWrite, without modeNoTruncate) is written through an AtomicFile:
    // a new file beside the name, put in place by rename when it is closed,
    // so a link standing at the name is replaced, never written through, a
    // failed write leaves the old file as it was, and a replaced file keeps
    // its mode and owner. A file the user may not write fails to open.
    virtual void Close();
    // Closes without putting a file written afresh in place: its new file is
    // removed and whatever stood at the name stays. Other files just close.
    void Abandon();

    bool IsOpen() const { return stream_ != nullptr; }
    const std::string& GetFilePath() const { return path_; }

    std::uint64_t GetPosition() const;
    std::uint64_t GetLength();
    std::uint64_t Seek(std::int64_t offset, SeekPosition from);
    void SeekToBegin() { Seek(0, begin); }

    // Raw bytes (with the text-mode line-end translation in text mode).
    unsigned Read(void* buffer, unsigned count);
    void Write(const void* buffer, std::size_t count);

    // Writes the text as it stands; no line end is added.
    virtual void WriteString(const std::string& text);
    // Reads one line without its LF; false at the end of the file with
    // nothing read.
    virtual bool ReadString(std::string& line);

    std::FILE* GetStream() const { return stream_; }

protected:
    bool IsTextMode() const { return textMode_; }
    [[noreturn]] void ThrowError(int error, const char* what) const;

private:
    // Closes the stream and, for a file written afresh, renames the new file
    // into place; false (errno set) when either fails.
    bool Finish();

    std::FILE* stream_ = nullptr;
    bool textMode_ = false;
    std::string path_;
    AtomicFile afresh_;  // open while a file is written afresh
};

class CStdioFileEx : public CStdioFile {
public:
    // Extra open flag: write UTF-16LE with the byte-order mark. Only with
    // modeWrite or modeReadWrite.
    static constexpr unsigned modeWriteUnicode = 0x20000;
    // The longest piece of a UTF-16 line that one ReadString returns.
    static constexpr std::size_t kUnicodeLineUnits = 4095;

    CStdioFileEx() = default;
    // Opens or throws CFileException.
    CStdioFileEx(const std::string& fileName, unsigned openFlags);
    ~CStdioFileEx() override = default;

    bool Open(const std::string& fileName, unsigned openFlags,
              CFileException* error = nullptr) override;
    // In Unicode mode the text is taken in the file's code page and written
    // as UTF-16LE, preceded by the mark when written at the start of the file.
    // In 8-bit mode it is re-coded from the locale's code page to the file's.
    void WriteString(const std::string& text) override;
    // One line as 8-bit text, without its CR LF (or lone CR or LF). A UTF-16
    // line longer than kUnicodeLineUnits comes back in pieces of that size.
    bool ReadString(std::string& line) override;

    // Code page of the file's 8-bit text; -1 (the default) is the ANSI code
    // page.
    void SetCodePage(int codePage) { codePage_ = codePage; }
    int GetCodePage() const { return codePage_; }
    // Length in characters: UTF-16 units less the mark for a UTF-16 file,
    // bytes otherwise; 0 when no file is open.
    std::uint64_t GetCharCount();
    bool IsUnicodeText() const { return isUnicodeText_; }
    unsigned GetOpenFlags() const { return openFlags_; }
    // True when the last ReadString or WriteString could not convert its text
    // (an unknown code page): a read then gives an empty line (UTF-16) or the
    // line's bytes unconverted (8-bit), and a write writes no text.
    bool ConversionFailed() const { return conversionFailed_; }

    // True when the file starts with the mark FF FE. A file that cannot be
    // opened, or one shorter than 2 bytes, is not Unicode.
    static bool IsFileUnicode(const std::string& fileName);
    // The default ANSI code page of the user's locale.
    static unsigned GetLocaleCodePage();
    // Conversions between 8-bit text in codePage (-1: the ANSI code page) and
    // UTF-16. They return the count of units or bytes produced; 0 when the
    // conversion failed (traced) or there was nothing to convert.
    static int MultiByteToUnicode(std::string_view text, std::u16string& out, int codePage);
    // A whole UTF-16LE file of 8-bit text in codePage: the mark FF FE, then
    // the units, low byte first. False when the text cannot be converted.
    static bool Utf16FileBytes(std::string_view text, int codePage, std::string& bytes);
    static int UnicodeToMultiByte(std::u16string_view text, std::string& out, int codePage);
    // Bytes the conversion to codePage needs, terminating zero included; 0
    // when it fails.
    static int GetMultiByteLength(std::u16string_view text, int codePage);

private:
    // Checks and adjusts the flags of an open; false for a Unicode write
    // without a write flag.
    bool PrepareOpenFlags(const std::string& fileName, unsigned& openFlags);
    bool ReadUnicodeLine(std::u16string& units);
    int ResolvedCodePage() const;

    bool isUnicodeText_ = false;
    unsigned openFlags_ = 0;
    int codePage_ = -1;
    bool conversionFailed_ = false;
};
