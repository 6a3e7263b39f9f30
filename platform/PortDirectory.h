// The port directory: serial ports named by hand.
//
// The directory holds entries "COMn", each a symbolic link to a tty device,
// and optional "COMn.name" files with the friendly driver text. A user names a
// port by hand this way, and the device simulator shows its pseudo-terminal as
// a USB bridge. Entries are taken only from a directory that is the user's own
// and that nobody else may write to; an entry whose device is gone is skipped,
// and replaced when its number is registered again.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The port directory in force: $PELLORA_PORT_DIR, else
// $XDG_RUNTIME_DIR/pellora/ports, else /tmp/pellora-<uid>/ports.
std::string DefaultPortDirectory();
// Creates the directory (and missing parents) private to the user.
bool EnsurePortDirectory(const std::string& dir, std::string* error);

struct PortDirectoryEntry {
    int number = 0;
    std::string devicePath;  // the link's target, made absolute
    std::string driverText;  // contents of COMn.name; empty without one
    bool hasName = false;
};

// The live entries of a directory, by number. Entries whose target is gone are
// left out, and so is a directory that is not the user's own or that others
// may write to.
// When readable is given, it tells whether the directory could be read at all
// (an empty one could; a missing or untrusted one could not).
std::vector<PortDirectoryEntry> ReadPortDirectory(const std::string& dir, bool* readable = nullptr);

// Makes the entry COMn -> devicePath, with COMn.name when driverText is not
// empty. An entry left behind by a device that is gone is replaced; a live one
// is not touched and the call fails.
bool RegisterPortEntry(const std::string& dir, int number, const std::string& devicePath,
                       const std::string& driverText, std::string* error);
// Removes COMn and COMn.name, but only while COMn still points at devicePath.
void RemovePortEntry(const std::string& dir, int number, const std::string& devicePath);

}  // namespace platform
