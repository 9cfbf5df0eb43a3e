// The console's application object and its general error reporting: an exception that escapes an
// event handler is shown in an error box with its message, and the program goes on.
#pragma once
#include <QApplication>
#include <exception>
#include <functional>

// The title of the application: the title of its message boxes.
inline constexpr const char* ApplicationTitle = "Centralization Service Statistics & Status";

class TConsoleApplication : public QApplication {
public:
    TConsoleApplication(int& argc, char** argv);
    // Delivers the event; an exception that escapes its handler is shown by ShowException.
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the error's message, as plain text, in an error box with an OK button and waits for it
// to close.
void ShowException(const std::exception& error);

namespace ferrix {
// Runs an event handler; an exception that escapes it is shown by ShowException. Every handler of
// the console's windows runs through here, so that no exception crosses the toolkit's frames.
void RunHandler(const std::function<void()>& handler);

// The hourglass cursor while it lives; the cursor comes back also when the work raises.
class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};
}  // namespace ferrix
