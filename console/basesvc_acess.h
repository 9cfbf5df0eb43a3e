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

// One panel of the window's status bar: a text, or an image its window draws (OnDrawPanel).
class TStatusPanel : public QLabel {
    Q_OBJECT
public:
    explicit TStatusPanel(QWidget* parent = nullptr);
    std::function<void(TStatusPanel* panel, QPainter& painter, const QRect& rect)> OnDrawPanel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TSvcWndBase : public QMainWindow {
    Q_OBJECT
public:
    // Builds the components. programDir is where the console keeps its settings file and the local
    // copy of the service's settings: the program's directory (AppDir) unless a test gives another.
    // FormCreate is not run here: the creator runs it once the object is whole.
    explicit TSvcWndBase(QWidget* parent = nullptr, const std::string& programDir = AppDir());
    ~TSvcWndBase() override;

    // Start-up: status panels, captions, defaults of the names, console settings, command line.
    virtual void FormCreate();
    void FormDestroy();
    // Stops the timer and closes the handles; the window may always close.
    bool FormCloseQuery();
    void TmrMainTimer();
    void BtnPcClick();
    void BtnSrvStartClick();
    void BtnSrvStopClick();
    void BtnConfigureClick();
    void BtnCloseClick();
    void SbMainDrawPanel(TStatusPanel* panel, QPainter& painter, const QRect& rect);

    // Hook of the Parameters command, run with the open manager after the new settings were sent.
    virtual void ApplyServiceAccount(TScManager& manager);
    // Enabled state of the three service buttons.
    virtual void UpdateButtons();

    std::string GetPcDisplayName() const;
    void SetPcName(const std::string& name);
    bool HasServiceHandles() const;
    bool IsServiceRunning() const;
    void SetBusy(bool busy);
    void CloseServiceHandles();
    void ClearAllValues();
    void ClearCheckAndErrorValues();
    void RefreshServiceState();
    void LoadSettings(const std::string& path);
    void SaveSettings(const std::string& path);
    // Reads the program's arguments; the overload takes them without the program name.
    void ParseCommandLine();
    void ParseCommandLine(const QStringList& arguments);
    void LocalizeCaptions();

    // Statistics and settings exchange over the service's pipes.
    std::string GetPipePrefix() const;
    void RequestStatistics();
    void ShowStatistics();
    void RetrieveConfiguration();
    void FetchConfiguration();
    void SendConfiguration();
    void PutConfiguration();
    void SaveLocalConfig(const void* data, size_t length);
    void LoadLocalConfig(void* destination, size_t maxLength, size_t& count);

    // Service control.
    void ConfigureService();
    void ApplyConfigAndRestart();

    // The status text: the text of StatusPanel.
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
    std::array<TStatusPanel*, 5> SbMainPanels{};

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
    TStatusPanel* ServicePanel = nullptr;
    TStatusPanel* BusyPanel = nullptr;
    TStatusPanel* StatusPanel = nullptr;
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
    // One exchange on the pipe: the request keyword (and for a send, the payload already in the
    // request area). False with the pipe's last error when the call failed.
    bool ExchangePipe(const std::string& pipeName, const char* keyword, uint32_t payloadLength, uint32_t& bytesRead);
    const uint8_t* Answer() const { return PipeBuffer.data() + PipeMessageSize; }
    uint8_t* Request() { return PipeBuffer.data(); }

    bool Destroyed = false;
};

// The 13 x 13 LED images: grey (unlit) and green (lit).
QPixmap LedImage(bool lit);
// Whether a command-line argument is the CONFIG switch: "-" or "/" and "CONFIG" in any case.
bool IsConfigSwitch(const QString& argument);
// Counter format: thousands separators of the locale, no decimals, padded to 12 characters.
QString FormatCounter(double value, const QLocale& locale);
// "h:mm:ss:zzz" of a duration in milliseconds (wrapping at 24 hours), with the locale's time
// separator.
QString FormatElapsed(uint32_t milliseconds, const QLocale& locale);
// The locale's separator between hours and minutes.
QString LocaleTimeSeparator(const QLocale& locale);
// Whole seconds between two date-time values, as an absolute difference.
int64_t SecondsBetween(TDateTime a, TDateTime b);
