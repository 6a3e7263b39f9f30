#include "platform/Dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>

#include "platform/Controls.h"

namespace platform {

DialogWidget::DialogWidget(Dialog* owner, QWidget* parent) : QDialog(parent), owner_(owner) {}

void DialogWidget::keyPressEvent(QKeyEvent* event) {
    const bool isChild = owner_ && (owner_->Template().style & kChild);
    if (!owner_ || isChild) {
        // Keys a page does not use go on to the window that holds it.
        event->ignore();
        return;
    }
    switch (event->key()) {
        case Qt::Key_Escape:
            event->accept();
            owner_->HandleEscape();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            owner_->HandleEnter();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void DialogWidget::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (owner_) {
        owner_->HandleCloseBox();
    }
}

void DialogWidget::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (owner_) {
        owner_->OnPaint();
    }
}

void DialogWidget::changeEvent(QEvent* event) { QDialog::changeEvent(event); }

void DialogWidget::reject() {
    if (owner_) {
        owner_->HandleEscape();
    } else {
        QDialog::reject();
    }
}

void DialogWidget::accept() {
    if (owner_) {
        owner_->OnOK();
    } else {
        QDialog::accept();
    }
}

Dialog::Dialog(const DialogTemplate& tpl) : template_(tpl) {}

Dialog::~Dialog() {
    for (auto& [id, timer] : timers_) {
        if (timer) timer->stop();
    }
    if (widget_) {
        widget_->Detach();
        delete widget_.data();
    }
}

bool Dialog::Create(QWidget* parent) {
    if (widget_) {
        return true;
    }
    const bool child = (template_.style & kChild) != 0;
    widget_ = new DialogWidget(this, parent);
    if (child) {
        widget_->setWindowFlags(Qt::Widget);
        widget_->setAutoFillBackground(false);
    } else {
        Qt::WindowFlags flags = Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
        if (template_.style & kSysMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (template_.style & kMinimizeBox) flags |= Qt::WindowMinimizeButtonHint;
        if (template_.style & kMaximizeBox) flags |= Qt::WindowMaximizeButtonHint;
        widget_->setWindowFlags(flags);
        widget_->setSizeGripEnabled(false);
    }
    widget_->setWindowTitle(QString::fromStdString(template_.caption));
    const QSize size(MapX(template_.rect.w), MapY(template_.rect.h));
    if (child) {
        widget_->setGeometry(MapX(template_.rect.x), MapY(template_.rect.y), size.width(), size.height());
    } else {
        widget_->setFixedSize(size);
    }
    BuildControls();
    widget_->setVisible(false);
    OnInitDialog();
    if (template_.style & kDialogVisible) {
        widget_->show();
    }
    return true;
}

int Dialog::DoModal(QWidget* parent) {
    if (!widget_ && !Create(parent)) {
        return -1;
    }
    if (!widget_) {
        // OnInitDialog ended the dialog and destroyed its window.
        return modalResult_;
    }
    if (endedBeforeModal_) {
        // OnInitDialog already ended the dialog.
        endedBeforeModal_ = false;
        return modalResult_;
    }
    widget_->setModal(true);
    inModalLoop_ = true;
    const int result = widget_->exec();
    inModalLoop_ = false;
    (void)result;
    return modalResult_;
}

void Dialog::EndDialog(int result) {
    modalResult_ = result;
    endedBeforeModal_ = !inModalLoop_;
    if (widget_) {
        widget_->done(result);
    }
}

QWidget* Dialog::GetDlgItem(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second.data();
}

void Dialog::SetDlgItemText(int id, const std::string& text) {
    QWidget* w = GetDlgItem(id);
    const QString t = QString::fromStdString(text);
    if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(t);
        if (QWidget* field = label->buddy()) field->setAccessibleName(t);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        group->setTitle(t);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(t);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(t);
    } else if (auto* multi = qobject_cast<QPlainTextEdit*>(w)) {
        multi->setPlainText(t);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        const int index = combo->findText(t);
        if (index >= 0) combo->setCurrentIndex(index);
    }
}

std::string Dialog::GetDlgItemText(int id) const {
    QWidget* w = GetDlgItem(id);
    QString t;
    if (auto* label = qobject_cast<QLabel*>(w)) {
        t = label->text();
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        t = group->title();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        t = button->text();
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        t = edit->text();
    } else if (auto* multi = qobject_cast<QPlainTextEdit*>(w)) {
        t = multi->toPlainText();
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        t = combo->currentText();
    }
    return t.toStdString();
}

void Dialog::EnableDlgItem(int id, bool enable) {
    if (QWidget* w = GetDlgItem(id)) w->setEnabled(enable);
}

bool Dialog::IsDlgItemEnabled(int id) const {
    QWidget* w = GetDlgItem(id);
    return w && w->isEnabled();
}

void Dialog::ShowDlgItem(int id, bool show) {
    if (QWidget* w = GetDlgItem(id)) w->setVisible(show);
}

bool Dialog::IsDlgItemVisible(int id) const {
    QWidget* w = GetDlgItem(id);
    return w && !w->isHidden();
}

void Dialog::SetDlgItemTextColor(int id, Rgb color) {
    if (QWidget* w = GetDlgItem(id)) {
        QPalette palette = w->palette();
        palette.setColor(QPalette::WindowText, QColor(color.red, color.green, color.blue));
        w->setPalette(palette);
    }
}

Rgb Dialog::GetDlgItemTextColor(int id) const {
    QWidget* w = GetDlgItem(id);
    if (!w) return {};
    const QColor c = w->palette().color(QPalette::WindowText);
    return {c.red(), c.green(), c.blue()};
}

void Dialog::SetDlgItemBitmap(int id, int bitmapId) {
    if (auto* image = qobject_cast<ImageStatic*>(GetDlgItem(id))) {
        image->SetImage(bitmapId, ResourceBitmap(bitmapId));
        if (!image->pixmap().isNull()) image->resize(image->pixmap().size());
    }
}

void Dialog::SetDlgItemAccessibleName(int id, const std::string& name) {
    if (QWidget* w = GetDlgItem(id)) w->setAccessibleName(QString::fromStdString(name));
}

std::string Dialog::TemplateCaption(int id) const {
    for (const ControlTemplate& c : Template().controls) {
        if (c.id == id) return c.text;
    }
    return {};
}

void Dialog::NameEmptyByTemplateCaption(std::initializer_list<int> ids) {
    for (int id : ids) {
        if (GetDlgItemText(id).empty()) SetDlgItemAccessibleName(id, TemplateCaption(id));
    }
}

int Dialog::GetDlgItemBitmap(int id) const {
    auto* image = qobject_cast<ImageStatic*>(GetDlgItem(id));
    return image ? image->ImageId() : 0;
}

int Dialog::AddItem(int id, const std::string& text) {
    QWidget* w = GetDlgItem(id);
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        combo->addItem(QString::fromStdString(text));
        return combo->count() - 1;
    }
    if (auto* list = qobject_cast<QListWidget*>(w)) {
        list->addItem(QString::fromStdString(text));
        return list->count() - 1;
    }
    return -1;
}

