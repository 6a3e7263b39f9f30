#include "device/UpdateImage.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include <zlib.h>

#include "device/ModelTable.h"
#include "support/AtomicFile.h"

namespace update {

namespace fs = std::filesystem;

namespace {

// A header field: its bytes up to the first NUL.
std::string FieldText(std::span<const std::uint8_t> file, std::size_t offset, std::size_t width) {
    std::string text;
    for (std::size_t i = 0; i < width; ++i) {
        const auto c = static_cast<char>(file[offset + i]);
        if (c == '\0') {
            break;
        }
        text.push_back(c);
    }
    return text;
}

// The text up to its first NUL, at most `width` characters: what a fixed
// char field compared with strncmp looks at.
std::string_view Cut(std::string_view text, std::size_t width) {
    const auto nul = text.find('\0');
    if (nul != std::string_view::npos) {
        text = text.substr(0, nul);
    }
    return text.substr(0, std::min(width, text.size()));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, std::min(text.size(), prefix.size())) == prefix;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Value of up to `count` digits from position `at`; stops at the first
// non-digit or at the end of the text.
int DigitsAt(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count && i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Both paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b) {
    if (a == b) {
        return true;
    }
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

const char* ImageStatusName(ImageStatus status) {
    switch (status) {
        case ImageStatus::Ok: return "ok";
        case ImageStatus::PathTooLong: return "path too long";
        case ImageStatus::CannotOpen: return "cannot open";
        case ImageStatus::ReadFailed: return "read failed";
        case ImageStatus::TooShort: return "too short";
        case ImageStatus::EmptyPayload: return "empty payload";
        case ImageStatus::TooLarge: return "too large";
        case ImageStatus::CrcMismatch: return "CRC mismatch";
        case ImageStatus::SameFile: return "same file";
        case ImageStatus::NameTooShort: return "name too short";
        case ImageStatus::NoFolder: return "no folder";
        case ImageStatus::WriteFailed: return "write failed";
    }
    return "?";
}

// ---------------------------------------------------------------------------
// CRC-32: zlib's crc32 is the standard CRC-32 (preset and final inversion
// inside), so the register form inverts around it.

std::uint32_t Crc32Update(std::uint32_t reg, std::uint32_t length, const std::uint8_t* data) {
    if (length == 0 || data == nullptr) {
        return reg;  // zlib answers its own initial value for a null buffer
    }
    const uLong standard = crc32_z(static_cast<uLong>(~reg & 0xFFFFFFFFu), data, length);
    return ~static_cast<std::uint32_t>(standard);
}

std::uint32_t Crc32(std::uint32_t length, const std::uint8_t* data) {
    return ~Crc32Update(0xFFFFFFFFu, length, data);
}

std::uint32_t Crc32(std::span<const std::uint8_t> data) {
    // Payloads are bounded far below 4 GiB; longer spans are fed in pieces.
    std::uint32_t reg = 0xFFFFFFFFu;
    while (!data.empty()) {
        const std::size_t piece = std::min<std::size_t>(data.size(), 0x40000000u);
        reg = Crc32Update(reg, static_cast<std::uint32_t>(piece), data.data());
        data = data.subspan(piece);
    }
    return ~reg;
}

// ---------------------------------------------------------------------------
// Reading and extracting.

ImageStatus ParseUpdateImage(std::span<const std::uint8_t> file, ImageMode mode, UpdateImage& image) {
    const std::size_t start = mode == ImageMode::WithHeader ? kHeaderSize : 0;
    if (file.size() < start + kCrcSize) {
        return ImageStatus::TooShort;
    }
    const std::size_t length = file.size() - start - kCrcSize;
    if (length == 0) {
        return ImageStatus::EmptyPayload;
    }
    if (length > kMaxPayloadSize) {
        return ImageStatus::TooLarge;
    }
    const std::size_t at = file.size() - kCrcSize;
    const std::uint32_t stored = static_cast<std::uint32_t>(file[at]) |
                                 static_cast<std::uint32_t>(file[at + 1]) << 8 |
                                 static_cast<std::uint32_t>(file[at + 2]) << 16 |
                                 static_cast<std::uint32_t>(file[at + 3]) << 24;
    const auto payload = file.subspan(start, length);
    if (Crc32(payload) != stored) {
        return ImageStatus::CrcMismatch;
    }

    UpdateImage parsed;
    parsed.hasHeader = mode == ImageMode::WithHeader;
    if (parsed.hasHeader) {
        parsed.productName = FieldText(file, kProductNameOffset, kProductNameSize);
        parsed.firmwareVersion = FieldText(file, kFirmwareVersionOffset, kFirmwareVersionSize);
        for (std::size_t i = 0; i < kEntryCount; ++i) {
            parsed.hardwareVersions[i] = FieldText(file, kHardwareVersionsOffset + i * kEntrySize, kEntrySize);
            parsed.extraFields[i] = FieldText(file, kExtraFieldsOffset + i * kEntrySize, kEntrySize);
        }
    }
    parsed.payload.assign(payload.begin(), payload.end());
    parsed.crc = stored;
    image = std::move(parsed);
    return ImageStatus::Ok;
}

ImageStatus LoadUpdateFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (path.size() > kMaxPathLength) {
        return ImageStatus::PathTooLong;
    }
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(path, ec)) {
        return ImageStatus::CannotOpen;
    }
    std::unique_ptr<std::FILE, FileCloser> in(std::fopen(path.c_str(), "rb"));
    if (!in) {
        return ImageStatus::CannotOpen;
    }
    if (std::fseek(in.get(), 0, SEEK_END) != 0) {
        return ImageStatus::ReadFailed;
    }
    const long size = std::ftell(in.get());
    if (size < 0 || std::fseek(in.get(), 0, SEEK_SET) != 0) {
        return ImageStatus::ReadFailed;
    }
    if (static_cast<unsigned long>(size) > kMaxFileSize) {
        return ImageStatus::TooLarge;
    }
    bytes.resize(static_cast<std::size_t>(size));
    if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), in.get()) != bytes.size()) {
        bytes.clear();
        return ImageStatus::ReadFailed;
    }
    return ImageStatus::Ok;
}

