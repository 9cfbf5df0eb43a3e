// The watching window's pipe exchanges, statistics display, status bar, buttons and PC switch,
// against a scripted pipe server on a real pipe socket.
#include "console/basesvc_acess.h"
#include <QCoreApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include "console/application.h"
#include "console/ferrix_cfgmain2.h"
#include "console/selectpcdlg.h"
#include "consolekit.h"
#include "foundation/sds.h"
#include "pipekit.h"
#include "platform/namedpipe/pipeclient.h"
#include "scriptedpipe.h"
#include "testkit.h"

namespace {

std::string Bytes(const void* data, size_t size) { return std::string(static_cast<const char*>(data), size); }

std::string StatsAnswer(const TPipeStatistics& stats, const TServiceStatusInfo& info)
{
    return AnswerHeader("ANSGETSTATS", 0, sizeof stats + sizeof info) + Bytes(&stats, sizeof stats) +
           Bytes(&info, sizeof info);
}

SYSTEMTIME Time(int year, int month, int day, int hour, int minute, int second)
{
    return DateTimeToSystemTime(EncodeDateTime(year, month, day, hour, minute, second, 0));
}

// A record as a service shows it after a pass with a sent and a failed file.
void KnownRecord(TPipeStatistics& stats, TServiceStatusInfo& info)
{
    stats.StartTime = Time(2026, 3, 4, 5, 6, 7);
    stats.Connections = 1234567;
    stats.ConnErrors = 4294967295u;
    stats.Requests = 12;
    stats.BytesReceived = 5000000000;
    stats.Answers = 0;
    stats.BytesSent = 999;
    stats.WriteErrors = 1000;
    info.Size = sizeof info;
    info.VersionMajor = 2;
    info.VersionMinor = 0;
    info.VersionRelease = 7;
    info.Busy = 2;
    std::strcpy(info.LastEvent, "Check finished");
    info.LastEventTime = Time(2026, 3, 4, 10, 0, 1);
    std::strcpy(info.LastError, "Cannot connect to ftp.example");
    info.LastErrorTime = Time(2026, 3, 4, 10, 0, 2);
    // A name filling its whole field, with no zero byte after it.
    std::memset(info.LastFileOK, 'k', sizeof info.LastFileOK);
    info.LastFileOKTime = Time(2026, 3, 4, 10, 0, 3);
    std::strcpy(info.LastFileBad, "caisse/0002.txt");
    info.LastFileBadTime = Time(2026, 3, 4, 10, 0, 4);
    info.LastCheckFilesOK = 3;
    info.LastCheckFilesBad = 1;
    info.LastCheckElapsedMs = 1234;
    info.LastCheckTime = Time(2026, 3, 4, 10, 0, 5);
}

// The window of the transport service on a program directory and a pipe directory of its own; its
// timer is stopped, so that only what a test calls runs.
class SvcWndTest : public testing::Test {
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        Window = std::make_unique<TMainWnd>(nullptr, ProgramDir.Path());
        Window->TmrMain->stop();
    }
    void TearDown() override
    {
        Window.reset();
        QLocale::setDefault(QLocale::system());
    }
    std::vector<QLabel*> ValueLabels() const
    {
        TMainWnd& w = *Window;
        return {w.LabVersionVal, w.LabSartedVal, w.LabConnsVal, w.LabConErrorsVal, w.LabReqVal,
                w.LabReqBytesVal, w.LabAnsVal, w.LabAnsBytesVal, w.LabWriteErrVal, w.LabLastFileOkVal,
                w.LabLastFileOkAtVal, w.LabLastFileBadVal, w.LabLastFileBadAtVal, w.LabLastGroupVal,
                w.LabLastGroupAtVal, w.LabNextFileCheckAtVal, w.LabLastEvtTimeVal, w.LabLastEvtTextVal,
                w.LabLastErrTimeVal, w.LabLastErrTextVal};
    }
    std::vector<QString> LabelTexts() const
    {
        std::vector<QString> texts;
        for (QLabel* label : ValueLabels())
            texts.push_back(label->text());
        return texts;
    }
    // Handles that stand for an open manager and service; nothing is called through them.
    void FakeOpenHandles(uint32_t state)
    {
        Window->SCManager = std::make_unique<TScManager>();
        Window->ServiceHandle = std::make_unique<TScService>();
        Window->ServiceState = state;
    }
    std::string LocalCopy() const { return ProgramDir / "ferrix_local.ini"; }

