#include "console/ferrix_cfgmain2.h"
#include <QTabWidget>
#include "console/application.h"
#include "console/ferrix_configdlg2.h"
#include "foundation/trcnst.h"

namespace {

// The longest password the service manager takes for an account.
constexpr size_t MaxAccountPassword = 64;

}  // namespace

TMainWnd::TMainWnd(QWidget* parent, const std::string& programDir) : TSvcWndBase(parent, programDir)
{
    ferrix::RunHandler([this] { FormCreate(); });
}

void TMainWnd::FormCreate()
{
    SettingsIniName = "ferrix_cfg.ini";
    ServiceName = "TransportSvc2";
    LocalConfigName = "ferrix_local.ini";
    InfoPipeName = "TrSvc2Info";
    ControlPipeName = "TrSvc2Control";
    DlgClass = DlgClassOf<TFerrixConfigDlg>();
    ConfigClass = ConfigClassOf<TTransportConfig>();
    TSvcWndBase::FormCreate();
    setWindowTitle("Sending files");
    LabPc->setText("Control Transport Service running on");
    PgcMain->setTabText(PgcMain->indexOf(TsHardware), "Sending files");
}

void TMainWnd::ApplyServiceAccount(TScManager& manager)
{
    TTransportConfig config;
    config.LoadFromFile(LocalConfigPath());
    std::string accountName;
    std::string password;
    ferrix::ChooseServiceAccount(config, accountName, password);
    std::unique_ptr<TScService> service = OpenServiceA(manager, ServiceName);
    ChangeServiceConfigA(*service, accountName, password);
    CloseServiceHandle(service);
}

void ferrix::ChooseServiceAccount(const TTransportConfig& config, std::string& accountName, std::string& password)
{
    if (config.Transport != TRANSPORT_COPY || config.Username.empty() || SameText(config.Username, LocalSystemAccount)) {
        accountName = LocalSystemAccount;
        password.clear();
        return;
    }
    accountName = config.Username;
    password = config.Password.substr(0, MaxAccountPassword);
}