void Dialog::ClearItems(int id) {
    QWidget* w = GetDlgItem(id);
    if (auto* combo = qobject_cast<QComboBox*>(w)) combo->clear();
    if (auto* list = qobject_cast<QListWidget*>(w)) list->clear();
}

int Dialog::GetCurSel(int id) const {
    QWidget* w = GetDlgItem(id);
    if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentIndex();
    if (auto* list = qobject_cast<QListWidget*>(w)) return list->currentRow();
    if (auto* tab = qobject_cast<TabControlWidget*>(w)) return tab->GetCurSel();
    return -1;
}

void Dialog::SetCurSel(int id, int index) {
    QWidget* w = GetDlgItem(id);
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
    } else if (auto* list = qobject_cast<QListWidget*>(w)) {
        list->setCurrentRow(index);
    }
}

int Dialog::GetItemCount(int id) const {
    QWidget* w = GetDlgItem(id);
    if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->count();
    if (auto* list = qobject_cast<QListWidget*>(w)) return list->count();
    return 0;
}

std::string Dialog::GetItemText(int id, int index) const {
    QWidget* w = GetDlgItem(id);
    if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->itemText(index).toStdString();
    if (auto* list = qobject_cast<QListWidget*>(w)) {
        QListWidgetItem* item = list->item(index);
        return item ? item->text().toStdString() : std::string();
    }
    return {};
}

