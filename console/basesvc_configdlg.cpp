#include "console/basesvc_configdlg.h"

TBaseSvcConfigDlg::TBaseSvcConfigDlg(QWidget* owner, const std::string& pcName, const std::string& iniFileName,
                                     TBaseFtConfigClass configClass)
    : QDialog(owner), PcName(pcName), IniFileName(iniFileName), ConfigClass(std::move(configClass))
{
}

TBaseSvcConfigDlg::~TBaseSvcConfigDlg() = default;

void TBaseSvcConfigDlg::Validate(TBaseFtConfig&, bool& refuse) { refuse = false; }

void TBaseSvcConfigDlg::LoadControls(TBaseFtConfig&) {}

void TBaseSvcConfigDlg::StoreControls(TBaseFtConfig&) {}

void TBaseSvcConfigDlg::FormCreate()
{
    Config = ConfigClass();
    Config->LoadFromFile(IniFileName);
    LoadControls(*Config);
}
