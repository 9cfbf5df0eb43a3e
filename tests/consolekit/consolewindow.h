// The console's window as the end-to-end tests drive it: a TMainWnd with its files in a folder of
// the test's own, shown on the offscreen platform, and what the tests read from it.
#pragma once
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>

#include "console/ferrix_cfgmain2.h"
#include "testkit.h"

// Keeps every text the status panel showed when it was painted, so that a test sees the texts of a
// command that blocks the window thread (the pending texts of a start or stop).
class TPaintedTexts : public QObject {
public:
    explicit TPaintedTexts(QLabel* panel);
    const QStringList& Texts() const { return FTexts; }
    // Whether the texts appear in this order (others may come between).
    bool InOrder(const QStringList& expected) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* Panel;
    QStringList FTexts;
};

class TConsoleWindow {
public:
    TConsoleWindow();
    ~TConsoleWindow();

    // Creates and shows the window (its start-up reads ferrix_cfg.ini from Dir).
    TMainWnd& Open();
    // Closes and destroys the window (it writes ferrix_cfg.ini).
    void Close();
    TMainWnd& operator*() { return *Wnd; }
    TMainWnd* operator->() { return Wnd.get(); }

    std::string Path(const std::string& name) const { return Dir / name; }
    // Runs the window's events until the status text is text (or begins with it, prefix true).
    bool WaitForStatus(const QString& text, bool prefix = false, int seconds = 20);
    // Runs the window's events until statistics flow: an empty status text and a version shown.
    bool WaitForStatistics(int seconds = 20);
    // Whether the LED of the panel is drawn lit.
    bool LedLit(QLabel* panel);

private:
    TempDir Dir;
    std::unique_ptr<TMainWnd> Wnd;
};
