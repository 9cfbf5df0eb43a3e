// Shows a dialog with the title given on the command line under the console's application object
// on an X11 display, and prints what the window manager reads as its title (xprop's line of
// _NET_WM_NAME).
#include <QDialog>
#include <QProcess>
#include <QTest>
#include <cstdio>

#include "console/application.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: console_title_probe TITLE (on an X11 display)\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    TConsoleApplication application(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle(QString::fromUtf8(argv[1]));
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog, 20000)) {
        std::fprintf(stderr, "the window was not shown\n");
        return 1;
    }
    QProcess xprop;
    xprop.start("xprop", {"-id", QString::number(dialog.winId()), "_NET_WM_NAME"});
    if (!xprop.waitForFinished(20000) || xprop.exitCode() != 0) {
        std::fprintf(stderr, "xprop failed: %s\n", xprop.readAllStandardError().constData());
        return 1;
    }
    std::fputs(xprop.readAllStandardOutput().constData(), stdout);
    return 0;
}
