// Bitmap and icon resources. The program draws its own pictures at the sizes
// the templates expect.
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <map>
#include <mutex>

#include "platform/Dialog.h"

namespace platform {
namespace {

QImage Banner(int w, int h, QColor from, QColor to, const QString& title, const QString& subtitle) {
    QImage pixmap(w, h, QImage::Format_RGB32);
    QPainter p(&pixmap);
    QLinearGradient gradient(0, 0, w, h);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    p.fillRect(pixmap.rect(), gradient);
    p.setRenderHint(QPainter::Antialiasing);
    // A track line across the banner.
    p.setPen(QPen(QColor(255, 255, 255, 90), std::max(2, h / 20)));
    QPainterPath path(QPointF(w * 0.55, h * 0.85));
    path.cubicTo(w * 0.70, h * 0.10, w * 0.80, h * 0.95, w * 0.97, h * 0.20);
    p.drawPath(path);
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(std::max(10, h * 2 / 5));
    p.setFont(font);
    p.drawText(QRect(h / 5, 0, w, subtitle.isEmpty() ? h : h * 2 / 3), Qt::AlignVCenter | Qt::AlignLeft, title);
    if (!subtitle.isEmpty()) {
        font.setBold(false);
        font.setPixelSize(std::max(8, h / 5));
        p.setFont(font);
        p.drawText(QRect(h / 5, h * 3 / 5, w, h * 2 / 5), Qt::AlignTop | Qt::AlignLeft, subtitle);
    }
    return pixmap;
}

QImage Dot(int size, QColor color) {
    QImage pixmap(size, size, QImage::Format_ARGB32_Premultiplied);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(color);
    p.setPen(color.darker(150));
    p.drawEllipse(2, 2, size - 4, size - 4);
    return pixmap;
}

QImage AppIcon() {
    QImage pixmap(32, 32, QImage::Format_ARGB32_Premultiplied);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0, 90, 170));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(1, 1, 30, 30, 6, 6);
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(20);
    p.setFont(font);
    p.drawText(pixmap.rect(), Qt::AlignCenter, "P");
    return pixmap;
}

QImage Draw(int id) {
    const QColor navy(10, 40, 90), blue(30, 110, 190), green(20, 120, 80), teal(40, 160, 140);
    switch (id) {
        case 128: return AppIcon();
        case 129: return Banner(570, 90, navy, blue, "Pellora Update", "");
        case 141: return Banner(570, 90, green, teal, "Pellora Update", "GPS");
        case 133: return Banner(570, 90, navy, teal, "Pellora Update", "");
        case 135: return Banner(183, 39, navy, blue, "Pellora", "");
        case 132: return Banner(183, 39, blue, navy, "Pellora", "");
        case 130: return Dot(24, QColor(40, 180, 60));
        case 131: return Dot(24, QColor(160, 160, 160));
        default: return QImage();
    }
}

}  // namespace

QPixmap ResourceBitmap(int id) {
    static std::mutex mutex;
    static std::map<int, QImage> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(id);
    if (it == cache.end()) {
        it = cache.emplace(id, Draw(id)).first;
    }
    return QPixmap::fromImage(it->second);
}

}  // namespace platform
