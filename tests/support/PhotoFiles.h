// Files of the photo tests: whole files in and out, reference photos from
// tests/data/photos with another capture time, and the command lines of the
// standard tools that check them (exiftool, exiv2, xmllint, iconv).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

std::vector<std::uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
// tests/data/photos/<name>.
std::string PhotoData(const std::string& name);
// The reference photo (a built-*.jpg, whose capture time is
// "2008:06:07 09:05:03") with the capture time "YYYY:MM:DD HH:MM:SS".
std::vector<std::uint8_t> PhotoWithTime(const std::string& name, const std::string& time);

// Exit status and output (stdout and stderr together) of a shell command.
std::pair<int, std::string> RunCommand(const std::string& command);
bool HaveTool(const std::string& tool);
std::string ShellQuote(const std::string& text);
