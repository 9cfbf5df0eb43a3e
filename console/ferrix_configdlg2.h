// The settings dialog of the transport service.
#pragma once
#include <string>
#include "console/basesvc_configdlg.h"
#include "foundation/trconfig.h"

class QComboBox;
class QRadioButton;

// The base settings dialog plus the check times, the destinations, the shop and chain, the
// transfer mode with its FTP options, and a Test button that runs the connectivity test on the
// values as entered. Every settings object it handles is a TTransportConfig; StoreControls
// normalises and checks the values and raises an error with a user message for a refused one.
class TFerrixConfigDlg : public TBaseSvcConfigDlg {
    Q_OBJECT
public:
    // Built by its class reference only, as the base dialog.
    TFerrixConfigDlg(TDlgCreateKey key, QWidget* owner, const std::string& pcName, const std::string& iniFileName,
                     TBaseFtConfigClass configClass);
    void LoadControls(TBaseFtConfig& configuration) override;
    void StoreControls(TBaseFtConfig& configuration) override;
    void FormCreate() override;

    // Visibility and enabling of the destination, account and FTP controls for the selected mode.
    void UpdateControls();
    // Normalises the account, destination and shop of the settings for their transfer mode;
    // raises an error with a user message at the first value it refuses.
    static void NormalizeConfig(TTransportConfig& configuration);

    // Handlers of the controls.
    void RbModeClick();
    void CbDestination1Click();
    void CbProxyTypeClick();
    void BtnBrowseDestClick();
    void BtnBrowseDest1Click();
    // Stores the controls into a temporary settings object and runs the connectivity test on it
    // in a modal TConnectionTestDlg; a refused value raises and no test runs. Nothing of the
    // dialog's own settings or of the file changes.
    void BtnTestClick();
    void RbTimeModeClick();
    void CbInetConnChange();

    QLineEdit* EdDestDir = nullptr;
    QLabel* LabDest = nullptr;
    QLabel* LabUser = nullptr;
    QLineEdit* EdUser = nullptr;
    QLineEdit* EdPassword = nullptr;
    QWidget* PnFtp = nullptr;
    QCheckBox* CbPassive = nullptr;
    QComboBox* CbProxyType = nullptr;
    QLabel* LabProxyType = nullptr;
    QLabel* LabPassword = nullptr;
    QWidget* PnProxy = nullptr;
    QLabel* LabProxyHost = nullptr;
    QLineEdit* EdProxyHost = nullptr;
    QLabel* LabProxyPort = nullptr;
    QLineEdit* EdProxyPort = nullptr;
    QLineEdit* EdProxyPassword = nullptr;
    QLabel* LabProxyPassword = nullptr;
    QLineEdit* EdProxyUser = nullptr;
    QLabel* LabProxyUser = nullptr;
    QLabel* LabDestination0 = nullptr;
    QLineEdit* EdDestination = nullptr;
    QLabel* LabShop = nullptr;
    QToolButton* BtnBrowseDest = nullptr;
    QLineEdit* EdDestination1 = nullptr;
    QCheckBox* CbDestination1 = nullptr;
    QToolButton* BtnBrowseDest1 = nullptr;
    QPushButton* BtnTest = nullptr;
    QLineEdit* EdPort = nullptr;
    QLabel* LabPort = nullptr;
    QWidget* PnTransferMode = nullptr;
    QRadioButton* RbRegular = nullptr;
    QRadioButton* RbModeCopy = nullptr;
    QRadioButton* RbModeFTP = nullptr;
    QRadioButton* RbExactTime = nullptr;
    QComboBox* CbInetConn = nullptr;
    QLabel* LabInetConn = nullptr;
    QLabel* LabInetDisconnDelay = nullptr;
    QLabel* LabMin2 = nullptr;
    QComboBox* CbDisconnDelay = nullptr;
    QLineEdit* EdExactTimes = nullptr;

private:
    void BuildComponents();
    void BuildFtpPanel();
    void LayOutRows();
    void ConnectHandlers();
    void LocalizeOwnCaptions();
    void LoadConnections(const std::string& connection);
    void LoadProxy(const TTransportConfig& config);
    void StoreFtp(TTransportConfig& config) const;
};

// The shop or chain name without blanks, in upper case; raises an error with a user message for an
// empty name or one with a character outside 33 to 126.
std::string CheckShopName(const std::string& name);
