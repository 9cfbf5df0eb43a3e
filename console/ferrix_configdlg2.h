// The settings dialog of the transport service.
#pragma once
#include <string>
#include "console/basesvc_configdlg.h"

class TFerrixConfigDlg : public TBaseSvcConfigDlg {
    Q_OBJECT
public:
    using TBaseSvcConfigDlg::TBaseSvcConfigDlg;
    void LoadControls(TBaseFtConfig& configuration) override;
    void StoreControls(TBaseFtConfig& configuration) override;
    void FormCreate() override;
};

// The shop or chain name without blanks, in upper case; raises an error with a user message for an
// empty name or one with a character outside 33 to 126.
std::string CheckShopName(const std::string& name);
