#include "frontend/qt/gui.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <clocale>
#include <cstdlib>
#include <cstring>

#include "frontend/qt/dialog.h"
#include "platform/platform.h"
#include "platform/posix/x11.h"
#include "shell/shell.h"

namespace {

// Qt's xcb platform ends the process when the display it was given does not
// answer, so look before creating the application.
bool display_available() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && platform[0] != '\0' && std::strncmp(platform, "xcb", 3) != 0) return true;
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && wayland[0] != '\0' && platform == nullptr) return true;
    return x_display_reachable();
}

bool on_gui_thread() { return QThread::currentThread() == qApp->thread(); }

void show_box(const char* text, const char* caption, unsigned flags) {
    QMessageBox box((flags & kBoxIconError) != 0 ? QMessageBox::Critical : QMessageBox::Information,
                    QString::fromLatin1(caption), QString::fromLatin1(text), QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void gui_message_box(const char* text, const char* caption, unsigned flags) {
    if (!ensure_application()) {
        set_message_box_handler(nullptr);
        message_box(text, caption, flags);
        set_message_box_handler(gui_message_box);
        return;
    }
    if (on_gui_thread()) {
        show_box(text, caption, flags);
    } else {
        QMetaObject::invokeMethod(qApp, [&] { show_box(text, caption, flags); }, Qt::BlockingQueuedConnection);
    }
}

// An error on the benchmark's thread ends the process on the window's
// thread, so nothing is torn down under a running event loop.
void gui_exit(int code) {
    if (qApp == nullptr || on_gui_thread()) return;  // the caller exits
    QMetaObject::invokeMethod(qApp, [code] { std::exit(code); }, Qt::BlockingQueuedConnection);
    for (;;) QThread::sleep(1);
}

}  // namespace

QIcon program_icon() {
    // The 2-colour images are for monochrome displays, which the toolkit
    // does not tell apart; colour screens get the 16-colour ones.
    QIcon icon;
    icon.addFile(QStringLiteral(":/pt/icon-32x32-16c.xpm"));
    icon.addFile(QStringLiteral(":/pt/icon-16x16-16c.xpm"));
    return icon;
}

bool ensure_application() {
    if (qApp != nullptr) return true;
    if (!display_available()) return false;
    static int argc = 1;
    static char name[] = "pt";
    static char* argv[] = {name, nullptr};
    Q_INIT_RESOURCE(pt);
    // Never destroyed: the process may end from an error while the event
    // loop runs, and the application must not be torn down under it.
    new QApplication(argc, argv);
    // The application object adopts the environment's locale; scores and
    // results are always written with a decimal point.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setWindowIcon(program_icon());
    return true;
}

int run_dialog() {
    if (!ensure_application()) return -1;
    ProcessorTestDialog dialog;
    dialog.exec();
    return 0;
}

void install_gui() {
    set_dialog_runner(run_dialog);
    set_message_box_handler(gui_message_box);
    set_exit_handler(gui_exit);
}
