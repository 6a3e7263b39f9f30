#include "shell/TabCtrlEx.h"

#include <QApplication>
#include <QBitmap>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <algorithm>
#include <cstdlib>

#include "platform/Controls.h"
#include "platform/Dialog.h"
#include "platform/Trace.h"

CTabCtrlEx::CTabCtrlEx() = default;

CTabCtrlEx::~CTabCtrlEx() {
    if (control_) {
        control_->setCurSelHook = nullptr;
        control_->selChangingHook = nullptr;
        control_->keyHook = nullptr;
        control_->drawItemHook = nullptr;
    }
}

void CTabCtrlEx::Attach(platform::TabControlWidget* control, int controlId, std::function<void()> notifyParent) {
    control_ = control;
    controlId_ = controlId;
    notifyParent_ = std::move(notifyParent);
    if (control_) {
        // The control's own notifications go through this object from now on.
        control_->selChangeNotify = notifyParent_;
        InstallHooks();
    }
}

void CTabCtrlEx::InstallHooks() {
    control_->setCurSelHook = [this](int index, int& result) { return WindowProcSetCurSel(index, result); };
    control_->keyHook = [this](int key) { return WindowProcKeyDown(key); };
    control_->selChangingHook = [this](int hit) { return OnSelchanging(hit); };
}

bool CTabCtrlEx::Install(platform::TabControlWidget* control) {
    platform::Trace("Installing extended tab control\r\n");
    if (!control) {
        platform::Trace("Failed to subclass tab control\r\n");
        return false;
    }
    if (control != control_) {
        Attach(control, controlId_, control->selChangeNotify);
    }
    control_->SetOwnerDraw(true);
    control_->drawItemHook = [this](QPainter& painter, const platform::TabDrawInfo& info) {
        TabDrawItemRecord record;
        record.controlType = kOdtTab;
        record.itemId = info.index;
        record.painter = &painter;
        record.rect = info.rect;
        record.selected = info.selected;
        DrawItem(record);
    };
    return true;
}

bool CTabCtrlEx::Install(PropertySheetHost& sheet) {
    sheet_ = &sheet;
    controlId_ = sheet.GetControlId();
    return Install(sheet.GetTabControl());
}

int CTabCtrlEx::GetItemCount() const { return control_ ? control_->GetItemCount() : 0; }

int CTabCtrlEx::GetCurSel() const { return control_ ? control_->GetCurSel() : -1; }

bool CTabCtrlEx::IsItemEnabled(int index, int* position) const {
    if (index < 0 || index >= GetItemCount()) {
        return false;
    }
    auto it = std::find(disabledItems.begin(), disabledItems.end(), static_cast<std::uint32_t>(index));
    if (it == disabledItems.end()) {
        return true;
    }
    if (position) {
        *position = static_cast<int>(it - disabledItems.begin());
    }
    return false;
}

int CTabCtrlEx::FindNextEnabled(int start, bool forward) const {
    const int count = GetItemCount();
    if (count <= 0) return -1;
    if (forward) {
        for (int i = std::max(start, 0); i < count; ++i)
            if (IsItemEnabled(i)) return i;
        for (int i = 0; i < std::min(start, count); ++i)
            if (IsItemEnabled(i)) return i;
    } else {
        for (int i = std::min(start, count - 1); i >= 0; --i)
            if (IsItemEnabled(i)) return i;
        for (int i = count - 1; i > start && i >= 0; --i)
            if (IsItemEnabled(i)) return i;
    }
    return -1;
}

bool CTabCtrlEx::EnableItem(int index, bool enable) {
    const int count = GetItemCount();
    if (index < 0 || index >= count) {
        return false;
    }
    if (IsItemEnabled(index) == enable) {
        return true;
    }
    if (enable) {
        auto it = std::find(disabledItems.begin(), disabledItems.end(), static_cast<std::uint32_t>(index));
        if (it != disabledItems.end()) disabledItems.erase(it);
    } else if (index != GetCurSel()) {
        disabledItems.push_back(static_cast<std::uint32_t>(index));
    } else {
        const int start = (index == count - 1) ? 0 : index + 1;
        const int next = FindNextEnabled(start, true);
        if (next == -1 || next == index) {
            return false;  // the only enabled tab stays enabled
        }
        SelectTab(next);
        disabledItems.push_back(static_cast<std::uint32_t>(index));
    }
    control_->InvalidateItem(index);
    return true;
}

void CTabCtrlEx::SelectTab(int index) {
    if (index < 0 || index >= GetItemCount()) {
        return;
    }
    if (!KillActivePage(-1)) {
        return;
    }
    control_->SetCurSel(index);
    notifyHeader.source = control_;
    notifyHeader.controlId = controlId_;
    notifyHeader.code = kTcnSelChange;
    if (notifyParent_) {
        notifyParent_();
    }
}

bool CTabCtrlEx::KillActivePage(int page) {
    if (!sheet_) {
        return true;  // not in a property sheet
    }
    if (page == -1) {
        page = sheet_->GetActiveIndex();
    }
    platform::TraceF("Sending kill active message to property page #%d (%s)\r\n", page,
                     sheet_->GetPageTitle(page).c_str());
    notifyHeader.source = sheet_;
    notifyHeader.controlId = sheet_->GetControlId();
    notifyHeader.code = kPsnKillActive;
    return sheet_->SendKillActive(page, notifyHeader) == 0;
}

bool CTabCtrlEx::OnSelchanging(int hit) {
    if (hit < 0) {
        return true;
    }
    return !(IsItemEnabled(hit) && KillActivePage(-1));
}

