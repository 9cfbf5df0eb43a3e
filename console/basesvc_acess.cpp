#include "console/basesvc_acess.h"
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadialGradient>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <cerrno>
#include <cmath>
#include <cstring>
#include "console/application.h"
#include "console/selectpcdlg.h"
#include "console/svcctrl.h"
#include "foundation/inifile.h"
#include "platform/files/filecontent.h"
#include "platform/files/findfile.h"
#include "platform/files/newfile.h"
#include "platform/namedpipe/pipeclient.h"
#include "platform/network/pcname.h"
#include "platform/remote/relayclient.h"

namespace {

constexpr int TimerIntervalMs = 500;
constexpr int LedSize = 13;
const char* const SettingsSection = "General";
const char* const RemotePcKey = "RemotePC";

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The text of a zero-terminated field of a status record, up to its first zero byte.
QString FieldText(const char* field, size_t size) { return QString::fromUtf8(field, strnlen(field, size)); }

bool TrySystemTimeToDateTime(const SYSTEMTIME& time, TDateTime& value)
{
    try {
        value = SystemTimeToDateTime(time);
        return true;
    } catch (const EConvertError&) {
        return false;
    }
}

int ShowBox(QWidget* owner, QMessageBox::Icon icon, const std::string& text, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, ApplicationTitle, Q(text), buttons, owner);
    // The texts hold PC names as typed: shown as they stand, never as markup.
    box.setTextFormat(Qt::PlainText);
    return box.exec();
}

QLabel* NewLabel(QWidget* parent, bool wrap = false)
{
    auto* label = new QLabel(parent);
    // The service's texts and file names are shown as they stand, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QPushButton* NewButton(QWidget* parent, TSvcWndBase* window, void (TSvcWndBase::*handler)())
{
    auto* button = new QPushButton(parent);
    QObject::connect(button, &QPushButton::clicked, window,
                     [window, handler] { ferrix::RunHandler([window, handler] { (window->*handler)(); }); });
    return button;
}

// The picture of the header: a small screen on its stand.
QPixmap ClientPicture()
{
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(60, 60, 70), 1.5));
    painter.setBrush(QColor(200, 205, 215));
    painter.drawRoundedRect(QRectF(2, 3, 28, 20), 2, 2);
    painter.setBrush(QColor(40, 90, 160));
    painter.drawRect(QRectF(5, 6, 22, 14));
    painter.setBrush(QColor(120, 120, 130));
    painter.drawRect(QRectF(13, 23, 6, 4));
    painter.drawRoundedRect(QRectF(8, 27, 16, 3), 1, 1);
    return picture;
}

}  // namespace

ferrix::TStatusPanel::TStatusPanel(QWidget* parent) : QLabel(parent) {}

void ferrix::TStatusPanel::paintEvent(QPaintEvent* event)
{
    if (!OnDrawPanel) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    OnDrawPanel(this, painter, rect());
}

TSvcWndBase::TSvcWndBase(QWidget* parent, const std::string& programDir) : QMainWindow(parent), ProgramDir(programDir)
{
    setWindowTitle("Centralization Service configuration & statistics");
    TmrMain = new QTimer(this);
    TmrMain->setInterval(TimerIntervalMs);
    connect(TmrMain, &QTimer::timeout, this, [this] { ferrix::RunHandler([this] { TmrMainTimer(); }); });
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    BuildHeader(central);
    PgcMain = new QTabWidget(central);
    TsHardware = new QWidget(PgcMain);
    TsStatistics = new QWidget(PgcMain);
    PgcMain->addTab(TsHardware, QString());
    PgcMain->addTab(TsStatistics, QString());
    PgcMain->setCurrentWidget(TsHardware);
    BuildHardwarePage();
    BuildStatisticsPage();
    BuildButtons(central);
    layout->addWidget(PnHeader);
    layout->addWidget(PgcMain, 1);
    layout->addWidget(PnButtons);
    setCentralWidget(central);
    ImlLed = {ferrix::LedImage(false), ferrix::LedImage(true)};
    BuildStatusBar();
    resize(560, 480);
    TmrMain->start();
}

TSvcWndBase::~TSvcWndBase() { FormDestroy(); }