ImageStatus ReadUpdateImage(const std::string& path, ImageMode mode, UpdateImage& image) {
    std::vector<std::uint8_t> bytes;
    const ImageStatus loaded = LoadUpdateFile(path, bytes);
    if (loaded != ImageStatus::Ok) {
        return loaded;
    }
    return ParseUpdateImage(bytes, mode, image);
}

void RemovePayloadFile(const std::string& tempPayloadPath) {
    if (tempPayloadPath.empty()) {
        return;
    }
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(tempPayloadPath, ec);
    if (ec || !(fs::is_regular_file(st) || fs::is_symlink(st))) {
        return;
    }
    fs::remove(tempPayloadPath, ec);
}

ImageStatus WritePayloadFile(const std::string& tempPayloadPath, std::span<const std::uint8_t> payload) {
    if (tempPayloadPath.empty() || tempPayloadPath.size() > kMaxPathLength) {
        return ImageStatus::PathTooLong;
    }
    // A new file beside the name, renamed over it: a link standing there is
    // replaced, never written through; a folder there is refused.
    if (!WriteFileAtomically(tempPayloadPath,
                             std::string_view(reinterpret_cast<const char*>(payload.data()), payload.size()))) {
        RemovePayloadFile(tempPayloadPath);
        return ImageStatus::WriteFailed;
    }
    return ImageStatus::Ok;
}

ImageStatus ExtractFirmwarePayload(ImageMode mode, const std::string& updateFilePath,
                                   const std::string& tempPayloadPath, UpdateImage* image) {
    if (updateFilePath.size() > kMaxPathLength || tempPayloadPath.size() > kMaxPathLength) {
        return ImageStatus::PathTooLong;
    }
    if (SameFile(updateFilePath, tempPayloadPath)) {
        return ImageStatus::SameFile;
    }
    UpdateImage parsed;
    ImageStatus status = ReadUpdateImage(updateFilePath, mode, parsed);
    if (status == ImageStatus::Ok) {
        status = WritePayloadFile(tempPayloadPath, parsed.payload);
    }
    if (status != ImageStatus::Ok) {
        RemovePayloadFile(tempPayloadPath);
        return status;
    }
    if (image != nullptr) {
        *image = std::move(parsed);
    }
    return ImageStatus::Ok;
}