bool CTabCtrlEx::WindowProcSetCurSel(int wParam, int& result) {
    if (IsItemEnabled(wParam) || wParam < 0 || wParam >= GetItemCount()) {
        return false;  // the control handles it
    }
    const int cur = GetCurSel();
    const int delta = wParam - cur;
    const int distance = std::abs(delta);
    if (distance != 1 && distance != wParam && distance != cur) {
        result = -1;
        return true;
    }
    const bool forward = (delta == 1) || (delta < -1);
    const int next = FindNextEnabled(wParam, forward);
    if (next == -1) {
        result = -1;
        return true;
    }
    control_->SetCurSel(next);
    result = 0;
    return true;
}

bool CTabCtrlEx::WindowProcKeyDown(int key) {
    const int count = GetItemCount();
    if (count <= 0) return false;
    const int cur = GetCurSel();
    if (key == Qt::Key_Right || key == Qt::Key_Down) {
        SelectTab(cur >= count - 1 ? 0 : cur + 1);
        return true;
    }
    if (key == Qt::Key_Left || key == Qt::Key_Up) {
        SelectTab(cur <= 0 ? count - 1 : cur - 1);
        return true;
    }
    return false;
}

int CTabCtrlEx::SetItemImage(int item, int bitmapId, int maskId) {
    if (item < 0 || item >= GetItemCount()) return -1;
    if (!control_->HasImageList()) {
        platform::TraceF("%s", "No image list defined\r\n");
        return -1;
    }
    if (maskId == 0) {
        platform::Trace("CTabCtrlEx::SetItemImage - No mask specified so using bitmap as mask\r\n");
        maskId = bitmapId;
    }
    QPixmap bitmap = platform::ResourceBitmap(bitmapId);
    if (bitmap.isNull()) {
        platform::Trace("Failed to load bitmap\r\n");
        return -1;
    }
    QPixmap mask = platform::ResourceBitmap(maskId);
    if (mask.isNull()) {
        platform::Trace("Failed to load mask\r\n");
        return -1;
    }
    if (maskId != bitmapId) {
        bitmap.setMask(mask.createHeuristicMask());
    }
    auto& images = control_->ImageList();
    images.emplace_back(bitmap);
    const int image = static_cast<int>(images.size()) - 1;
    if (!control_->SetItemImage(item, image)) {
        platform::TraceF("Failed to set image for item %d\r\n", item);
        return -1;
    }
    return image;
}

int CTabCtrlEx::SetItemImage(int item, const QIcon& icon) {
    if (item < 0 || item >= GetItemCount()) return -1;
    if (!control_->HasImageList()) {
        platform::Trace("No image list defined\r\n");
        return -1;
    }
    if (icon.isNull()) {
        platform::TraceF("Failed to add icon to image list for item %d\r\n", item);
        return -1;
    }
    auto& images = control_->ImageList();
    images.push_back(icon);
    const int image = static_cast<int>(images.size()) - 1;
    if (!control_->SetItemImage(item, image)) {
        platform::TraceF("Failed to set image for item %d\r\n", item);
        return -1;
    }
    return image;
}

void CTabCtrlEx::DrawItem(const TabDrawItemRecord& record) {
    if (record.controlType != kOdtTab) {
        platform::Trace("CTabCtrlEx::DrawItem() - Ignoring non-tab control\r\n");
        return;
    }
    if (!record.painter || record.itemId < 0 || record.itemId >= GetItemCount()) {
        platform::TraceF("Failed to get item %d\r\n", record.itemId);
        return;
    }
    QPainter& painter = *record.painter;
    const bool enabled = IsItemEnabled(record.itemId);
    const QString text = control_->GetItemText(record.itemId).left(255);
    const int image = control_->GetItemImage(record.itemId);
    QRect textRect = record.rect;
    if (record.selected) {
        textRect.setLeft(textRect.left() + 7);
    } else {
        textRect.setLeft(textRect.left() + 4);
        textRect.setTop(textRect.top() + 2);
    }
    const auto& images = control_->ImageList();
    if (image >= 0 && image < static_cast<int>(images.size())) {
        const QPoint at(record.rect.left(), record.rect.top() + (record.selected ? 3 : 0));
        const QIcon& icon = images[static_cast<size_t>(image)];
        const QSize size = icon.availableSizes().isEmpty() ? QSize(16, 16) : icon.availableSizes().first();
        icon.paint(&painter, QRect(at, size), Qt::AlignCenter, enabled ? QIcon::Normal : QIcon::Disabled);
        textRect.setLeft(textRect.left() + size.width() + 2);
    }
    const QPalette palette = QApplication::palette();
    const QPen previous = painter.pen();
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    if (enabled) {
        painter.setPen(palette.color(QPalette::ButtonText));
        painter.drawText(textRect, flags, text);
    } else {
        painter.setPen(palette.color(QPalette::Light));
        painter.drawText(textRect.translated(1, 1), flags, text);
        painter.setPen(palette.color(QPalette::Disabled, QPalette::Text));
        painter.drawText(textRect, flags, text);
    }
    painter.setPen(previous);
}

void CTabCtrlEx::DrawItemText(QPainter& painter, const QRect& rect, const QString& text, bool disabled) {
    const QPalette palette = QApplication::palette();
    const QPen previous = painter.pen();
    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    painter.setPen(disabled ? palette.color(QPalette::Light) : palette.color(QPalette::ButtonText));
    painter.drawText(rect, flags, text);
    if (disabled) {
        painter.setPen(palette.color(QPalette::Disabled, QPalette::Text));
        painter.drawText(rect.translated(-1, -1), flags, text);
    }
    painter.setPen(previous);
}
