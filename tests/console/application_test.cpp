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
    // An X server of its own on a free display, which it names on its standard output; the
    // process object ends it when the test ends.
    QProcess server;
    server.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
    ASSERT_TRUE(server.waitForStarted(10000));
    QByteArray display;
    ASSERT_TRUE(WaitForEvents([&] {
        display += server.readAllStandardOutput();
        return display.endsWith('\n');
    }, std::chrono::seconds(20))) << "Xvfb named no display";

    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", ":" + QString::fromLatin1(display.trimmed()));
    // The X11 platform's D-Bus library keeps a buffer to the end; that is not ours to find.
    environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":detect_leaks=0");
    probe.setProcessEnvironment(environment);
    probe.start(CONSOLE_TITLE_PROBE, {"Connectivity test: no errors found"});
    ASSERT_TRUE(probe.waitForFinished(60000));
    ASSERT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();
    EXPECT_EQ(probe.readAllStandardOutput().toStdString(),
              "_NET_WM_NAME(UTF8_STRING) = \"Connectivity test: no errors found\"\n");
}
