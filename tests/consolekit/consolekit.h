// Helpers of the console tests: the application object on the offscreen platform and answers to
// modal windows.
#pragma once
#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>

class QMessageBox;

// Runs action on the next modal window that opens (a dialog or a message box other than the
// one active now), from the event loop of that window. A test that expects no such window within
// the deadline fails.
void AnswerNextModal(const std::function<void(QWidget*)>& action,
                     std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Answers the next modal window: a message box with the given button, a dialog with reject().
// Keeps the box's text in *text, its icon in *icon and its text format in *format when given.
void AnswerNextBox(QString* text = nullptr, int button = 0x00000400 /* QMessageBox::Ok */, int* icon = nullptr,
                   int* format = nullptr);

// Runs the event loop until cond holds or the deadline passes; returns the last result.
bool WaitForEvents(const std::function<bool()>& cond, std::chrono::milliseconds deadline = std::chrono::seconds(10));
