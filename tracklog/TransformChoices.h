// The choices record of the "Transform to File" dialog: where a log upload
// puts its results. The dialog fills it; the upload takes it over when the
// user leaves the dialog with OK and owns the outputs it opened from then on.
//
// The text and KML outputs are written through AtomicFile: each stream
// writes a new file beside the chosen path, and CloseOutputs(true) puts it in
// place (false leaves the chosen path as it was). The descriptors are those
// of the same streams; -1 and a null stream mark an output that could not be
// opened, 0 and null one that was not asked for.
//
// No locking: one thread at a time owns the record (the UI thread while the
// dialog runs, the upload worker afterwards).
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "support/AtomicFile.h"

struct TransformChoices {
    TransformChoices();
    ~TransformChoices();
    TransformChoices(TransformChoices&&) noexcept;
    TransformChoices& operator=(TransformChoices&&) noexcept;

    // The raw record file slot: the upload writes every block's packed
    // records into its stream; no control of the dialog fills it.
    int sourceFileHandle = 0;
    int textFileHandle = 0;
    int kmlFileHandle = 0;
    std::FILE* sourceFileStream = nullptr;
    std::FILE* textFileStream = nullptr;
    std::FILE* kmlFileStream = nullptr;

    std::string sourceFilePath;
    std::string textFilePath;
    std::string kmlFilePath;
    std::string photoDirectory;
    // 1 when a photo folder was chosen while "Combine JPG file" is checked.
    int combinePhoto = 0;
    std::string trackLogDirectory;
    // 1 when a track-log folder was chosen.
    int trackLogDirectoryChosen = 0;
    // State of "Write Total Track Log".
    int writeTotalTrackLog = 0;

    // Accessors the upload uses.
    std::string GetTrackLogDirectory() const { return trackLogDirectory; }
    int GetWriteTotalLog() const { return trackLogDirectoryChosen; }
    int GetTransformOption() const { return writeTotalTrackLog; }
    std::string GetPhotoDirectory() const { return photoDirectory; }
    int GetCombinePhoto() const { return combinePhoto; }

    // The outputs of OK: the KML file when asked for and no photos are
    // combined (the photo writer makes its own), the text file when asked for.
    void OpenOutputs(bool textWanted, bool kmlWanted);
    // Closes the outputs; commit puts each written file in place.
    void CloseOutputs(bool commit);
    // Back to the state of a dialog that has just opened.
    void Reset();

private:
    std::unique_ptr<AtomicFile> textFile_;
    std::unique_ptr<AtomicFile> kmlFile_;
};