    PipeDirectory Pipes;
    TempDir ProgramDir;
    std::unique_ptr<TMainWnd> Window;
};

TEST_F(SvcWndTest, StatisticsOfAKnownRecordInTheLocaleFormats)
{
    ScriptedPipeServer server("TrSvc2Info");
    TPipeStatistics stats;
    TServiceStatusInfo info;
    KnownRecord(stats, info);
    const TDateTime next = Now() - 3600.0 / SecsPerDay;
    info.NextCheckTime = DateTimeToSystemTime(next);
    server.SetAnswer(StatsAnswer(stats, info));
    Window->SetStatusText(QString("Service is running"));
    Window->RequestStatistics();

    TMainWnd& w = *Window;
    EXPECT_EQ(w.StatusText(), "");
    EXPECT_EQ(server.Requests(), std::vector<std::string>{PipeMessage("REQGETSTATS")});
    EXPECT_EQ(w.LabVersionVal->text(), "2.0.7");
    EXPECT_EQ(w.LabSartedVal->text(), "04.03.2026 05:06:07");
    EXPECT_EQ(w.LabConnsVal->text(), "   1,234,567");
    EXPECT_EQ(w.LabConErrorsVal->text(), "4,294,967,295");  // unsigned, longer than the padding
    EXPECT_EQ(w.LabReqVal->text(), "          12");
    EXPECT_EQ(w.LabReqBytesVal->text(), "5,000,000,000");
    EXPECT_EQ(w.LabAnsVal->text(), "           0");
    EXPECT_EQ(w.LabAnsBytesVal->text(), "         999");
    EXPECT_EQ(w.LabWriteErrVal->text(), "       1,000");
    EXPECT_TRUE(w.Busy);
    EXPECT_EQ(w.LabLastFileOkVal->text(), QString(65, 'k'));
    EXPECT_EQ(w.LabLastFileOkAtVal->text(), "04.03.2026 10:00:03");
    EXPECT_EQ(w.LabLastFileBadVal->text(), "caisse/0002.txt");
    EXPECT_EQ(w.LabLastFileBadAtVal->text(), "04.03.2026 10:00:04");
    EXPECT_EQ(w.LabLastGroupVal->text(), "processed OK - 3, processed with errors - 1, elapsed 0:00:01:234");
    EXPECT_EQ(w.LabLastGroupAtVal->text(), "04.03.2026 10:00:05");
    EXPECT_EQ(w.LabLastEvtTextVal->text(), "Check finished");
    EXPECT_EQ(w.LabLastEvtTimeVal->text(), "04.03.2026 10:00:01");
    EXPECT_EQ(w.LabLastErrTextVal->text(), "Cannot connect to ftp.example");
    EXPECT_EQ(w.LabLastErrTimeVal->text(), "04.03.2026 10:00:02");
    // A next check in the past shows the seconds since it.
    const QString nextText = w.LabNextFileCheckAtVal->text();
    const auto match = QRegularExpression("^(.*) \\(in next (\\d+) sec\\)$").match(nextText);
    ASSERT_TRUE(match.hasMatch()) << nextText.toStdString();
    EXPECT_EQ(match.captured(1).toStdString(), FormatSystemTime(info.NextCheckTime));
    EXPECT_GE(match.captured(2).toInt(), 3599);
    EXPECT_LE(match.captured(2).toInt(), 3602);

    // An answer with no texts, no check and a next time of year zero leaves those labels.
    const std::vector<QString> before = LabelTexts();
    TServiceStatusInfo quiet;
    stats.Requests = 13;
    server.SetAnswer(StatsAnswer(stats, quiet));
    w.SetStatusText(QString("Service is running"));
    w.RequestStatistics();
    EXPECT_EQ(w.StatusText(), "");
    EXPECT_EQ(w.LabReqVal->text(), "          13");
    EXPECT_EQ(w.LabVersionVal->text(), "0.0.0");
    EXPECT_FALSE(w.Busy);
    const std::vector<QString> after = LabelTexts();
    for (size_t i = 9; i < before.size(); ++i)
        EXPECT_EQ(after[i], before[i]) << ValueLabels()[i]->objectName().toStdString() << " #" << i;
}

