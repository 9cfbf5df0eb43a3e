// The console's window for a file-tracking service: watches the service on this PC or another PC,
// shows its statistics, starts and stops it and runs the Parameters command. Every name it works
// with (settings files, service, pipes, settings dialog and settings classes) is a field that a
// descendant fills before the base FormCreate runs.
#pragma once
#include <QLabel>
#include <QMainWindow>
#include <QPixmap>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include "console/basesvc_configdlg.h"
#include "foundation/ftconfigbase.h"
#include "foundation/pipeproto.h"
#include "foundation/sds.h"
#include "platform/scm/scm.h"

class QFrame;
class QPainter;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTimer;

namespace ferrix {

// One panel of the window's status bar: a text, or an image its window draws (OnDrawPanel).
class TStatusPanel : public QLabel {
    Q_OBJECT
public:
    explicit TStatusPanel(QWidget* parent = nullptr);
    // When set, paints the panel instead of its text.
    std::function<void(TStatusPanel* panel, QPainter& painter, const QRect& rect)> OnDrawPanel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace ferrix

class TSvcWndBase : public QMainWindow {
    Q_OBJECT
public:
    // Builds the components and starts the timer. programDir is where the console keeps its settings file and the local
    // copy of the service's settings: the program's directory (AppDir) unless a test gives another.
    // FormCreate is not run here: the creator runs it once the object is whole.
    explicit TSvcWndBase(QWidget* parent = nullptr, const std::string& programDir = AppDir());
    ~TSvcWndBase() override;

    // Start-up: status panels, captions, empty values, defaults of the names still empty, the
    // console settings file (a failure to write it is shown, the start-up goes on), command line.
    virtual void FormCreate();
    // Writes PcName into the console settings file; errors are ignored. Run once, at destruction.
    void FormDestroy();
    // Stops the timer, closes the handles and ends the connection to the watched PC; the window
    // may always close.
    bool FormCloseQuery();
    // One tick: state, buttons, statistics while the service runs, and the Parameters command of
    // the CONFIG switch at the first tick that sees it running. That command starts once the tick
    // has returned, so that the ticks go on while its dialog or a box is open; its errors are
    // shown in an error box (ferrix::RunHandler). Never raises.
    void TmrMainTimer();
    // The PC selection dialog, with the timer stopped while it is open; OK switches to its PC and
    // ends the connection to the PC watched before. A switch to another name removes the local
    // copy of the first PC's settings (DiscardLocalConfig).
    void BtnPcClick();
    // Start and stop with their waits (console/svcctrl.h), only with both handles open; a service
    // already there gets an information box. Raise the manager's errors.
    void BtnSrvStartClick();
    void BtnSrvStopClick();
    void BtnConfigureClick();
    void BtnCloseClick();
    // Draws the LED of the service panel (running) or of the busy panel (Busy).
    void SbMainDrawPanel(ferrix::TStatusPanel* panel, QPainter& painter, const QRect& rect);

    // Hook of the Parameters command, run with the open manager after the new settings were sent;
    // does nothing here.
    virtual void ApplyServiceAccount(TScManager& manager);
    // Start: handles open and not running; Stop: running; Parameters: running.
    virtual void UpdateButtons();

    // PcName, or "this PC" when it is empty.
    std::string GetPcDisplayName() const;
    // Takes the name unchanged and shows its display name.
    void SetPcName(const std::string& name);
    bool HasServiceHandles() const;
    // Both handles open and the last query found the service running.
    bool IsServiceRunning() const;
    // Shows the busy LED lit or unlit; repaints only on a change.
    void SetBusy(bool busy);
    // Forgets the state and closes the service's handle, then the manager's.
    void CloseServiceHandles();
    // Empties every value label and the busy LED.
    void ClearAllValues();
    // Empties the next check and the last error.
    void ClearCheckAndErrorValues();
    // Opens what is not open yet and queries the state; a failure becomes the status text (the
    // manager's or the system's text) and is tried again at the next tick. Another PC is first
    // connected to without waiting: "Connecting to PC..." until the connection is open, and one
    // that cannot be reached shows why, with the values cleared, and is tried again after a pause
    // (platform/remote/relaylink.h). Never raises.
    void RefreshServiceState();
    // Reads RemotePC of the console settings file and writes the file back, so that it exists;
    // raises EIniFileException when it cannot be written. A RemotePC that is no PC name
    // (ferrix::IsValidPcName) is not taken: the window watches this PC, and an Exception says so.
    void LoadSettings(const std::string& path);
    // Writes RemotePC; raises EIniFileException when the file cannot be written.
    void SaveSettings(const std::string& path);
    // Sets AutoConfigure for a CONFIG switch among the program's arguments; the overload takes
    // the arguments without the program name.
    void ParseCommandLine();
    void ParseCommandLine(const QStringList& arguments);
    // The captions and hints of the components.
    void LocalizeCaptions();