void Dialog::CheckDlgButton(int id, bool checked) {
    if (auto* b = qobject_cast<QAbstractButton*>(GetDlgItem(id))) b->setChecked(checked);
}

bool Dialog::IsDlgButtonChecked(int id) const {
    auto* b = qobject_cast<QAbstractButton*>(GetDlgItem(id));
    return b && b->isChecked();
}

void Dialog::SetSpinRange(int id, int low, int high) {
    if (auto* spin = qobject_cast<SpinWidget*>(GetDlgItem(id))) spin->SetRange(low, high);
}

void Dialog::SetSpinPos(int id, int pos) {
    if (auto* spin = qobject_cast<SpinWidget*>(GetDlgItem(id))) spin->SetPos(pos);
}

int Dialog::GetSpinPos(int id) const {
    auto* spin = qobject_cast<SpinWidget*>(GetDlgItem(id));
    return spin ? spin->Pos() : 0;
}

void Dialog::SetProgressRange(int id, int low, int high) {
    if (auto* p = qobject_cast<QProgressBar*>(GetDlgItem(id))) p->setRange(low, high);
}

void Dialog::SetProgressPos(int id, int pos) {
    if (auto* p = qobject_cast<QProgressBar*>(GetDlgItem(id))) {
        p->setValue(std::clamp(pos, p->minimum(), p->maximum()));
    }
}

int Dialog::GetProgressPos(int id) const {
    auto* p = qobject_cast<QProgressBar*>(GetDlgItem(id));
    return p ? p->value() : 0;
}

void Dialog::SetWindowText(const std::string& text) {
    if (widget_) widget_->setWindowTitle(QString::fromStdString(text));
}

std::string Dialog::GetWindowText() const {
    return widget_ ? widget_->windowTitle().toStdString() : std::string();
}

void Dialog::ShowWindow(bool show) {
    if (widget_) widget_->setVisible(show);
}

bool Dialog::IsWindowVisible() const { return widget_ && widget_->isVisible(); }

void Dialog::EnableWindow(bool enable) {
    if (widget_) widget_->setEnabled(enable);
}

bool Dialog::IsWindowEnabled() const { return widget_ && widget_->isEnabled(); }

void Dialog::MoveWindow(int x, int y) {
    if (widget_) widget_->move(x, y);
}

void Dialog::UpdateWindow() {
    if (widget_) widget_->repaint();
}

void Dialog::Invalidate() {
    if (widget_) widget_->update();
}

void Dialog::OnNotify(int id, int code, std::function<void()> handler) {
    handlers_[{id, code}] = std::move(handler);
}

void Dialog::SendCommand(int id, int code) { Dispatch(id, code); }

void Dialog::Dispatch(int id, int code) {
    auto it = handlers_.find({id, code});
    if (it != handlers_.end()) {
        auto handler = it->second;  // the handler may replace itself
        handler();
        return;
    }
    if (code == notify::kClicked && id == kIdOk) {
        OnOK();
    } else if (code == notify::kClicked && id == kIdCancel) {
        OnCancel();
    }
}

