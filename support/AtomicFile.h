// Files the program writes are written whole and then put in place.
//
// AtomicFile writes to a new file beside the target (created exclusively, so
// nothing that already stands there, link or file, is written through) and
// Commit renames it over the target name. rename() replaces whatever entry
// has that name, a symbolic link included, and never follows it: an existing
// link is replaced, the file it points to is left alone. Until Commit the
// target keeps its old contents; an AtomicFile that is destroyed or abandoned
// without a Commit removes its new file and leaves nothing behind.
//
// A regular file that is replaced keeps what made it the user's file: its
// permission bits, and its owner and group where the process may set them.
// A file the user could not write in place is not replaced either: Open
// refuses it with EACCES. The new contents of a replaced file reach the disk
// (fsync) before the rename, so a crash leaves the old contents or the new
// ones, never neither; a new file is not synced, so writing thousands of new
// files stays quick.
//
// SafeFileNamePart makes a text usable as part of a file name inside a chosen
// folder: path separators become '_' and ".." cannot survive, so a name built
// from device or user text never leaves that folder.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the new file beside path. False (with errno-style error) when
    // the folder cannot take it, path names a folder (EISDIR) or a regular
    // file there may not be written (EACCES).
    bool Open(const std::string& path, int* error = nullptr);
    bool IsOpen() const { return stream_ != nullptr; }
    // The stream to write to while open (binary).
    std::FILE* Stream() const { return stream_; }
    bool Write(const void* data, std::size_t size);
    bool Write(std::string_view text) { return Write(text.data(), text.size()); }
    // Flushes, syncs a replacement, closes and renames into place. False
    // (errno set) when anything failed, a write through Stream() included;
    // the new file is removed then and the target is unchanged.
    bool Commit();
    // Removes the new file; the target is unchanged.
    void Abandon();

    const std::string& TargetPath() const { return target_; }

private:
    std::FILE* stream_ = nullptr;
    std::string target_;
    std::string temp_;
    bool failed_ = false;
    int error_ = 0;           // errno of the first failed write
    bool replacing_ = false;  // a regular file stands at the target
};

// Writes bytes to path through an AtomicFile.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, int* error = nullptr);

// A piece of a file name: '/', '\\' and NUL become '_', and a run of dots
// that would read as ".." becomes underscores.
std::string SafeFileNamePart(std::string_view text);