void TSvcWndBase::BuildHeader(QWidget* central)
{
    PnHeader = new QFrame(central);
    PnHeader->setFrameShape(QFrame::StyledPanel);
    auto* layout = new QHBoxLayout(PnHeader);
    ImgClient = new QLabel(PnHeader);
    ImgClient->setPixmap(ClientPicture());
    LabPc = new QLabel("Control service running on", PnHeader);
    StPcDisplayName = new QLabel(PnHeader);
    StPcDisplayName->setTextFormat(Qt::PlainText);
    StPcDisplayName->setAlignment(Qt::AlignCenter);
    StPcDisplayName->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    QFont bold = StPcDisplayName->font();
    bold.setBold(true);
    StPcDisplayName->setFont(bold);
    StPcDisplayName->setMinimumWidth(140);
    BtnPC = NewButton(PnHeader, this, &TSvcWndBase::BtnPcClick);
    layout->addWidget(ImgClient);
    layout->addWidget(LabPc);
    layout->addWidget(StPcDisplayName, 1);
    layout->addWidget(BtnPC);
}

void TSvcWndBase::BuildHardwarePage()
{
    auto* grid = new QGridLayout(TsHardware);
    int row = 0;
    // Each caption above its time (left) and its text (right).
    auto add = [&](QLabel*& caption, QLabel*& time, QLabel*& text, bool wrap) {
        caption = new QLabel(TsHardware);
        QFont bold = caption->font();
        bold.setBold(true);
        caption->setFont(bold);
        grid->addWidget(caption, row++, 0, 1, 2);
        time = NewLabel(TsHardware);
        // A value without a text beside it has the whole line.
        grid->addWidget(time, row, 0, 1, &text != &time ? 1 : 2, Qt::AlignTop);
        if (&text != &time) {
            text = NewLabel(TsHardware, wrap);
            // A long name or message is cut at the window's edge instead of widening the window.
            text->setSizePolicy(QSizePolicy::Ignored, text->sizePolicy().verticalPolicy());
            grid->addWidget(text, row, 1, Qt::AlignTop);
        }
        ++row;
    };
    add(LabLastFileOk, LabLastFileOkAtVal, LabLastFileOkVal, false);
    add(LabLastFileBad, LabLastFileBadAtVal, LabLastFileBadVal, false);
    add(LabLastGroup, LabLastGroupAtVal, LabLastGroupVal, false);
    add(LabFileCheckAt, LabNextFileCheckAtVal, LabNextFileCheckAtVal, false);
    add(LabLastEvtTime, LabLastEvtTimeVal, LabLastEvtTextVal, true);
    add(LabLastErrTime, LabLastErrTimeVal, LabLastErrTextVal, true);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(row, 1);
}

void TSvcWndBase::BuildStatisticsPage()
{
    auto* grid = new QGridLayout(TsStatistics);
    int row = 0;
    // Each caption with its value beside it, right-aligned.
    auto add = [&](QLabel*& caption, QLabel*& value) {
        caption = new QLabel(TsStatistics);
        value = NewLabel(TsStatistics);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(caption, row, 0);
        grid->addWidget(value, row, 1);
        ++row;
    };
    add(LabVersion, LabVersionVal);
    add(LabStartedAt, LabSartedVal);
    add(LabConns, LabConnsVal);
    add(LabConErrors, LabConErrorsVal);
    add(LabReq, LabReqVal);
    add(LabReqBytes, LabReqBytesVal);
    add(LabAns, LabAnsVal);
    add(LabAnsBytes, LabAnsBytesVal);
    add(LabWriteErr, LabWriteErrVal);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(row, 1);
}

void TSvcWndBase::BuildButtons(QWidget* central)
{
    PnButtons = new QFrame(central);
    auto* layout = new QHBoxLayout(PnButtons);
    BtnSrvStart = NewButton(PnButtons, this, &TSvcWndBase::BtnSrvStartClick);
    BtnSrvStop = NewButton(PnButtons, this, &TSvcWndBase::BtnSrvStopClick);
    BtnConfigure = NewButton(PnButtons, this, &TSvcWndBase::BtnConfigureClick);
    BtnClose = NewButton(PnButtons, this, &TSvcWndBase::BtnCloseClick);
    layout->addWidget(BtnSrvStart);
    layout->addWidget(BtnSrvStop);
    layout->addWidget(BtnConfigure);
    layout->addStretch(1);
    layout->addWidget(BtnClose);
}