    // "\\.\pipe\" for this PC, "\\PC\pipe\" for another.
    std::string GetPipePrefix() const;
    // One statistics exchange on InfoPipeName and its display; a failure becomes the status text,
    // with the labels left as they were. Never raises.
    void RequestStatistics();
    // Fills the labels from Stats and Info, in the user's locale (QLocale).
    void ShowStatistics();
    // Shows "retrieving configuration from PC..." and fetches.
    void RetrieveConfiguration();
    // The service's settings file into the local copy (owner-only rights). Raises with the
    // pipe's text, "Length error", or the file system's text; an answer of another kind is no
    // error and leaves the copy, unless that copy is another PC's (a failed DiscardLocalConfig):
    // then it raises, until a fetch has written the copy again.
    void FetchConfiguration();
    // Shows "sending new configuration to PC..." and sends; a failure is shown in the status text
    // and in an error box, and the command goes on. Never raises.
    void SendConfiguration();
    // Sends at most 16356 bytes of the local copy on ControlPipeName. Raises with the pipe's text,
    // "Length error", "Wrong quittance from Rurivure Service", or a status other than success that
    // the service reports when it could not store the file.
    void PutConfiguration();
    // Replaces the local copy with the bytes, readable by its owner only; raises EInOutError.
    void SaveLocalConfig(const void* data, size_t length);
    // Reads at most maxLength bytes of the local copy, cutting a longer file; raises EInOutError.
    void LoadLocalConfig(void* destination, size_t maxLength, size_t& count);
    // Removes the local copy, which holds the passwords of the PC watched until now, so that they
    // never reach another PC. A removal that fails is remembered for FetchConfiguration. Never
    // raises.
    void DiscardLocalConfig();

    // The Parameters command: fetch, settings dialog, and on OK send, account and restart. An error
    // becomes the status text and is raised on.
    void ConfigureService();
    // Checks the rights first, then restarts the service with ApplyServiceAccount between stop and
    // start; a stopped service is started only when the user says Yes. Raises the manager's errors.
    void ApplyConfigAndRestart();

    // The status text: the text of the last panel of SbMain.
    QString StatusText() const;
    void SetStatusText(const QString& text);
    void SetStatusText(const std::string& text);
    // Paths of the console settings file and of the local copy of the service's settings.
    std::string SettingsIniPath() const;
    std::string LocalConfigPath() const;

    // Components, in declared order.
    QTimer* TmrMain = nullptr;
    QTabWidget* PgcMain = nullptr;
    QWidget* TsStatistics = nullptr;
    QWidget* TsHardware = nullptr;
    QLabel* LabLastErrTime = nullptr;
    QLabel* LabLastErrTimeVal = nullptr;
    QLabel* LabLastErrTextVal = nullptr;
    QStatusBar* SbMain = nullptr;
    std::array<QPixmap, 2> ImlLed;  // 0 unlit, 1 lit; 13 x 13
    QLabel* LabLastEvtTextVal = nullptr;
    QLabel* LabLastEvtTime = nullptr;
    QLabel* LabStartedAt = nullptr;
    QLabel* LabSartedVal = nullptr;
    QLabel* LabConns = nullptr;
    QLabel* LabConnsVal = nullptr;
    QLabel* LabConErrors = nullptr;
    QLabel* LabConErrorsVal = nullptr;
    QLabel* LabReq = nullptr;
    QLabel* LabReqVal = nullptr;
    QLabel* LabReqBytes = nullptr;
    QLabel* LabReqBytesVal = nullptr;
    QLabel* LabAns = nullptr;
    QLabel* LabAnsVal = nullptr;
    QLabel* LabAnsBytes = nullptr;
    QLabel* LabAnsBytesVal = nullptr;
    QLabel* LabWriteErr = nullptr;
    QLabel* LabWriteErrVal = nullptr;
    QFrame* PnButtons = nullptr;
    QPushButton* BtnConfigure = nullptr;
    QFrame* PnHeader = nullptr;
    QLabel* LabPc = nullptr;
    QLabel* ImgClient = nullptr;
    QPushButton* BtnSrvStart = nullptr;
    QPushButton* BtnSrvStop = nullptr;
    QLabel* LabLastFileOk = nullptr;
    QLabel* LabLastEvtTimeVal = nullptr;
    QLabel* LabLastFileOkVal = nullptr;
    QLabel* LabLastFileOkAtVal = nullptr;
    QLabel* LabLastFileBad = nullptr;
    QLabel* LabLastFileBadVal = nullptr;
    QLabel* LabLastFileBadAtVal = nullptr;
    QLabel* LabLastGroup = nullptr;
    QLabel* LabLastGroupAtVal = nullptr;
    QLabel* LabLastGroupVal = nullptr;
    QLabel* LabFileCheckAt = nullptr;
    QLabel* LabNextFileCheckAtVal = nullptr;
    QLabel* LabVersion = nullptr;
    QLabel* LabVersionVal = nullptr;
    QPushButton* BtnClose = nullptr;
    QPushButton* BtnPC = nullptr;
    QLabel* StPcDisplayName = nullptr;
    // The five panels of SbMain: "Service", its LED, "Busy", its LED, the status text.
    std::array<ferrix::TStatusPanel*, 5> SbMainPanels{};