// ---------------------------------------------------------------------------
// Paths and names.

bool PassesMakerCode(std::string_view path) {
    const std::size_t n = path.size();
    if (n < kMakerCodeMinPath) {
        return false;
    }
    for (std::size_t i = 0; i < kMakerCode.size(); ++i) {
        if (path[n - 7 + i] == kMakerCode[i]) {
            return true;
        }
    }
    return false;
}

bool NameCarriesModelDigits(std::string_view path) {
    const std::size_t n = path.size();
    return n >= kModelNameMinPath && path.substr(n - 20, kModelDigits.size()) == kModelDigits;
}

void HeaderFromFileName(std::string_view path, UpdateImage& image) {
    image.productName.clear();
    image.firmwareVersion.clear();
    for (std::size_t i = 0; i < kEntryCount; ++i) {
        image.hardwareVersions[i].clear();
        image.extraFields[i].clear();
    }
    if (!NameCarriesModelDigits(path)) {
        return;
    }
    const std::size_t n = path.size();
    image.productName = "L-731";
    image.firmwareVersion = "V" + std::string(path.substr(n - 12, 4));
    image.hardwareVersions[0] = "V01";
    image.hardwareVersions[1] = "V02";
}

bool FolderOf(std::string_view path, std::string& folder) {
    const auto slash = path.rfind(kPathSeparator);
    if (slash == std::string_view::npos) {
        return false;
    }
    folder.assign(path.substr(0, slash));
    return true;
}

std::string TempPayloadPathFor(std::string_view folder) {
    std::string path(folder);
    path.push_back(kPathSeparator);
    path.append(kTempPayloadName);
    return path;
}

// ---------------------------------------------------------------------------
// Header against device.

std::string NormaliseProductName(std::string_view productName) {
    std::string name(productName);
    for (const models::Model& model : models::AllModels()) {
        for (const char* alias : model.fileProductNames) {
            if (alias && StartsWith(name, alias)) {
                name = model.name;
                break;
            }
        }
    }
    return name;
}

int FirmwareVersionValue(std::string_view firmwareVersion) {
    return DigitsAt(firmwareVersion, 1, 1) * 100 + DigitsAt(firmwareVersion, 3, 2);
}

int DeviceFirmwareValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        value = std::min<long long>(value * 10 + (text[i] - '0'), static_cast<long long>(INT_MAX) + 1);
    }
    if (negative) {
        value = -value;
    }
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

DeviceFields ForceUpdateDevice() {
    DeviceFields device;
    device.deviceTypeName = std::string(kForceProductName.substr(0, kProductNameSize));
    device.deviceFirmwareText = std::string(kForceFirmwareText);
    device.deviceHardwareVersion = std::string(kForceHardwareVersion);
    device.forceUpdateMode = 1;
    return device;
}

Verdict JudgeUpdateImage(const UpdateImage& header, const DeviceFields& device) {
    Verdict verdict;
    const std::string_view product = Cut(header.productName, kProductNameSize);
    if (product.empty() || Cut(device.deviceTypeName, kProductNameSize) != product) {
        verdict.stringId = kStringProductMismatch;
        return verdict;
    }
    const std::string_view hardware = Cut(device.deviceHardwareVersion, kEntrySize);
    const bool listed = !hardware.empty() &&
                        std::any_of(header.hardwareVersions.begin(), header.hardwareVersions.end(),
                                    [&](const std::string& entry) { return Cut(entry, kEntrySize) == hardware; });
    if (!listed) {
        verdict.stringId = kStringHardwareMismatch;
        return verdict;
    }
    const int file = FirmwareVersionValue(header.firmwareVersion);
    const int on_device = DeviceFirmwareValue(device.deviceFirmwareText);
    if (file > on_device) {
        verdict.stringId = device.forceUpdateMode == 1 ? kStringForceNewer : kStringNewer;
    } else if (file == on_device) {
        verdict.stringId = kStringEqual;
    } else {
        verdict.stringId = kStringOlder;
    }
    verdict.passed = true;
    return verdict;
}

// ---------------------------------------------------------------------------
// The whole check of a chosen file.