void TSvcWndBase::BuildStatusBar()
{
    SbMain = new QStatusBar(this);
    SbMain->setSizeGripEnabled(false);
    // Panels 0 to 3 have no bevel; the status text has its own frame.
    SbMain->setStyleSheet("QStatusBar::item { border: none; }");
    for (size_t i = 0; i < SbMainPanels.size(); ++i) {
        auto* panel = new ferrix::TStatusPanel(SbMain);
        // The status text carries the service's and the system's messages as they stand.
        panel->setTextFormat(Qt::PlainText);
        SbMainPanels[i] = panel;
        if (i % 2 == 1) {
            panel->setFixedSize(LedSize + 4, LedSize);
            panel->OnDrawPanel = [this](ferrix::TStatusPanel* p, QPainter& painter, const QRect& rect) {
                SbMainDrawPanel(p, painter, rect);
            };
        } else if (i < 4) {
            panel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        } else {
            panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            // A long error text is cut at the window's edge instead of widening the window.
            panel->setSizePolicy(QSizePolicy::Ignored, panel->sizePolicy().verticalPolicy());
        }
        SbMain->addWidget(panel, i == 4 ? 1 : 0);
    }
    setStatusBar(SbMain);
}

void TSvcWndBase::FormCreate()
{
    ServicePanel = SbMainPanels[1];
    BusyPanel = SbMainPanels[3];
    StatusPanel = SbMainPanels[4];
    AutoConfigure = false;
    LocalizeCaptions();
    ClearAllValues();
    auto byDefault = [](std::string& field, const char* value) {
        if (field.empty())
            field = value;
    };
    byDefault(SettingsIniName, "svc_cfg.ini");
    byDefault(ServiceName, "ServiceSvc");
    byDefault(LocalConfigName, "cfg_local.ini");
    byDefault(InfoPipeName, "SvcInfo");
    byDefault(ControlPipeName, "SvcControl");
    if (!DlgClass)
        DlgClass = DlgClassOf<TBaseSvcConfigDlg>();
    if (!ConfigClass)
        ConfigClass = ConfigClassOf<TBaseFtConfig>();
    // A settings file that cannot be written is reported; the window is made all the same.
    ferrix::RunHandler([this] { LoadSettings(SettingsIniPath()); });
    ParseCommandLine();
}

void TSvcWndBase::LocalizeCaptions()
{
    BtnPC->setText("Switch to another PC");
    BtnPC->setToolTip("Select PC where the service is running");
    PgcMain->setTabText(PgcMain->indexOf(TsHardware), "Operations with data files");
    LabLastFileOk->setText("Last file processed successfully");
    LabLastFileBad->setText("Last file processed with errors");
    LabLastGroup->setText("Last file check");
    LabFileCheckAt->setText("Next file check");
    LabLastEvtTime->setText("Last event");
    LabLastErrTime->setText("Last error");
    PgcMain->setTabText(PgcMain->indexOf(TsStatistics), "Statistics");
    LabVersion->setText("Service version:");
    LabStartedAt->setText("Started at:");
    LabConns->setText("Successful connections:");
    LabConErrors->setText("Connetion errors:");
    LabReq->setText("Requests received:");
    LabReqBytes->setText("Bytes received:");
    LabAns->setText("Answers sent:");
    LabAnsBytes->setText("Bytes sent:");
    LabWriteErr->setText("Write errors:");
    BtnConfigure->setText("Parameters");
    BtnConfigure->setToolTip("Change Centralization parameters on specified PC");
    BtnSrvStart->setText("Start service");
    BtnSrvStart->setToolTip("Start Centralization Service on specified PC");
    BtnSrvStop->setText("Stop service");
    BtnSrvStop->setToolTip("Stop Centralization Service on specified PC");
    BtnClose->setText("Close");
    SbMainPanels[0]->setText("Service");
    SbMainPanels[2]->setText("Busy");
}

void TSvcWndBase::FormDestroy()
{
    if (Destroyed || SettingsIniName.empty())
        return;
    Destroyed = true;
    try {
        SaveSettings(SettingsIniPath());
    } catch (...) {
        // The window is going away: nothing could show the error.
    }
}

bool TSvcWndBase::FormCloseQuery()
{
    TmrMain->stop();
    CloseServiceHandles();
    // A pending connection to another PC ends too, without waiting for it.
    ferrix::CloseRelayLink(PcName);
    return true;
}

