#!/usr/bin/env python3
"""Writes the built reference photos of this folder (built-*.jpg).

Each is a small JPEG whose Exif data is laid out the way cameras lay it out:
TIFF header, IFD0 and its values, the Exif IFD and its values, the MakerNote,
the Interop IFD, IFD1 and the thumbnail (tiny.jpg), then the image data of
tiny.jpg. Canon MakerNotes are a bare IFD, SONY ones a 12-byte "SONY DSC "
header and an IFD; both hold values stored elsewhere, so their offsets must
move with the MakerNote. The variants are the layouts the photo runner's
cases (cases.txt) need.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
TINY = open(os.path.join(HERE, "tiny.jpg"), "rb").read()


class Tiff:
    def __init__(self, little):
        self.e = "<" if little else ">"
        self.out = bytearray()

    def u16(self, v):
        return struct.pack(self.e + "H", v)

    def u32(self, v):
        return struct.pack(self.e + "I", v)

    def ascii(self, tag, text):
        v = text.encode() + b"\0"
        return (tag, 2, len(v), v)

    def short(self, tag, v):
        return (tag, 3, 1, self.u16(v))

    def long(self, tag, v):
        return (tag, 4, 1, self.u32(v))

    def pointer(self, tag):
        return (tag, 4, 1, None)

    def rational(self, tag, n, d):
        return (tag, 5, 1, self.u32(n) + self.u32(d))

    def raw(self, tag, type_, v, count=None):
        return (tag, type_, len(v) if count is None else count, v)

    def align(self):
        if len(self.out) % 2:
            self.out += b"\0"

    def put(self, at, data):
        self.out[at:at + len(data)] = data

    def add_ifd(self, fields, align=True):
        """Writes an IFD and its values; returns the value fields by tag and the next-IFD field."""
        if align:
            self.align()
        ifd = len(self.out)
        self.out += self.u16(len(fields)) + bytes(12 * len(fields) + 4)
        where = {}
        for i, (tag, type_, count, value) in enumerate(fields):
            entry = ifd + 2 + 12 * i
            self.put(entry, self.u16(tag) + self.u16(type_) + self.u32(count))
            where[tag] = entry + 8
            if value is not None and len(value) <= 4:
                self.put(entry + 8, value)
        for i, (tag, type_, count, value) in enumerate(fields):
            if value is not None and len(value) > 4:
                self.align()
                self.put(ifd + 2 + 12 * i + 8, self.u32(len(self.out)))
                self.out += value
        return where, ifd + 2 + 12 * len(fields)


def maker_note(t, sony):
    if sony:
        t.out += b"SONY DSC \0\0\0"
        fields = [t.long(0x0102, 2), t.raw(0xB000, 1, bytes([3, 0, 0, 0])), t.ascii(0xB020, "Standard")]
    else:
        settings = b"".join(t.u16(v) for v in (8, 2, 0, 4))  # first: the block's size in bytes
        fields = [t.raw(0x0001, 3, settings, 4), t.ascii(0x0006, "IMG:TEST JPEG"), t.long(0x0010, 0x80000001)]
    t.add_ifd(fields)


def build(little=True, make="Canon", date="2008:06:07 09:05:03", exif_ifd=True, makernote=True,
          interop=True, ifd1=True, gps=False, jfif=False, app2=False, ifd0_gap=0, description=0,
          offset_outside=False, odd_ifd1=False, ifd2=False, ifd1_interop=False, app1_e=None,
          identifier=b"Exif\0\0"):
    t = Tiff(little)
    sony = make.startswith("SONY")
    t.out += (b"II" if little else b"MM") + t.u16(42) + t.u32(8 + ifd0_gap) + bytes(ifd0_gap)
    ifd0 = []
    if description:
        ifd0.append(t.ascii(0x010E, "d" * (description - 1)))
    if make:
        ifd0.append(t.ascii(0x010F, make))
    ifd0 += [t.ascii(0x0110, "Test Model"), t.rational(0x011A, 72, 1), t.rational(0x011B, 72, 1),
             t.short(0x0128, 2), t.short(0x0213, 1)]
    if exif_ifd:
        ifd0.append(t.pointer(0x8769))
    if gps:
        ifd0.append(t.pointer(0x8825))
    ifd0_fields, ifd0_next = t.add_ifd(ifd0)
    if exif_ifd:
        scratch = Tiff(little)
        maker_note(scratch, sony)
        exif = [t.raw(0x9000, 7, b"0230")]
        if date:
            exif.append(t.ascii(0x9003, date))
        exif += [t.ascii(0x9004, "2008:06:07 09:05:03"), t.raw(0x9101, 7, bytes([1, 2, 3, 0]))]
        if makernote:
            exif.append((0x927C, 7, len(scratch.out), None))
        exif += [t.raw(0xA000, 7, b"0100"), t.short(0xA001, 1), t.long(0xA002, 16), t.long(0xA003, 12)]
        if interop:
            exif.append(t.pointer(0xA005))
        t.put(ifd0_fields[0x8769], t.u32(len(t.out) + len(t.out) % 2))
        exif_fields, _ = t.add_ifd(exif)
        if offset_outside:
            t.put(exif_fields[0x9004], t.u32(0x00FFFF00))
        if makernote:
            t.align()
            t.put(exif_fields[0x927C], t.u32(len(t.out)))
            maker_note(t, sony)
        if interop:
            t.put(exif_fields[0xA005], t.u32(len(t.out) + len(t.out) % 2))
            t.add_ifd([t.ascii(0x0001, "R98"), t.raw(0x0002, 7, b"0100")])
    if gps:
        t.put(ifd0_fields[0x8825], t.u32(len(t.out) + len(t.out) % 2))
        t.add_ifd([t.raw(0x0000, 1, bytes([2, 2, 0, 0]))])
    if ifd1:
        t.align()
        if odd_ifd1:
            t.out += b"\0"
        t.put(ifd0_next, t.u32(len(t.out)))
        fields = [t.short(0x0103, 6), t.rational(0x011A, 72, 1), t.rational(0x011B, 72, 1),
                  t.short(0x0128, 2), t.pointer(0x0201), t.long(0x0202, len(TINY))]
        if ifd1_interop:
            fields.append(t.pointer(0xA005))
        where, ifd1_next = t.add_ifd(fields, align=not odd_ifd1)
        if ifd1_interop:
            t.put(where[0xA005], t.u32(len(t.out) + len(t.out) % 2))
            t.add_ifd([t.ascii(0x0001, "THM"), t.raw(0x0002, 7, b"0100")])
        t.align()
        t.put(where[0x0201], t.u32(len(t.out)))
        t.out += TINY
        if ifd2:
            t.put(ifd1_next, t.u32(len(t.out) + len(t.out) % 2))
            t.add_ifd([t.ascii(0x010E, "the IFD after IFD1"), t.rational(0x011A, 300, 1), t.short(0x0128, 2)])
    out = bytearray(b"\xff\xd8")
    if jfif:
        out += b"\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
    if app2:
        out += b"\xff\xe2\x00\x06TEST"
    if app1_e:
        out += b"\xff\xe1" + struct.pack(">H", 2 + len(app1_e)) + app1_e
    length = 2 + 6 + len(t.out)
    assert length <= 0xFFFF
    out += b"\xff\xe1" + struct.pack(">H", length) + identifier + t.out
    at = 2  # the tiny JPEG less its start marker and its APPn segments
    while TINY[at] == 0xFF and 0xE0 <= TINY[at + 1] <= 0xEF:
        at += 2 + struct.unpack(">H", TINY[at + 2:at + 4])[0]
    return bytes(out + TINY[at:])


PHOTOS = {
    "canon-ii": {},
    "canon-mm": {"little": False},
    "sony-ii": {"make": "SONY"},
    "sony-mm": {"make": "SONY", "little": False},
    "canon-jfif": {"jfif": True},
    "sony-odd-ifd1": {"make": "SONY", "odd_ifd1": True},
    "canon-ifd0-gap": {"ifd0_gap": 6},
    "date-2040": {"date": "2040:02:29 12:00:00"},
    "zero-date": {"date": "0000:00:00 00:00:00"},
    "nikon": {"make": "NIKON CORPORATION", "makernote": False},
    "no-make": {"make": "", "makernote": False},
    "no-ifd1": {"ifd1": False},
    "gps-present": {"gps": True},
    "too-long": {"description": 64700},
    "offset-outside": {"offset_outside": True},
    "app2-first": {"app2": True},
    "no-exif-ifd": {"exif_ifd": False},
    "no-date": {"date": ""},
    "ifd2": {"ifd2": True},
    "sony-ifd1-interop": {"make": "SONY", "little": False, "ifd1_interop": True},
    "app1-e-first": {"app1_e": b"Extension\0"},
    "exif-lookalike": {"identifier": b"Exig\0\0"},
}

if __name__ == "__main__":
    for name, args in PHOTOS.items():
        with open(os.path.join(HERE, "built-%s.jpg" % name), "wb") as f:
            f.write(build(**args))
    with open(os.path.join(HERE, "built-truncated.jpg"), "wb") as f:
        f.write(build()[:200])