TEST_F(SvcWndTest, StatisticsAnswersTooShortOrOfAnotherKindChangeNoLabel)
{
    ScriptedPipeServer server("TrSvc2Info");
    TPipeStatistics stats;
    TServiceStatusInfo info;
    KnownRecord(stats, info);
    const std::string whole = StatsAnswer(stats, info);
    ASSERT_EQ(whole.size(), 595u);
    server.SetAnswer(whole);
    Window->RequestStatistics();
    EXPECT_EQ(Window->StatusText(), "");
    EXPECT_EQ(Window->LabConnsVal->text(), "   1,234,567");
    const std::vector<QString> shown = LabelTexts();

    stats.Connections = 7;
    const std::string changed = StatsAnswer(stats, info);
    for (const std::string& answer : {changed.substr(0, 594), changed.substr(0, 27)}) {
        server.SetAnswer(answer);
        Window->RequestStatistics();
        EXPECT_EQ(Window->StatusText(), "Length error") << answer.size();
        EXPECT_EQ(LabelTexts(), shown) << answer.size();
    }
    // An answer the service gives to a request it does not know: nothing changes, no error.
    server.SetAnswer(AnswerHeader("ANSREQUNKNOWN", 0, 0) + changed.substr(28));
    Window->SetStatusText(QString("Service is running"));
    Window->RequestStatistics();
    EXPECT_EQ(Window->StatusText(), "Service is running");
    EXPECT_EQ(LabelTexts(), shown);
    EXPECT_EQ(server.Requests().size(), 4u);
}

TEST_F(SvcWndTest, AFailedStatisticsCallShowsThePipesErrorText)
{
    Window->RequestStatistics();
    const int error = GetLastPipeError();
    EXPECT_NE(error, 0);
    EXPECT_EQ(Window->StatusText().toStdString(), ferrix::PipeErrorMessage(error));
    for (QLabel* label : ValueLabels())
        EXPECT_EQ(label->text(), "");
}

TEST_F(SvcWndTest, CountersAndElapsedTimesFollowTheLocale)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(ferrix::FormatCounter(1234567, german), "   1.234.567");
    EXPECT_EQ(ferrix::FormatCounter(-5000000000.0, german), "-5.000.000.000");
    EXPECT_EQ(ferrix::FormatCounter(12, QLocale::c()), "          12");
    EXPECT_EQ(ferrix::FormatCounter(1234567, QLocale::c()), "   1,234,567");
    EXPECT_EQ(ferrix::FormatElapsed(1234, QLocale::c()), "0:00:01:234");
    EXPECT_EQ(ferrix::FormatElapsed(1234, QLocale(QLocale::English)), "0:00:01:234");
    // 25 h 1 min 2.003 s wraps to 1:01:02:003.
    EXPECT_EQ(ferrix::FormatElapsed(90062003, QLocale::c()), "1:01:02:003");
    EXPECT_EQ(ferrix::FormatElapsed(4294967295u, QLocale::c()), "17:02:47:295");
    const QLocale finnish(QLocale::Finnish, QLocale::Finland);
    const QString separator = ferrix::TimeSeparatorOf(finnish);
    EXPECT_EQ(ferrix::FormatElapsed(1234, finnish), "0" + separator + "00" + separator + "01" + separator + "234");
    EXPECT_EQ(SecondsBetween(EncodeDateTime(2026, 1, 1, 0, 0, 10, 0), EncodeDateTime(2026, 1, 1, 0, 0, 5, 0)), 5);
    EXPECT_EQ(SecondsBetween(EncodeDateTime(2026, 1, 1, 0, 0, 5, 0), EncodeDateTime(2026, 1, 1, 0, 0, 10, 999)), 5);
}

