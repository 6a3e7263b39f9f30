// Builds small JPEG photos with Exif data for the photo tests.
//
// The TIFF structure is laid out the way cameras lay it out: header, IFD0
// and its values, the Exif IFD and its values, the MakerNote, the Interop
// IFD, IFD1 with the thumbnail. Canon MakerNotes are a bare IFD, SONY ones a
// 12-byte "SONY DSC " header and an IFD; both hold values stored elsewhere,
// so their offsets must move with the MakerNote. The image data after the
// Exif segment is a real tiny JPEG (tests/data/photos/tiny.jpg).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ExifPhotoSpec {
    bool littleEndian = true;
    std::string make = "Canon";  // empty: no Make entry
    std::string dateTimeOriginal = "2008:06:07 09:05:03";  // empty: none
    bool exifIfd = true;
    bool makerNote = true;
    bool interop = true;
    bool ifd1 = true;  // with the thumbnail
    bool gpsIfd = false;  // an existing GPS IFD
    bool jfifFirst = false;  // a JFIF APP0 segment before the Exif segment
    bool app2First = false;  // an APP2 segment before the Exif segment
    std::uint32_t ifd0Gap = 0;  // bytes between the TIFF header and IFD0
    std::size_t descriptionSize = 0;  // an ImageDescription of this many bytes
    bool offsetOutside = false;  // DateTimeDigitized points outside the segment
    bool oddIfd1 = false;  // IFD1 starts at an odd offset
};

// tiny.jpg of the test data.
const std::vector<std::uint8_t>& TinyJpeg();
std::vector<std::uint8_t> BuildExifPhoto(const ExifPhotoSpec& spec);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::string& path);
