// A tab control that can disable single tabs: a disabled tab is drawn
// greyed, cannot be chosen with the mouse and is skipped by keyboard and
// programmatic selection.
#pragma once

#include <QIcon>
#include <QRect>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QPainter;

namespace platform {
class TabControlWidget;
}

// What a property sheet offers the extension: its tab control, its pages and
// the leave-permission question.
class PropertySheetHost {
public:
    virtual ~PropertySheetHost() = default;
    virtual platform::TabControlWidget* GetTabControl() = 0;
    virtual int GetActiveIndex() = 0;
    virtual std::string GetPageTitle(int page) = 0;
    // Sends the kill-active notification to a page; 0 means it may be left.
    virtual int SendKillActive(int page, const struct TabNotifyHeader& header) = 0;
    virtual int GetControlId() = 0;
};

struct TabNotifyHeader {
    const void* source = nullptr;
    int controlId = 0;
    int code = 0;
};

// The draw-item record handed to DrawItem.
struct TabDrawItemRecord {
    int controlType = 0;  // kOdtTab for a tab control
    int itemId = 0;
    QPainter* painter = nullptr;
    QRect rect;
    bool selected = false;
};

class CTabCtrlEx {
public:
    static constexpr int kOdtTab = 101;
    static constexpr int kTcnSelChange = -551;
    static constexpr int kPsnKillActive = -201;

    CTabCtrlEx();
    virtual ~CTabCtrlEx();
    CTabCtrlEx(const CTabCtrlEx&) = delete;
    CTabCtrlEx& operator=(const CTabCtrlEx&) = delete;

    // Binds this object to a control of a dialog (without installing the
    // extension); notifications go to notifyParent.
    void Attach(platform::TabControlWidget* control, int controlId, std::function<void()> notifyParent);
    platform::TabControlWidget* Control() const { return control_; }

    bool Install(platform::TabControlWidget* control);
    bool Install(PropertySheetHost& sheet);

    bool EnableItem(int index, bool enable);
    bool IsItemEnabled(int index, int* position = nullptr) const;
    int SetItemImage(int item, int bitmapId, int maskId = 0);
    int SetItemImage(int item, const QIcon& icon);
    int FindNextEnabled(int start, bool forward) const;
    void SelectTab(int index);
    bool KillActivePage(int page);

    // Message handling of the extension.
    // Selection request for wParam; returns true when handled (result set).
    bool WindowProcSetCurSel(int wParam, int& result);
    bool WindowProcKeyDown(int key);
    // Reflected selection-changing notification for a click at hit (-1 when
    // beside all tabs); true vetoes the change.
    bool OnSelchanging(int hit);
    void DrawItem(const TabDrawItemRecord& record);
    void DrawItemText(QPainter& painter, const QRect& rect, const QString& text, bool disabled);

    const std::vector<std::uint32_t>& DisabledItems() const { return disabledItems; }
    const TabNotifyHeader& NotifyHeader() const { return notifyHeader; }

    int GetItemCount() const;
    int GetCurSel() const;

private:
    void InstallHooks();

    std::vector<std::uint32_t> disabledItems;
    TabNotifyHeader notifyHeader;
    platform::TabControlWidget* control_ = nullptr;
    int controlId_ = 0;
    std::function<void()> notifyParent_;
    PropertySheetHost* sheet_ = nullptr;
};
