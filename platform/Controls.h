// Widgets behind the template control kinds that need more than Qt offers
// as it stands: the tab control (with hooks for selection rules and owner
// drawing), the list box with a horizontal extent, and image statics.
#pragma once

#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QTabBar>
#include <QWidget>
#include <functional>
#include <vector>

namespace platform {

class TabControlWidget;

// Everything an owner-drawn tab needs.
struct TabDrawInfo {
    int index = 0;
    QRect rect;
    bool selected = false;
    QString text;
    int imageIndex = -1;
};

class TabBar : public QTabBar {
    Q_OBJECT
public:
    explicit TabBar(TabControlWidget* owner);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    QSize tabSizeHint(int index) const override;

private:
    TabControlWidget* owner_;
};

class TabControlWidget : public QWidget {
    Q_OBJECT
public:
    explicit TabControlWidget(QWidget* parent = nullptr);

    int InsertItem(int index, const QString& label);
    bool DeleteItem(int index);
    int GetItemCount() const;
    int GetCurSel() const;
    // The selection request as a program sends it; it passes the window hook
    // first (when installed), which may steer or refuse it.
    int SetCurSel(int index);
    // Selects without any hook and without notifications.
    int SetCurSelDirect(int index);
    QRect GetItemRect(int index) const;
    int HitTest(const QPoint& clientPos) const;
    QString GetItemText(int index) const;
    int GetItemImage(int index) const;
    bool SetItemImage(int index, int image);
    std::vector<QIcon>& ImageList() { return images_; }
    bool HasImageList() const { return hasImageList_; }
    void SetHasImageList(bool has) { hasImageList_ = has; }
    void SetOwnerDraw(bool on);
    bool IsOwnerDraw() const { return ownerDraw_; }
    void InvalidateItem(int index);
    TabBar* Bar() const { return bar_; }

    // Hooks the extension installs.
    // Intercepts a selection request; returns true when it handled it and
    // stores the result.
    std::function<bool(int index, int& result)> setCurSelHook;
    // Asked before a click changes the tab (hit is -1 beside all tabs);
    // returns true to veto.
    std::function<bool(int hit)> selChangingHook;
    // Arrow keys; returns true when handled.
    std::function<bool(int key)> keyHook;
    // Owner drawing of one tab.
    std::function<void(QPainter& painter, const TabDrawInfo& info)> drawItemHook;
    // Sent to the parent as the selection-change notification.
    std::function<void()> selChangeNotify;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class TabBar;
    TabBar* bar_;
    std::vector<int> imageIndex_;
    std::vector<QIcon> images_;
    bool hasImageList_ = false;
    bool ownerDraw_ = false;
};

// A list box whose horizontal scroll range follows an extent set by its owner.
class ListBoxWidget : public QListWidget {
    Q_OBJECT
public:
    explicit ListBoxWidget(QWidget* parent = nullptr);
    void SetHorizontalExtent(int pixels);
    int GetHorizontalExtent() const { return extent_; }

protected:
    void updateGeometries() override;

private:
    int extent_ = 0;
};

// A static that shows a bitmap resource and remembers which one.
class ImageStatic : public QLabel {
    Q_OBJECT
public:
    explicit ImageStatic(QWidget* parent = nullptr);
    void SetImage(int resourceId, const QPixmap& pixmap);
    int ImageId() const { return imageId_; }

private:
    int imageId_ = 0;
};

// Up-down arrows beside an edit (their buddy, the edit before them in the
// template). Each arrow steps the position by one within the range and writes
// it into the buddy as a decimal number; setting the position does the same.
// Every write into the buddy raises the buddy's edit-change notification, as
// a text change of an edit does.
class SpinWidget : public QWidget {
    Q_OBJECT
public:
    explicit SpinWidget(QWidget* parent = nullptr);
    void SetBuddy(QLineEdit* buddy, std::function<void()> buddyChanged);
    QLineEdit* Buddy() const { return buddy_; }
    void SetRange(int low, int high);
    int Low() const { return low_; }
    int High() const { return high_; }
    void SetPos(int pos);
    int Pos() const { return pos_; }
    // One step up (+1) or down (-1) from the buddy's number, as a click does.
    void Step(int delta);

private:
    QLineEdit* buddy_ = nullptr;
    std::function<void()> buddyChanged_;
    int low_ = 0;
    int high_ = 100;
    int pos_ = 0;
};

}  // namespace platform
