#include "platform/Controls.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QStyleOptionTab>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <algorithm>

namespace platform {

namespace {
// Set while the program itself changes the selection, so that only user
// actions turn into selection-change notifications.
thread_local int g_programmaticSelection = 0;
constexpr int kMinimumTabWidth = 36;
}  // namespace

TabBar::TabBar(TabControlWidget* owner) : QTabBar(owner), owner_(owner) {
    setExpanding(false);
    setDrawBase(false);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QTabBar::currentChanged, this, [this](int) {
        if (g_programmaticSelection == 0 && owner_->selChangeNotify) {
            owner_->selChangeNotify();
        }
    });
}

QSize TabBar::tabSizeHint(int index) const {
    QSize size = QTabBar::tabSizeHint(index);
    size.setWidth(std::max(size.width(), kMinimumTabWidth));
    return size;
}

void TabBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QTabBar::mousePressEvent(event);
        return;
    }
    const int hit = tabAt(event->position().toPoint());
    if (owner_->selChangingHook && owner_->selChangingHook(hit)) {
        event->accept();
        return;
    }
    if (hit < 0) {
        event->accept();
        return;
    }
    QTabBar::mousePressEvent(event);
}

void TabBar::keyPressEvent(QKeyEvent* event) {
    if (owner_->keyHook && owner_->keyHook(event->key())) {
        event->accept();
        return;
    }
    QTabBar::keyPressEvent(event);
}

void TabBar::paintEvent(QPaintEvent* event) {
    if (!owner_->ownerDraw_ || !owner_->drawItemHook) {
        QTabBar::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    for (int i = 0; i < count(); ++i) {
        QStyleOptionTab option;
        initStyleOption(&option, i);
        option.text.clear();
        option.icon = QIcon();
        painter.drawControl(QStyle::CE_TabBarTabShape, option);
        TabDrawInfo info;
        info.index = i;
        info.rect = tabRect(i);
        info.selected = (i == currentIndex());
        info.text = tabText(i);
        info.imageIndex = owner_->GetItemImage(i);
        owner_->drawItemHook(painter, info);
    }
}

TabControlWidget::TabControlWidget(QWidget* parent) : QWidget(parent), bar_(new TabBar(this)) {
    bar_->move(2, 2);
    bar_->show();
}

int TabControlWidget::InsertItem(int index, const QString& label) {
    ++g_programmaticSelection;
    const int at = bar_->insertTab(index, label);
    --g_programmaticSelection;
    imageIndex_.insert(imageIndex_.begin() + std::clamp(at, 0, static_cast<int>(imageIndex_.size())), -1);
    bar_->resize(bar_->sizeHint());
    return at;
}

bool TabControlWidget::DeleteItem(int index) {
    if (index < 0 || index >= bar_->count()) return false;
    ++g_programmaticSelection;
    bar_->removeTab(index);
    --g_programmaticSelection;
    imageIndex_.erase(imageIndex_.begin() + index);
    bar_->resize(bar_->sizeHint());
    return true;
}

int TabControlWidget::GetItemCount() const { return bar_->count(); }

int TabControlWidget::GetCurSel() const { return bar_->currentIndex(); }

int TabControlWidget::SetCurSel(int index) {
    int result = 0;
    if (setCurSelHook && setCurSelHook(index, result)) {
        return result;
    }
    return SetCurSelDirect(index);
}

int TabControlWidget::SetCurSelDirect(int index) {
    if (index < 0 || index >= bar_->count()) return -1;
    const int previous = bar_->currentIndex();
    ++g_programmaticSelection;
    bar_->setCurrentIndex(index);
    --g_programmaticSelection;
    return previous;
}

QRect TabControlWidget::GetItemRect(int index) const {
    if (index < 0 || index >= bar_->count()) return QRect();
    return bar_->tabRect(index).translated(bar_->pos());
}

int TabControlWidget::HitTest(const QPoint& clientPos) const {
    return bar_->tabAt(clientPos - bar_->pos());
}

QString TabControlWidget::GetItemText(int index) const { return bar_->tabText(index); }

int TabControlWidget::GetItemImage(int index) const {
    if (index < 0 || index >= static_cast<int>(imageIndex_.size())) return -1;
    return imageIndex_[static_cast<size_t>(index)];
}

bool TabControlWidget::SetItemImage(int index, int image) {
    if (index < 0 || index >= static_cast<int>(imageIndex_.size())) return false;
    imageIndex_[static_cast<size_t>(index)] = image;
    if (image >= 0 && image < static_cast<int>(images_.size())) {
        bar_->setTabIcon(index, images_[static_cast<size_t>(image)]);
    }
    bar_->update();
    return true;
}

void TabControlWidget::SetOwnerDraw(bool on) {
    ownerDraw_ = on;
    bar_->update();
}

void TabControlWidget::InvalidateItem(int index) {
    bar_->update(bar_->tabRect(index));
}

void TabControlWidget::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    const int top = bar_->geometry().bottom();
    frame.rect = QRect(0, top, width(), height() - top);
    frame.tabBarSize = bar_->size();
    frame.shape = QTabBar::RoundedNorth;
    frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    painter.drawPrimitive(QStyle::PE_FrameTabWidget, frame);
}

void TabControlWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    bar_->resize(bar_->sizeHint());
}

namespace {

// Every row of a list box is one line of text in the list's font, as wide as
// the extent its owner set. So a row's size needs no measuring of its text,
// and laying the list out again after an add costs no text shaping, however
// many rows it holds. The row height is taken once per font.
class ListRowDelegate : public QStyledItemDelegate {
public:
    explicit ListRowDelegate(ListBoxWidget* list) : QStyledItemDelegate(list), list_(list) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        if (rowHeight_ < 0 || rowFont_ != option.font) {
            QStyleOptionViewItem sample(option);
            sample.text = QStringLiteral("Xg");
            sample.features |= QStyleOptionViewItem::HasDisplay;
            rowHeight_ = QStyledItemDelegate::sizeHint(sample, index).height();
            rowFont_ = option.font;
        }
        return {list_->GetHorizontalExtent(), rowHeight_};
    }

private:
    ListBoxWidget* list_;
    mutable int rowHeight_ = -1;
    mutable QFont rowFont_;
};

}  // namespace

ListBoxWidget::ListBoxWidget(QWidget* parent) : QListWidget(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTextElideMode(Qt::ElideNone);
    setWordWrap(false);
    setUniformItemSizes(true);
    setItemDelegate(new ListRowDelegate(this));
}

void ListBoxWidget::SetHorizontalExtent(int pixels) {
    const int extent = std::max(0, pixels);
    if (extent == extent_) return;
    extent_ = extent;
    // The rows take the new width at the next layout.
    scheduleDelayedItemsLayout();
    updateGeometries();
}

void ListBoxWidget::updateGeometries() {
    QListWidget::updateGeometries();
    const int range = std::max(0, extent_ - viewport()->width());
    horizontalScrollBar()->setRange(0, range);
    horizontalScrollBar()->setPageStep(viewport()->width());
}

ImageStatic::ImageStatic(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void ImageStatic::SetImage(int resourceId, const QPixmap& pixmap) {
    imageId_ = resourceId;
    setPixmap(pixmap);
}

SpinWidget::SpinWidget(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* up = new QToolButton(this);
    auto* down = new QToolButton(this);
    up->setArrowType(Qt::UpArrow);
    down->setArrowType(Qt::DownArrow);
    up->setAccessibleName(QStringLiteral("+"));
    down->setAccessibleName(QStringLiteral("-"));
    for (QToolButton* arrow : {up, down}) {
        arrow->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        arrow->setAutoRepeat(true);
        layout->addWidget(arrow);
    }
    connect(up, &QToolButton::clicked, this, [this] { Step(1); });
    connect(down, &QToolButton::clicked, this, [this] { Step(-1); });
}

void SpinWidget::SetBuddy(QLineEdit* buddy, std::function<void()> buddyChanged) {
    buddy_ = buddy;
    buddyChanged_ = std::move(buddyChanged);
}

void SpinWidget::SetRange(int low, int high) {
    low_ = std::min(low, high);
    high_ = std::max(low, high);
    pos_ = std::clamp(pos_, low_, high_);
}

void SpinWidget::SetPos(int pos) {
    pos_ = std::clamp(pos, low_, high_);
    if (buddy_) {
        buddy_->setText(QString::number(pos_));
        if (buddyChanged_) buddyChanged_();
    }
}

void SpinWidget::Step(int delta) {
    int from = pos_;
    if (buddy_) {
        bool ok = false;
        const int typed = buddy_->text().trimmed().toInt(&ok);
        if (ok) from = std::clamp(typed, low_, high_);
    }
    SetPos(from + delta);
}

}  // namespace platform
