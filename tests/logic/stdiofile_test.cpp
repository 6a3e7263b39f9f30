// Unicode and 8-bit text files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Trace.h"
#include "support/StdioFileEx.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;
using Lines = std::vector<std::string>;

// The sample file's lines in UTF-8; the file holds them in code page 932
// (made with iconv), CR LF after all but the last.
const Lines kSampleLines = {"ペロラ更新ツール", "ﾊﾝｶｸｶﾀｶﾅ", "①②③～∥－",
                            "ASCII 123 \\ ~", "表示とソ", "", "末尾"};
const std::string kMark("\xFF\xFE", 2);
constexpr unsigned kUnicodeWrite = CStdioFile::modeCreate | CStdioFile::modeWrite |
                                   CStdioFile::typeText | CStdioFileEx::modeWriteUnicode;
constexpr unsigned kTextRead = CStdioFile::modeRead | CStdioFile::typeText;

std::string SamplePath() {
    return (fs::path(PELLORA_TEST_DATA_DIR) / "support" / "cp932_sample.txt").string();
}

class TextFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "pellora-textfile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    static Bytes ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void WriteBytes(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static Bytes AsBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
    // UTF-16LE bytes of ASCII text.
    static std::string Utf16(const std::string& ascii) {
        std::string bytes;
        for (char c : ascii) {
            bytes += std::string{c, '\0'};
        }
        return bytes;
    }
    static Lines ReadAll(CStdioFileEx& file) {
        Lines lines;
        std::string line;
        while (lines.size() < 1000 && file.ReadString(line)) {
            lines.push_back(line);
        }
        return lines;
    }
    // The system's iconv tool, an independent converter.
    static bool HaveIconv() { return std::system("command -v iconv >/dev/null 2>&1") == 0; }
    static std::string Iconv(const std::string& from, const std::string& to,
                             const std::string& path) {
        std::string output;
        const std::string command = "iconv -f " + from + " -t " + to + " '" + path + "'";
        if (std::FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[4096];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
                output.append(buffer, n);
            }
            pclose(pipe);
        }
        return output;
    }
    static Lines SplitCrLf(const std::string& text) {
        Lines lines;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos;
             start = end + 2) {
            lines.push_back(text.substr(start, end - start));
        }
        if (start < text.size()) {
            lines.push_back(text.substr(start));
        }
        return lines;
    }

    fs::path dir_;
};

// Collects the traces of one scope.
class TraceCapture {
public:
    TraceCapture()
        : previous_(platform::SetTraceSink([this](const std::string& t) { text_ += t; })) {}
    ~TraceCapture() { platform::SetTraceSink(previous_); }
    bool Has(const std::string& part) const { return text_.find(part) != std::string::npos; }

private:
    std::string text_;
    platform::TraceSink previous_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Writing UTF-16

TEST_F(TextFileTest, UnicodeWriteMarkOnceThenTheTextByteForByte) {
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(Path("a.kml"), kUnicodeWrite));
    file.WriteString("");  // at the start: the mark alone
    EXPECT_EQ(file.GetCharCount(), 0u);
    file.WriteString("abc");
    file.WriteString("abc");
    file.WriteString("");  // elsewhere: nothing
    file.WriteString("\r\n");
    EXPECT_EQ(file.GetCharCount(), 8u);
    file.Close();
    EXPECT_EQ(ReadBytes(Path("a.kml")), (Bytes{0xFF, 0xFE, 'a', 0, 'b', 0, 'c', 0, 'a', 0, 'b', 0,
                                               'c', 0, 0x0D, 0, 0x0A, 0}));
    // Without any type flag the UTF-16 stream is still binary.
    ASSERT_TRUE(file.Open(Path("b.txt"), CStdioFile::modeCreate | CStdioFile::modeWrite |
                                             CStdioFileEx::modeWriteUnicode));
    file.WriteString("\n");
    file.Close();
    EXPECT_EQ(ReadBytes(Path("b.txt")), (Bytes{0xFF, 0xFE, 0x0A, 0}));
}

