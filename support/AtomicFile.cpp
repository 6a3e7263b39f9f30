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
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return fail(EISDIR);
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
        stream_ = ::fdopen(fd, "wb");
        if (stream_ == nullptr) {
            const int e = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            return fail(e);
        }
        target_ = path;
        temp_ = std::move(temp);
        failed_ = false;
        return true;
    }
    return fail(EEXIST);
}

bool AtomicFile::Write(const void* data, std::size_t size) {
    if (stream_ == nullptr) {
        return false;
    }
    if (size != 0 && std::fwrite(data, 1, size, stream_) != size) {
        failed_ = true;
    }
    return !failed_;
}

bool AtomicFile::Commit() {
    if (stream_ == nullptr) {
        return false;
    }
    bool ok = !failed_ && std::fflush(stream_) == 0;
    ok = std::fclose(stream_) == 0 && ok;
    stream_ = nullptr;
    ok = ok && ::rename(temp_.c_str(), target_.c_str()) == 0;
    if (!ok) {
        ::unlink(temp_.c_str());
    }
    temp_.clear();
    return ok;
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
            *error = EIO;
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
