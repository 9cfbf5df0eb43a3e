#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>
#include "consolekit.h"
#include "console/application.h"

// An exception escaping a handler is shown in an error box, and the program goes on.
TEST(GeneralErrorReporting, ShowsTheMessageInAnErrorBoxAndGoesOn)
{
    QString text;
    int icon = 0;
    AnswerNextBox(&text, QMessageBox::Ok, &icon);
    bool after = false;
    ferrix::RunHandler([] { throw std::runtime_error("Disk on fire"); });
    after = true;
    EXPECT_TRUE(after);
    EXPECT_EQ(text, "Disk on fire");
    EXPECT_EQ(icon, QMessageBox::Critical);
}

TEST(GeneralErrorReporting, CatchesAnExceptionFromAButtonHandlerOfTheEventLoop)
{
    QPushButton button;
    QObject::connect(&button, &QPushButton::clicked, [] { ferrix::RunHandler([] { throw std::runtime_error("Nope"); }); });
    QString text;
    AnswerNextBox(&text);
    button.click();
    EXPECT_EQ(text, "Nope");
}

// On an X11 desktop a window's title reaches the window manager as the window sets it: the
// application's title is not added to it.
TEST(ConsoleApplication, WindowTitlesReachTheDesktopUnchanged)
{
    QProcess probe;
    // The X11 platform's D-Bus library keeps a buffer to the end; that is not ours to find.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":detect_leaks=0");
    probe.setProcessEnvironment(environment);
    probe.start("timeout", {"60", "xvfb-run", "-a", CONSOLE_TITLE_PROBE, "Connectivity test: no errors found"});
    ASSERT_TRUE(probe.waitForFinished(90000));
    ASSERT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();
    EXPECT_EQ(probe.readAllStandardOutput().toStdString(),
              "_NET_WM_NAME(UTF8_STRING) = \"Connectivity test: no errors found\"\n");
}