TEST_F(TextFileTest, UnicodeWriteOfNonAsciiTextMatchesIconv) {
    const std::string text = "日本語 ﾃｽﾄ é 😀\r\n";
    {
        CStdioFileEx file;
        ASSERT_TRUE(file.Open(Path("jp.txt"), kUnicodeWrite));
        file.WriteString(text);
    }  // the destructor closes
    const Bytes bytes = ReadBytes(Path("jp.txt"));
    ASSERT_EQ(bytes.size(), 2u + 2 * 14);
    EXPECT_EQ(bytes[2], 0xE5);  // 日 U+65E5
    EXPECT_EQ(bytes[3], 0x65);
    const Bytes tail = {0x3D, 0xD8, 0x00, 0xDE, 0x0D, 0, 0x0A, 0};  // U+1F600 as D83D DE00
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), bytes.end() - 8));
    if (HaveIconv()) {
        WriteBytes(Path("utf8.txt"), text);
        EXPECT_EQ(bytes, AsBytes(kMark + Iconv("UTF-8", "UTF-16LE", Path("utf8.txt"))));
    }
}

TEST_F(TextFileTest, UnicodeFlagWithoutAWriteFlagIsRefused) {
    CStdioFileEx file;
    CFileException error;
    EXPECT_FALSE(file.Open(Path("no.txt"), kTextRead | CStdioFileEx::modeWriteUnicode, &error));
    EXPECT_EQ(error.osError, EINVAL);
    EXPECT_THROW(
        {
            CStdioFileEx opened(Path("no.txt"),
                                CStdioFile::modeCreate | CStdioFileEx::modeWriteUnicode);
        },
        CFileException);
    EXPECT_FALSE(fs::exists(Path("no.txt")));
    EXPECT_TRUE(file.Open(Path("rw.txt"), CStdioFile::modeCreate | CStdioFile::modeReadWrite |
                                              CStdioFileEx::modeWriteUnicode));
}

TEST_F(TextFileTest, FailuresAreReportedNotSwallowed) {
    TraceCapture traces;
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(Path("bad.txt"), kUnicodeWrite));
    file.SetCodePage(4242);  // no such code page
    file.WriteString("abc");
    EXPECT_TRUE(file.ConversionFailed());
    EXPECT_TRUE(traces.Has("Error in MultiByteToWideChar"));
    file.SetCodePage(-1);
    file.WriteString("d");
    EXPECT_FALSE(file.ConversionFailed());
    file.Close();
    EXPECT_EQ(ReadBytes(Path("bad.txt")), (Bytes{0xFF, 0xFE, 'd', 0}));
    ::mkfifo(Path("pipe.txt").c_str(), 0600);  // refused, never waited on
    EXPECT_FALSE(file.Open(Path("pipe.txt"), CStdioFile::modeRead) || CStdioFileEx::IsFileUnicode(Path("pipe.txt")));

    if (fs::exists("/dev/full")) {
        constexpr unsigned kFullFlags = CStdioFile::modeWrite | CStdioFileEx::modeWriteUnicode;
        // A small write waits in the buffer, so Close reports it; a large
        // one fails at once.
        ASSERT_TRUE(file.Open("/dev/full", kFullFlags));
        file.WriteString("x");
        EXPECT_THROW(file.Close(), CFileException);
        EXPECT_FALSE(file.IsOpen());
        ASSERT_TRUE(file.Open("/dev/full", kFullFlags));
        try {
            file.WriteString(std::string(100000, 'x'));
            ADD_FAILURE() << "no exception";
        } catch (const CFileException& e) {
            EXPECT_EQ(e.osError, ENOSPC);
        }
    }
}

// ---------------------------------------------------------------------------
// Writing 8-bit text

TEST_F(TextFileTest, AnsiTextModeStoresLfAsCrLf) {
    {
        CStdioFileEx text;
        CStdioFileEx binary;
        ASSERT_TRUE(text.Open(Path("t.txt"), CStdioFile::modeCreate | CStdioFile::modeWrite));
        ASSERT_TRUE(binary.Open(Path("b.txt"), CStdioFile::modeCreate | CStdioFile::modeWrite |
                                                   CStdioFile::typeBinary));
        text.WriteString("a\nb\r\n\n");
        binary.WriteString("a\nb\r\n\n");
    }
    EXPECT_EQ(ReadBytes(Path("t.txt")), AsBytes("a\r\nb\r\r\n\r\n"));
    EXPECT_EQ(ReadBytes(Path("b.txt")), AsBytes("a\nb\r\n\n"));
}

