// Small file reads shared by the port directory and the sysfs scan. Texts that
// come from devices or users (a USB product string, a COMn.name file) are
// cleaned before they are shown: first line only, control characters dropped,
// blanks trimmed, at most 126 bytes cut at a character boundary.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::portfiles {

bool StartsWith(std::string_view s, std::string_view prefix);
// Printable text of a device-supplied or user-supplied name.
std::string CleanText(std::string_view raw);
// Up to limit bytes of a file; empty when it cannot be read.
std::string ReadSmallFile(const std::string& path, std::size_t limit = 512);
bool Exists(const std::string& path);
// The target of a symbolic link; empty when it is none.
std::string ReadLink(const std::string& path);
// The path with every link resolved; the path itself when that fails.
std::string Canonical(const std::string& path);

}  // namespace platform::portfiles