TEST_F(SvcWndTest, AFetchWritesTheLocalCopyForItsOwnerOnly)
{
    ScriptedPipeServer server("TrSvc2Control");
    // An earlier copy that others could read is replaced.
    WriteTextFile(LocalCopy(), "old");
    ASSERT_EQ(::chmod(LocalCopy().c_str(), 0644), 0);
    const std::string settings = "[General]\r\nTimeBetweenActions=120\r\n";
    server.SetAnswer(AnswerHeader("ANSGETCONFIG", 0, settings.size()) + settings);
    Window->FetchConfiguration();
    EXPECT_EQ(ReadTextFile(LocalCopy()), settings);
    struct stat st {};
    ASSERT_EQ(::stat(LocalCopy().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(server.Requests(), std::vector<std::string>{PipeMessage("REQGETCONFIG")});

    // An empty settings file gives an empty copy.
    ASSERT_EQ(::unlink(LocalCopy().c_str()), 0);
    server.SetAnswer(AnswerHeader("ANSGETCONFIG", 0, 0));
    Window->FetchConfiguration();
    EXPECT_EQ(ReadTextFile(LocalCopy()), "");
    ASSERT_EQ(::stat(LocalCopy().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(NamesIn(ProgramDir.Path()), (std::vector<std::string>{"ferrix_cfg.ini", "ferrix_local.ini"}));
}

TEST_F(SvcWndTest, ABrokenOrUnknownFetchAnswerLeavesTheLocalCopy)
{
    ScriptedPipeServer server("TrSvc2Control");
    WriteTextFile(LocalCopy(), "kept");
    const std::string settings = "[General]\r\n";
    const std::map<std::string, std::string> broken = {
        {"payload beyond the bytes received", AnswerHeader("ANSGETCONFIG", 0, settings.size() + 1) + settings},
        {"negative payload length", AnswerHeader("ANSGETCONFIG", 0, -1) + settings},
        {"shorter than a header", AnswerHeader("ANSGETCONFIG", 0, 0).substr(0, 27)},
    };
    for (const auto& [what, answer] : broken) {
        server.SetAnswer(answer);
        try {
            Window->FetchConfiguration();
            ADD_FAILURE() << what << ": no error";
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message(), "Length error") << what;
        }
        EXPECT_EQ(ReadTextFile(LocalCopy()), "kept") << what;
    }
    server.SetAnswer(AnswerHeader("ANSREQUNKNOWN", 0, settings.size()) + settings);
    EXPECT_NO_THROW(Window->FetchConfiguration());
    EXPECT_EQ(ReadTextFile(LocalCopy()), "kept");
}

TEST_F(SvcWndTest, ASendCarriesAtMostOneMessageOfTheLocalCopy)
{
    ScriptedPipeServer server("TrSvc2Control");
    const std::string big = PatternBytes(20000, 7);
    WriteTextFile(LocalCopy(), big);
    server.SetAnswer(AnswerHeader("ANSSETCONFIG", 0, 0));
    Window->PutConfiguration();
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].size(), 16384u);
    EXPECT_EQ(requests[0].substr(0, 28), AnswerHeader("REQSETCONFIG", 0, 16356));
    EXPECT_TRUE(requests[0].substr(28) == big.substr(0, 16356));
}

TEST_F(SvcWndTest, ASendTheServiceDidNotStoreOrDidNotUnderstandIsAFailure)
{
    ScriptedPipeServer server("TrSvc2Control");
    WriteTextFile(LocalCopy(), "[General]\n");
    const std::map<std::string, std::string> failures = {
        {AnswerHeader("ANSSETCONFIG", 2, 0), "The service could not store the new configuration (status 2)"},
        {AnswerHeader("ANSREQUNKNOWN", 0, 0), "Wrong quittance from Rurivure Service"},
        {AnswerHeader("ANSSETCONFIG", 0, 0).substr(0, 20), "Length error"},
    };
    for (const auto& [answer, message] : failures) {
        server.SetAnswer(answer);
        // The send reports the failure in a box and in the status text, and returns.
        QString boxText;
        int icon = 0;
        AnswerNextBox(&boxText, QMessageBox::Ok, &icon);
        Window->SendConfiguration();
        EXPECT_EQ(boxText.toStdString(), message);
        EXPECT_EQ(icon, QMessageBox::Critical);
        EXPECT_EQ(Window->StatusText().toStdString(), message);
    }
    server.SetAnswer(AnswerHeader("ANSSETCONFIG", 0, 0));
    Window->SendConfiguration();
    EXPECT_EQ(Window->StatusText(), "sending new configuration to this PC...");
    EXPECT_EQ(server.Requests().size(), 4u);
}

TEST_F(SvcWndTest, ASendWithoutALocalCopyOrAServiceFails)
{
    try {
        Window->PutConfiguration();
        ADD_FAILURE() << "no error";
    } catch (const EInOutError& error) {
        EXPECT_NE(error.Message().find(LocalCopy()), std::string::npos) << error.Message();
    }
    WriteTextFile(LocalCopy(), "[General]\n");
    try {
        Window->PutConfiguration();
        ADD_FAILURE() << "no error";
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), ferrix::PipeErrorMessage(GetLastPipeError()));
    }
}

