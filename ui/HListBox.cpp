#include "ui/HListBox.h"

#include <QFontMetrics>
#include <algorithm>

#include "platform/Controls.h"

namespace {
constexpr int kBorderWidth = 1;
}

int CHListBox::TextExtent(const std::string& text) const {
    if (!control_) return 0;
    QFontMetrics metrics(control_->font());
    return metrics.horizontalAdvance(QString::fromStdString(text)) + 3 * kBorderWidth;
}

int CHListBox::GetCount() const { return control_ ? control_->count() : 0; }

int CHListBox::GetHorizontalExtent() const { return control_ ? control_->GetHorizontalExtent() : 0; }

int CHListBox::AddString(const std::string& text) {
    if (!control_ || control_->count() >= kMaxItems) return kError;
    control_->addItem(QString::fromStdString(text));
    const int index = control_->count() - 1;
    UpdateWidth(text);
    return index;
}

int CHListBox::AddStrings(const std::vector<std::string>& lines) {
    if (!control_) return 0;
    const std::size_t room = static_cast<std::size_t>(std::max(0, kMaxItems - control_->count()));
    const std::size_t n = std::min(room, lines.size());
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(n));
    for (std::size_t i = 0; i < n; ++i) texts.append(QString::fromStdString(lines[i]));
    control_->addItems(texts);
    for (std::size_t i = 0; i < n; ++i) UpdateWidth(lines[i]);
    return static_cast<int>(n);
}

int CHListBox::InsertString(int index, const std::string& text) {
    if (!control_ || control_->count() >= kMaxItems || index > control_->count()) return kError;
    const int at = index < 0 ? control_->count() : index;
    control_->insertItem(at, QString::fromStdString(text));
    UpdateWidth(text);
    return at;
}

int CHListBox::DeleteString(int index) {
    if (!control_ || index < 0 || index >= control_->count()) return kError;
    delete control_->takeItem(index);
    maxWidth = 0;
    for (int i = 0; i < control_->count(); ++i) {
        const int width = TextExtent(control_->item(i)->text().toStdString());
        if (width > maxWidth) maxWidth = width;
    }
    control_->SetHorizontalExtent(maxWidth);
    return control_->count();
}

void CHListBox::ResetContent() {
    if (control_) control_->clear();
    maxWidth = 0;
}

void CHListBox::UpdateWidth(const std::string& text) {
    const int width = TextExtent(text);
    if (width > maxWidth) {
        maxWidth = width;
        if (control_) control_->SetHorizontalExtent(maxWidth);
    }
}
