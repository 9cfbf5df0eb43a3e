#include "console/ferrix_conntest.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sys/stat.h>

#include "console/application.h"
#include "foundation/sds.h"
#include "foundation/trcnst.h"
#include "platform/files/copyfile.h"
#include "platform/files/filecontent.h"
#include "platform/files/findfile.h"

namespace {

constexpr const char* SampleFileName = "smaple.dat";
constexpr const char* Indent = "    ";
constexpr const char* OkSuffix = "     Ok.";
constexpr int AutoStartDelayMs = 100;
constexpr int FtpReadTimeoutMs = 60000;
constexpr int RevertFailureExitStatus = 3;

// Texts of the dialog.
constexpr const char* SConnTestCaption = "Connectivity test";
constexpr const char* SConnTestButton = "Test";
constexpr const char* SBackButton = "Back to Configuration";
constexpr const char* SInProgress = ": in porgress";
constexpr const char* SNoErrorsFound = ": no errors found";
constexpr const char* SErrorsFound = ": ERRORS FOUND";
constexpr const char* SConfigUndefined = "Transport Service configuration udefined";
constexpr const char* SLocalSystem = ".\\LocalSystem";

// Runs an action when the scope ends, also when an exception leaves it.
class TOnExit {
public:
    explicit TOnExit(std::function<void()> action) : Action(std::move(action)) {}
    ~TOnExit() { Action(); }
    TOnExit(const TOnExit&) = delete;
    TOnExit& operator=(const TOnExit&) = delete;

private:
    std::function<void()> Action;
};

// The account's file identity for the work on a destination: taken when the scope begins and
// given back when it ends. Without a token the scope does nothing.
class TAccountScope {
public:
    TAccountScope(HANDLE token, const std::string& account) : Token(token), Account(account)
    {
        if (Token != 0 && !ImpersonateLoggedOnUser(Token))
            throw Exception(Format("Failed to impersonate user %s : %s", Account.c_str(),
                                   LogonErrorText(GetLastLogonError()).c_str()));
    }
    ~TAccountScope()
    {
        if (Token != 0)
            ferrix::RevertImpersonation(Account);
    }
    TAccountScope(const TAccountScope&) = delete;
    TAccountScope& operator=(const TAccountScope&) = delete;

private:
    HANDLE Token;
    std::string Account;
};

[[noreturn]] void RaiseOSError(int code)
{
    if (code == 0)
        throw EOSError("A call to an OS function failed", code);
    throw EOSError(Format("System Error.  Code: %d.", code) + "\r\n" + SysErrorMessage(code), code);
}

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

}  // namespace

void ferrix::RevertImpersonation(const std::string& account)
{
    if (RevertToSelf())
        return;
    std::fprintf(stderr, "Failed to revert impersonation of user %s : %s. The program ends.\n", account.c_str(),
                 LogonErrorText(GetLastLogonError()).c_str());
    std::fflush(stderr);
    std::_Exit(RevertFailureExitStatus);
}

