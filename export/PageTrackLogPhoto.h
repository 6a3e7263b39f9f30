// The photo link page (template 135): the user picks a track-log file (.trl)
// and a folder of JPEG photos, sets the photo zone and the camera clock's
// calibration in the photo combine dialog (PhotoCSDlg.h), and Convert writes
// one KML document (UTF-16LE with the mark FF FE) that places the photos on
// the track. The page is built hidden and has no tab; the log upload uses its
// batch entry ConvertWithPhotos to write the photo KML of an uploaded track.
//
// The document itself comes from a PhotoKmlWriter that the page holds (the
// photo logic: track and photo tables, capture times, matching, GPS copies).
// The page starts with the program's photo logic (PhotoKml.h); tests may
// install another, and SetPhotoKmlWriter(nullptr) installs a stand-in that
// writes nothing and says it is not available.
//
// Both conversions set the program's zone (support/ProcessZone.h) to the
// page's zoneHours first, so the writer forms local times in the photo zone.
// Convert runs on the UI thread and writes its file whole beside the target
// before putting it in place (AtomicFile); ConvertWithPhotos runs on its
// caller's thread and writes into the caller's open file. One conversion at
// a time: a second one, on either path, is refused while the first runs.
// The texts that both paths share are guarded by a lock; zone, calibration
// and the flags are atomic.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ui/HListBox.h"
#include "ui/Page.h"

class AtomicFile;
class CStdioFileEx;

// What the page hands the photo KML writer for one run.
struct PhotoKmlRun {
    std::string sourcePath;   // the .trl
    std::string photoFolder;  // the folder of JPEG photos
    int calibrationSeconds = 0;
    bool batchMode = false;   // no summary, list lines only for GPS copies not made
    bool writeGpsInPhoto = false;
};

// What one run gives back.
struct PhotoKmlResult {
    bool written = false;   // the document below was made
    std::string document;   // 8-bit text (the ANSI code page), lines ending in CR LF
    std::string failure;    // why no document was made
    std::vector<std::string> listLines;  // the list box's lines
    std::string summary;    // outside batch mode: the counts for the summary text
};

// The photo logic behind the page: reads the track, matches the photos and
// makes the document. Runs on the caller's thread, one run at a time.
class PhotoKmlWriter {
public:
    virtual ~PhotoKmlWriter() = default;
    virtual PhotoKmlResult WritePhotoKml(const PhotoKmlRun& run) = 0;
};

// The stand-in: makes no document and says so.
class UnavailablePhotoKmlWriter : public PhotoKmlWriter {
public:
    static constexpr const char* kNotAvailable = "The photo KML writer is not available.";
    PhotoKmlResult WritePhotoKml(const PhotoKmlRun& run) override;
};

class CPageTrackLogPhoto : public CPage {
public:
    CPageTrackLogPhoto();
    ~CPageTrackLogPhoto() override;

    bool OnInitDialog() override;
    void ApplyAll() override {}
    void DefaultAll() override;

    void OnButtonBrowseSource();
    void OnButtonBrowsePhotoFolder();
    void OnButtonPhotoCombineSetting();
    void OnButtonConvert();
    void OnSelchangeListPhotos() {}

    // The batch entry: the photo KML of source and folder into the caller's
    // file, opened for Unicode writing. The file is closed on return; the
    // caller deletes it. False, with statusMessage saying why, when no
    // document was written (another conversion runs, the source cannot be
    // read, the writer made none or the file could not be written).
    bool ConvertWithPhotos(const std::string& source, CStdioFileEx* file, const std::string& folder);

    // Installs the photo logic; null puts the stand-in back.
    void SetPhotoKmlWriter(std::unique_ptr<PhotoKmlWriter> writer);

    // Sets the settings object's photoZoneReset back to 0.
    static void ClearResetFlag();
    // A text as hexadecimal: upper-cased, a leading "0X" skipped, digits
    // taken up to the first other character ("0xff" and "FF" give 255,
    // "12G4" gives 18, "G" gives 0). Values past 32 bits wrap.
    static int HexToInt(const std::string& text);

    std::string SourcePath() const;
    std::string PhotoFolder() const;
    std::string OutputPath() const;
    std::string StatusMessage() const;

    // Hours east of UTC of the page's zone; from the settings at
    // initialisation, then only from the photo combine dialog.
    std::atomic<int> zoneHours{0};
    // Seconds added to each photo's capture time; only the photo combine
    // dialog changes it.
    std::atomic<int> calibrationSeconds{0};
    // True only while ConvertWithPhotos runs.
    std::atomic<bool> batchMode{false};
    // List 1124: the run's lines, widening to the longest. The batch entry's
    // lines (GPS copies not made) are shown on the UI thread after its run.
    CHListBox photoList;

    // Message boxes about files carry string 300 as caption, with the stop icon.
    static constexpr const char* kBusy = "A photo link conversion is already running.";

private:
    void LoadCaptions();
    void NameSilentControls();
    void SetStatusMessage(const std::string& text);
    void ReportFailure(const std::string& text);
    void RunTickThread(bool run, bool onUiThread);
    // The list's lines replaced by these (UI thread).
    void ShowListLines(const std::vector<std::string>& lines);
    void ShowRunOnPage(const PhotoKmlResult& result);
    PhotoKmlRun MakeRun(bool batch) const;
    // True when the source is a regular file that can be opened for reading
    // (opened so that a FIFO or device cannot block); otherwise the reason.
    static bool SourceReadable(const std::string& path, std::string& failure);
    // The document as UTF-16LE with the mark FF FE, put in place.
    static bool WriteUtf16File(AtomicFile& file, const std::string& document, std::string& failure);

    mutable std::mutex textsMutex_;
    std::string sourcePath_;
    std::string photoFolder_;
    std::string outputPath_;
    std::string statusMessage_;
    CStdioFileEx* outputFile_ = nullptr;  // the batch caller's, while it runs

    std::unique_ptr<PhotoKmlWriter> writer_;
    std::atomic<bool> busy_{false};
};
