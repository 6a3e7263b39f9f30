#include "export/ExifDateTime.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "export/ExifTiff.h"
#include "support/ProcessZone.h"
#include "support/SourceFile.h"

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date (any month, any day).
std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
    // Carry the month into the year first, as mktime does.
    std::int64_t m0 = month - 1;
    year += m0 >= 0 ? m0 / 12 : -((11 - m0) / 12);
    m0 -= 12 * (m0 >= 0 ? m0 / 12 : -((11 - m0) / 12));
    const std::int64_t m = m0 + 1;
    const std::int64_t y = m <= 2 ? year - 1 : year;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + (day - 1);
}

int FieldValue(const char* text, int start, int length) {
    char field[5] = {};
    for (int i = 0; i < length; ++i) {
        field[i] = text[start + i];
    }
    return std::atoi(field);
}

struct FileSource {
    std::FILE* file = nullptr;
};

std::size_t ReadFile(void* context, std::size_t offset, std::size_t size, std::uint8_t* out) {
    auto* source = static_cast<FileSource*>(context);
    if (std::fseek(source->file, static_cast<long>(offset), SEEK_SET) != 0) {
        return 0;
    }
    return std::fread(out, 1, size, source->file);
}

void Fail(std::int64_t& captureTime, int& failed, std::string& message, const std::string& text) {
    captureTime = 0;
    failed = 1;
    message = text;
}

// The search in the TIFF structure of the Exif segment.
void ReadFromTiff(std::span<const std::uint8_t> tiffBytes, std::int64_t& captureTime, int& failed,
                  std::string& message, const ExifTimeTexts& texts) {
    const exif::TiffView tiff(tiffBytes);
    if (!tiff.IsValid()) {
        return Fail(captureTime, failed, message, exif::kNotExifText);
    }
    const auto ifd0 = tiff.U32(4);
    auto count = ifd0 ? tiff.U16(*ifd0) : std::nullopt;
    if (!count) {
        return Fail(captureTime, failed, message, kBadLayoutText);
    }
    std::size_t entries = *ifd0 + 2;
    if (*count == 0) {
        count = tiff.U16(*ifd0 + 2);
        entries += 2;
        if (!count) {
            return Fail(captureTime, failed, message, kBadLayoutText);
        }
    }
    std::optional<std::uint32_t> exifIfd;
    for (std::size_t i = 0; i < *count && !exifIfd; ++i) {
        const auto entry = tiff.Entry(entries + i * exif::kIfdEntrySize);
        if (!entry) {
            return Fail(captureTime, failed, message, kBadLayoutText);
        }
        if (entry->tag == exif::kTagExifIfd) {
            exifIfd = entry->value;
        }
    }
    if (!exifIfd) {
        return Fail(captureTime, failed, message, texts.noDateTime);
    }
    const auto exifCount = tiff.U16(*exifIfd);
    if (!exifCount) {
        return Fail(captureTime, failed, message, kBadLayoutText);
    }
    std::optional<std::uint32_t> dateOffset;
    for (std::size_t i = 0; i < *exifCount && !dateOffset; ++i) {
        const auto entry = tiff.Entry(*exifIfd + 2 + i * exif::kIfdEntrySize);
        if (!entry) {
            return Fail(captureTime, failed, message, kBadLayoutText);
        }
        if (entry->tag == exif::kTagDateTimeOriginal) {
            // The text is stored elsewhere; a value that fits in the entry
            // holds no date.
            if (!entry->ValueIsOffset()) {
                return Fail(captureTime, failed, message, texts.badDateTime);
            }
            dateOffset = entry->value;
        }
    }
    if (!dateOffset) {
        return Fail(captureTime, failed, message, texts.noDateTime);
    }
    // 19 characters and the NUL; the NUL is not needed.
    if (!tiff.Contains(*dateOffset, 19)) {
        return Fail(captureTime, failed, message, kBadLayoutText);
    }
    const char* text = reinterpret_cast<const char*>(tiffBytes.data() + *dateOffset);
    const auto seconds =
        LocalCalendarToUtc(FieldValue(text, 0, 4), FieldValue(text, 5, 2), FieldValue(text, 8, 2),
                           FieldValue(text, 11, 2), FieldValue(text, 14, 2), FieldValue(text, 17, 2));
    if (!seconds || *seconds < 0) {
        return Fail(captureTime, failed, message, texts.badDateTime);
    }
    captureTime = *seconds;
}

}  // namespace

std::optional<std::int64_t> LocalCalendarToUtc(int year, int month, int day, int hour, int minute,
                                                int second) {
    const std::optional<long> offset = ChosenZoneOffset();
    if (offset) {
        const std::int64_t local = DaysFromCivil(year, month, day) * 86400 +
                                   std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
        return local - *offset;
    }
    std::tm calendar{};
    calendar.tm_year = year - 1900;
    calendar.tm_mon = month - 1;
    calendar.tm_mday = day;
    calendar.tm_hour = hour;
    calendar.tm_min = minute;
    calendar.tm_sec = second;
    calendar.tm_isdst = 0;
    const std::time_t t = std::mktime(&calendar);
    if (t == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(t);
}

void ReadExifDateTimeFromBytes(std::span<const std::uint8_t> file, std::int64_t& captureTime,
                               int& failed, std::string& message, const ExifTimeTexts& texts) {
    captureTime = 0;
    failed = 0;
    message.clear();
    const auto segment = exif::FindExifSegment(file);
    if (!segment) {
        return Fail(captureTime, failed, message, exif::kNotExifText);
    }
    const std::size_t end = std::min(segment->End(), file.size());
    if (segment->TiffOffset() >= end) {
        return Fail(captureTime, failed, message, exif::kNotExifText);
    }
    ReadFromTiff(file.subspan(segment->TiffOffset(), end - segment->TiffOffset()), captureTime,
                 failed, message, texts);
}

void ReadExifDateTime(const std::string& path, std::int64_t& captureTime, int& failed,
                      std::string& message, const ExifTimeTexts& texts) {
    captureTime = 0;
    failed = 0;
    message.clear();
    FileSource source{OpenSourceStream(path)};
    if (source.file == nullptr) {
        return Fail(captureTime, failed, message, kNotFileText);
    }
    const auto segment = exif::FindExifSegment(&ReadFile, &source);
    if (!segment) {
        std::fclose(source.file);
        return Fail(captureTime, failed, message, exif::kNotExifText);
    }
    std::vector<std::uint8_t> tiff(segment->End() - segment->TiffOffset());
    tiff.resize(ReadFile(&source, segment->TiffOffset(), tiff.size(), tiff.data()));
    std::fclose(source.file);
    ReadFromTiff(tiff, captureTime, failed, message, texts);
}
