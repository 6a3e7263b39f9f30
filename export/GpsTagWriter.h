// GPS tags in copies of JPEG photos.
//
// WriteGpsToPhoto writes, for a photo matched to a track point, a copy that
// carries the point's position, height and UTC time and date as Exif GPS
// tags. The photo itself is never changed. The copy is
//   <photo folder>/GPS/<photo name less its last 4 characters>_GPS.jpg
// (IMG_0001.JPG gives GPS/IMG_0001_GPS.jpg), written beside its final name
// and renamed into place only when whole. Copies are made only for photos
// whose Make begins with "Canon" (MakerNote is a bare IFD) or "SONY" (a
// 12-byte "SONY DSC " header before the IFD); for any other maker, or no
// Make, no copy is made and gpsWriteOk becomes false. On a refusal or a
// failure the GPS folder is removed again when it is empty.
//
// The copy is the photo with its Exif segment rebuilt in memory:
//   - IFD0 gains one entry, GPSInfo (0x8825, LONG, 1, the GPS IFD's offset),
//     inserted in tag order: 12 bytes;
//   - the GPS IFD is inserted where IFD1 began, between two pad bytes when
//     that place is odd, so it starts at an even offset and everything
//     behind it keeps its parity:
//       count 9
//       0x0000 GPSVersionID    BYTE      4  2,2,0,0
//       0x0001 GPSLatitudeRef  ASCII     2  "N" or "S" (0 gives "N")
//       0x0002 GPSLatitude     RATIONAL  3  deg/1, min/1, hundredths of s/100
//       0x0003 GPSLongitudeRef ASCII     2  "E" or "W" (0 gives "E")
//       0x0004 GPSLongitude    RATIONAL  3  as the latitude
//       0x0005 GPSAltitudeRef  BYTE      1  0 above sea level, 1 below
//       0x0006 GPSAltitude     RATIONAL  1  centimetres/100 of |height|
//       0x0007 GPSTimeStamp    RATIONAL  3  hour/1, minute/1, second/1 (UTC)
//       0x001D GPSDateStamp    ASCII    11  "YYYY:MM:DD"
//       next IFD 0, then the values: 114 + 91 bytes and one pad byte, 206;
//   - every offset into the structures behind the new entry moves by 12, and
//     every offset at or behind IFD1 by the whole growth. Every IFD of the
//     tree is relocated: the chain IFD0, IFD1, IFD2 ..., the IFDs that
//     pointer tags (Exif, Interop, sub-IFD) in any of them lead to and the
//     next IFDs of those, with their values stored elsewhere and thumbnail
//     offsets, and the MakerNote's IFD with its values.
// So the copy grows by 218 bytes (220 when IFD1 started at an odd offset).
//
// Layouts that this pass is not built for are refused with a failure text,
// never written corrupt: no IFD1, an IFD0 count of 0, an existing GPSInfo
// entry, an Exif segment that would pass 65,535 bytes, an offset outside the
// segment, structures (IFDs and values) that overlap, a structure that lies
// across an insertion point, offsets the pass cannot move (strip or tile
// offsets, an array of IFD offsets, a second MakerNote, a second thumbnail
// in one IFD) or more than 64 IFDs.
//
// Plain C++, no state; one call per photo, any thread (distinct photos).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "export/ExifTiff.h"
#include "export/PhotoMatch.h"

inline constexpr const char* kNoExifIfdText = "No found photo taken date time.";
inline constexpr const char* kNoThumbnailIfdText = "EXIF layout not supported: no IFD1.";
inline constexpr const char* kGpsPresentText = "EXIF layout not supported: GPS tags already present.";
inline constexpr const char* kSegmentTooLongText = "EXIF layout not supported: segment too long.";
inline constexpr const char* kLayoutOrderText = "EXIF layout not supported: structures out of order.";
inline constexpr const char* kOverlapText = "EXIF layout not supported: structures overlap.";
inline constexpr const char* kUnmovableText = "EXIF layout not supported: offsets the copy cannot move.";
inline constexpr const char* kIfdCountText = "EXIF layout not supported: too many IFDs.";
inline constexpr const char* kBadPositionText = "No valid position for the GPS tags.";
inline constexpr const char* kCopyWriteText = "Cannot write the GPS photo file.";
inline constexpr const char* kCopyNameTakenText = "Another photo of the run has the same GPS file name.";

// The GPS IFD with its values and its pad byte.
inline constexpr std::size_t kGpsIfdSize = 206;

enum class GpsCopyOutcome { Written, MakerRefused, Failed };

// Whole degrees, whole minutes and hundredths of seconds of |latitude| and
// |longitude|, each step truncated (59.996 s gives 5999). A value that is not
// finite or beyond 360 degrees gives zeros.
void DegreesToDms(double latitude, double longitude, std::array<int, 3>& latitudeDms,
                  std::array<int, 3>& longitudeDms);

// Centimetres of |height|: height x 100 in float arithmetic, truncated, plus
// one when the part cut off is 0.5 or more (12.345 m gives 1235).
std::uint32_t HeightCentimetres(float height);

// The path of the copy, and its folder.
std::string GpsCopyPath(const std::string& photoPath);
std::string GpsFolderOf(const std::string& photoPath);

// The copy in memory. photo holds the file from its start to at least the
// end of the Exif segment; whatever it holds after the segment is copied
// behind the rebuilt one. Written: copy holds it. MakerRefused: no copy, no
// failure. Failed: message holds the failure text.
GpsCopyOutcome BuildGpsCopy(std::span<const std::uint8_t> photo, const PhotoTrackPoint& point,
                            std::vector<std::uint8_t>& copy, std::string& message);

// The copy on disk. failed 0 with an empty message, or 1 with the failure
// text; gpsWriteOk becomes false when the maker is refused (it is never set
// to true here).
void WriteGpsToPhoto(const std::string& photoPath, const PhotoTrackPoint& point, int& failed,
                     std::string& message, bool& gpsWriteOk);