    // Own fields, in declared order.
    std::string SettingsIniName;
    TBaseSvcConfigDlgClass DlgClass;
    TBaseFtConfigClass ConfigClass;
    std::string PcName;
    std::string ServiceName;
    std::string LocalConfigName;
    std::string InfoPipeName;
    std::string ControlPipeName;
    std::unique_ptr<TScManager> SCManager;
    std::unique_ptr<TScService> ServiceHandle;
    uint32_t ServiceState = 0;
    // Request area (first half) and answer area (second half) of every pipe exchange.
    alignas(8) std::array<uint8_t, 2 * PipeMessageSize> PipeBuffer{};
    TPipeStatistics Stats;
    TServiceStatusInfo Info;
    ferrix::TStatusPanel* ServicePanel = nullptr;
    ferrix::TStatusPanel* BusyPanel = nullptr;
    ferrix::TStatusPanel* StatusPanel = nullptr;
    bool Busy = false;
    bool AutoConfigure = false;

    // Where the console keeps its files (AppDir for the program).
    std::string ProgramDir;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildHeader(QWidget* central);
    void BuildHardwarePage();
    void BuildStatisticsPage();
    void BuildButtons(QWidget* central);
    void BuildStatusBar();
    void RepaintStatusBar();
    void InvalidateStatusBar();
    // Whether the watched PC's connection is open (always for this PC); if not, closes the handles
    // and shows that it is connecting, or why it could not be reached.
    bool WatchedPcReached(const std::string& name);
    // One exchange on the pipe: the request keyword (and for a send, the payload already in the
    // request area). False with the pipe's last error when the call failed.
    bool ExchangePipe(const std::string& pipeName, const char* keyword, uint32_t payloadLength, uint32_t& bytesRead);
    const uint8_t* Answer() const { return PipeBuffer.data() + PipeMessageSize; }
    uint8_t* Request() { return PipeBuffer.data(); }

    bool Destroyed = false;
    // The system's error code of a failed DiscardLocalConfig: the local copy is then another PC's
    // until a fetch writes it. 0 otherwise.
    int ForeignLocalConfigError = 0;
};

namespace ferrix {

// The 13 x 13 LED images: grey (unlit) and green (lit).
QPixmap LedImage(bool lit);
// Whether a command-line argument is the CONFIG switch: "-" or "/" and "CONFIG" in any case.
bool IsConfigSwitch(const QString& argument);
// Counter format: thousands separators of the locale, no decimals, padded to 12 characters.
QString FormatCounter(double value, const QLocale& locale);
// "h:mm:ss:zzz" of a duration in milliseconds (wrapping at 24 hours), with the locale's time
// separator.
QString FormatElapsed(uint32_t milliseconds, const QLocale& locale);
// The locale's separator between hours and minutes; ":" when its time format shows none.
QString TimeSeparatorOf(const QLocale& locale);

}  // namespace ferrix

// Whole seconds between two date-time values, as an absolute difference.
int64_t SecondsBetween(TDateTime a, TDateTime b);
