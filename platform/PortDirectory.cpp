#include "platform/PortDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "platform/ComPortName.h"
#include "platform/PortFiles.h"
#include "platform/Trace.h"

namespace platform {
namespace {

using portfiles::CleanText;
using portfiles::Exists;
using portfiles::ReadLink;
using portfiles::ReadSmallFile;

// A directory we may take entries from: ours, and nobody else may write it.
bool IsTrustedDirectory(const std::string& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return false;
    }
    if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        TraceF("Port directory %s ignored: not private to this user\n", dir.c_str());
        return false;
    }
    return true;
}

std::string EntryPath(const std::string& dir, int number) { return dir + "/" + ComPort::FromNumber(number)->Name(); }

}  // namespace

std::string DefaultPortDirectory() {
    if (const char* dir = std::getenv("PELLORA_PORT_DIR"); dir && *dir) {
        return dir;
    }
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) {
        return std::string(run) + "/pellora/ports";
    }
    return "/tmp/pellora-" + std::to_string(::geteuid()) + "/ports";
}

bool EnsurePortDirectory(const std::string& dir, std::string* error) {
    if (dir.empty()) {
        if (error) *error = "no port directory";
        return false;
    }
    // Create every missing component, private to the user.
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            const std::string part = dir.substr(0, pos);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                if (error) *error = "cannot create " + part + ": " + std::strerror(errno);
                return false;
            }
        }
    }
    if (!IsTrustedDirectory(dir)) {
        if (error) *error = dir + " is not a private directory of this user";
        return false;
    }
    return true;
}

std::vector<PortDirectoryEntry> ReadPortDirectory(const std::string& dir, bool* readable) {
    std::vector<PortDirectoryEntry> entries;
    if (readable) {
        *readable = false;
    }
    if (dir.empty() || !IsTrustedDirectory(dir)) {
        return entries;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), &::closedir);
    if (!d) {
        return entries;
    }
    if (readable) {
        *readable = true;
    }
    while (dirent* ent = ::readdir(d.get())) {
        const std::string name = ent->d_name;
        const std::optional<ComPort> port = ComPort::Parse(name);
        if (!port || name != port->Name()) {
            continue;  // only the plain "COMn" names an entry
        }
        const int number = port->Number();
        const std::string link = dir + "/" + name;
        struct stat st {};
        if (::lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            continue;
        }
        std::string target = ReadLink(link);
        if (target.empty()) {
            continue;
        }
        if (target[0] != '/') {
            target = dir + "/" + target;
        }
        if (!Exists(target)) {
            continue;  // left behind by a device that is gone
        }
        PortDirectoryEntry entry;
        entry.number = number;
        entry.devicePath = target;
        const std::string nameFile = link + ".name";
        if (::lstat(nameFile.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            entry.hasName = true;
            entry.driverText = CleanText(ReadSmallFile(nameFile));
        }
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(),
              [](const PortDirectoryEntry& a, const PortDirectoryEntry& b) { return a.number < b.number; });
    return entries;
}

bool RegisterPortEntry(const std::string& dir, int number, const std::string& devicePath,
                       const std::string& driverText, std::string* error) {
    if (!ComPort::FromNumber(number)) {
        if (error) *error = "port number out of range: " + std::to_string(number);
        return false;
    }
    if (devicePath.empty() || devicePath[0] != '/') {
        if (error) *error = "device path must be absolute: " + devicePath;
        return false;
    }
    if (!EnsurePortDirectory(dir, error)) {
        return false;
    }
    const std::string link = EntryPath(dir, number);
    bool made = false;
    for (int attempt = 0; attempt < 2 && !made; ++attempt) {
        if (::symlink(devicePath.c_str(), link.c_str()) == 0) {
            made = true;
            break;
        }
        if (errno != EEXIST) {
            if (error) *error = "cannot create " + link + ": " + std::strerror(errno);
            return false;
        }
        struct stat st {};
        if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            if (error) *error = link + " is not a port entry";
            return false;
        }
        if (Exists(link)) {
            if (error) *error = ComPort::FromNumber(number)->Name() + " is taken by " + ReadLink(link);
            return false;
        }
        ::unlink(link.c_str());  // stale: its device is gone
    }
    if (!made) {
        if (error) *error = "cannot create " + link;
        return false;
    }
    const std::string nameFile = link + ".name";
    if (driverText.empty()) {
        ::unlink(nameFile.c_str());
        return true;
    }
    std::string temp = nameFile + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    bool ok = fd >= 0;
    if (ok) {
        const std::string text = CleanText(driverText) + "\n";
        ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ok = (::close(fd) == 0) && ok;
        ok = ok && ::rename(temp.c_str(), nameFile.c_str()) == 0;
        if (!ok) {
            ::unlink(temp.c_str());
        }
    }
    if (!ok) {
        if (error) *error = "cannot write " + nameFile;
        ::unlink(link.c_str());
        return false;
    }
    return true;
}

void RemovePortEntry(const std::string& dir, int number, const std::string& devicePath) {
    if (!ComPort::FromNumber(number)) {
        return;
    }
    const std::string link = EntryPath(dir, number);
    if (ReadLink(link) != devicePath) {
        return;  // someone else's entry now
    }
    // The name goes first: while the link stands nobody else can claim the number.
    ::unlink((link + ".name").c_str());
    ::unlink(link.c_str());
}

}  // namespace platform
