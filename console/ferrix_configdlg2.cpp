#include "console/ferrix_configdlg2.h"

void TFerrixConfigDlg::LoadControls(TBaseFtConfig& configuration) { TBaseSvcConfigDlg::LoadControls(configuration); }

void TFerrixConfigDlg::StoreControls(TBaseFtConfig& configuration) { TBaseSvcConfigDlg::StoreControls(configuration); }

void TFerrixConfigDlg::FormCreate() { TBaseSvcConfigDlg::FormCreate(); }

std::string CheckShopName(const std::string& name) { return name; }
