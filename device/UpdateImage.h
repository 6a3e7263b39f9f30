// The update image and the acceptance of an update file.
//
// An update file ("*.zep", and the firmware page's ".bin" images) is a 65-byte
// header, the payload that goes into the device, and the CRC-32 of the payload
// as an unsigned 32-bit little-endian number in the last 4 bytes:
//
//   offset  size  field
//   0       10    productName        ASCII, NUL-padded
//   10      5     firmwareVersion    "Vx.yy", value x * 100 + yy
//   15      25    hardwareVersions   five 5-byte texts such as "V01"
//   40      25    extraFields        five 5-byte texts, never checked
//   65      n     payload
//   65 + n  4     CRC-32 of the payload (not of the header)
//
// The headerless form is the payload from offset 0 followed by the same CRC;
// its header texts come from the file's name.
//
// Everything here is plain C++ shared by the update page and the firmware page.
// The update page stays a thin caller:
//
//   OnButtonSelectFile:
//     show the chooser (kChooserDefaultExtension, kChooserFileName,
//     kChooserFilter); on cancel stop; show the path in edit 1198; an empty path
//     stops; then
//       UpdateFileCheck r = update::CheckUpdateFile(path, device);
//     and, unless r.outcome is Ignored, apply r:
//       - verdict line 1228 := r.verdictStringId's text (empty for 0);
//       - the twelve edits 1212..1223 := r.edits[i].text (see HeaderEdit);
//       - Execute (1224) enabled exactly when r.executeEnabled;
//       - when r.messageStringId != 0, a message box with that text, the
//         caption r.messageCaption (or the string r.messageCaptionStringId when
//         that text is empty) and the error icon;
//       - keep r.updateFileFolder and r.tempPayloadPath for Execute.
//   OnButtonForceUpdate:
//     forceUpdateMode := 1; the device fields := ForceUpdateDevice(); Connect
//     disabled, Select File enabled, Execute disabled (an earlier verdict was
//     for other device fields: a file must pass again under the new ones);
//     warning line 1237 := kForceWarningStringId.
//
// Nothing here keeps state between calls and nothing throws.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace update {

// ---------------------------------------------------------------------------
// Container layout and limits.

inline constexpr std::size_t kHeaderSize = 65;
inline constexpr std::size_t kCrcSize = 4;
inline constexpr std::size_t kProductNameSize = 10;
inline constexpr std::size_t kFirmwareVersionSize = 5;
inline constexpr std::size_t kEntrySize = 5;  // each hardware and extra entry
inline constexpr std::size_t kEntryCount = 5;
inline constexpr std::size_t kProductNameOffset = 0;
inline constexpr std::size_t kFirmwareVersionOffset = 10;
inline constexpr std::size_t kHardwareVersionsOffset = 15;
inline constexpr std::size_t kExtraFieldsOffset = 40;

// The largest payload accepted (the size of the payload buffer).
inline constexpr std::size_t kMaxPayloadSize = 819200;
// The longest path kept (the path fields hold 256 characters with the NUL).
inline constexpr std::size_t kMaxPathLength = 255;
// The largest file worth reading: a header, the largest payload and the CRC.
inline constexpr std::size_t kMaxFileSize = kHeaderSize + kMaxPayloadSize + kCrcSize;

// The verified payload goes to this file in the update file's folder.
inline constexpr std::string_view kTempPayloadName = "Orvik_FW_Temp.bin";
inline constexpr char kPathSeparator = '/';

enum class ImageMode {
    WithHeader = 0,
    Headerless = 1,
};

// One update image as read from a file. Header texts are the field bytes up to
// the first NUL (a field that fills its width keeps all of them); they are
// empty for a headerless image until they are taken from the file name.
struct UpdateImage {
    std::string productName;
    std::string firmwareVersion;
    std::array<std::string, kEntryCount> hardwareVersions;
    std::array<std::string, kEntryCount> extraFields;
    std::vector<std::uint8_t> payload;
    std::uint32_t crc = 0;  // as stored in the file
    bool hasHeader = false;
};

// Why reading, verifying or writing an image failed.
enum class ImageStatus {
    Ok,
    PathTooLong,   // a path longer than kMaxPathLength
    CannotOpen,    // missing, not a regular file, or not readable
    ReadFailed,    // the file could not be read whole
    TooShort,      // shorter than the header (if any) and the CRC
    EmptyPayload,  // header and CRC but no payload
    TooLarge,      // the payload exceeds kMaxPayloadSize
    CrcMismatch,
    SameFile,      // the temporary payload would overwrite the update file
    WriteFailed,   // the temporary payload could not be written completely
    NameTooShort,  // the path is too short for the name rules it needs
    NoFolder,      // the path has no folder part
};

const char* ImageStatusName(ImageStatus status);

// ---------------------------------------------------------------------------
// CRC-32.