TEST_F(SvcWndTest, TheLedsShowRunningAndBusy)
{
    TMainWnd& w = *Window;
    w.show();
    ASSERT_EQ(w.ImlLed[0].size(), QSize(13, 13));
    ASSERT_EQ(w.ImlLed[1].size(), QSize(13, 13));
    auto centre = [](ferrix::TStatusPanel* panel) { return QColor(panel->grab().toImage().pixel(6, 6)); };
    const QColor unlit = centre(w.ServicePanel);
    EXPECT_EQ(unlit.red(), unlit.green());  // grey
    EXPECT_EQ(centre(w.BusyPanel), unlit);
    FakeOpenHandles(SERVICE_RUNNING);
    const QColor lit = centre(w.ServicePanel);
    EXPECT_GT(lit.green(), 2 * lit.red());  // green
    EXPECT_EQ(centre(w.BusyPanel), unlit);
    w.SetBusy(true);
    EXPECT_EQ(centre(w.BusyPanel), lit);
    w.ServiceState = SERVICE_STOPPED;
    EXPECT_EQ(centre(w.ServicePanel), unlit);
    w.ClearAllValues();
    EXPECT_FALSE(w.Busy);
    EXPECT_EQ(centre(w.BusyPanel), unlit);
}

TEST_F(SvcWndTest, LongTextsAreCutAtTheWindowsEdgeAndDoNotWidenIt)
{
    TMainWnd& w = *Window;
    w.show();
    ASSERT_TRUE(WaitForEvents([&] { return w.isVisible(); }));
    const int width = w.width();
    // A long PC name, an error text of another PC, and the longest texts a status record holds,
    // without a blank.
    w.SetPcName(std::string(200, 'p'));
    w.SetStatusText(QString(400, 'e'));
    for (QLabel* label : {w.LabLastFileOkVal, w.LabLastFileBadVal, w.LabLastGroupVal, w.LabLastEvtTextVal,
                          w.LabLastErrTextVal})
        label->setText(QString(127, 'x'));
    QCoreApplication::processEvents();
    EXPECT_EQ(w.width(), width);
    EXPECT_LE(w.minimumSizeHint().width(), width);
    EXPECT_EQ(w.StatusText(), QString(400, 'e'));
    EXPECT_GT(w.StatusPanel->width(), w.SbMain->width() / 2);

    // The texts keep the room beside their times, also beside a long next check, and a message
    // of words is shown whole on its lines.
    w.LabLastFileOkAtVal->setText("04.03.2026 10:00:03");
    w.LabNextFileCheckAtVal->setText("04.03.2026 10:05:03 (in next 86400 sec)");
    const QString words = "Cannot connect to ftp.example.com: the server did not answer within 30 seconds and the "
                          "transfer of the file was given up";
    w.LabLastErrTextVal->setText(words);
    w.LabLastEvtTextVal->setText(words);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.width(), width);
    EXPECT_LT(w.LabLastFileOkVal->x(), width / 3);
    EXPECT_GT(w.LabLastFileOkVal->width(), width / 2);
    for (QLabel* label : {w.LabLastEvtTextVal, w.LabLastErrTextVal}) {
        EXPECT_GE(label->height(), label->heightForWidth(label->width()));
        EXPECT_LE(label->geometry().bottom(), w.TsHardware->height());
    }
}