void TSvcWndBase::closeEvent(QCloseEvent* event)
{
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

void TSvcWndBase::LoadSettings(const std::string& path)
{
    TMemIniFile ini(path);
    std::string refused;
    try {
        const std::string name = ini.ReadString(SettingsSection, RemotePcKey, "");
        if (!ferrix::IsValidPcName(name))
            refused = name;
        SetPcName(refused.empty() ? name : std::string());
    } catch (...) {
        ini.UpdateFile();
        throw;
    }
    ini.UpdateFile();
    // The file exists after the first start, empty when nothing was in it.
    if (!FileExists(path) && !ferrix::ReplaceFileContent(path, "", 0))
        throw EIniFileException(Format("Unable to write to %s", path.c_str()));
    if (!refused.empty())
        throw Exception("The PC name \"" + refused + "\" in " + path + " is refused: " + ferrix::PcNameRule +
                        ". The console watches this PC.");
}

void TSvcWndBase::SaveSettings(const std::string& path)
{
    TMemIniFile ini(path);
    ini.WriteString(SettingsSection, RemotePcKey, PcName);
    ini.UpdateFile();
}

void TSvcWndBase::ParseCommandLine()
{
    QStringList arguments = QCoreApplication::arguments();
    if (!arguments.isEmpty())
        arguments.removeFirst();
    ParseCommandLine(arguments);
}

void TSvcWndBase::ParseCommandLine(const QStringList& arguments)
{
    for (const QString& argument : arguments)
        if (ferrix::IsConfigSwitch(argument))
            AutoConfigure = true;
}

bool ferrix::IsConfigSwitch(const QString& argument)
{
    if (argument.size() <= 1 || (argument[0] != '-' && argument[0] != '/'))
        return false;
    // Only the letters a to z have an upper case here, so that no other letter (a dotless i)
    // stands in for one of the switch's.
    QString rest = argument.mid(1);
    for (QChar& c : rest)
        if (c >= 'a' && c <= 'z')
            c = QChar(c.unicode() - 'a' + 'A');
    return rest == QLatin1String("CONFIG");
}

std::string TSvcWndBase::GetPcDisplayName() const { return PcName.empty() ? "this PC" : PcName; }

void TSvcWndBase::SetPcName(const std::string& name)
{
    PcName = name;
    StPcDisplayName->setText(Q(GetPcDisplayName()));
}

bool TSvcWndBase::HasServiceHandles() const { return SCManager && ServiceHandle; }

bool TSvcWndBase::IsServiceRunning() const { return HasServiceHandles() && ServiceState == SERVICE_RUNNING; }

void TSvcWndBase::SetBusy(bool busy)
{
    if (busy == Busy)
        return;
    Busy = busy;
    InvalidateStatusBar();
}

void TSvcWndBase::CloseServiceHandles()
{
    ServiceState = 0;
    if (ServiceHandle)
        CloseServiceHandle(ServiceHandle);
    ServiceHandle.reset();
    if (SCManager)
        CloseServiceHandle(SCManager);
    SCManager.reset();
}

void TSvcWndBase::ClearAllValues()
{
    for (QLabel* label : {LabVersionVal, LabSartedVal, LabConnsVal, LabConErrorsVal, LabReqVal, LabReqBytesVal,
                          LabAnsVal, LabAnsBytesVal, LabWriteErrVal})
        label->clear();
    SetBusy(false);
    for (QLabel* label : {LabLastFileOkVal, LabLastFileOkAtVal, LabLastFileBadVal, LabLastFileBadAtVal,
                          LabLastGroupVal, LabLastGroupAtVal, LabLastEvtTimeVal, LabLastEvtTextVal})
        label->clear();
    ClearCheckAndErrorValues();
}

void TSvcWndBase::ClearCheckAndErrorValues()
{
    LabNextFileCheckAtVal->clear();
    LabLastErrTimeVal->clear();
    LabLastErrTextVal->clear();
}

void TSvcWndBase::TmrMainTimer()
{
    RefreshServiceState();
    UpdateButtons();
    if (IsServiceRunning())
        RequestStatistics();
    if (IsServiceRunning() && AutoConfigure) {
        AutoConfigure = false;
        // Started once this tick has returned: the toolkit fires no timer again while its own
        // handler runs, and the ticks must go on behind the dialog and the boxes of the command.
        QMetaObject::invokeMethod(
            this, [this] { ferrix::RunHandler([this] { ConfigureService(); }); }, Qt::QueuedConnection);
    }
}

void TSvcWndBase::RefreshServiceState()
{
    ServiceState = 0;
    const std::string name = GetPcDisplayName();
    if (!WatchedPcReached(name))
        return;
    if (!SCManager) {
        try {
            SCManager = OpenSCManagerA(PcName);
        } catch (const std::exception& error) {
            SetStatusText("Service Control Manager error on " + name + ": " + error.what());
            InvalidateStatusBar();
            return;
        }
    }
    if (!ServiceHandle) {
        try {
            ServiceHandle = OpenServiceA(*SCManager, ServiceName, SERVICE_QUERY_STATUS);
        } catch (const std::exception& error) {
            SetStatusText("Failed to access service on " + name + ": " + error.what());
            InvalidateStatusBar();
            return;
        }
    }
    try {
        ServiceState = QueryServiceStatus(*ServiceHandle).CurrentState;
        SetStatusText(ServiceStateText(ServiceState));
    } catch (const std::exception& error) {
        ServiceState = 0;
        SetStatusText("Failed to access service on " + name + ": " + error.what());
    }
    InvalidateStatusBar();
}

bool TSvcWndBase::WatchedPcReached(const std::string& name)
{
    // Another PC is connected to in the background, so that no tick waits for SSH; until the
    // connection is open the handles stay closed.
    std::string why;
    const ferrix::TRelayReach reach = ferrix::ReachPc(PcName, why);
    if (reach == ferrix::TRelayReach::Ready)
        return true;
    CloseServiceHandles();
    if (reach == ferrix::TRelayReach::Connecting) {
        SetStatusText("Connecting to " + name + "...");
    } else {
        ClearAllValues();
        SetStatusText("Service Control Manager error on " + name + ": " + why);
    }
    InvalidateStatusBar();
    return false;
}

void TSvcWndBase::UpdateButtons()
{
    BtnSrvStart->setEnabled(HasServiceHandles() && !IsServiceRunning());
    BtnSrvStop->setEnabled(HasServiceHandles() && IsServiceRunning());
    BtnConfigure->setEnabled(IsServiceRunning());
    InvalidateStatusBar();
}

void TSvcWndBase::SbMainDrawPanel(ferrix::TStatusPanel* panel, QPainter& painter, const QRect& rect)
{
    if (panel == ServicePanel)
        painter.drawPixmap(rect.topLeft(), ImlLed[IsServiceRunning() ? 1 : 0]);
    else if (panel == BusyPanel)
        painter.drawPixmap(rect.topLeft(), ImlLed[Busy ? 1 : 0]);
}

void TSvcWndBase::BtnPcClick()
{
    TmrMain->stop();
    struct TRestart {
        QTimer* Timer;
        ~TRestart() { Timer->start(); }
    } restart{TmrMain};
    TSelectPcDlg dialog(this);
    dialog.SetPcName(PcName);
    if (dialog.exec() == QDialog::Accepted) {
        CloseServiceHandles();
        ferrix::CloseRelayLink(PcName);  // no idle connection to the PC left behind
        UpdateButtons();
        if (dialog.GetPcName() != PcName)
            DiscardLocalConfig();
        SetPcName(dialog.GetPcName());
        ClearAllValues();
    }
}

void TSvcWndBase::BtnSrvStartClick()
{
    if (!HasServiceHandles())
        return;
    if (QueryServiceStatus(*ServiceHandle).CurrentState == SERVICE_RUNNING) {
        ShowBox(this, QMessageBox::Information, "The service is running already on " + GetPcDisplayName(),
                QMessageBox::Ok);
        return;
    }
    ferrix::TWaitCursor cursor;
    SetStatusText(std::string("Service starting..."));
    SetBusy(false);
    RepaintStatusBar();
    StartServiceAndWait(*SCManager, ServiceName);
    SetStatusText(std::string("Service is running"));
    ClearCheckAndErrorValues();
}

void TSvcWndBase::BtnSrvStopClick()
{
    if (!HasServiceHandles())
        return;
    if (QueryServiceStatus(*ServiceHandle).CurrentState == SERVICE_STOPPED) {
        ShowBox(this, QMessageBox::Information, "The service is stopped already on " + GetPcDisplayName(),
                QMessageBox::Ok);
        return;
    }
    ferrix::TWaitCursor cursor;
    SetStatusText(std::string("Service stopping..."));
    SetBusy(false);
    RepaintStatusBar();
    StopServiceAndWait(*SCManager, ServiceName);
    SetStatusText(std::string("Service stopped"));
    LabNextFileCheckAtVal->clear();
}

void TSvcWndBase::BtnConfigureClick() { ConfigureService(); }

void TSvcWndBase::BtnCloseClick() { close(); }

void TSvcWndBase::ConfigureService()
{
    try {
        RetrieveConfiguration();
        std::unique_ptr<TBaseSvcConfigDlg> dialog = DlgClass(this, PcName, LocalConfigPath(), ConfigClass);
        if (dialog->exec() == QDialog::Accepted) {
            ferrix::TWaitCursor cursor;
            SendConfiguration();
            SetBusy(false);
            ApplyConfigAndRestart();
            ClearCheckAndErrorValues();
        }
    } catch (const std::exception& error) {
        SetStatusText(std::string(error.what()));
        throw;
    }
}

void TSvcWndBase::ApplyConfigAndRestart()
{
    if (!HasServiceHandles())
        return;
    // Whether the user may configure, stop and start the service, found out before anything stops.
    std::unique_ptr<TScService> check =
        OpenServiceA(*SCManager, ServiceName,
                     SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP);
    CloseServiceHandle(check);
    const auto showStep = [this](const char* text) {
        SetStatusText(std::string(text));
        RepaintStatusBar();
    };
    if (QueryServiceStatus(*ServiceHandle).CurrentState == SERVICE_STOPPED) {
        if (ShowBox(this, QMessageBox::Question, "Service is not running.\nDo you want to start it now?",
                    QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return;
        ferrix::TWaitCursor cursor;
        showStep("Changing service configuration...");
        ApplyServiceAccount(*SCManager);
        showStep("Service starting...");
        StartServiceAndWait(*SCManager, ServiceName);
        SetStatusText(std::string("Service is running"));
        return;
    }
    ferrix::TWaitCursor cursor;
    showStep("Service stopping...");
    StopServiceAndWait(*SCManager, ServiceName);
    showStep("Changing service configuration...");
    ApplyServiceAccount(*SCManager);
    showStep("Service starting...");
    StartServiceAndWait(*SCManager, ServiceName);
    SetStatusText(std::string("Service is running"));
}

void TSvcWndBase::ApplyServiceAccount(TScManager&) {}

// Statistics and settings exchange.

std::string TSvcWndBase::GetPipePrefix() const { return PcName.empty() ? "\\\\.\\pipe\\" : "\\\\" + PcName + "\\pipe\\"; }

bool TSvcWndBase::ExchangePipe(const std::string& pipeName, const char* keyword, uint32_t payloadLength,
                               uint32_t& bytesRead)
{
    std::memset(Request(), 0, PipeHeaderSize);
    ferrix::WriteHeader(Request(), keyword, 0, static_cast<int32_t>(payloadLength));
    return CallNamedPipeA(GetPipePrefix() + pipeName, Request(), PipeHeaderSize + payloadLength,
                          PipeBuffer.data() + PipeMessageSize, PipeMessageSize, bytesRead);
}

void TSvcWndBase::RequestStatistics()
{
    uint32_t received = 0;
    if (!ExchangePipe(InfoPipeName, REQGETSTATS, 0, received)) {
        SetStatusText(ferrix::PipeErrorMessage(GetLastPipeError()));
        return;
    }
    if (received < PipeHeaderSize) {
        SetStatusText(std::string("Length error"));
        return;
    }
    if (!ferrix::KeywordIs(Answer(), ANSGETSTATS))
        return;
    if (received < StatsAnswerLength) {
        SetStatusText(std::string("Length error"));
        return;
    }
    std::memcpy(&Stats, Answer() + PipeStatisticsOffset, sizeof Stats);
    std::memcpy(&Info, Answer() + ServiceStatusOffset, sizeof Info);
    ShowStatistics();
    SetStatusText(QString());
}

void TSvcWndBase::ShowStatistics()
{
    const QLocale locale;
    LabVersionVal->setText(QString("%1.%2.%3").arg(Info.VersionMajor).arg(Info.VersionMinor).arg(Info.VersionRelease));
    LabSartedVal->setText(Q(FormatSystemTime(Stats.StartTime)));
    LabConnsVal->setText(ferrix::FormatCounter(Stats.Connections, locale));
    LabConErrorsVal->setText(ferrix::FormatCounter(Stats.ConnErrors, locale));
    LabReqVal->setText(ferrix::FormatCounter(Stats.Requests, locale));
    LabReqBytesVal->setText(ferrix::FormatCounter(static_cast<double>(Stats.BytesReceived), locale));
    LabAnsVal->setText(ferrix::FormatCounter(Stats.Answers, locale));
    LabAnsBytesVal->setText(ferrix::FormatCounter(static_cast<double>(Stats.BytesSent), locale));
    LabWriteErrVal->setText(ferrix::FormatCounter(Stats.WriteErrors, locale));
    SetBusy(Info.Busy != 0);
    if (Info.LastFileOK[0] != 0) {
        LabLastFileOkVal->setText(FieldText(Info.LastFileOK, sizeof Info.LastFileOK));
        LabLastFileOkAtVal->setText(Q(FormatSystemTime(Info.LastFileOKTime)));
    }
    if (Info.LastFileBad[0] != 0) {
        LabLastFileBadVal->setText(FieldText(Info.LastFileBad, sizeof Info.LastFileBad));
        LabLastFileBadAtVal->setText(Q(FormatSystemTime(Info.LastFileBadTime)));
    }
    const int32_t filesOk = Info.LastCheckFilesOK;
    const int32_t filesBad = Info.LastCheckFilesBad;
    if (filesOk != 0 || filesBad != 0) {
        LabLastGroupVal->setText(
            Q(Format("processed OK - %d, processed with errors - %d, elapsed ", filesOk, filesBad)) +
            ferrix::FormatElapsed(Info.LastCheckElapsedMs, locale));
        LabLastGroupAtVal->setText(Q(FormatSystemTime(Info.LastCheckTime)));
    }
    const SYSTEMTIME next = Info.NextCheckTime;
    TDateTime nextTime = 0;
    // A time that is no date (a broken record) leaves the label as it was.
    if (next.wYear != 0 && TrySystemTimeToDateTime(next, nextTime))
        LabNextFileCheckAtVal->setText(Q(Format("%s (in next %lld sec)", FormatSystemTime(next).c_str(),
                                                static_cast<long long>(SecondsBetween(Now(), nextTime)))));
    if (Info.LastEvent[0] != 0) {
        LabLastEvtTimeVal->setText(Q(FormatSystemTime(Info.LastEventTime)));
        LabLastEvtTextVal->setText(FieldText(Info.LastEvent, sizeof Info.LastEvent));
    }
    if (Info.LastError[0] != 0) {
        LabLastErrTimeVal->setText(Q(FormatSystemTime(Info.LastErrorTime)));
        LabLastErrTextVal->setText(FieldText(Info.LastError, sizeof Info.LastError));
    }
}

void TSvcWndBase::RetrieveConfiguration()
{
    SetStatusText("retrieving configuration from " + GetPcDisplayName() + "...");
    RepaintStatusBar();
    FetchConfiguration();
}

void TSvcWndBase::FetchConfiguration()
{
    uint32_t received = 0;
    if (!ExchangePipe(ControlPipeName, REQGETCONFIG, 0, received))
        throw Exception(ferrix::PipeErrorMessage(GetLastPipeError()));
    if (received < PipeHeaderSize)
        throw Exception("Length error");
    if (!ferrix::KeywordIs(Answer(), ANSGETCONFIG)) {
        // The copy stays, but one of another PC is neither edited for this PC nor sent to it.
        if (ForeignLocalConfigError != 0)
            throw Exception("No configuration came from " + GetPcDisplayName() + ", and " + LocalConfigPath() +
                            " holds the configuration of another PC, which could not be removed: " +
                            SysErrorMessage(ForeignLocalConfigError));
        return;
    }
    const int32_t length = ferrix::ReadHeader(Answer()).DataLength;
    // A negative length is as broken as one beyond the bytes received.
    if (length < 0 || static_cast<uint32_t>(length) > received - PipeHeaderSize)
        throw Exception("Length error");
    SaveLocalConfig(Answer() + PipeHeaderSize, static_cast<size_t>(length));
    ForeignLocalConfigError = 0;
}

void TSvcWndBase::DiscardLocalConfig()
{
    ForeignLocalConfigError = 0;
    if (DeleteFile(LocalConfigPath()))
        return;
    const int error = errno;
    if (error != ENOENT)
        ForeignLocalConfigError = error;
}

void TSvcWndBase::SendConfiguration()
{
    SetStatusText("sending new configuration to " + GetPcDisplayName() + "...");
    RepaintStatusBar();
    try {
        PutConfiguration();
    } catch (const std::exception& error) {
        SetStatusText(std::string(error.what()));
        ShowException(error);
    }
}

void TSvcWndBase::PutConfiguration()
{
    size_t length = 0;
    LoadLocalConfig(Request() + PipeHeaderSize, MaxPipePayload, length);
    uint32_t received = 0;
    if (!ExchangePipe(ControlPipeName, REQSETCONFIG, static_cast<uint32_t>(length), received))
        throw Exception(ferrix::PipeErrorMessage(GetLastPipeError()));
    if (received < PipeHeaderSize)
        throw Exception("Length error");
    if (!ferrix::KeywordIs(Answer(), ANSSETCONFIG))
        throw Exception("Wrong quittance from Rurivure Service");
    // The service answers with a status; anything but success means it kept its old settings.
    const int32_t status = ferrix::ReadHeader(Answer()).Status;
    if (status != SetConfigOk)
        throw Exception(Format("The service could not store the new configuration (status %d)", status));
}

void TSvcWndBase::SaveLocalConfig(const void* data, size_t length)
{
    // The copy holds the service's passwords: a new file readable by its owner only takes the place
    // of the old one, whatever rights that had.
    const std::string path = LocalConfigPath();
    ferrix::TNewFile file(path, 0600);
    if (file.Valid() && ferrix::WriteAll(file.Get(), data, length) && file.Replace())
        return;
    const int error = errno;
    throw EInOutError("Cannot write " + path + ": " + SysErrorMessage(error), error);
}

void TSvcWndBase::LoadLocalConfig(void* destination, size_t maxLength, size_t& count)
{
    const std::string path = LocalConfigPath();
    if (ferrix::ReadFileHead(path, destination, maxLength, count))
        return;
    const int error = errno;
    throw EInOutError("Cannot read " + path + ": " + SysErrorMessage(error), error);
}

// The status bar.

QString TSvcWndBase::StatusText() const { return SbMainPanels[4]->text(); }

void TSvcWndBase::SetStatusText(const QString& text) { SbMainPanels[4]->setText(text); }

void TSvcWndBase::SetStatusText(const std::string& text) { SetStatusText(Q(text)); }

std::string TSvcWndBase::SettingsIniPath() const { return ProgramDir + "/" + SettingsIniName; }

std::string TSvcWndBase::LocalConfigPath() const { return ProgramDir + "/" + LocalConfigName; }

void TSvcWndBase::RepaintStatusBar()
{
    for (ferrix::TStatusPanel* panel : SbMainPanels)
        panel->repaint();
}

void TSvcWndBase::InvalidateStatusBar()
{
    for (ferrix::TStatusPanel* panel : SbMainPanels)
        panel->update();
}

// Formats and images.

QPixmap ferrix::LedImage(bool lit)
{
    QPixmap image(LedSize, LedSize);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor body = lit ? QColor(40, 200, 40) : QColor(150, 150, 150);
    QRadialGradient gradient(QPointF(4.5, 4.5), 8);
    gradient.setColorAt(0, body.lighter(160));
    gradient.setColorAt(0.6, body);
    gradient.setColorAt(1, body.darker(140));
    painter.setPen(QPen(body.darker(200), 1));
    painter.setBrush(gradient);
    painter.drawEllipse(QRectF(0.5, 0.5, LedSize - 1, LedSize - 1));
    return image;
}

QString ferrix::FormatCounter(double value, const QLocale& locale)
{
    QLocale grouped = locale;
    grouped.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return grouped.toString(value, 'f', 0).rightJustified(12, ' ');
}

QString ferrix::TimeSeparatorOf(const QLocale& locale)
{
    // What stands between the hours and the minutes of the locale's short time.
    const QString format = locale.timeFormat(QLocale::ShortFormat);
    qsizetype i = 0;
    while (i < format.size() && format[i] != 'h' && format[i] != 'H')
        ++i;
    while (i < format.size() && (format[i] == 'h' || format[i] == 'H'))
        ++i;
    QString separator;
    for (; i < format.size() && format[i] != 'm'; ++i)
        if (format[i] != '\'')
            separator += format[i];
    return separator.isEmpty() ? QString(":") : separator;
}

QString ferrix::FormatElapsed(uint32_t milliseconds, const QLocale& locale)
{
    const uint32_t ms = milliseconds % 86400000u;
    const QString separator = TimeSeparatorOf(locale);
    return QString::number(ms / 3600000u) + separator + QString("%1").arg(ms / 60000u % 60u, 2, 10, QChar('0')) +
           separator + QString("%1").arg(ms / 1000u % 60u, 2, 10, QChar('0')) + separator +
           QString("%1").arg(ms % 1000u, 3, 10, QChar('0'));
}

int64_t SecondsBetween(TDateTime a, TDateTime b)
{
    // Whole milliseconds first, so that a difference of whole seconds is not cut to one less.
    const auto ms = static_cast<int64_t>(std::llround(std::fabs(a - b) * MSecsPerDay));
    return ms / 1000;
}
