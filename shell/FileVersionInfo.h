// Reads the fixed version block and the twelve version strings of a program
// file.
#pragma once

#include <cstdint>
#include <string>

#include "platform/VersionResource.h"

class CFileVersionInfo {
public:
    CFileVersionInfo();
    virtual ~CFileVersionInfo();
    virtual void Reset();

    // path empty = this program itself.
    bool ReadFromModule(const std::string& module = std::string());
    bool ReadFromFile(const std::string& path);
    static bool FindLanguage(const std::uint32_t* table, std::uint32_t sizeBytes, std::uint16_t language,
                             std::uint32_t& entry, bool loose);

    std::uint16_t GetFileVersionPart(int part) const;
    std::uint16_t GetProductVersionPart(int part) const;
    std::uint32_t GetFileFlagsMask() const { return fixedInfo.fileFlagsMask; }
    std::uint32_t GetFileFlags() const { return fixedInfo.fileFlags; }
    std::uint32_t GetFileOs() const { return fixedInfo.fileOS; }
    std::uint32_t GetFileType() const { return fixedInfo.fileType; }
    std::uint32_t GetFileSubtype() const { return fixedInfo.fileSubtype; }
    // Seconds since 1970 of the file date (a file time in 100 ns steps since 1601).
    std::int64_t GetFileDate() const;

    std::string GetCompanyName() const { return companyName; }
    std::string GetFileDescription() const { return fileDescription; }
    std::string GetFileVersion() const { return fileVersion; }
    std::string GetInternalName() const { return internalName; }
    std::string GetLegalCopyright() const { return legalCopyright; }
    std::string GetOriginalFileName() const { return originalFileName; }
    std::string GetProductName() const { return productName; }
    std::string GetProductVersion() const { return productVersion; }
    std::string GetComments() const { return comments; }
    std::string GetLegalTrademarks() const { return legalTrademarks; }
    std::string GetPrivateBuild() const { return privateBuild; }
    std::string GetSpecialBuild() const { return specialBuild; }

    const platform::FixedFileInfo& FixedInfo() const { return fixedInfo; }

private:
    platform::FixedFileInfo fixedInfo;
    std::string companyName;
    std::string fileDescription;
    std::string fileVersion;
    std::string internalName;
    std::string legalCopyright;
    std::string originalFileName;
    std::string productName;
    std::string productVersion;
    std::string comments;
    std::string legalTrademarks;
    std::string privateBuild;
    std::string specialBuild;
};
