#include "platform/Ui.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <atomic>

#include "platform/Dialog.h"

namespace platform {
namespace {

QWidget* OwnerWidget(Dialog* owner) {
    if (owner && owner->GetWidget()) {
        return owner->GetWidget()->window();
    }
    return QApplication::activeWindow();
}

// "Text files|*.txt|All files|*.*|" -> "Text files (*.txt);;All files (*.*)"
QString ToQtFilter(const std::string& filter) {
    QStringList parts = QString::fromStdString(filter).split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty() && parts[i + 1].isEmpty()) continue;
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        // A description that already names its patterns is taken as it is.
        if (parts[i].contains("(" + patterns + ")")) {
            out << parts[i];
        } else {
            out << QString("%1 (%2)").arg(parts[i], patterns);
        }
    }
    return out.join(";;");
}

class QtUi final : public UiServices {
public:
    int MessageBox(Dialog* owner, const std::string& text, const std::string& caption,
                   unsigned type) override {
        QMessageBox box(OwnerWidget(owner));
        box.setText(QString::fromStdString(text));
        box.setWindowTitle(QString::fromStdString(caption));
        switch (type & 0xF0) {
            case mb::kIconStop: box.setIcon(QMessageBox::Critical); break;
            case mb::kIconQuestion: box.setIcon(QMessageBox::Question); break;
            case mb::kIconExclamation: box.setIcon(QMessageBox::Warning); break;
            case mb::kIconInformation: box.setIcon(QMessageBox::Information); break;
            default: break;
        }
        switch (type & 0x0F) {
            case mb::kOkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
            case mb::kYesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
            default: box.setStandardButtons(QMessageBox::Ok); break;
        }
        switch (box.exec()) {
            case QMessageBox::Cancel: return mb::kIdCancel;
            case QMessageBox::Yes: return mb::kIdYes;
            case QMessageBox::No: return mb::kIdNo;
            default: return mb::kIdOk;
        }
    }

    bool ChooseFile(Dialog* owner, const FileDialogRequest& request, std::string& path) override {
        QFileDialog dialog(OwnerWidget(owner));
        dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        if (!request.defaultExtension.empty()) {
            dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
        }
        QString filter = ToQtFilter(request.filter);
        if (filter.isEmpty() && request.fileName.find('*') != std::string::npos) {
            filter = QString::fromStdString(request.fileName);
        }
        if (!filter.isEmpty()) dialog.setNameFilter(filter);
        if (!request.initialFolder.empty()) {
            dialog.setDirectory(QString::fromStdString(request.initialFolder));
        }
        if (!request.fileName.empty() && request.fileName.find('*') == std::string::npos) {
            dialog.selectFile(QString::fromStdString(request.fileName));
        }
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return false;
        }
        path = dialog.selectedFiles().first().toStdString();
        return true;
    }

    bool BrowseFolder(Dialog* owner, const std::string& title, std::string& folder) override {
        QString chosen = QFileDialog::getExistingDirectory(OwnerWidget(owner), QString::fromStdString(title),
                                                           QString::fromStdString(folder));
        if (chosen.isEmpty()) return false;
        folder = chosen.toStdString();
        return true;
    }
};

QtUi g_qtUi;
std::atomic<UiServices*> g_ui{&g_qtUi};

}  // namespace

UiServices& Ui() { return *g_ui.load(); }

UiServices* SetUi(UiServices* ui) {
    UiServices* previous = g_ui.exchange(ui ? ui : &g_qtUi);
    return previous == &g_qtUi ? nullptr : previous;
}

int ScriptedUi::MessageBox(Dialog*, const std::string& text, const std::string& caption, unsigned type) {
    std::lock_guard lock(mutex_);
    calls_.push_back(Call{"message", text, caption, type, {}});
    if (messageAnswers_.empty()) return mb::kIdOk;
    int answer = messageAnswers_.front();
    messageAnswers_.pop_front();
    return answer;
}

bool ScriptedUi::ChooseFile(Dialog*, const FileDialogRequest& request, std::string& path) {
    std::lock_guard lock(mutex_);
    calls_.push_back(Call{request.save ? "save" : "open", request.fileName, {}, 0, request});
    if (fileAnswers_.empty()) return false;
    std::string answer = fileAnswers_.front();
    fileAnswers_.pop_front();
    if (answer.empty()) return false;
    path = answer;
    return true;
}

bool ScriptedUi::BrowseFolder(Dialog*, const std::string& title, std::string& folder) {
    std::lock_guard lock(mutex_);
    calls_.push_back(Call{"folder", title, {}, 0, {}});
    if (folderAnswers_.empty()) return false;
    std::string answer = folderAnswers_.front();
    folderAnswers_.pop_front();
    if (answer.empty()) return false;
    folder = answer;
    return true;
}

void ScriptedUi::QueueMessageAnswer(int answer) {
    std::lock_guard lock(mutex_);
    messageAnswers_.push_back(answer);
}

void ScriptedUi::QueueFileAnswer(const std::string& path) {
    std::lock_guard lock(mutex_);
    fileAnswers_.push_back(path);
}

void ScriptedUi::QueueFolderAnswer(const std::string& folder) {
    std::lock_guard lock(mutex_);
    folderAnswers_.push_back(folder);
}

std::vector<ScriptedUi::Call> ScriptedUi::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string> ScriptedUi::MessageTexts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const auto& c : calls_) {
        if (c.kind == "message") texts.push_back(c.text);
    }
    return texts;
}

}  // namespace platform