// The standard CRC-32 (reflected polynomial 0xEDB88320, register preset to
// 0xFFFFFFFF, result inverted). Crc32(9, "123456789") is 0xCBF43926.
std::uint32_t Crc32(std::uint32_t length, const std::uint8_t* data);
std::uint32_t Crc32(std::span<const std::uint8_t> data);

// The register form used by the serial update: the same polynomial, the
// register preset by the caller and no final inversion. With the preset
// 0xFFFFFFFF the result is the complement of Crc32; feeding the result back in
// continues the computation over following bytes.
std::uint32_t Crc32Update(std::uint32_t reg, std::uint32_t length, const std::uint8_t* data);

// ---------------------------------------------------------------------------
// Reading and extracting.

// Splits the bytes of a whole file into an image of the given form and checks
// its CRC. The image is filled only on Ok.
ImageStatus ParseUpdateImage(std::span<const std::uint8_t> file, ImageMode mode, UpdateImage& image);

// Reads a whole update file into bytes. Files larger than kMaxFileSize are
// refused with TooLarge without being read.
ImageStatus LoadUpdateFile(const std::string& path, std::vector<std::uint8_t>& bytes);

// LoadUpdateFile, then ParseUpdateImage.
ImageStatus ReadUpdateImage(const std::string& path, ImageMode mode, UpdateImage& image);

// Writes the payload to the temporary payload file: a new file in its folder,
// renamed over the name, so a link of that name is replaced and whatever it
// points to is left alone. When the payload cannot be written completely the
// name is removed (never a folder, never a link's target).
ImageStatus WritePayloadFile(const std::string& tempPayloadPath, std::span<const std::uint8_t> payload);

// Removes a temporary payload file if one is there. Never removes anything
// but a regular file or a link.
void RemovePayloadFile(const std::string& tempPayloadPath);

// Reads the update file in the given form, verifies its CRC and writes the
// payload to tempPayloadPath. On any failure the temporary file is removed
// (unless it is the update file itself, which is never touched). The image,
// when given, receives the header and payload on Ok.
ImageStatus ExtractFirmwarePayload(ImageMode mode, const std::string& updateFilePath,
                                   const std::string& tempPayloadPath, UpdateImage* image = nullptr);

// ---------------------------------------------------------------------------
// Paths and names.

// The three letters of the maker code; the letters stand just before a
// four-character extension such as ".zep".
inline constexpr std::string_view kMakerCode = "QVR";
// The model digits that mark a headerless update file's name.
inline constexpr std::string_view kModelDigits = "731";
// Shortest path the maker-code test can look at, and the shortest one that can
// carry a headerless file's model digits and version.
inline constexpr std::size_t kMakerCodeMinPath = 7;
inline constexpr std::size_t kModelNameMinPath = 20;

// True when at least one of the characters at n-7, n-6, n-5 of the path holds
// its letter of the maker code (one is enough). False for a shorter path.
bool PassesMakerCode(std::string_view path);

// True when the characters at n-20, n-19, n-18 are the model digits "731".
bool NameCarriesModelDigits(std::string_view path);

// Header texts of a headerless file. All start empty; when the name carries the
// model digits: product "L-731", firmware "V" and the characters n-12..n-9,
// hardware entries 1 and 2 "V01" and "V02".
void HeaderFromFileName(std::string_view path, UpdateImage& image);

// The path up to, not including, its last separator; false when the path has
// none.
bool FolderOf(std::string_view path, std::string& folder);

// The folder, a separator and kTempPayloadName.
std::string TempPayloadPathFor(std::string_view folder);

// ---------------------------------------------------------------------------
// Header against device.

// Product names by which update files name the models (the model table's
// fileProductNames, device/ModelTable.h), prefix-matched:
//   "L731", "L-731", "TK511"                 -> "L-731"
//   "L4400C", "L4500", "L-4400C", "L-4500"   -> "L-4400C"
//   "TK515", "TK-515", "TrekPal515"          -> "RVN-3"
//   "TK517", "TK-517"                        -> "ZEP ION"
// Applied row by row, each to the result of the ones before; any other name
// stays as it is.
std::string NormaliseProductName(std::string_view productName);

// Value of a "Vx.yy" text: the digit at position 1 times 100 plus the two
// digits at 3 and 4. A position that holds no digit counts as 0 (and ends the
// two-digit number, so "V1.5x" is 105).
int FirmwareVersionValue(std::string_view firmwareVersion);

// Decimal value of the device's firmware text: leading blanks, an optional
// sign and digits up to the first other character; no digits give 0 (so
// "V0.00" is 0); values beyond the int range are clamped.
int DeviceFirmwareValue(std::string_view deviceFirmwareText);

// What the update page knows about the connected device.
struct DeviceFields {
    std::string deviceTypeName;         // model name, compared over 10 characters
    std::string deviceFirmwareText;     // firmware number in decimal (version x 100)
    std::string deviceHardwareVersion;  // "V01" ..., compared over 5 characters
    int forceUpdateMode = 0;            // 1 after ForceUpdate
};