TConnectionTestDlg::TConnectionTestDlg(QWidget* owner) : QDialog(owner)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    resize(640, 480);
    TmrAutoStart = new QTimer(this);
    TmrAutoStart->setSingleShot(true);
    TmrAutoStart->setInterval(AutoStartDelayMs);
    connect(TmrAutoStart, &QTimer::timeout, this, [this] { ferrix::RunHandler([this] { TmrAutoStartTimer(); }); });

    PnResult = new QFrame(this);
    ReResult = new QTextEdit(PnResult);
    ReResult->setReadOnly(true);
    ReResult->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* resultLayout = new QVBoxLayout(PnResult);
    resultLayout->setContentsMargins(4, 4, 4, 4);
    resultLayout->addWidget(ReResult);

    PnButtons = new QFrame(this);
    BtnTest = new QPushButton(PnButtons);
    BtnBack = new QPushButton(SBackButton, PnButtons);
    BtnTest->setVisible(false);
    auto* buttonLayout = new QHBoxLayout(PnButtons);
    buttonLayout->addStretch();
    buttonLayout->addWidget(BtnTest);
    buttonLayout->addWidget(BtnBack);
    connect(BtnTest, &QPushButton::clicked, this, [this] { ferrix::RunHandler([this] { BtnTestClick(); }); });
    connect(BtnBack, &QPushButton::clicked, this, [this] { done(QMessageBox::No); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(PnResult, 1);
    layout->addWidget(PnButtons);

    // FormCreate
    Running = false;
    NoErrors = true;
    CurrentDest = -1;
    setWindowTitle(SConnTestCaption);
    BtnTest->setText(SConnTestButton);
    VersionInfo = std::make_unique<TVersionInfo>(std::string(), std::string());
    TmrAutoStart->start();
}

TConnectionTestDlg::~TConnectionTestDlg()
{
    Disconnect();
    DeleteSampleFile();
}

void TConnectionTestDlg::reject()
{
    // A test in progress keeps the dialog open, as its buttons do.
    if (!Running)
        QDialog::reject();
}

void TConnectionTestDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // In the middle of the screen, not of the owner, at the size the dialog has.
    QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void TConnectionTestDlg::TmrAutoStartTimer()
{
    TmrAutoStart->stop();
    UpdateState();
    if (Config == nullptr)
        throw Exception(SConfigUndefined);
    RunTest();
}

void TConnectionTestDlg::BtnTestClick()
{
    if (Config == nullptr)
        throw Exception(SConfigUndefined);
    RunTest();
}

void TConnectionTestDlg::RunTest()
{
    Disconnect();
    NoErrors = true;
    Running = true;
    CurrentDest = -1;
    TOnExit finish([this] {
        Disconnect();
        Running = false;
        UpdateState();
    });
    ReResult->clear();
    ReResult->setCurrentCharFormat(QTextCharFormat());
    ReportEmpty = true;
    UpdateState();
    ProcessPendingEvents();
    WriteParameters();
    for (int index = 0; index < 2; ++index)
        if (!Config->GetDestination(index).empty())
            TestDestination(index);
}

void TConnectionTestDlg::TestDestination(int index)
{
    CurrentDest = index;
    Disconnect();
    SetupFtp(index);
    AddLine("");
    if (!RunStep(&TConnectionTestDlg::CheckConnection)) {
        UpdateState();
        return;
    }
    // From a successful connection on, the destination ends disconnected whatever happens.
    TOnExit disconnect([this] {
        Disconnect();
        UpdateState();
    });
    UpdateState();
    AddLine("");
    RunStep(&TConnectionTestDlg::CheckDirectory);
    UpdateState();
    ProcessPendingEvents();
    AddLine("");
    RunStep(&TConnectionTestDlg::CheckTransfer);
    UpdateState();
}

bool TConnectionTestDlg::RunStep(void (TConnectionTestDlg::*step)())
{
    try {
        (this->*step)();
        return true;
    } catch (const std::exception& error) {
        NoErrors = false;
        AddErrorLine(QString(Indent) + QString::fromUtf8(error.what()));
        return false;
    }
}

void TConnectionTestDlg::WriteParameters()
{
    const TTransportConfig& config = *Config;
    const bool ftp = !IsCopy();
    auto line = [this](const char* label, const std::string& value) { AddLine(Indent + Text(label + value)); };
    AddHeaderLine("Transport parameters:");
    AddLine(Indent + Text(Format("Service tracks content of %s", config.GetTrackDirectory(0).c_str())));
    line("transfer mode   - ", ftp ? TRANSPORT_FTP_STR : TRANSPORT_COPY_STR);
    line("destination     - ", config.GetDestination(0));
    if (!config.GetDestination(1).empty())
        line("2nd destination - ", config.GetDestination(1));
    line("for the shop    - ", config.DestinationDirectory);
    line(ftp ? "for the chain   - " : "for the user    - ", config.Username);
    line("with password   - ", config.Password);
    if (!ftp)
        return;
    line("FTP mode        - ", config.PassiveMode ? "passive" : "active");
    line("FTP port        - ", std::to_string(config.Port));
    if (config.ProxyType == 0) {
        line("FTP proxy type  - ", "none");
        return;
    }
    line("FTP proxy host  - ", config.ProxyHost);
    line("FTP proxy port  - ", std::to_string(config.ProxyPort));
    line("FTP proxy type  - ", ProxyTypeToStr(config.ProxyType));
    line("FTP proxy user  - ", config.ProxyUser);
    line("FTP proxy password  - ", config.ProxyPassword);
}

void TConnectionTestDlg::SetupFtp(int index)
{
    if (IsCopy())
        return;
    IdFTP.TransferType = ftBinary;
    IdFTP.Host = Config->GetDestination(index);
    IdFTP.Passive = Config->PassiveMode;
    IdFTP.Port = Config->Port;
    IdFTP.Username = Config->Username;
    IdFTP.Password = Config->Password;
    IdFTP.ReadTimeout = FtpReadTimeoutMs;
    IdFTP.ProxySettings.ProxyType = static_cast<TIdFtpProxyType>(Config->ProxyType);
    IdFTP.ProxySettings.Host = Config->ProxyHost;
    IdFTP.ProxySettings.Port = Config->ProxyPort;
    IdFTP.ProxySettings.UserName = Config->ProxyUser;
    IdFTP.ProxySettings.Password = Config->ProxyPassword;
}

void TConnectionTestDlg::CheckConnection()
{
    const char* header = IsCopy() ? "Check destination %s:" : "Check FTP-server %s:";
    AddHeaderLine(Text(Format(header, Destination().c_str())));
    AddLine(QString(Indent) + "Connecting...");
    Connect();
    AppendToLastLine(OkSuffix);
}

void TConnectionTestDlg::CheckDirectory()
{
    AddHeaderLine(Text(Format("Checking destination directory on %s:", Destination().c_str())));
    AddLine(Indent + Text(Format("Check existence of directory %s...", Config->DestinationDirectory.c_str())));
    EnsureDestDirectory();
    AppendToLastLine(OkSuffix);
}

void TConnectionTestDlg::CheckTransfer()
{
    AddHeaderLine(Text(Format("Checking file transfer to %s: ", Destination().c_str())));
    const int size = CreateSampleFile();
    AddLine(Indent + Text(Format("Transferring %d bytes...", size)));
    TransferSampleFile();
    AppendToLastLine(OkSuffix);
}

void TConnectionTestDlg::Connect()
{
    if (!IsCopy()) {
        if (!IdFTP.Connected())
            IdFTP.Connect();
        return;
    }
    const std::string& account = Config->Username;
    if (account.empty() || SameText(account, SLocalSystem))
        return;
    std::string domain, user;
    SplitUserName(account, domain, user);
    HANDLE token = 0;
    if (!LogonUserA(user, domain, Config->Password, LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, token))
        throw Exception(Format("Failed to login as user %s: %s", account.c_str(),
                               LogonErrorText(GetLastLogonError()).c_str()));
    // The identity is tried here, so that an account the thread cannot take fails this step; it is
    // taken again for each piece of work on the destination.
    if (!ImpersonateLoggedOnUser(token)) {
        const std::string reason = LogonErrorText(GetLastLogonError());
        CloseHandle(token);
        throw Exception(Format("Failed to impersonate user %s : %s", account.c_str(), reason.c_str()));
    }
    LogonToken = token;
    LogonAccount = account;
    ferrix::RevertImpersonation(account);
}

void TConnectionTestDlg::Disconnect()
{
    try {
        if (IdFTP.Connected())
            IdFTP.Quit();
    } catch (...) {
    }
    if (LogonToken == 0)
        return;
    ferrix::RevertImpersonation(LogonAccount);
    CloseHandle(LogonToken);
    LogonToken = 0;
}

void TConnectionTestDlg::EnsureDestDirectory()
{
    if (!IsCopy()) {
        const std::string path = "/" + Config->DestinationDirectory;
        std::string reason;
        if (!FtpForceDir(path, IdFTP, reason))
            throw Exception("Can't create directory: " + path + " : " + reason);
        return;
    }
    const std::string path = ferrix::LocalPath(Destination() + "/" + Config->DestinationDirectory);
    TAccountScope account(LogonToken, LogonAccount);
    if (!ForceDirectories(path)) {
        const int code = errno;
        throw Exception("Can't create directory: " + path + " : " + SysErrorMessage(code));
    }
}

std::string TConnectionTestDlg::SampleText(const TVersionInfo& version, const QDateTime& when)
{
    const QLocale locale;
    QString stamp = locale.toString(when.date(), QLocale::ShortFormat);
    if (when.time().msecsSinceStartOfDay() != 0)
        stamp += " " + locale.toString(when.time(), QLocale::LongFormat);
    return Format("This is a sample file.\r\n\r\nIt is only used to test connectivity\r\nbetween Transport Service and "
                  "destination host.\r\nThe file was transferred by TS ver. %d.%d.%d. on %s\r\n",
                  version.Major, version.Minor, version.Release, stamp.toStdString().c_str());
}

int TConnectionTestDlg::CreateSampleFile()
{
    const std::string text = SampleText(*VersionInfo, QDateTime::currentDateTime());
    ferrix::TReplaceOptions options;
    options.Durable = false;
    if (!ferrix::ReplaceFileContent(SampleFileName, text.data(), text.size(), options)) {
        const int code = errno;
        throw EInOutError(Format("Cannot create file \"%s\". %s", SampleFileName, SysErrorMessage(code).c_str()),
                          code);
    }
    return static_cast<int>(text.size());
}

void TConnectionTestDlg::TransferSampleFile()
{
    if (!IsCopy()) {
        IdFTP.ChangeDir("/" + Config->DestinationDirectory);
        IdFTP.Put(SampleFileName, SampleFileName);
        try {
            IdFTP.Delete(SampleFileName);
        } catch (const std::exception&) {
        }
        return;
    }
    const std::string target =
        ferrix::LocalPath(Destination() + "/" + Config->DestinationDirectory + "/" + SampleFileName);
    // The sample is the console's own file, in a directory the account may not enter: it is opened
    // with the console's identity, and only the destination is reached as the account.
    struct stat st {};
    const ferrix::TFileDescriptor sample = ferrix::OpenRegularFile(SampleFileName, false, st);
    if (!sample.Valid())
        RaiseOSError(errno);
    TAccountScope account(LogonToken, LogonAccount);
    if (!ferrix::CopyFileFrom(sample, target, false))
        RaiseOSError(errno);
    DeleteFile(target);
}

void TConnectionTestDlg::DeleteSampleFile()
{
    if (FileExists(SampleFileName))
        DeleteFile(SampleFileName);
}

void TConnectionTestDlg::UpdateState()
{
    BtnTest->setEnabled(!Running);
    BtnBack->setEnabled(!Running);
    BtnTest->setVisible(true);
    QString caption = SConnTestCaption;
    if (CurrentDest >= 0)
        caption += ": " + Text(Destination());
    caption += Running ? SInProgress : (NoErrors ? SNoErrorsFound : SErrorsFound);
    setWindowTitle(caption);
}

void TConnectionTestDlg::AddLine(const QString& text)
{
    AddFormattedLine(text, QTextCharFormat());
}

void TConnectionTestDlg::AppendToLastLine(const QString& text)
{
    if (ReportEmpty)
        return;
    QTextCursor cursor(ReResult->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text, QTextCharFormat());
    ProcessPendingEvents();
}

void TConnectionTestDlg::AddErrorLine(const QString& text)
{
    QTextCharFormat format;
    format.setForeground(QColor(255, 0, 0));
    AddFormattedLine(text, format);
}

void TConnectionTestDlg::AddHeaderLine(const QString& text)
{
    QTextCharFormat format;
    format.setFontWeight(QFont::Bold);
    AddFormattedLine(text, format);
}

void TConnectionTestDlg::AddFormattedLine(const QString& text, const QTextCharFormat& format)
{
    QTextCursor cursor(ReResult->document());
    cursor.movePosition(QTextCursor::End);
    if (!ReportEmpty)
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    cursor.insertText(text, format);
    // The view shows the new line; its typing attributes go back to the defaults.
    ReResult->moveCursor(QTextCursor::End);
    ReResult->setCurrentCharFormat(QTextCharFormat());
    ReportEmpty = false;
    ProcessPendingEvents();
}

void TConnectionTestDlg::ProcessPendingEvents()
{
    QCoreApplication::processEvents();
}

std::string TConnectionTestDlg::Destination() const
{
    return Config->GetDestination(CurrentDest);
}

bool TConnectionTestDlg::IsCopy() const
{
    return Config->Transport != TRANSPORT_FTP;
}
