// The photo KML document: a track and the photos matched to its points.
//
// WritePhotoKml reads a .trl file (16-byte records, tracklog/TrackLogRecord.h;
// records whose checksum fails, records the track writers would not write
// (track_writers::IsWritableRecord: a time of 2^31 or more, NaN or infinite
// numbers, a place off the globe) and a trailing partial record are skipped)
// into state.trackPoints and state.pointNames (each point's local time in the
// program's zone as "Sat Jun 07 09:05:03 2008"), runs the photo operations
// (PhotoMatch.h) and writes one KML 2.1 document, UTF-16LE with the mark
// FF FE, lines ending in CR LF, nothing indented:
//
//   <?xml version="1.0" encoding="UTF-16"?>
//   <kml xmlns="http://earth.google.com/kml/2.1">  <Document>
//   four style groups of 33 lines: TLP_Start, TLP_Finish, TLP_Normal,
//     TLP_Photo (normal and highlight Style, StyleMap)
//   roadStyle, <Open>1</Open>, the route placemark whose <coordinates> hold
//     "lon,lat,height " per valid record in file order ("%4.7f,%4.7f,%4.2f ")
//   <Folder><name>waypoints</name> and one placemark per point in file order:
//     <Placemark> <name> time </name>
//     for a point with matched photos: <description> <![CDATA[ Photo Matched:
//       per photo in capture order: [<p>Original Time: T</p>] (only with a
//       calibration), <p>[Adjustment Time: ]T</p>,
//       <p><img width="400" height="300" src="path"></p>   ]]> </description>
//     <styleUrl> #styleMap_TLP_Photo (photos, neither first nor last point),
//       else _Start (first), _Finish (last), _Normal </styleUrl>
//     <Point> <coordinates> lon,lat,height </coordinates> </Point> </Placemark>
//   </Folder> </Document> </kml>
//
// The document declares the encoding it is written in. A photo path enters
// the image element with &, <, >, " and ' written as character references,
// so no path can end the CDATA section or the attribute; bytes that are not
// UTF-8 or that XML does not allow become '?'.
//
// With writeGpsInPhoto every matched photo gets a GPS copy (GpsTagWriter.h)
// for its point; a refused maker lists T414 + path, a failure
// T414 + path + ";" + the failure text, in batch mode too. A photo whose copy
// name an earlier photo of the run has taken (IMG_1.JPG after IMG_1.jpg)
// gets no copy and is listed as a failure (kCopyNameTakenText).
//
// A source that cannot be opened, or that is not a regular file (it is
// opened so that a FIFO cannot block), is a track without points. One run at a
// time per state; the caller's thread.
#pragma once

#include <cstdint>
#include <string>

#include "export/PhotoMatch.h"

class CStdioFileEx;

// The local time of t in the program's zone as asctime gives it, without
// the newline, day of month with a leading zero. Empty when t cannot be
// represented.
std::string AsctimeText(std::int64_t t);

// Reads the .trl into the state's track tables and runs the photo
// operations in their order.
void ReadTrackAndMatchPhotos(PhotoLinkState& state, const std::string& sourcePath);

// The whole run; returns the document as 8-bit (UTF-8) text.
std::string BuildPhotoKml(PhotoLinkState& state, const std::string& sourcePath, bool writeGpsInPhoto);

// The whole run into a file the caller opened for UTF-16 writing
// (CStdioFileEx::modeWriteUnicode); closes it. Throws CFileException on a
// failed write, as the file class does.
void WritePhotoKml(PhotoLinkState& state, const std::string& sourcePath, CStdioFileEx& outputFile,
                   bool writeGpsInPhoto);

// The whole run into outputPath, written whole and renamed into place. False
// when the file could not be written.
bool WritePhotoKmlFile(PhotoLinkState& state, const std::string& sourcePath,
                       const std::string& outputPath, bool writeGpsInPhoto);
