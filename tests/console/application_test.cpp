#include <QMessageBox>
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