TEST_F(SvcWndTest, ButtonsFollowTheHandlesAndTheState)
{
    TMainWnd& w = *Window;
    auto enabled = [&w] {
        return std::vector<bool>{w.BtnSrvStart->isEnabled(), w.BtnSrvStop->isEnabled(), w.BtnConfigure->isEnabled(),
                                 w.BtnPC->isEnabled(), w.BtnClose->isEnabled()};
    };
    w.UpdateButtons();
    EXPECT_EQ(enabled(), (std::vector<bool>{false, false, false, true, true}));
    FakeOpenHandles(SERVICE_STOPPED);
    w.UpdateButtons();
    EXPECT_EQ(enabled(), (std::vector<bool>{true, false, false, true, true}));
    w.ServiceState = 0;  // a failed query keeps the handles
    w.UpdateButtons();
    EXPECT_EQ(enabled(), (std::vector<bool>{true, false, false, true, true}));
    w.ServiceState = SERVICE_RUNNING;
    w.UpdateButtons();
    EXPECT_EQ(enabled(), (std::vector<bool>{false, true, true, true, true}));
    w.ServiceHandle.reset();
    EXPECT_FALSE(w.IsServiceRunning());
    w.UpdateButtons();
    EXPECT_EQ(enabled(), (std::vector<bool>{false, false, false, true, true}));
    // Start and stop without handles do nothing.
    w.SetStatusText(QString("kept"));
    w.BtnSrvStartClick();
    w.BtnSrvStopClick();
    EXPECT_EQ(w.StatusText(), "kept");
}

TEST_F(SvcWndTest, SwitchingThePc)
{
    TMainWnd& w = *Window;
    w.TmrMain->start();
    FakeOpenHandles(SERVICE_RUNNING);
    w.LabConnsVal->setText("1");
    w.SetBusy(true);
    w.SetStatusText(QString("Service is running"));
    // Cancel changes nothing; the timer stands still while the dialog is open.
    bool timerStopped = false;
    AnswerNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TSelectPcDlg*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->GetPcName(), "");
        timerStopped = !w.TmrMain->isActive();
        dialog->SetPcName("elsewhere");
        dialog->reject();
    });
    w.BtnPcClick();
    EXPECT_TRUE(timerStopped);
    EXPECT_TRUE(w.TmrMain->isActive());
    EXPECT_TRUE(w.IsServiceRunning());
    EXPECT_EQ(w.PcName, "");
    EXPECT_EQ(w.LabConnsVal->text(), "1");
    EXPECT_TRUE(w.Busy);

    // OK closes the handles, clears the values and takes the name as typed.
    w.TmrMain->stop();
    AnswerNextModal([](QWidget* modal) {
        auto* dialog = qobject_cast<TSelectPcDlg*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->SetPcName("no-such-pc.invalid");
        dialog->accept();
    });
    w.BtnPcClick();
    EXPECT_TRUE(w.TmrMain->isActive());
    EXPECT_EQ(w.SCManager, nullptr);
    EXPECT_EQ(w.ServiceHandle, nullptr);
    EXPECT_EQ(w.ServiceState, 0u);
    EXPECT_EQ(w.PcName, "no-such-pc.invalid");
    EXPECT_EQ(w.StPcDisplayName->text(), "no-such-pc.invalid");
    EXPECT_EQ(w.LabConnsVal->text(), "");
    EXPECT_FALSE(w.Busy);
    EXPECT_FALSE(w.BtnSrvStop->isEnabled());
    EXPECT_EQ(w.StatusText(), "Service is running");  // until the next tick
    EXPECT_EQ(w.GetPipePrefix(), "\\\\no-such-pc.invalid\\pipe\\");

    // The next tick finds no manager there.
    const QString expected = "Service Control Manager error on no-such-pc.invalid: ";
    EXPECT_TRUE(WaitForEvents([&] { return w.StatusText().startsWith(expected); }, std::chrono::seconds(30)))
        << w.StatusText().toStdString();
    EXPECT_GT(w.StatusText().size(), expected.size());
    EXPECT_FALSE(w.BtnSrvStart->isEnabled());
    EXPECT_FALSE(w.BtnConfigure->isEnabled());
}

