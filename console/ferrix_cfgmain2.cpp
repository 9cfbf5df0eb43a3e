#include "console/ferrix_cfgmain2.h"
#include <QTabWidget>
#include "console/application.h"
#include "console/ferrix_configdlg2.h"
#include "foundation/trcnst.h"

namespace {

// The longest password the service manager takes for an account, in characters.
constexpr size_t MaxAccountPassword = 64;

// The first count characters of a UTF-8 text, never a part of one.
std::string FirstCharacters(const std::string& text, size_t count)
{
    size_t end = 0;
    for (size_t taken = 0; end < text.size() && taken < count; ++taken) {
        ++end;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            ++end;
    }
    return text.substr(0, end);
}

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
    std::unique_ptr<TScService> service = OpenServiceA(manager, ServiceName, SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS);
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
    password = FirstCharacters(config.Password, MaxAccountPassword);
}
