#include "ExifPhotoBuilder.h"

#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

namespace {

struct Field {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::vector<std::uint8_t> value;  // empty: a pointer patched later
};

class Tiff {
public:
    explicit Tiff(bool little) : little_(little) {}
    std::vector<std::uint8_t> out;

    std::vector<std::uint8_t> U16(std::uint16_t v) const {
        return little_ ? std::vector<std::uint8_t>{std::uint8_t(v), std::uint8_t(v >> 8)}
                       : std::vector<std::uint8_t>{std::uint8_t(v >> 8), std::uint8_t(v)};
    }
    std::vector<std::uint8_t> U32(std::uint32_t v) const {
        auto hi = U16(std::uint16_t(v >> 16));
        auto lo = U16(std::uint16_t(v));
        if (little_) {
            lo.insert(lo.end(), hi.begin(), hi.end());
            return lo;
        }
        hi.insert(hi.end(), lo.begin(), lo.end());
        return hi;
    }
    Field Ascii(std::uint16_t tag, const std::string& text) const {
        std::vector<std::uint8_t> v(text.begin(), text.end());
        v.push_back(0);
        return {tag, 2, std::uint32_t(v.size()), v};
    }
    Field Short(std::uint16_t tag, std::uint16_t v) const { return {tag, 3, 1, U16(v)}; }
    Field Long(std::uint16_t tag, std::uint32_t v) const { return {tag, 4, 1, U32(v)}; }
    Field Pointer(std::uint16_t tag) const { return {tag, 4, 1, {}}; }
    Field Rational(std::uint16_t tag, std::uint32_t n, std::uint32_t d) const {
        auto v = U32(n);
        auto w = U32(d);
        v.insert(v.end(), w.begin(), w.end());
        return {tag, 5, 1, v};
    }
    Field Bytes(std::uint16_t tag, std::uint16_t type, std::vector<std::uint8_t> v) const {
        const std::uint32_t count = type == 3 ? std::uint32_t(v.size() / 2) : std::uint32_t(v.size());
        return {tag, type, count, v};
    }

    void Align() {
        if (out.size() % 2) {
            out.push_back(0);
        }
    }
    void Put(std::size_t at, const std::vector<std::uint8_t>& bytes) {
        std::copy(bytes.begin(), bytes.end(), out.begin() + std::ptrdiff_t(at));
    }
    // Writes an IFD at the end and its values after it. Returns the offset
    // of each entry's value field by tag; next receives that of the
    // next-IFD field.
    std::map<std::uint16_t, std::size_t> AddIfd(const std::vector<Field>& fields, std::size_t& next,
                                                 bool align = true) {
        if (align) {
            Align();
        }
        const std::size_t ifd = out.size();
        auto count = U16(std::uint16_t(fields.size()));
        out.insert(out.end(), count.begin(), count.end());
        out.resize(ifd + 2 + 12 * fields.size() + 4, 0);
        next = ifd + 2 + 12 * fields.size();
        std::map<std::uint16_t, std::size_t> valueFields;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const Field& f = fields[i];
            const std::size_t entry = ifd + 2 + 12 * i;
            Put(entry, U16(f.tag));
            Put(entry + 2, U16(f.type));
            Put(entry + 4, U32(f.count));
            valueFields[f.tag] = entry + 8;
            if (f.value.size() <= 4) {
                Put(entry + 8, f.value);
            }
        }
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const Field& f = fields[i];
            if (f.value.size() > 4) {
                Align();
                Put(ifd + 2 + 12 * i + 8, U32(std::uint32_t(out.size())));
                out.insert(out.end(), f.value.begin(), f.value.end());
            }
        }
        return valueFields;
    }

private:
    bool little_;
};

std::vector<Field> MakerNoteFields(const Tiff& t, bool sony) {
    if (sony) {
        return {t.Long(0x0102, 2), t.Bytes(0xb000, 1, {3, 0, 0, 0}), t.Ascii(0xb020, "Standard")};
    }
    auto settings = t.U16(8);  // the block's size in bytes
    for (std::uint16_t v : {2, 0, 4}) {
        auto w = t.U16(v);
        settings.insert(settings.end(), w.begin(), w.end());
    }
    return {t.Bytes(0x0001, 3, settings), t.Ascii(0x0006, "IMG:TEST JPEG"), t.Long(0x0010, 0x80000001)};
}

void AppendMakerNote(Tiff& t, bool sony) {
    if (sony) {
        const char header[12] = {'S', 'O', 'N', 'Y', ' ', 'D', 'S', 'C', ' ', 0, 0, 0};
        t.out.insert(t.out.end(), header, header + 12);
    }
    std::size_t next = 0;
    t.AddIfd(MakerNoteFields(t, sony), next);
}

}  // namespace

const std::vector<std::uint8_t>& TinyJpeg() {
    static const std::vector<std::uint8_t> bytes = ReadBytes(PELLORA_TEST_DATA_DIR "/photos/tiny.jpg");
    return bytes;
}

