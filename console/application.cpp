#include "console/application.h"
#include <QMessageBox>

TConsoleApplication::TConsoleApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // The name only: a display name set as well would be added to every window's title on an
    // X11 desktop.
    setApplicationName(ApplicationTitle);
}

bool TConsoleApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(error);
    }
    return false;
}

void ShowException(const std::exception& error)
{
    QMessageBox box(QMessageBox::Critical, ApplicationTitle, QString::fromUtf8(error.what()), QMessageBox::Ok,
                    QApplication::activeWindow());
    // A message carries file names, PC names and peers' answers: shown as they stand.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

namespace ferrix {
void RunHandler(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& error) {
        ShowException(error);
    }
}
}  // namespace ferrix
