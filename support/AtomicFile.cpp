#include "support/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace {

std::string Folder(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::atomic<unsigned> tempCounter{0};

// Whether the user may write the file of path (st, from lstat) in place: the
// effective ids pass the access check, and the file has a write bit at all.
// The superuser passes every access check, so for it a file that nobody may
// write (0444) counts as read-only, as text editors treat it.
bool UserMayWrite(const std::string& path, const struct stat& st) {
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        return false;
    }
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace

AtomicFile::~AtomicFile() { Abandon(); }

bool AtomicFile::Open(const std::string& path, int* error) {
    Abandon();
    auto fail = [&](int e) {
        if (error != nullptr) {
            *error = e;
        }
        return false;
    };
    if (path.empty() || path.back() == '/') {
        return fail(EISDIR);
    }
    struct stat st {};
    const bool exists = ::lstat(path.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        return fail(EISDIR);
    }
    // A link standing at the name is replaced like anything else that is no
    // regular file; a regular file is the user's, and replacing it must not
    // do what writing it in place could not.
    const bool replacing = exists && S_ISREG(st.st_mode);
    if (replacing && !UserMayWrite(path, st)) {
        return fail(EACCES);
    }
    const std::string folder = Folder(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = folder + "/.pellora-" + std::to_string(::getpid()) + "-" +
                           std::to_string(tempCounter.fetch_add(1)) + ".tmp";
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return fail(errno);
        }
        // Owner and group first: changing them clears set-id bits, which the
        // mode then puts back.
        if (replacing && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // EPERM: the process may not give the file away; it stays ours.
        }
        std::FILE* stream = nullptr;
        if (!replacing || ::fchmod(fd, st.st_mode & 07777) == 0) {
            stream = ::fdopen(fd, "wb");
        }
        if (stream == nullptr) {
            const int e = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            return fail(e);
        }
        stream_ = stream;
        target_ = path;
        temp_ = std::move(temp);
        failed_ = false;
        error_ = 0;
        replacing_ = replacing;
        return true;
    }
    return fail(EEXIST);
}

bool AtomicFile::Write(const void* data, std::size_t size) {
    if (stream_ == nullptr) {
        return false;
    }
    if (size != 0 && std::fwrite(data, 1, size, stream_) != size && !failed_) {
        failed_ = true;
        error_ = errno != 0 ? errno : EIO;
    }
    return !failed_;
}

bool AtomicFile::Commit() {
    if (stream_ == nullptr) {
        errno = EBADF;
        return false;
    }
    int e = failed_ ? error_ : 0;
    auto step = [&e](bool ok) {
        if (!ok && e == 0) {
            e = errno != 0 ? errno : EIO;
        }
    };
    // A write through Stream() that failed leaves the stream's error mark.
    if (e == 0 && std::ferror(stream_)) {
        e = EIO;
    }
    step(std::fflush(stream_) == 0);
    if (replacing_ && e == 0) {
        step(::fsync(::fileno(stream_)) == 0);
    }
    step(std::fclose(stream_) == 0);
    stream_ = nullptr;
    if (e == 0) {
        step(::rename(temp_.c_str(), target_.c_str()) == 0);
    }
    if (e != 0) {
        ::unlink(temp_.c_str());
    }
    temp_.clear();
    errno = e;
    return e == 0;
}

void AtomicFile::Abandon() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, int* error) {
    AtomicFile file;
    if (!file.Open(path, error)) {
        return false;
    }
    if (!file.Write(bytes) || !file.Commit()) {
        if (error != nullptr) {
            *error = errno != 0 ? errno : EIO;
        }
        return false;
    }
    return true;
}

std::string SafeFileNamePart(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out.push_back(c == '/' || c == '\\' || c == '\0' ? '_' : c);
    }
    // A name part made only of dots ("." or "..") could point out of the
    // folder once separators are put around it; so could ".." anywhere.
    for (std::size_t i = out.find(".."); i != std::string::npos; i = out.find("..", i)) {
        out[i] = '_';
        out[i + 1] = '_';
    }
    if (out == ".") {
        out = "_";
    }
    return out;
}