// Whether the label shows its text as it stands: markup shown as markup is narrower than the text.
bool ShownAsItStands(const QLabel* label)
{
    return label->sizeHint().width() >= label->fontMetrics().horizontalAdvance(label->text());
}

TEST_F(SvcWndTest, ServiceTextsPcNamesAndMessagesAreShownAsTheyStand)
{
    TMainWnd& w = *Window;
    w.SetPcName("<b>" + std::string(40, 'x') + "</b>");  // wider than the name's least width
    for (QLabel* label : {w.LabLastFileOkVal, w.LabLastFileBadVal, w.LabLastEvtTextVal, w.LabLastErrTextVal,
                          static_cast<QLabel*>(w.StatusPanel), w.StPcDisplayName}) {
        if (label != w.StPcDisplayName)
            label->setText("<b>x</b>");
        EXPECT_TRUE(ShownAsItStands(label)) << label->text().toStdString();
    }
    int format = -1;
    AnswerNextBox(nullptr, QMessageBox::Ok, nullptr, &format);
    ShowException(Exception("<b>x</b>"));
    EXPECT_EQ(format, Qt::PlainText);
}

TEST_F(SvcWndTest, TheSettingsOfOnePcNeverReachAnother)
{
    // "." is this PC under another name: its pipes are the scripted server's too.
    ScriptedPipeServer server("TrSvc2Control");
    const std::string first = "[Transport]\r\nPassword=secret-of-the-first-pc\r\n";
    server.SetAnswer(AnswerHeader("ANSGETCONFIG", 0, first.size()) + first);
    Window->FetchConfiguration();
    AnswerNextModal([](QWidget* modal) {
        qobject_cast<TSelectPcDlg*>(modal)->SetPcName(".");
        qobject_cast<QDialog*>(modal)->accept();
    });
    Window->BtnPcClick();
    Window->TmrMain->stop();
    // The second PC gives no settings: there is nothing to send it.
    server.SetAnswer(AnswerHeader("ANSREQUNKNOWN", 0, 0));
    Window->FetchConfiguration();
    EXPECT_THROW(Window->PutConfiguration(), EInOutError);
    EXPECT_EQ(server.Requests().size(), 2u);

    // A copy that cannot be removed is not taken for this PC's until a fetch writes it.
    MakeDirWithFiles(LocalCopy(), {"held"});
    Window->DiscardLocalConfig();
    EXPECT_THROW(Window->FetchConfiguration(), Exception);
    std::filesystem::remove_all(LocalCopy());
    server.SetAnswer(AnswerHeader("ANSGETCONFIG", 0, 0));
    Window->FetchConfiguration();
    server.SetAnswer(AnswerHeader("ANSREQUNKNOWN", 0, 0));
    EXPECT_NO_THROW(Window->FetchConfiguration());
}

}  // namespace
