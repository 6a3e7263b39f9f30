#include "shell/FileVersionInfo.h"

#include <cstdio>
#include <cstring>
#include <vector>

extern const unsigned char kProgramVersionResource[];
extern const std::size_t kProgramVersionResourceSize;

CFileVersionInfo::CFileVersionInfo() { Reset(); }

CFileVersionInfo::~CFileVersionInfo() = default;

void CFileVersionInfo::Reset() {
    std::memset(static_cast<void*>(&fixedInfo), 0, sizeof(fixedInfo));
    for (std::string* s : {&companyName, &fileDescription, &fileVersion, &internalName, &legalCopyright,
                           &originalFileName, &productName, &productVersion, &comments, &legalTrademarks,
                           &privateBuild, &specialBuild}) {
        s->clear();
    }
}

bool CFileVersionInfo::ReadFromModule(const std::string& module) {
    // Keeps the program's own block linked into every program that can ask
    // for it.
    volatile std::size_t keep = kProgramVersionResourceSize + kProgramVersionResource[0];
    (void)keep;
    std::string path = module.empty() ? platform::OwnModulePath() : module;
    if (path.size() > 260) path.resize(260);
    return ReadFromFile(path);
}

bool CFileVersionInfo::FindLanguage(const std::uint32_t* table, std::uint32_t sizeBytes, std::uint16_t language,
                                    std::uint32_t& entry, bool loose) {
    if (!table) return false;
    const std::uint32_t count = sizeBytes / 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        if ((table[i] & 0xFFFF) == language) {
            entry = table[i];
            return true;
        }
    }
    if (loose) {
        for (std::uint32_t i = 0; i < count; ++i) {
            if ((table[i] & 0xFF) == (language & 0xFF)) {
                entry = table[i];
                return true;
            }
        }
    }
    return false;
}

bool CFileVersionInfo::ReadFromFile(const std::string& path) {
    Reset();
    const std::uint32_t size = platform::GetFileVersionInfoSize(path);
    if (size == 0) return false;
    std::vector<std::uint8_t> buffer(size);
    if (!platform::GetFileVersionInfo(path, size, buffer.data())) return false;

    const void* value = nullptr;
    std::uint32_t length = 0;
    if (platform::VerQueryValue(buffer.data(), "\\", &value, &length) && length == sizeof(fixedInfo)) {
        std::memcpy(static_cast<void*>(&fixedInfo), value, sizeof(fixedInfo));
    }

    if (!platform::VerQueryValue(buffer.data(), "\\VarFileInfo\\Translation", &value, &length) || length < 4) {
        // Without a translation table there is no string table to pick.
        return true;
    }
    std::vector<std::uint32_t> table(length / 4);
    std::memcpy(table.data(), value, table.size() * 4);
    const auto bytes = static_cast<std::uint32_t>(table.size() * 4);
    const std::uint16_t user = platform::GetUserDefaultLangId();
    std::uint32_t entry = table[0];
    if (!FindLanguage(table.data(), bytes, user, entry, true) && !FindLanguage(table.data(), bytes, 0, entry, true) &&
        !FindLanguage(table.data(), bytes, 9, entry, true)) {
        entry = table[0];
    }
    char prefix[64];
    std::snprintf(prefix, sizeof(prefix), "\\StringFileInfo\\%04X%04X\\", entry & 0xFFFF, (entry >> 16) & 0xFFFF);

    static const char* const kKeys[12] = {"CompanyName",     "FileDescription", "FileVersion",  "InternalName",
                                          "LegalCopyright",  "OriginalFileName", "ProductName", "ProductVersion",
                                          "Comments",        "LegalTrademarks", "PrivateBuild", "SpecialBuild"};
    std::string* const targets[12] = {&companyName,     &fileDescription, &fileVersion,  &internalName,
                                      &legalCopyright,  &originalFileName, &productName, &productVersion,
                                      &comments,        &legalTrademarks, &privateBuild, &specialBuild};
    for (int i = 0; i < 12; ++i) {
        if (platform::VerQueryValue(buffer.data(), std::string(prefix) + kKeys[i], &value, &length)) {
            *targets[i] = platform::VersionTextToUtf8(value, length);
        }
    }
    return true;
}

std::uint16_t CFileVersionInfo::GetFileVersionPart(int part) const {
    switch (part) {
        case 0: return static_cast<std::uint16_t>(fixedInfo.fileVersionLS & 0xFFFF);
        case 1: return static_cast<std::uint16_t>(fixedInfo.fileVersionLS >> 16);
        case 2: return static_cast<std::uint16_t>(fixedInfo.fileVersionMS & 0xFFFF);
        case 3: return static_cast<std::uint16_t>(fixedInfo.fileVersionMS >> 16);
        default: return 0;
    }
}

std::uint16_t CFileVersionInfo::GetProductVersionPart(int part) const {
    switch (part) {
        case 0: return static_cast<std::uint16_t>(fixedInfo.productVersionLS & 0xFFFF);
        case 1: return static_cast<std::uint16_t>(fixedInfo.productVersionLS >> 16);
        case 2: return static_cast<std::uint16_t>(fixedInfo.productVersionMS & 0xFFFF);
        case 3: return static_cast<std::uint16_t>(fixedInfo.productVersionMS >> 16);
        default: return 0;
    }
}

std::int64_t CFileVersionInfo::GetFileDate() const {
    const std::uint64_t fileTime = (static_cast<std::uint64_t>(fixedInfo.fileDateMS) << 32) | fixedInfo.fileDateLS;
    constexpr std::int64_t kEpochDifference = 11644473600LL;  // 1601 to 1970 in seconds
    return static_cast<std::int64_t>(fileTime / 10000000ULL) - kEpochDifference;
}
