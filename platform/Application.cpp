#include "platform/Application.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QStyleFactory>
#include <cstdlib>

#include <xcb/xcb.h>

namespace platform {

std::string DisplayProblem() {
    const char* qpa = std::getenv("QT_QPA_PLATFORM");
    if (qpa && *qpa) {
        return {};  // an explicit platform plugin (offscreen, vnc, ...) needs no display
    }
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland) {
        return {};
    }
    if (x11 && *x11) {
        // The toolkit aborts when the X server does not answer; ask it first
        // (connection and set-up, as the toolkit's own first step does).
        xcb_connection_t* connection = xcb_connect(x11, nullptr);
        const bool reached = xcb_connection_has_error(connection) == 0;
        xcb_disconnect(connection);
        if (reached) {
            return {};
        }
        return "cannot open the display " + std::string(x11) +
               ": no X server answers there; start one, correct DISPLAY, "
               "or set QT_QPA_PLATFORM=offscreen to run without one";
    }
    return "no display: set DISPLAY (or WAYLAND_DISPLAY) to show the window, "
           "or QT_QPA_PLATFORM=offscreen to run without one";
}

void InitApplicationLook(QApplication& app) {
    if (QStyle* fusion = QStyleFactory::create("Fusion")) {
        app.setStyle(fusion);
    }
    QFont font;
    const QStringList families = QFontDatabase::families();
    for (const char* name : {"Noto Sans CJK JP", "Noto Sans JP", "IPAGothic", "VL Gothic"}) {
        if (families.contains(QString::fromUtf8(name))) {
            font = QFont(QString::fromUtf8(name));
            break;
        }
    }
    font.setPixelSize(12);
    app.setFont(font);
}

}  // namespace platform