TEST_F(TextFileTest, AnsiWriteRecodesToTheFileCodePage) {
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(Path("932.txt"), CStdioFile::modeCreate | CStdioFile::modeWrite |
                                               CStdioFile::typeText));
    file.SetCodePage(932);
    for (std::size_t i = 0; i < kSampleLines.size(); ++i) {
        file.WriteString(kSampleLines[i] + (i + 1 < kSampleLines.size() ? "\n" : ""));
    }
    file.WriteString("");
    file.Close();
    EXPECT_EQ(ReadBytes(Path("932.txt")), ReadBytes(SamplePath()));
    // What code page 932 lacks becomes '#'.
    ASSERT_TRUE(file.Open(Path("932.txt"), CStdioFile::modeCreate | CStdioFile::modeWrite));
    file.WriteString("a😀b");
    file.Close();
    EXPECT_EQ(ReadBytes(Path("932.txt")), AsBytes("a#b"));
}

// ---------------------------------------------------------------------------
// Reading

TEST_F(TextFileTest, UnicodeLinesComeBackWithoutTheirLineEnds) {
    WriteBytes(Path("u.txt"), kMark + Utf16("one\r\ntwo\r\n\r\nlone lf\nx\r"));
    EXPECT_TRUE(CStdioFileEx::IsFileUnicode(Path("u.txt")));
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(Path("u.txt"), kTextRead));
    EXPECT_TRUE(file.IsUnicodeText());
    EXPECT_EQ(file.GetCharCount(), 22u);
    EXPECT_EQ(ReadAll(file), (Lines{"one", "two", "", "lone lf", "x"}));
    // Opened binary, the same file is 8-bit.
    ASSERT_TRUE(file.Open(Path("u.txt"), CStdioFile::modeRead | CStdioFile::typeBinary));
    EXPECT_FALSE(file.IsUnicodeText());
    EXPECT_EQ(file.GetCharCount(), 46u);
}

TEST_F(TextFileTest, UnicodeFileFromIconvReadsAsUtf8) {
    if (!HaveIconv()) {
        GTEST_SKIP() << "no iconv tool";
    }
    const std::string text = "ペロラ\r\nÄpfel 😀\r\n<?xml?>\r\nend";
    WriteBytes(Path("utf8.txt"), text);
    WriteBytes(Path("u.txt"), kMark + Iconv("UTF-8", "UTF-16LE", Path("utf8.txt")));
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(Path("u.txt"), kTextRead));
    EXPECT_EQ(ReadAll(file), SplitCrLf(text));
}

TEST_F(TextFileTest, LongUnicodeLinesComeInPiecesOf4095) {
    WriteBytes(Path("long.txt"), kMark + Utf16(std::string(5000, 'a') + "\r\n" +
                                               std::string(4095, 'b') + "\r\nc\r\n" +
                                               std::string(4094, 'd')) +
                                     std::string("\x3D\xD8\x00\xDE", 4) + Utf16("z"));
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(Path("long.txt"), kTextRead));
    // The line end of a full piece comes as a piece of its own; a piece does
    // not end between the halves of a surrogate pair (U+1F600 here).
    EXPECT_EQ(ReadAll(file), (Lines{std::string(4095, 'a'), std::string(905, 'a'),
                                    std::string(4095, 'b'), "", "c", std::string(4094, 'd'),
                                    "😀z"}));
}

TEST_F(TextFileTest, FailedConversionGivesAnEmptyLineNotThePreviousOne) {
    WriteBytes(Path("u.txt"), kMark + Utf16("first\r\nsecond\r\nthird\r\n"));
    TraceCapture traces;
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(Path("u.txt"), kTextRead));
    std::string line;
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, "first");
    file.SetCodePage(4242);
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, "");
    EXPECT_TRUE(file.ConversionFailed());
    EXPECT_TRUE(traces.Has("Error in WideCharToMultiByte: "));
    file.SetCodePage(-1);
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, "third");
    EXPECT_FALSE(file.ConversionFailed());
}