LResult Dialog::SendMessage(unsigned message, WParam wParam, LParam lParam) {
    return OnMessage(message, wParam, lParam);
}

void Dialog::PostMessage(unsigned message, WParam wParam, LParam lParam) {
    PostToUi([this, message, wParam, lParam] { OnMessage(message, wParam, lParam); });
}

void Dialog::PostToUi(std::function<void()> fn) {
    // The widget is created and destroyed on the UI thread only; a queued
    // call to an object that is gone by then is dropped by Qt.
    QObject* target = widget_.data();
    if (!target) return;
    QMetaObject::invokeMethod(target, std::move(fn), Qt::QueuedConnection);
}

void Dialog::PostToUiLater(int ms, std::function<void()> fn) {
    if (widget_) QTimer::singleShot(ms, widget_.data(), std::move(fn));
}

void Dialog::SetTimer(int id, int ms) {
    if (!widget_) return;
    QPointer<QTimer>& slot = timers_[id];
    if (!slot) {
        slot = new QTimer(widget_);
        QObject::connect(slot.data(), &QTimer::timeout, widget_.data(), [this, id] { OnTimer(id); });
    }
    slot->start(ms);
}

void Dialog::KillTimer(int id) {
    auto it = timers_.find(id);
    if (it != timers_.end() && it->second) {
        it->second->stop();
    }
}

bool Dialog::IsTimerRunning(int id) const {
    auto it = timers_.find(id);
    return it != timers_.end() && it->second && it->second->isActive();
}

void Dialog::HandleEnter() {
    QWidget* focus = QApplication::focusWidget();
    if (auto* button = qobject_cast<QPushButton*>(focus); button && widget_ && widget_->isAncestorOf(button)) {
        button->click();
        return;
    }
    int defaultId = kIdOk;
    for (const auto& c : template_.controls) {
        if (c.kind == ControlKind::DefaultButton) {
            defaultId = c.id;
            break;
        }
    }
    // A disabled default button ignores Enter, as it ignores a click.
    if (QWidget* button = GetDlgItem(defaultId); button && !button->isEnabled()) return;
    Dispatch(defaultId, notify::kClicked);
}

void Dialog::HandleEscape() { Dispatch(kIdCancel, notify::kClicked); }

void Dialog::HandleCloseBox() { OnClose(); }

void Dialog::BuildControls() {
    // A field (edit, combo box, list box) is named by the static that stands
    // just before it in the template, as a screen reader expects.
    QLabel* previousStatic = nullptr;
    unsigned previousVisible = 0;
    QWidget* previousControl = nullptr;
    int previousId = kNoId;
    for (const auto& c : template_.controls) {
        QWidget* w = MakeControl(c);
        QLabel* label = (c.kind == ControlKind::Static) ? qobject_cast<QLabel*>(w) : nullptr;
        const bool field =
            c.kind == ControlKind::Edit || c.kind == ControlKind::ComboBox || c.kind == ControlKind::ListBox;
        if (w && field && previousStatic && previousVisible == (c.style & kVisible)) {
            previousStatic->setBuddy(w);
            w->setAccessibleName(previousStatic->text());
        }
        if (auto* spin = qobject_cast<SpinWidget*>(w)) {
            // A spin sets the number of the edit just before it.
            auto* buddy = qobject_cast<QLineEdit*>(previousControl);
            if (buddy) spin->SetBuddy(buddy, [this, id = previousId] { Dispatch(id, notify::kEditChange); });
        }
        previousControl = w;
        previousId = c.id;
        previousStatic = label;
        previousVisible = c.style & kVisible;
        if (!w) continue;
        w->setGeometry(MapX(c.rect.x), MapY(c.rect.y), MapX(c.rect.w), MapY(c.rect.h));
        if (auto* image = qobject_cast<ImageStatic*>(w); image && !image->pixmap().isNull()) {
            // Image statics take the size of their image.
            image->resize(image->pixmap().size());
        }
        if (c.kind == ControlKind::ComboBox) {
            // A template gives a combo box the height of its open list; the
            // box itself is one line high.
            w->resize(w->width(), w->sizeHint().height());
        }
        if (c.kind == ControlKind::GroupBox) {
            w->lower();
        }
        w->setEnabled(!(c.style & kDisabled));
        w->setVisible(c.style & kVisible);
        if (c.id != kNoId && !controls_.count(c.id)) {
            controls_[c.id] = w;
        }
    }
}

