#include "consolewindow.h"

#include <QEvent>
#include <QImage>
#include <chrono>
#include <gtest/gtest.h>

#include "consolekit.h"

TPaintedTexts::TPaintedTexts(QLabel* panel) : Panel(panel)
{
    Panel->installEventFilter(this);
}

bool TPaintedTexts::InOrder(const QStringList& expected) const
{
    qsizetype next = 0;
    for (const QString& text : FTexts)
        if (next < expected.size() && text == expected[next])
            ++next;
    return next == expected.size();
}

bool TPaintedTexts::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Panel && event->type() == QEvent::Paint && (FTexts.isEmpty() || FTexts.back() != Panel->text()))
        FTexts.push_back(Panel->text());
    return false;
}

TConsoleWindow::TConsoleWindow() = default;

TConsoleWindow::~TConsoleWindow()
{
    Close();
}

TMainWnd& TConsoleWindow::Open()
{
    Wnd = std::make_unique<TMainWnd>(nullptr, Dir.Path());
    Wnd->show();
    return *Wnd;
}

void TConsoleWindow::Close()
{
    if (!Wnd)
        return;
    Wnd->close();
    Wnd.reset();
}

bool TConsoleWindow::WaitForStatus(const QString& text, bool prefix, int seconds)
{
    return WaitForEvents(
        [&] { return prefix ? Wnd->StatusText().startsWith(text) : Wnd->StatusText() == text; },
        std::chrono::seconds(seconds));
}

bool TConsoleWindow::WaitForStatistics(int seconds)
{
    return WaitForEvents([&] { return Wnd->StatusText().isEmpty() && !Wnd->LabVersionVal->text().isEmpty(); },
                         std::chrono::seconds(seconds));
}

bool TConsoleWindow::LedLit(QLabel* panel)
{
    // The lit and the unlit image differ in the middle of the LED.
    const QImage drawn = panel->grab().toImage();
    const QImage lit = ferrix::LedImage(true).toImage();
    const QImage unlit = ferrix::LedImage(false).toImage();
    const QPoint middle(6, 6);
    const QPoint at = middle * drawn.devicePixelRatio();
    if (drawn.pixel(at) == lit.pixel(middle * lit.devicePixelRatio()))
        return true;
    if (drawn.pixel(at) != unlit.pixel(middle * unlit.devicePixelRatio()))
        ADD_FAILURE() << "the LED panel shows neither LED";
    return false;
}
