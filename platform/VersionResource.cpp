#include "platform/VersionResource.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

// The marker is kept encoded so that the scanner's own copy never appears in
// a program's file as the plain marker.
constexpr std::uint8_t kMarkerKey = 0x5A;
constexpr std::uint8_t kMarkerEncoded[16] = {
    'P' ^ kMarkerKey, 'E' ^ kMarkerKey, 'L' ^ kMarkerKey, 'L' ^ kMarkerKey, 'O' ^ kMarkerKey, 'R' ^ kMarkerKey,
    'A' ^ kMarkerKey, '-' ^ kMarkerKey, 'V' ^ kMarkerKey, 'E' ^ kMarkerKey, 'R' ^ kMarkerKey, 'S' ^ kMarkerKey,
    'I' ^ kMarkerKey, 'O' ^ kMarkerKey, 'N' ^ kMarkerKey, 0 ^ kMarkerKey};

std::atomic<std::uint16_t> g_langOverride{0};

std::u16string Utf8ToUtf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = 0;
        size_t n = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 6 && i + 1 < s.size()) {
            cp = ((c & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
            n = 2;
        } else if ((c >> 4) == 14 && i + 2 < s.size()) {
            cp = ((c & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
            n = 3;
        } else if ((c >> 3) == 30 && i + 3 < s.size()) {
            cp = ((c & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) | (s[i + 3] & 0x3Fu);
            n = 4;
        } else {
            cp = 0xFFFD;
        }
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

class Writer {
public:
    std::vector<std::uint8_t> bytes;

    size_t Here() const { return bytes.size(); }
    void U16(std::uint16_t v) {
        bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    void Text(const std::string& s) {
        for (char16_t c : Utf8ToUtf16(s)) U16(c);
        U16(0);
    }
    void Align() {
        while (bytes.size() % 4) bytes.push_back(0);
    }
    void PatchU16(size_t at, std::uint16_t v) {
        bytes[at] = static_cast<std::uint8_t>(v);
        bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
};

// Writes one block: header, key, padding, value (by the callback), children.
template <class ValueFn, class ChildrenFn>
void Block(Writer& w, const std::string& key, std::uint16_t valueLength, std::uint16_t type, ValueFn value,
           ChildrenFn children) {
    w.Align();
    const size_t start = w.Here();
    w.U16(0);
    w.U16(valueLength);
    w.U16(type);
    w.Text(key);
    w.Align();
    value();
    children();
    w.PatchU16(start, static_cast<std::uint16_t>(w.Here() - start));
}

std::uint16_t ReadU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

// Reads a block's key as UTF-8 (ASCII keys) and the offsets of its parts.
struct BlockView {
    const std::uint8_t* start = nullptr;
    std::uint16_t length = 0;
    std::uint16_t valueLength = 0;
    std::uint16_t type = 0;
    std::string key;
    const std::uint8_t* value = nullptr;
    const std::uint8_t* children = nullptr;
    const std::uint8_t* end = nullptr;
};

size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

bool ParseBlock(const std::uint8_t* base, const std::uint8_t* p, const std::uint8_t* limit, BlockView& out) {
    if (limit - p < 6) return false;
    out.start = p;
    out.length = ReadU16(p);
    out.valueLength = ReadU16(p + 2);
    out.type = ReadU16(p + 4);
    if (out.length < 6 || out.length > limit - p) return false;
    out.end = p + out.length;
    const std::uint8_t* q = p + 6;
    out.key.clear();
    while (q + 1 < out.end) {
        std::uint16_t c = ReadU16(q);
        q += 2;
        if (c == 0) break;
        out.key.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    q = base + Align4(static_cast<size_t>(q - base));
    out.value = q;
    const size_t valueBytes = out.type == 1 ? out.valueLength * 2u : out.valueLength;
    if (valueBytes > static_cast<size_t>(out.end - std::min(q, out.end))) return false;
    out.children = base + Align4(static_cast<size_t>(q + valueBytes - base));
    if (out.children > out.end) out.children = out.end;
    return true;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// A read-only view of a whole file.
class MappedFile {
public:
    explicit MappedFile(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) {
                data_ = static_cast<const std::uint8_t*>(p);
                size_ = static_cast<size_t>(st.st_size);
            }
        }
        ::close(fd);
    }
    ~MappedFile() {
        if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    const std::uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    const std::uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// Finds the embedded block in a file's bytes: start and length, or false.
bool FindEmbedded(const MappedFile& file, size_t& offset, std::uint32_t& length) {
    const std::vector<std::uint8_t> marker = VersionMarker();
    const std::uint8_t* begin = file.data();
    if (!begin) return false;
    const std::uint8_t* end = begin + file.size();
    const std::uint8_t* p = begin;
    while (p < end) {
        const void* hit = ::memmem(p, static_cast<size_t>(end - p), marker.data(), marker.size());
        if (!hit) return false;
        const size_t at = static_cast<size_t>(static_cast<const std::uint8_t*>(hit) - begin) + marker.size();
        if (file.size() - at >= 4) {
            const std::uint8_t* q = begin + at;
            const std::uint32_t len = static_cast<std::uint32_t>(q[0]) | (static_cast<std::uint32_t>(q[1]) << 8) |
                                      (static_cast<std::uint32_t>(q[2]) << 16) |
                                      (static_cast<std::uint32_t>(q[3]) << 24);
            if (len >= 6 && len <= file.size() - at - 4 && ReadU16(q + 4) == len) {
                offset = at + 4;
                length = len;
                return true;
            }
        }
        p = static_cast<const std::uint8_t*>(hit) + 1;
    }
    return false;
}

}  // namespace

std::vector<std::uint8_t> VersionMarker() {
    std::vector<std::uint8_t> marker;
    for (std::uint8_t b : kMarkerEncoded) marker.push_back(b ^ kMarkerKey);
    return marker;
}

std::vector<std::uint8_t> BuildVersionBlock(const VersionSpec& layout) {
    Writer w;
    const std::uint16_t fixedLength = layout.hasFixed ? layout.fixedLength : 0;
    Block(
        w, "VS_VERSION_INFO", fixedLength, 0,
        [&] {
            if (!layout.hasFixed) return;
            std::uint8_t raw[52];
            std::memcpy(raw, &layout.fixed, 52);
            for (std::uint16_t i = 0; i < fixedLength; ++i) w.bytes.push_back(i < 52 ? raw[i] : 0);
        },
        [&] {
            if (!layout.tables.empty()) {
                Block(
                    w, "StringFileInfo", 0, 1, [] {},
                    [&] {
                        for (const auto& table : layout.tables) {
                            Block(
                                w, table.key, 0, 1, [] {},
                                [&] {
                                    for (const auto& [name, text] : table.strings) {
                                        const auto wide = Utf8ToUtf16(text);
                                        Block(
                                            w, name, static_cast<std::uint16_t>(wide.size() + 1), 1,
                                            [&] {
                                                for (char16_t c : wide) w.U16(c);
                                                w.U16(0);
                                            },
                                            [] {});
                                    }
                                });
                        }
                    });
            }
            if (layout.hasTranslations) {
                Block(
                    w, "VarFileInfo", 0, 1, [] {},
                    [&] {
                        Block(
                            w, "Translation", static_cast<std::uint16_t>(layout.translations.size() * 4), 0,
                            [&] {
                                for (std::uint32_t t : layout.translations) w.U32(t);
                            },
                            [] {});
                    });
            }
        });
    return w.bytes;
}

std::vector<std::uint8_t> BuildEmbeddedVersion(const VersionSpec& layout) {
    std::vector<std::uint8_t> out = VersionMarker();
    const std::vector<std::uint8_t> block = BuildVersionBlock(layout);
    const auto n = static_cast<std::uint32_t>(block.size());
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    out.insert(out.end(), block.begin(), block.end());
    return out;
}

std::uint32_t GetFileVersionInfoSize(const std::string& path) {
    const MappedFile file(path);
    size_t offset = 0;
    std::uint32_t length = 0;
    return FindEmbedded(file, offset, length) ? length : 0;
}

bool GetFileVersionInfo(const std::string& path, std::uint32_t size, void* buffer) {
    if (!buffer) return false;
    const MappedFile file(path);
    size_t offset = 0;
    std::uint32_t length = 0;
    if (!FindEmbedded(file, offset, length) || size < length) return false;
    std::memcpy(buffer, file.data() + offset, length);
    return true;
}

bool VerQueryValue(const void* block, const std::string& subBlock, const void** value, std::uint32_t* length) {
    if (!block || !value || !length) return false;
    const auto* base = static_cast<const std::uint8_t*>(block);
    BlockView root;
    if (!ParseBlock(base, base, base + ReadU16(base), root)) return false;
    // Split the path on backslashes.
    std::vector<std::string> parts;
    std::string part;
    for (char c : subBlock) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    BlockView current = root;
    for (const std::string& name : parts) {
        const std::uint8_t* p = current.children;
        bool found = false;
        while (p + 6 <= current.end) {
            BlockView child;
            if (!ParseBlock(base, p, current.end, child)) break;
            if (EqualsNoCase(child.key, name)) {
                current = child;
                found = true;
                break;
            }
            p = base + Align4(static_cast<size_t>(child.end - base));
        }
        if (!found) return false;
    }
    if (parts.empty()) {
        if (root.valueLength == 0) return false;
    }
    // A string of a string table comes back as text, its length counted in
    // 16-bit characters; one whose type word says binary was validated for
    // valueLength bytes only, so reading it as text would run past them.
    if (parts.size() == 3 && EqualsNoCase(parts[0], "StringFileInfo") && current.type != 1) return false;
    *value = current.value;
    *length = current.valueLength;
    return true;
}

std::string VersionTextToUtf8(const void* value, std::uint32_t length) {
    std::string out;
    const auto* p = static_cast<const std::uint8_t*>(value);
    for (std::uint32_t i = 0; i < length; ++i) {
        std::uint32_t c = ReadU16(p + 2 * i);
        if (c == 0) break;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < length) {
            const std::uint32_t low = ReadU16(p + 2 * (i + 1));
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::uint16_t GetUserDefaultLangId() {
    if (std::uint16_t id = g_langOverride.load()) return id;
    const char* lang = std::getenv("LC_ALL");
    if (!lang || !*lang) lang = std::getenv("LC_MESSAGES");
    if (!lang || !*lang) lang = std::getenv("LANG");
    const std::string l = lang ? lang : "";
    if (l.rfind("ja", 0) == 0) return 0x0411;
    if (l.rfind("de", 0) == 0) return 0x0407;
    if (l.rfind("fr", 0) == 0) return 0x040C;
    if (l.rfind("zh", 0) == 0) return 0x0804;
    if (l.rfind("en_GB", 0) == 0) return 0x0809;
    return 0x0409;
}

void SetUserDefaultLangId(std::uint16_t id) { g_langOverride = id; }

std::string OwnModulePath() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return {};
    path[n] = 0;
    return path;
}

}  // namespace platform
