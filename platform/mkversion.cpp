// Build-time tool: writes a C++ source that embeds the program's version
// block. Arguments: output file, product version a.b.c.d, file version.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/VersionResource.h"

namespace {
bool ParseVersion(const std::string& text, unsigned v[4]) {
    return std::sscanf(text.c_str(), "%u.%u.%u.%u", &v[0], &v[1], &v[2], &v[3]) == 4;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.cpp a.b.c.d\n", argv[0]);
        return 2;
    }
    unsigned v[4];
    if (!ParseVersion(argv[2], v)) {
        std::fprintf(stderr, "bad version: %s\n", argv[2]);
        return 2;
    }
    platform::VersionSpec layout;
    layout.fixed.fileVersionMS = layout.fixed.productVersionMS = (v[0] << 16) | v[1];
    layout.fixed.fileVersionLS = layout.fixed.productVersionLS = (v[2] << 16) | v[3];
    std::ostringstream commaVersion;
    commaVersion << v[0] << ", " << v[1] << ", " << v[2] << ", " << v[3];
    layout.tables.push_back({"041104B0",
                           {{"CompanyName", "Pellora"},
                            {"FileDescription", "Pellora Update"},
                            {"FileVersion", commaVersion.str()},
                            {"InternalName", "OrvikUtility"},
                            {"LegalCopyright", "Copyright (C) Pellora"},
                            {"OriginalFilename", "pellora-update"},
                            {"ProductName", "Pellora Update"},
                            {"ProductVersion", commaVersion.str()}}});
    layout.translations = {0x04B00411};
    const auto bytes = platform::BuildEmbeddedVersion(layout);
    std::ofstream out(argv[1]);
    out << "// Generated at build time: the program's version block.\n"
        << "#include <cstddef>\n\n"
        << "extern const unsigned char kProgramVersionResource[];\n"
        << "extern const std::size_t kProgramVersionResourceSize;\n"
        << "__attribute__((used)) const unsigned char kProgramVersionResource[] = {";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0) out << "\n    ";
        out << static_cast<unsigned>(bytes[i]) << ",";
    }
    out << "\n};\nconst std::size_t kProgramVersionResourceSize = sizeof(kProgramVersionResource);\n";
    return out ? 0 : 1;
}
