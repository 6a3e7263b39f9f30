// Runs a command line for the tests that take standard tools (exiftool,
// exiv2, xmllint, iconv) as oracles.
#pragma once

#include <string>
#include <utility>

// Exit status and output (stdout and stderr together) of a shell command.
std::pair<int, std::string> RunCommand(const std::string& command);
// True when the tool is on the PATH.
bool HaveTool(const std::string& tool);
// The path in single quotes for the shell.
std::string ShellQuote(const std::string& text);
