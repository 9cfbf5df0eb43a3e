#include "console/basesvc_acess.h"
#include <QCloseEvent>
#include <QPainter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>

TStatusPanel::TStatusPanel(QWidget* parent) : QLabel(parent) {}

void TStatusPanel::paintEvent(QPaintEvent* event)
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
}

TSvcWndBase::~TSvcWndBase() = default;

void TSvcWndBase::FormCreate() {}
void TSvcWndBase::FormDestroy() {}
bool TSvcWndBase::FormCloseQuery() { return true; }
void TSvcWndBase::TmrMainTimer() {}
void TSvcWndBase::BtnPcClick() {}
void TSvcWndBase::BtnSrvStartClick() {}
void TSvcWndBase::BtnSrvStopClick() {}
void TSvcWndBase::BtnConfigureClick() {}
void TSvcWndBase::BtnCloseClick() {}
void TSvcWndBase::SbMainDrawPanel(TStatusPanel*, QPainter&, const QRect&) {}
void TSvcWndBase::ApplyServiceAccount(TScManager&) {}
void TSvcWndBase::UpdateButtons() {}
std::string TSvcWndBase::GetPcDisplayName() const { return PcName.empty() ? "this PC" : PcName; }
void TSvcWndBase::SetPcName(const std::string& name) { PcName = name; }
bool TSvcWndBase::HasServiceHandles() const { return SCManager && ServiceHandle; }
bool TSvcWndBase::IsServiceRunning() const { return HasServiceHandles() && ServiceState == SERVICE_RUNNING; }
void TSvcWndBase::SetBusy(bool busy) { Busy = busy; }
void TSvcWndBase::CloseServiceHandles() {}
void TSvcWndBase::ClearAllValues() {}
void TSvcWndBase::ClearCheckAndErrorValues() {}
void TSvcWndBase::RefreshServiceState() {}
void TSvcWndBase::LoadSettings(const std::string&) {}
void TSvcWndBase::SaveSettings(const std::string&) {}
void TSvcWndBase::ParseCommandLine() {}
void TSvcWndBase::ParseCommandLine(const QStringList&) {}
void TSvcWndBase::LocalizeCaptions() {}
std::string TSvcWndBase::GetPipePrefix() const { return {}; }
void TSvcWndBase::RequestStatistics() {}
void TSvcWndBase::ShowStatistics() {}
void TSvcWndBase::RetrieveConfiguration() {}
void TSvcWndBase::FetchConfiguration() {}
void TSvcWndBase::SendConfiguration() {}
void TSvcWndBase::PutConfiguration() {}
void TSvcWndBase::SaveLocalConfig(const void*, size_t) {}
void TSvcWndBase::LoadLocalConfig(void*, size_t, size_t& count) { count = 0; }
void TSvcWndBase::ConfigureService() {}
void TSvcWndBase::ApplyConfigAndRestart() {}
QString TSvcWndBase::StatusText() const { return {}; }
void TSvcWndBase::SetStatusText(const QString&) {}
void TSvcWndBase::SetStatusText(const std::string&) {}
std::string TSvcWndBase::SettingsIniPath() const { return ProgramDir + "/" + SettingsIniName; }
std::string TSvcWndBase::LocalConfigPath() const { return ProgramDir + "/" + LocalConfigName; }
void TSvcWndBase::closeEvent(QCloseEvent* event) { event->accept(); }
void TSvcWndBase::BuildHeader(QWidget*) {}
void TSvcWndBase::BuildHardwarePage() {}
void TSvcWndBase::BuildStatisticsPage() {}
void TSvcWndBase::BuildButtons(QWidget*) {}
void TSvcWndBase::BuildStatusBar() {}
void TSvcWndBase::RepaintStatusBar() {}
void TSvcWndBase::InvalidateStatusBar() {}
bool TSvcWndBase::ExchangePipe(const std::string&, const char*, uint32_t, uint32_t& bytesRead)
{
    bytesRead = 0;
    return false;
}

QPixmap LedImage(bool) { return QPixmap(13, 13); }
bool IsConfigSwitch(const QString&) { return false; }
QString FormatCounter(double, const QLocale&) { return {}; }
QString FormatElapsed(uint32_t, const QLocale&) { return {}; }
QString LocaleTimeSeparator(const QLocale&) { return ":"; }
int64_t SecondsBetween(TDateTime, TDateTime) { return 0; }
