#include "support/SourceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

int OpenSourceFile(const std::string& path, int* error) {
    int code = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0) {
        code = errno;
    } else if (::fstat(fd, &info) != 0) {
        code = errno;
    } else if (!S_ISREG(info.st_mode)) {
        code = S_ISDIR(info.st_mode) ? EISDIR : kNotRegularFile;
    } else {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
            code = errno;
        }
    }
    if (code == 0) {
        return fd;
    }
    if (fd >= 0) {
        ::close(fd);
    }
    if (error != nullptr) {
        *error = code;
    }
    errno = code == kNotRegularFile ? EINVAL : code;
    return -1;
}

std::FILE* OpenSourceStream(const std::string& path, int* error) {
    const int fd = OpenSourceFile(path, error);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* stream = ::fdopen(fd, "rb");
    if (stream == nullptr) {
        const int code = errno;
        ::close(fd);
        if (error != nullptr) {
            *error = code;
        }
        errno = code;
    }
    return stream;
}

std::string SourceErrorText(int error) {
    if (error == kNotRegularFile) {
        return "not a regular file";
    }
    return std::strerror(error);
}
