#include "tracklog/TransformChoices.h"

#include <utility>

TransformChoices::TransformChoices() = default;
TransformChoices::~TransformChoices() { CloseOutputs(false); }
TransformChoices::TransformChoices(TransformChoices&&) noexcept = default;
TransformChoices& TransformChoices::operator=(TransformChoices&& other) noexcept {
    if (this != &other) {
        CloseOutputs(false);
        sourceFileHandle = other.sourceFileHandle;
        textFileHandle = other.textFileHandle;
        kmlFileHandle = other.kmlFileHandle;
        sourceFileStream = std::exchange(other.sourceFileStream, nullptr);
        textFileStream = std::exchange(other.textFileStream, nullptr);
        kmlFileStream = std::exchange(other.kmlFileStream, nullptr);
        sourceFilePath = std::move(other.sourceFilePath);
        textFilePath = std::move(other.textFilePath);
        kmlFilePath = std::move(other.kmlFilePath);
        photoDirectory = std::move(other.photoDirectory);
        combinePhoto = other.combinePhoto;
        trackLogDirectory = std::move(other.trackLogDirectory);
        trackLogDirectoryChosen = other.trackLogDirectoryChosen;
        writeTotalTrackLog = other.writeTotalTrackLog;
        textFile_ = std::move(other.textFile_);
        kmlFile_ = std::move(other.kmlFile_);
    }
    return *this;
}

namespace {

// Opens one output: its stream and descriptor, or -1 and null.
void OpenOne(std::unique_ptr<AtomicFile>& file, const std::string& path, int& handle, std::FILE*& stream) {
    file = std::make_unique<AtomicFile>();
    if (!path.empty() && file->Open(path)) {
        stream = file->Stream();
        handle = fileno(stream);
    } else {
        file.reset();
        stream = nullptr;
        handle = -1;
    }
}

void CloseOne(std::unique_ptr<AtomicFile>& file, int& handle, std::FILE*& stream, bool commit) {
    if (file) {
        if (commit) {
            file->Commit();
        } else {
            file->Abandon();
        }
        file.reset();
    }
    stream = nullptr;
    handle = 0;
}

}  // namespace

void TransformChoices::OpenOutputs(bool textWanted, bool kmlWanted) {
    if (kmlWanted && combinePhoto == 0) {
        OpenOne(kmlFile_, kmlFilePath, kmlFileHandle, kmlFileStream);
    }
    if (textWanted) {
        OpenOne(textFile_, textFilePath, textFileHandle, textFileStream);
    }
}

void TransformChoices::CloseOutputs(bool commit) {
    CloseOne(textFile_, textFileHandle, textFileStream, commit);
    CloseOne(kmlFile_, kmlFileHandle, kmlFileStream, commit);
}

void TransformChoices::Reset() {
    CloseOutputs(false);
    sourceFileHandle = 0;
    sourceFileStream = nullptr;
    combinePhoto = 0;
    trackLogDirectoryChosen = 0;
    writeTotalTrackLog = 0;
}
