// Opening a file the program reads from: a track log, a photo, a waypoint
// file, a text file.
//
// A path may name anything: a FIFO with no writer, or a device node, holds
// a plain open() for ever. The file is therefore opened with O_NONBLOCK,
// which never waits; fstat then takes only a regular file, and the flag is
// cleared again, so reads behave as on any file. Anything else is closed at
// once and refused: a folder with EISDIR, every other kind with
// kNotRegularFile.
#pragma once

#include <cstdio>
#include <string>

// The error of a path that names neither a regular file nor a folder (a FIFO,
// a device, a socket). It is no errno value; SourceErrorText names it.
inline constexpr int kNotRegularFile = 0x10000;

// A descriptor open for reading (close-on-exec), or -1 with the error in
// *error (errno, EISDIR or kNotRegularFile).
int OpenSourceFile(const std::string& path, int* error = nullptr);
// The same as a binary stream ("rb"); null when refused.
std::FILE* OpenSourceStream(const std::string& path, int* error = nullptr);

// strerror's text, or "not a regular file" for kNotRegularFile.
std::string SourceErrorText(int error);