TEST_F(TextFileTest, ShortOddOrMissingFiles) {
    WriteBytes(Path("one.txt"), "\xFF");
    EXPECT_FALSE(CStdioFileEx::IsFileUnicode(Path("one.txt")));
    EXPECT_FALSE(CStdioFileEx::IsFileUnicode(Path("missing.txt")));
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(Path("one.txt"), kTextRead));
    EXPECT_FALSE(file.IsUnicodeText());
    EXPECT_EQ(ReadAll(file), (Lines{"\xFF"}));  // same code page: bytes as they are
    file.Close();
    EXPECT_EQ(file.GetCharCount(), 0u);
    CFileException error;
    EXPECT_FALSE(file.Open(Path("missing.txt"), kTextRead, &error));
    EXPECT_EQ(error.osError, ENOENT);
    // A lone last byte of a UTF-16 file is kept as U+FFFD.
    WriteBytes(Path("odd.txt"), kMark + Utf16("ab") + "c");
    ASSERT_TRUE(file.Open(Path("odd.txt"), kTextRead));
    EXPECT_EQ(ReadAll(file), (Lines{"ab\xEF\xBF\xBD"}));
}

TEST_F(TextFileTest, AnsiLineEndsInTextAndBinaryMode) {
    WriteBytes(Path("a.txt"), "a\r\nb\rc\n\nlone cr\r\r\nlast");
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(Path("a.txt"), kTextRead));
    EXPECT_EQ(ReadAll(file), (Lines{"a", "b\rc", "", "lone cr", "last"}));
    ASSERT_TRUE(file.Open(Path("a.txt"), CStdioFile::modeRead | CStdioFile::typeBinary));
    EXPECT_EQ(ReadAll(file), (Lines{"a", "b\rc", "", "lone cr\r", "last"}));
}

TEST_F(TextFileTest, Cp932FileReadsLikeIconv) {
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(SamplePath(), kTextRead)) << SamplePath();
    file.SetCodePage(932);
    const Lines lines = ReadAll(file);
    EXPECT_EQ(lines, kSampleLines);
    if (HaveIconv()) {
        EXPECT_EQ(lines, SplitCrLf(Iconv("CP932", "UTF-8", SamplePath())));
    }
}

// ---------------------------------------------------------------------------
// Conversions

TEST(TextConversion, HelpersAndReplacementOfInvalidInput) {
    std::u16string wide;
    EXPECT_EQ(CStdioFileEx::MultiByteToUnicode("ab😀", wide, -1), 4);
    EXPECT_EQ(wide, u"ab😀");
    std::string narrow;
    EXPECT_EQ(CStdioFileEx::UnicodeToMultiByte(u"表", narrow, 932), 2);
    EXPECT_EQ(narrow, "\x95\x5C");
    EXPECT_EQ(CStdioFileEx::GetMultiByteLength(u"表", 932), 3);
    EXPECT_EQ(CStdioFileEx::GetMultiByteLength(u"表", 65001), 4);
    EXPECT_EQ(CStdioFileEx::UnicodeToMultiByte(u"x", narrow, 4242), 0);
    EXPECT_EQ(CStdioFileEx::GetLocaleCodePage(), 65001u);

    ASSERT_TRUE(platform::MultiByteToWide(65001, "a\xFF" "b\xE6\x97", wide));
    EXPECT_EQ(wide, u"a\uFFFDb\uFFFD");
    ASSERT_TRUE(platform::MultiByteToWide(932, "\x95\x5C\x81", wide));
    EXPECT_EQ(wide, u"表\uFFFD");
    bool usedDefault = true;
    const char16_t loneHigh[] = {u'a', 0xD800, u'b', 0};
    ASSERT_TRUE(platform::WideToMultiByte(65001, loneHigh, narrow, &usedDefault));
    EXPECT_EQ(narrow, "a\xEF\xBF\xBD" "b");
    EXPECT_FALSE(usedDefault);
    ASSERT_TRUE(platform::WideToMultiByte(1252, u"é😀€", narrow, &usedDefault));
    EXPECT_EQ(narrow, "\xE9#\x80");
    EXPECT_TRUE(usedDefault);
}
