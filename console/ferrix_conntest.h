// The connectivity test: checks connection, destination directory and file transfer of each
// configured destination and writes a report.
#pragma once
#include <QDialog>
#include <memory>
#include <string>
#include "foundation/idftp.h"
#include "foundation/trconfig.h"
#include "foundation/verinfo.h"
#include "platform/logon/logon.h"

class QDateTime;
class QFrame;
class QPushButton;
class QShowEvent;
class QTextCharFormat;
class QTextEdit;
class QTimer;

// The test runs once by itself as soon as the shown dialog handles events, and again at each
// press of Test; BtnBack closes the dialog with QMessageBox::No. A step's failure is a red line of
// the report, never an error box; only a missing Config is raised (to the general error box).
//
// A COPY destination with an account is tested as that account: the account is logged on at the
// connection step, and the window thread takes its file identity only while it works on the
// destination (directory and transfer), never while other events run in between; the identity
// is given back and the token released at the end of the destination, whatever happened. The
// local sample file is read with the console's own identity, so the account needs no access to
// the console's current directory.
class TConnectionTestDlg : public QDialog {
    Q_OBJECT
public:
    // The test starts by itself once the dialog is shown; set Config before that.
    explicit TConnectionTestDlg(QWidget* owner);
    // Deletes the local sample file.
    ~TConnectionTestDlg() override;

    QTimer* TmrAutoStart = nullptr;
    TIdFTP IdFTP;
    QFrame* PnButtons = nullptr;
    QPushButton* BtnTest = nullptr;
    QPushButton* BtnBack = nullptr;
    QFrame* PnResult = nullptr;
    QTextEdit* ReResult = nullptr;

    std::unique_ptr<TVersionInfo> VersionInfo;  // of the running program
    bool Running = false;
    bool NoErrors = true;
    // The settings under test; not owned.
    const TTransportConfig* Config = nullptr;
    int CurrentDest = -1;
    HANDLE LogonToken = 0;

    void RunTest();
    void WriteParameters();
    void SetupFtp(int index);
    void CheckConnection();
    void CheckDirectory();
    void CheckTransfer();
    // Raise with a message on failure.
    void Connect();
    void EnsureDestDirectory();
    int CreateSampleFile();
    void TransferSampleFile();
    // Never raises.
    void Disconnect();
    void DeleteSampleFile();
    void UpdateState();
    void AddLine(const QString& text);
    void AppendToLastLine(const QString& text);
    void AddErrorLine(const QString& text);
    void AddHeaderLine(const QString& text);

    // The text of the sample file: the program's version and the given local date and time.
    static std::string SampleText(const TVersionInfo& version, const QDateTime& when);

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void TmrAutoStartTimer();
    void BtnTestClick();
    void TestDestination(int index);
    bool RunStep(void (TConnectionTestDlg::*step)());
    void AddFormattedLine(const QString& text, const QTextCharFormat& format);
    void ProcessPendingEvents();
    std::string Destination() const;
    bool IsCopy() const;

    bool ReportEmpty = true;
    std::string LogonAccount;  // the account of LogonToken
};

namespace ferrix {
// Gives the calling thread its own identity back after an impersonation of account; when that
// fails the program ends at once (exit status 3, the reason on standard error), since it must not
// go on acting as another user.
void RevertImpersonation(const std::string& account);
}  // namespace ferrix
