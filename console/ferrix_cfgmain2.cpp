#include "console/ferrix_cfgmain2.h"

TMainWnd::TMainWnd(QWidget* parent, const std::string& programDir) : TSvcWndBase(parent, programDir) { FormCreate(); }

void TMainWnd::FormCreate() { TSvcWndBase::FormCreate(); }

void TMainWnd::ApplyServiceAccount(TScManager&) {}

void ChooseServiceAccount(const TTransportConfig&, std::string& accountName, std::string& password)
{
    accountName = LocalSystemAccount;
    password.clear();
}