// String ids of the messages and verdicts.
inline constexpr int kStringForceNewer = 116;          // newer file in force mode
inline constexpr int kStringTitle = 300;               // caption of the 415 box
inline constexpr int kStringBadFile = 415;             // the file is not valid
inline constexpr int kStringProductMismatch = 435;
inline constexpr int kStringHardwareMismatch = 436;
inline constexpr int kStringNewer = 437;
inline constexpr int kStringEqual = 438;
inline constexpr int kStringOlder = 439;
inline constexpr int kStringNotMakerFile = 444;        // maker-code test failed
inline constexpr int kForceWarningStringId = 452;      // warning line in force mode
inline constexpr std::string_view kNotMakerFileCaption = "WARNING!!";

// The open-file chooser of Select File.
inline constexpr std::string_view kChooserDefaultExtension = "_QVR";
inline constexpr std::string_view kChooserFileName = "*.zep";
inline constexpr std::string_view kChooserFilter = "_QVR (*.zep)|*.zep|";

// The device that ForceUpdate stands in for an unidentified one. Its firmware
// text has the value 0, so every file version counts as newer.
inline constexpr std::string_view kForceProductName = "Pellora";
inline constexpr std::string_view kForceFirmwareText = "V0.00";
inline constexpr int kForceFirmwareValue = 0;
inline constexpr std::string_view kForceHardwareVersion = "V01";
DeviceFields ForceUpdateDevice();

struct Verdict {
    int stringId = 0;     // 435, 436, 437, 438, 439 or 116
    bool passed = false;  // product and hardware matched
};

// Compares a header (its product already normalised) with the device:
// product over 10 characters (435), hardware against entries 1 to 5 over 5
// characters (436), then the versions: newer 437 (116 in force mode), equal
// 438, older 439. An equal or older version still passes; those texts are
// advice. An empty product or hardware text never matches.
Verdict JudgeUpdateImage(const UpdateImage& header, const DeviceFields& device);

// ---------------------------------------------------------------------------
// The whole check of a chosen file.

// Control ids of the twelve header edits, in the order of UpdateFileCheck::edits.
inline constexpr int kEditFirmwareVersion = 1212;
inline constexpr int kEditProductName = 1213;
inline constexpr int kEditHardwareFirst = 1214;  // 1214..1218
inline constexpr int kEditExtraFirst = 1219;     // 1219..1223 (hidden)
inline constexpr std::size_t kHeaderEditCount = 12;

// One header edit. Every check starts from empty edits so that nothing of the
// previous file stays on the page: `text` is what the edit shows after the
// check (empty when not written). `written` marks the edits the header filled;
// a headerless file writes only 1213, 1212, 1214 and 1215.
struct HeaderEdit {
    int controlId = 0;
    std::string text;
    bool written = false;
};

enum class CheckOutcome {
    Ignored,       // empty path: nothing changes on the page
    NotMakerFile,  // box 444 "WARNING!!"
    Refused,       // box 415 (caption string 300)
    Rejected,      // verdict 435 or 436
    Accepted,      // verdict 437, 438, 439 or 116; the payload is in tempPayloadPath
};

struct UpdateFileCheck {
    CheckOutcome outcome = CheckOutcome::Ignored;
    // Why the file was refused (Ok unless outcome is Refused).
    ImageStatus status = ImageStatus::Ok;

    // Verdict line 1228: a string id, or 0 for an empty line.
    int verdictStringId = 0;
    // Message box: 415 or 444, error icon; 0 for none.
    int messageStringId = 0;
    int messageCaptionStringId = 0;  // 300 with 415
    std::string messageCaption;      // "WARNING!!" with 444

    // Execute may be enabled: only for an accepted file.
    bool executeEnabled = false;
    // A payload passed its CRC, with or without header (the check's result).
    bool payloadExtracted = false;
    bool headerless = false;
    // The payload was written to tempPayloadPath (only when accepted).
    bool tempPayloadWritten = false;

    // Header texts after normalisation; the payload is not kept here.
    UpdateImage header;
    std::array<HeaderEdit, kHeaderEditCount> edits{};

    std::string updateFileFolder;
    std::string tempPayloadPath;
};

// Select File after the chooser, for the path it returned:
//   1. an empty path is Ignored;
//   2. a path longer than 255 or shorter than 7 characters is Refused;
//   3. the maker-code test: failure gives NotMakerFile;
//   4. a path without a folder, or whose temporary payload path would be
//      longer than 255 characters, is Refused;
//   5. the file is read with header, and only if that fails headerless; both
//      failing, or a headerless file whose path is too short for the model
//      digits, is Refused;
//   6. product normalisation and JudgeUpdateImage: a mismatch is Rejected;
//   7. the payload is written to the temporary file; a failed write is
//      Refused.
// Rejected, and Refused once the folder is known, remove the temporary payload
// file of that folder, so neither the rejected file's payload nor an earlier
// file's is left there to flash; the other outcomes touch no file. The update
// file itself is only read.
UpdateFileCheck CheckUpdateFile(const std::string& path, const DeviceFields& device);

}  // namespace update
