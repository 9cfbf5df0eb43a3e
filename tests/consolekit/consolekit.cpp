#include "consolekit.h"
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include "console/application.h"

void AnswerNextModal(const std::function<void(QWidget*)>& action, std::chrono::milliseconds deadline)
{
    QPointer<QWidget> before = QApplication::activeModalWidget();
    auto* timer = new QTimer(qApp);
    auto end = std::chrono::steady_clock::now() + deadline;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, before, action, end] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal != before && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        } else if (std::chrono::steady_clock::now() > end) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal window opened";
        }
    });
    timer->start();
}

void AnswerNextBox(QString* text, int button, int* icon, int* format)
{
    AnswerNextModal([text, button, icon, format](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) {
            ADD_FAILURE() << "expected a message box, found " << modal->metaObject()->className();
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            return;
        }
        if (text != nullptr)
            *text = box->text();
        if (icon != nullptr)
            *icon = box->icon();
        if (format != nullptr)
            *format = box->textFormat();
        QAbstractButton* answer = box->button(static_cast<QMessageBox::StandardButton>(button));
        if (answer == nullptr) {
            ADD_FAILURE() << "message box without the expected button: " << box->text().toStdString();
            box->reject();
            return;
        }
        answer->click();
    });
}

bool WaitForEvents(const std::function<bool()>& cond, std::chrono::milliseconds deadline)
{
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return cond();
        QTest::qWait(5);
    }
    return true;
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    TConsoleApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
