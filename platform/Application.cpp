#include "platform/Application.h"

#include <unistd.h>

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
namespace {

// One toolkit message held back while the application object is built.
struct HeldMessage {
    QtMsgType type;
    std::string file, function, category;
    int line;
    QString text;
};

// State of the one start in progress. The toolkit may log from its X event
// thread as well, hence the lock.
struct StartState {
    std::mutex lock;
    bool holding = false;
    const char* program = "";
    QtMessageHandler previous = nullptr;
    std::vector<HeldMessage> held;
};
StartState g_start;

const char* Variable(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

// Why no window could be shown, in the words of the environment the toolkit saw.
std::string ProblemText() {
    const std::string offscreen = "set QT_QPA_PLATFORM=offscreen to run without one";
    const char* platform = Variable("QT_QPA_PLATFORM");
    const char* x11 = Variable("DISPLAY");
    const bool viaX = x11 && (!platform || std::string_view(platform).find("xcb") != std::string_view::npos);
    if (platform && !viaX) {
        return "the platform \"" + std::string(platform) + "\" named by QT_QPA_PLATFORM cannot show a window; "
               "correct it, or unset it to use the display";
    }
    if (viaX) {
        return "cannot open the display " + std::string(x11) +
               ": no X server there accepts a connection; start one, correct DISPLAY, or " + offscreen;
    }
    if (const char* wayland = Variable("WAYLAND_DISPLAY")) {
        return "cannot open the Wayland display " + std::string(wayland) +
               ", and DISPLAY names no X display; set DISPLAY to an X display, or " + offscreen;
    }
    return "no display: set DISPLAY to show the window, or " + offscreen;
}

void Pass(QtMessageHandler previous, const QMessageLogContext& context, const QString& text, QtMsgType type) {
    if (previous) {
        previous(type, context, text);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
    }
}

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    std::unique_lock guard(g_start.lock);
    if (type == QtFatalMsg) {
        // The toolkit gives up here and would abort; say why in one line instead.
        const std::string line = std::string(g_start.program) + ": " + ProblemText() + "\n";
        (void)!::write(STDERR_FILENO, line.data(), line.size());
        ::_exit(1);
    }
    if (!g_start.holding) {
        const QtMessageHandler previous = g_start.previous;
        guard.unlock();
        Pass(previous, context, text, type);
        return;
    }
    g_start.held.push_back({type, context.file ? context.file : "", context.function ? context.function : "",
                            context.category ? context.category : "", context.line, text});
}

}  // namespace

std::unique_ptr<QApplication> StartApplication(int& argc, char** argv, const char* program) {
    {
        std::lock_guard guard(g_start.lock);
        g_start.program = program;
        g_start.holding = true;
        g_start.held.clear();
    }
    const QtMessageHandler previous = qInstallMessageHandler(HoldMessage);
    {
        std::lock_guard guard(g_start.lock);
        g_start.previous = previous;
    }
    auto app = std::make_unique<QApplication>(argc, argv);
    std::vector<HeldMessage> held;
    {
        std::lock_guard guard(g_start.lock);
        g_start.holding = false;
        held.swap(g_start.held);
    }
    qInstallMessageHandler(previous);
    for (const HeldMessage& message : held) {
        const QMessageLogContext context(message.file.c_str(), message.line, message.function.c_str(),
                                         message.category.c_str());
        Pass(previous, context, message.text, message.type);
    }
    return app;
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
