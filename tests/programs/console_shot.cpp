// Opens the console's window on the service of this PC, waits until it shows the running service
// with the statistics of a finished check, and saves a picture of the window and one of its
// statistics page (PICTURE-statistics.png):
//   console_shot PICTURE.png CONSOLE_DIR [SECONDS]
// CONSOLE_DIR takes the console's own files. Exit status 0 when the picture was saved, 1 when the
// window did not get there in time (default 60 seconds).
#include <QElapsedTimer>
#include <QPixmap>
#include <QRegularExpression>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "console/application.h"
#include "console/ferrix_cfgmain2.h"

namespace {

bool ShowsRunningServiceWithStatistics(const TMainWnd& wnd)
{
    return wnd.IsServiceRunning() && wnd.StatusText().isEmpty() && !wnd.LabLastGroupVal->text().isEmpty() &&
           !wnd.LabNextFileCheckAtVal->text().isEmpty();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: console_shot PICTURE.png CONSOLE_DIR [SECONDS]\n");
        return 2;
    }
    const QString picture = QString::fromLocal8Bit(argv[1]);
    const std::string consoleDir = argv[2];
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 60;
    int qtArgc = 1;
    TConsoleApplication application(qtArgc, argv);
    TMainWnd wnd(nullptr, consoleDir);
    wnd.resize(wnd.sizeHint().expandedTo(QSize(560, 420)));
    wnd.show();
    QElapsedTimer clock;
    clock.start();
    while (!ShowsRunningServiceWithStatistics(wnd)) {
        if (clock.elapsed() > seconds * 1000) {
            std::fprintf(stderr, "console_shot: the window shows \"%s\"\n", wnd.StatusText().toLocal8Bit().constData());
            return 1;
        }
        QTest::qWait(50);
    }
    QTest::qWait(100);  // one more paint of every label
    if (!wnd.grab().save(picture, "PNG")) {
        std::fprintf(stderr, "console_shot: cannot write %s\n", argv[1]);
        return 1;
    }
    wnd.PgcMain->setCurrentWidget(wnd.TsStatistics);
    QCoreApplication::processEvents();
    QString statistics = picture;
    statistics.replace(QRegularExpression("\\.png$"), "-statistics.png");
    if (!wnd.grab().save(statistics, "PNG")) {
        std::fprintf(stderr, "console_shot: cannot write %s\n", statistics.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
