// Message boxes, file choosers and the folder browser behind one replaceable
// interface: the program shows real dialogs, tests answer from a script and
// read back every call.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class Dialog;

// Message box types and results.
namespace mb {
constexpr unsigned kOk = 0x0;
constexpr unsigned kOkCancel = 0x1;
constexpr unsigned kYesNo = 0x4;
constexpr unsigned kIconStop = 0x10;
constexpr unsigned kIconQuestion = 0x20;
constexpr unsigned kIconExclamation = 0x30;
constexpr unsigned kIconInformation = 0x40;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
}  // namespace mb

struct FileDialogRequest {
    bool save = false;
    std::string defaultExtension;  // without dot, e.g. "zep"
    std::string fileName;          // initial name, e.g. "*.zep"
    std::string filter;            // "Text|*.txt|All|*.*|" form; may be empty
    std::string initialFolder;
    bool overwritePrompt = false;
    bool hideReadOnly = false;
};

class UiServices {
public:
    virtual ~UiServices() = default;
    // Shows a modal message box; returns the button pressed (mb::kIdOk ...).
    virtual int MessageBox(Dialog* owner, const std::string& text, const std::string& caption,
                           unsigned type) = 0;
    // Open or save chooser; true with the chosen path, false on cancel.
    virtual bool ChooseFile(Dialog* owner, const FileDialogRequest& request, std::string& path) = 0;
    // Folder browser; true with the chosen folder, false on cancel.
    virtual bool BrowseFolder(Dialog* owner, const std::string& title, std::string& folder) = 0;
};

// The services in force (the real dialogs by default).
UiServices& Ui();
// Installs other services; nullptr restores the real ones. Returns the previous.
UiServices* SetUi(UiServices* ui);

// Answers from a script and records every call. Unscripted calls answer
// "OK" for message boxes and "cancel" for choosers.
class ScriptedUi : public UiServices {
public:
    struct Call {
        std::string kind;  // "message", "open", "save", "folder"
        std::string text;
        std::string caption;
        unsigned type = 0;
        FileDialogRequest request;
    };

    int MessageBox(Dialog* owner, const std::string& text, const std::string& caption,
                   unsigned type) override;
    bool ChooseFile(Dialog* owner, const FileDialogRequest& request, std::string& path) override;
    bool BrowseFolder(Dialog* owner, const std::string& title, std::string& folder) override;

    void QueueMessageAnswer(int answer);
    // An empty path answers "cancel".
    void QueueFileAnswer(const std::string& path);
    void QueueFolderAnswer(const std::string& folder);

    std::vector<Call> Calls() const;
    std::vector<std::string> MessageTexts() const;

private:
    mutable std::mutex mutex_;
    std::deque<int> messageAnswers_;
    std::deque<std::string> fileAnswers_;
    std::deque<std::string> folderAnswers_;
    std::vector<Call> calls_;
};

class ScopedUi {
public:
    explicit ScopedUi(UiServices& ui) : previous_(SetUi(&ui)) {}
    ~ScopedUi() { SetUi(previous_); }
    ScopedUi(const ScopedUi&) = delete;
    ScopedUi& operator=(const ScopedUi&) = delete;

private:
    UiServices* previous_;
};

}  // namespace platform