std::vector<std::uint8_t> BuildExifPhoto(const ExifPhotoSpec& spec) {
    Tiff t(spec.littleEndian);
    const bool sony = spec.make.rfind("SONY", 0) == 0;
    t.out = {std::uint8_t(spec.littleEndian ? 'I' : 'M'), std::uint8_t(spec.littleEndian ? 'I' : 'M')};
    auto magic = t.U16(42);
    auto ifd0Offset = t.U32(8 + spec.ifd0Gap);
    t.out.insert(t.out.end(), magic.begin(), magic.end());
    t.out.insert(t.out.end(), ifd0Offset.begin(), ifd0Offset.end());
    t.out.resize(8 + spec.ifd0Gap, 0);

    std::vector<Field> ifd0;
    if (spec.descriptionSize) {
        ifd0.push_back(t.Ascii(0x010E, std::string(spec.descriptionSize - 1, 'd')));
    }
    if (!spec.make.empty()) {
        ifd0.push_back(t.Ascii(0x010F, spec.make));
    }
    ifd0.push_back(t.Ascii(0x0110, "Test Model"));
    ifd0.push_back(t.Rational(0x011A, 72, 1));
    ifd0.push_back(t.Rational(0x011B, 72, 1));
    ifd0.push_back(t.Short(0x0128, 2));
    ifd0.push_back(t.Short(0x0213, 1));
    if (spec.exifIfd) {
        ifd0.push_back(t.Pointer(0x8769));
    }
    if (spec.gpsIfd) {
        ifd0.push_back(t.Pointer(0x8825));
    }
    std::size_t ifd0Next = 0;
    auto ifd0Fields = t.AddIfd(ifd0, ifd0Next);

    if (spec.exifIfd) {
        Tiff scratch(spec.littleEndian);
        if (spec.makerNote) {
            AppendMakerNote(scratch, sony);
        }
        std::vector<Field> exif = {t.Bytes(0x9000, 7, {'0', '2', '3', '0'})};
        if (!spec.dateTimeOriginal.empty()) {
            exif.push_back(t.Ascii(0x9003, spec.dateTimeOriginal));
        }
        exif.push_back(t.Ascii(0x9004, "2008:06:07 09:05:03"));
        exif.push_back(t.Bytes(0x9101, 7, {1, 2, 3, 0}));
        if (spec.makerNote) {
            exif.push_back({0x927C, 7, std::uint32_t(scratch.out.size()), {}});
        }
        exif.push_back(t.Bytes(0xA000, 7, {'0', '1', '0', '0'}));
        exif.push_back(t.Short(0xA001, 1));
        exif.push_back(t.Long(0xA002, 16));
        exif.push_back(t.Long(0xA003, 12));
        if (spec.interop) {
            exif.push_back(t.Pointer(0xA005));
        }
        t.Put(ifd0Fields[0x8769], t.U32(std::uint32_t(t.out.size() + t.out.size() % 2)));
        std::size_t next = 0;
        auto exifFields = t.AddIfd(exif, next);
        if (spec.offsetOutside) {
            t.Put(exifFields[0x9004], t.U32(0x00FFFF00));
        }
        if (spec.makerNote) {
            t.Align();
            t.Put(exifFields[0x927C], t.U32(std::uint32_t(t.out.size())));
            AppendMakerNote(t, sony);
        }
        if (spec.interop) {
            t.Put(exifFields[0xA005], t.U32(std::uint32_t(t.out.size() + t.out.size() % 2)));
            t.AddIfd({t.Ascii(0x0001, "R98"), t.Bytes(0x0002, 7, {'0', '1', '0', '0'})}, next);
        }
    }
    if (spec.gpsIfd) {
        std::size_t next = 0;
        t.Put(ifd0Fields[0x8825], t.U32(std::uint32_t(t.out.size() + t.out.size() % 2)));
        t.AddIfd({t.Bytes(0x0000, 1, {2, 2, 0, 0})}, next);
    }
    if (spec.ifd1) {
        t.Align();
        if (spec.oddIfd1) {
            t.out.push_back(0);
        }
        t.Put(ifd0Next, t.U32(std::uint32_t(t.out.size())));
        std::vector<Field> fields = {t.Short(0x0103, 6), t.Rational(0x011A, 72, 1),
                                     t.Rational(0x011B, 72, 1), t.Short(0x0128, 2),
                                     t.Pointer(0x0201), t.Long(0x0202, std::uint32_t(TinyJpeg().size()))};
        std::size_t next = 0;
        auto ifd1Fields = t.AddIfd(fields, next, !spec.oddIfd1);
        t.Align();
        t.Put(ifd1Fields[0x0201], t.U32(std::uint32_t(t.out.size())));
        t.out.insert(t.out.end(), TinyJpeg().begin(), TinyJpeg().end());
    }

    std::vector<std::uint8_t> file = {0xFF, 0xD8};
    if (spec.jfifFirst) {
        file.insert(file.end(), {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    }
    if (spec.app2First) {
        file.insert(file.end(), {0xFF, 0xE2, 0x00, 0x06, 'T', 'E', 'S', 'T'});
    }
    const std::size_t length = 2 + 6 + t.out.size();
    if (length > 0xFFFF) {
        throw std::length_error("Exif segment too long for the test photo");
    }
    file.insert(file.end(), {0xFF, 0xE1, std::uint8_t(length >> 8), std::uint8_t(length), 'E', 'x', 'i', 'f', 0, 0});
    file.insert(file.end(), t.out.begin(), t.out.end());
    // The tiny JPEG less its start marker and its JFIF segment.
    const auto& tiny = TinyJpeg();
    std::size_t at = 2;
    while (at + 4 <= tiny.size() && tiny[at] == 0xFF && tiny[at + 1] >= 0xE0 && tiny[at + 1] <= 0xEF) {
        at += 2 + std::size_t(tiny[at + 2] << 8 | tiny[at + 3]);
    }
    file.insert(file.end(), tiny.begin() + std::ptrdiff_t(at), tiny.end());
    return file;
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