namespace {

void Refuse(UpdateFileCheck& check, ImageStatus status) {
    check.outcome = CheckOutcome::Refused;
    check.status = status;
    check.messageStringId = kStringBadFile;
    check.messageCaptionStringId = kStringTitle;
    check.executeEnabled = false;
}

void FillEdits(UpdateFileCheck& check, const UpdateImage& header, bool headerless) {
    auto set = [&](int id, const std::string& text) {
        HeaderEdit& edit = check.edits[static_cast<std::size_t>(id - kEditFirmwareVersion)];
        edit.text = text;
        edit.written = true;
    };
    set(kEditProductName, header.productName);
    set(kEditFirmwareVersion, header.firmwareVersion);
    const std::size_t hardwareShown = headerless ? 2 : kEntryCount;
    for (std::size_t i = 0; i < hardwareShown; ++i) {
        set(kEditHardwareFirst + static_cast<int>(i), header.hardwareVersions[i]);
    }
    if (!headerless) {
        for (std::size_t i = 0; i < kEntryCount; ++i) {
            set(kEditExtraFirst + static_cast<int>(i), header.extraFields[i]);
        }
    }
}

}  // namespace

UpdateFileCheck CheckUpdateFile(const std::string& path, const DeviceFields& device) {
    UpdateFileCheck check;
    for (std::size_t i = 0; i < kHeaderEditCount; ++i) {
        check.edits[i].controlId = kEditFirmwareVersion + static_cast<int>(i);
    }
    if (path.empty()) {
        return check;  // Ignored
    }
    if (path.size() > kMaxPathLength) {
        Refuse(check, ImageStatus::PathTooLong);
        return check;
    }
    if (path.size() < kMakerCodeMinPath) {
        Refuse(check, ImageStatus::NameTooShort);
        return check;
    }
    if (!PassesMakerCode(path)) {
        check.outcome = CheckOutcome::NotMakerFile;
        check.messageStringId = kStringNotMakerFile;
        check.messageCaption = std::string(kNotMakerFileCaption);
        return check;
    }
    std::string folder;
    if (!FolderOf(path, folder)) {
        Refuse(check, ImageStatus::NoFolder);
        return check;
    }
    const std::string tempPath = TempPayloadPathFor(folder);
    if (tempPath.size() > kMaxPathLength) {
        Refuse(check, ImageStatus::PathTooLong);
        return check;
    }
    check.updateFileFolder = folder;
    check.tempPayloadPath = tempPath;
    if (SameFile(path, tempPath)) {
        // Writing the payload would destroy the file being checked.
        Refuse(check, ImageStatus::SameFile);
        return check;
    }

    std::vector<std::uint8_t> bytes;
    ImageStatus status = LoadUpdateFile(path, bytes);
    UpdateImage image;
    if (status == ImageStatus::Ok) {
        status = ParseUpdateImage(bytes, ImageMode::WithHeader, image);
        if (status != ImageStatus::Ok) {
            const ImageStatus headerless = ParseUpdateImage(bytes, ImageMode::Headerless, image);
            if (headerless == ImageStatus::Ok) {
                status = path.size() < kModelNameMinPath ? ImageStatus::NameTooShort : ImageStatus::Ok;
            }
        }
    }
    bytes.clear();
    bytes.shrink_to_fit();
    if (status != ImageStatus::Ok) {
        RemovePayloadFile(tempPath);
        Refuse(check, status);
        return check;
    }
    check.payloadExtracted = true;
    check.headerless = !image.hasHeader;
    if (check.headerless) {
        HeaderFromFileName(path, image);
    }
    image.productName = NormaliseProductName(image.productName);

    const Verdict verdict = JudgeUpdateImage(image, device);
    if (verdict.passed) {
        const ImageStatus written = WritePayloadFile(tempPath, image.payload);
        if (written != ImageStatus::Ok) {
            Refuse(check, written);
            return check;
        }
        check.tempPayloadWritten = true;
        check.outcome = CheckOutcome::Accepted;
        check.executeEnabled = true;
    } else {
        RemovePayloadFile(tempPath);
        check.outcome = CheckOutcome::Rejected;
    }
    check.verdictStringId = verdict.stringId;
    image.payload.clear();
    image.payload.shrink_to_fit();
    FillEdits(check, image, check.headerless);
    check.header = std::move(image);
    return check;
}

}  // namespace update