QWidget* Dialog::MakeControl(const ControlTemplate& c) {
    QWidget* parent = widget_.data();
    const QString text = QString::fromStdString(c.text);
    const int id = c.id;
    switch (c.kind) {
        case ControlKind::Static: {
            auto* label = new QLabel(text, parent);
            label->setWordWrap(true);
            label->setTextFormat(Qt::PlainText);
            Qt::Alignment align = Qt::AlignTop;
            align |= (c.style & kCenter) ? Qt::AlignHCenter : (c.style & kRight) ? Qt::AlignRight : Qt::AlignLeft;
            label->setAlignment(align);
            if (c.style & kBorder) label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            return label;
        }
        case ControlKind::Button:
        case ControlKind::DefaultButton: {
            auto* button = new QPushButton(text, parent);
            button->setAutoDefault(false);
            button->setDefault(c.kind == ControlKind::DefaultButton);
            QObject::connect(button, &QPushButton::clicked, parent, [this, id] { Dispatch(id, notify::kClicked); });
            return button;
        }
        case ControlKind::GroupBox:
            return new QGroupBox(text, parent);
        case ControlKind::Edit: {
            if (c.style & kMultiline) {
                auto* edit = new QPlainTextEdit(text, parent);
                edit->setReadOnly(c.style & kReadOnly);
                return edit;
            }
            auto* edit = new QLineEdit(text, parent);
            edit->setReadOnly(c.style & kReadOnly);
            if (c.style & kPassword) edit->setEchoMode(QLineEdit::Password);
            QObject::connect(edit, &QLineEdit::textEdited, parent, [this, id] { Dispatch(id, notify::kEditChange); });
            return edit;
        }
        case ControlKind::ComboBox: {
            auto* combo = new QComboBox(parent);
            combo->setMaxVisibleItems(12);
            QObject::connect(combo, &QComboBox::activated, parent, [this, id] { Dispatch(id, notify::kSelChange); });
            return combo;
        }
        case ControlKind::ListBox: {
            auto* list = new ListBoxWidget(parent);
            QObject::connect(list, &QListWidget::itemClicked, parent, [this, id] { Dispatch(id, notify::kSelChange); });
            return list;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(parent);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(false);
            return bar;
        }
        case ControlKind::Tab: {
            auto* tab = new TabControlWidget(parent);
            tab->selChangeNotify = [this, id] { Dispatch(id, notify::kTabSelChange); };
            return tab;
        }
        case ControlKind::BitmapStatic:
        case ControlKind::IconStatic: {
            auto* image = new ImageStatic(parent);
            if (c.imageId) image->SetImage(c.imageId, ResourceBitmap(c.imageId));
            return image;
        }
        case ControlKind::CheckBox: {
            auto* box = new QCheckBox(text, parent);
            QObject::connect(box, &QCheckBox::clicked, parent, [this, id] { Dispatch(id, notify::kClicked); });
            return box;
        }
        case ControlKind::RadioButton: {
            auto* radio = new QRadioButton(text, parent);
            radio->setAutoExclusive(false);
            QObject::connect(radio, &QRadioButton::clicked, parent, [this, id] { Dispatch(id, notify::kClicked); });
            return radio;
        }
        case ControlKind::Spin:
            return new SpinWidget(parent);
    }
    return nullptr;
}

}  // namespace platform
