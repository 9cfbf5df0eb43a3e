#include "console/ferrix_configdlg2.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <memory>
#include <vector>

#include "console/application.h"
#include "console/ferrix_conntest.h"
#include "console/selectpcdlg.h"
#include "foundation/rasserv.h"
#include "foundation/trcnst.h"

namespace {

constexpr const char* LocalSystemAccount = ".\\LocalSystem";
constexpr const char* DefaultConnection = "default";
constexpr const char* BrowseDestHint = "select destination folder";
constexpr int ProxyTypeCount = 7;

TTransportConfig& TransportConfigOf(TBaseFtConfig& configuration)
{
    auto* config = dynamic_cast<TTransportConfig*>(&configuration);
    if (config == nullptr)
        throw Exception("The transport settings dialog needs transport settings.");
    return *config;
}

std::string TextOf(const QLineEdit* edit) { return edit->text().toStdString(); }

void SetTextOf(QLineEdit* edit, const std::string& text) { edit->setText(QString::fromStdString(text)); }

// One trailing path delimiter less: the backslash of the original's paths, or this system's "/".
std::string WithoutTrailingDelimiter(const std::string& path)
{
    if (path.size() > 1 && (path.back() == '\\' || path.back() == '/'))
        return path.substr(0, path.size() - 1);
    return path;
}

// The text as a whole decimal number (an optional sign and digits) between blanks, or the default
// when it is none: a port typed in hexadecimal ("$50", "0x50") is no number here.
int DecimalOrDefault(const std::string& typed, int defaultValue)
{
    const size_t first = typed.find_first_not_of(' ');
    const std::string text =
        first == std::string::npos ? std::string() : typed.substr(first, typed.find_last_not_of(' ') + 1 - first);
    const size_t digits = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (digits == text.size() || text.find_first_not_of("0123456789", digits) != std::string::npos)
        return defaultValue;
    return StrToIntDef(text, defaultValue);
}

// The whole UTF-8 character that begins at position at, or the lone byte when it begins none.
std::string CharacterAt(const std::string& text, size_t at)
{
    size_t end = at + 1;
    if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0xC0) {
        while (end < text.size() && end < at + 4 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            ++end;
    }
    return text.substr(at, end - at);
}

QToolButton* NewBrowseButton(QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setIcon(parent->style()->standardIcon(QStyle::SP_DirOpenIcon));
    button->setAutoRaise(true);
    return button;
}

void NormalizeFtpAccount(TTransportConfig& configuration)
{
    configuration.Destinations[0] = Trim(configuration.Destinations[0]);
    if (configuration.Username.rfind(".\\", 0) == 0)
        configuration.Username.erase(0, 2);
    configuration.Username = CheckShopName(configuration.Username);
    configuration.DestinationDirectory = CheckShopName(configuration.DestinationDirectory);
    if (configuration.Password.empty())
        throw Exception("Password is not specified");
}

// The Windows-style account under which the service copies: ".\user", "DOMAIN\user" or the
// local system account, which has no password.
void NormalizeCopyAccount(TTransportConfig& configuration)
{
    std::string& user = configuration.Username;
    if (user.empty())
        user = LocalSystemAccount;
    if (user.find('\\') == std::string::npos)
        user = ".\\" + user;
    if (user.front() == '\\')
        user = "." + user;
    if (SameText(user, LocalSystemAccount))
        configuration.Password.clear();
}

}  // namespace

TFerrixConfigDlg::TFerrixConfigDlg(TDlgCreateKey key, QWidget* owner, const std::string& pcName,
                                   const std::string& iniFileName, TBaseFtConfigClass configClass)
    : TBaseSvcConfigDlg(key, owner, pcName, iniFileName, std::move(configClass))
{
    BuildComponents();
    LayOutRows();
    ConnectHandlers();
}

void TFerrixConfigDlg::BuildComponents()
{
    QWidget* page = PnAcquisition;
    EdDestDir = new QLineEdit(page);
    LabDest = new QLabel(page);
    LabUser = new QLabel(page);
    EdUser = new QLineEdit(page);
    EdPassword = new QLineEdit(page);
    PnFtp = new QWidget(page);
    LabPassword = new QLabel(page);
    LabDestination0 = new QLabel(page);
    EdDestination = new QLineEdit(page);
    LabShop = new QLabel(page);
    BtnBrowseDest = NewBrowseButton(page);
    EdDestination1 = new QLineEdit(page);
    EdDestination1->setEnabled(false);
    CbDestination1 = new QCheckBox(page);
    BtnBrowseDest1 = NewBrowseButton(page);
    BtnTest = new QPushButton(this);
    PnTransferMode = new QWidget(page);
    RbRegular = new QRadioButton(page);
    RbModeCopy = new QRadioButton(PnTransferMode);
    RbModeFTP = new QRadioButton(PnTransferMode);
    RbExactTime = new QRadioButton(page);
    EdExactTimes = new QLineEdit(page);
    auto* timeMode = new QButtonGroup(this);
    timeMode->addButton(RbRegular);
    timeMode->addButton(RbExactTime);
    auto* transferMode = new QButtonGroup(this);
    transferMode->addButton(RbModeCopy);
    transferMode->addButton(RbModeFTP);
    RbRegular->setChecked(true);
    RbModeFTP->setChecked(true);
    SeFreq->setRange(1, 240);
    BuildFtpPanel();
}

void TFerrixConfigDlg::BuildFtpPanel()
{
    CbPassive = new QCheckBox(PnFtp);
    CbProxyType = new QComboBox(PnFtp);
    LabProxyType = new QLabel(PnFtp);
    PnProxy = new QWidget(PnFtp);
    PnProxy->setVisible(false);
    LabProxyHost = new QLabel(PnProxy);
    EdProxyHost = new QLineEdit(PnProxy);
    LabProxyPort = new QLabel(PnProxy);
    LabProxyPort->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    EdProxyPort = new QLineEdit(PnProxy);
    EdProxyPassword = new QLineEdit(PnProxy);
    LabProxyPassword = new QLabel(PnProxy);
    EdProxyUser = new QLineEdit(PnProxy);
    LabProxyUser = new QLabel(PnProxy);
    EdPort = new QLineEdit(PnFtp);
    LabPort = new QLabel(PnFtp);
    LabPort->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    CbInetConn = new QComboBox(PnFtp);
    LabInetConn = new QLabel(PnFtp);
    LabInetDisconnDelay = new QLabel(PnFtp);
    LabInetDisconnDelay->setEnabled(false);
    LabMin2 = new QLabel(PnFtp);
    LabMin2->setEnabled(false);
    CbDisconnDelay = new QComboBox(PnFtp);
    CbDisconnDelay->addItems({"0", "5", "15", "30", "45"});
    CbDisconnDelay->setEnabled(false);

    auto* proxy = new QGridLayout(PnProxy);
    proxy->setContentsMargins(0, 0, 0, 0);
    proxy->addWidget(LabProxyHost, 0, 0);
    proxy->addWidget(EdProxyHost, 0, 1);
    proxy->addWidget(LabProxyPort, 0, 2);
    proxy->addWidget(EdProxyPort, 0, 3);
    proxy->addWidget(LabProxyUser, 1, 0);
    proxy->addWidget(EdProxyUser, 1, 1);
    proxy->addWidget(LabProxyPassword, 1, 2);
    proxy->addWidget(EdProxyPassword, 1, 3);
    auto* ftp = new QGridLayout(PnFtp);
    ftp->setContentsMargins(0, 0, 0, 0);
    ftp->addWidget(LabInetConn, 0, 0);
    ftp->addWidget(CbInetConn, 0, 1, 1, 3);
    ftp->addWidget(LabInetDisconnDelay, 1, 0);
    ftp->addWidget(CbDisconnDelay, 1, 1);
    ftp->addWidget(LabMin2, 1, 2);
    ftp->addWidget(CbPassive, 2, 0);
    ftp->addWidget(LabPort, 2, 2);
    ftp->addWidget(EdPort, 2, 3);
    ftp->addWidget(LabProxyType, 3, 0);
    ftp->addWidget(CbProxyType, 3, 1, 1, 3);
    ftp->addWidget(PnProxy, 4, 0, 1, 4);
}

void TFerrixConfigDlg::LayOutRows()
{
    FreqRow->insertWidget(0, RbRegular);
    auto* exactRow = new QHBoxLayout;
    exactRow->addWidget(RbExactTime);
    exactRow->addWidget(EdExactTimes);
    AcquisitionRows->addLayout(exactRow);
    AcquisitionRows->addWidget(LabDest);
    auto* rows = new QGridLayout;
    rows->addWidget(LabDestination0, 0, 0);
    rows->addWidget(EdDestination, 0, 1);
    rows->addWidget(BtnBrowseDest, 0, 2);
    rows->addWidget(CbDestination1, 1, 0);
    rows->addWidget(EdDestination1, 1, 1);
    rows->addWidget(BtnBrowseDest1, 1, 2);
    rows->addWidget(LabShop, 2, 0);
    rows->addWidget(EdDestDir, 2, 1);
    rows->addWidget(LabUser, 3, 0);
    rows->addWidget(EdUser, 3, 1);
    rows->addWidget(LabPassword, 4, 0);
    rows->addWidget(EdPassword, 4, 1);
    AcquisitionRows->addLayout(rows);
    auto* modes = new QHBoxLayout(PnTransferMode);
    modes->setContentsMargins(0, 0, 0, 0);
    modes->addWidget(RbModeCopy);
    modes->addWidget(RbModeFTP);
    AcquisitionRows->addWidget(PnTransferMode);
    AcquisitionRows->addWidget(PnFtp);
    ButtonRow->insertWidget(2, BtnTest);
    ButtonRow->insertStretch(3);
}

void TFerrixConfigDlg::ConnectHandlers()
{
    auto handle = [this](void (TFerrixConfigDlg::*handler)()) {
        return [this, handler] { ferrix::RunHandler([this, handler] { (this->*handler)(); }); };
    };
    connect(RbModeCopy, &QRadioButton::toggled, this, handle(&TFerrixConfigDlg::RbModeClick));
    connect(RbModeFTP, &QRadioButton::toggled, this, handle(&TFerrixConfigDlg::RbModeClick));
    connect(CbDestination1, &QCheckBox::toggled, this, handle(&TFerrixConfigDlg::CbDestination1Click));
    connect(CbProxyType, &QComboBox::currentIndexChanged, this, handle(&TFerrixConfigDlg::CbProxyTypeClick));
    connect(BtnBrowseDest, &QToolButton::clicked, this, handle(&TFerrixConfigDlg::BtnBrowseDestClick));
    connect(BtnBrowseDest1, &QToolButton::clicked, this, handle(&TFerrixConfigDlg::BtnBrowseDest1Click));
    connect(BtnTest, &QPushButton::clicked, this, handle(&TFerrixConfigDlg::BtnTestClick));
    connect(RbRegular, &QRadioButton::toggled, this, handle(&TFerrixConfigDlg::RbTimeModeClick));
    connect(RbExactTime, &QRadioButton::toggled, this, handle(&TFerrixConfigDlg::RbTimeModeClick));
    connect(CbInetConn, &QComboBox::currentIndexChanged, this, handle(&TFerrixConfigDlg::CbInetConnChange));
}

void TFerrixConfigDlg::FormCreate()
{
    TBaseSvcConfigDlg::FormCreate();
    LocalizeOwnCaptions();
}

void TFerrixConfigDlg::LocalizeOwnCaptions()
{
    LabCentralizationDir->setText("TOLVANE data directory tracked by the service");
    BtnBrowseDir->setToolTip("Select directory to track");
    LabDest->setText("Copy changed files from the data directory to ");
    LabUser->setText("For the chain");
    CbPassive->setText("Passive mode");
    LabProxyType->setText("Proxy type");
    LabPassword->setText("Password");
    LabProxyHost->setText("Proxy server");
    LabProxyPort->setText("Port");
    LabProxyPassword->setText("Password");
    LabProxyUser->setText("Proxy account");
    LabDestination0->setText("Destination");
    LabShop->setText("For the shop/mall");
    BtnBrowseDest->setToolTip(BrowseDestHint);
    CbDestination1->setText("2nd copy to");
    BtnBrowseDest1->setToolTip(BrowseDestHint);
    BtnTest->setText("Test");
    LabPort->setText("Port");
    RbModeCopy->setText("Transfer files by COPY operation");
    RbModeFTP->setText("Transfer files by FTP");
    RbExactTime->setText("Check state of the data files at");
    LabInetConn->setText("Internet connection");
    LabInetDisconnDelay->setText("Disconnection delay");
    LabMin2->setText("min");
}

void TFerrixConfigDlg::LoadControls(TBaseFtConfig& configuration)
{
    TBaseSvcConfigDlg::LoadControls(configuration);
    const TTransportConfig& config = TransportConfigOf(configuration);
    EdExactTimes->setText(QString::fromStdString(config.ExactTime.GetLocalText()));
    RbExactTime->setChecked(config.ExactTimeMode);
    RbRegular->setChecked(!config.ExactTimeMode);
    SetTextOf(EdDestination, config.GetDestination(0));
    const std::string second = config.GetDestination(1);
    CbDestination1->setChecked(!second.empty());
    SetTextOf(EdDestination1, second);
    SetTextOf(EdDestDir, config.DestinationDirectory);
    SetTextOf(EdUser, config.Username);
    SetTextOf(EdPassword, config.Password);
    RbModeFTP->setChecked(config.Transport == TRANSPORT_FTP);
    RbModeCopy->setChecked(config.Transport != TRANSPORT_FTP);
    LoadConnections(config.Connection);
    CbDisconnDelay->setCurrentIndex(std::max(0, CbDisconnDelay->findText(QString::number(config.DisconnDelay))));
    EdPort->setText(QString::number(config.Port));
    CbPassive->setChecked(config.PassiveMode);
    LoadProxy(config);
    UpdateControls();
    RbTimeModeClick();
}

void TFerrixConfigDlg::LoadConnections(const std::string& connection)
{
    CbInetConn->clear();
    CbInetConn->addItem(DefaultConnection);
    std::vector<std::string> entries;
    if (RasGetEntries(entries)) {
        for (const std::string& entry : entries)
            CbInetConn->addItem(QString::fromStdString(entry));
    }
    // A fixed-string match ignores the letter case.
    const int found = CbInetConn->findText(QString::fromStdString(connection), Qt::MatchFixedString);
    CbInetConn->setCurrentIndex(std::max(0, found));
    CbInetConnChange();
}

void TFerrixConfigDlg::LoadProxy(const TTransportConfig& config)
{
    CbProxyType->clear();
    for (int kind = 0; kind < ProxyTypeCount; ++kind)
        CbProxyType->addItem(QString::fromStdString(ProxyTypeToStr(static_cast<uint8_t>(kind))));
    CbProxyType->setCurrentIndex(
        std::max(0, CbProxyType->findText(QString::fromStdString(ProxyTypeToStr(config.ProxyType)))));
    PnProxy->setVisible(config.ProxyType != 0);
    SetTextOf(EdProxyHost, config.ProxyHost);
    EdProxyPort->setText(QString::number(config.ProxyPort));
    SetTextOf(EdProxyUser, config.ProxyUser);
    SetTextOf(EdProxyPassword, config.ProxyPassword);
}

void TFerrixConfigDlg::StoreControls(TBaseFtConfig& configuration)
{
    TBaseSvcConfigDlg::StoreControls(configuration);
    TTransportConfig& config = TransportConfigOf(configuration);
    config.ExactTime.SetLocalText(TextOf(EdExactTimes));
    config.ExactTimeMode = RbExactTime->isChecked();
    config.SetDestination(0, WithoutTrailingDelimiter(TextOf(EdDestination)));
    config.SetDestination(1, CbDestination1->isChecked() ? WithoutTrailingDelimiter(TextOf(EdDestination1)) : "");
    config.DestinationDirectory = TextOf(EdDestDir);
    config.Username = TextOf(EdUser);
    config.Password = TextOf(EdPassword);
    config.Transport = RbModeFTP->isChecked() ? TRANSPORT_FTP : TRANSPORT_COPY;
    StoreFtp(config);
    NormalizeConfig(config);
}

void TFerrixConfigDlg::StoreFtp(TTransportConfig& config) const
{
    config.Connection = CbInetConn->currentIndex() > 0 ? CbInetConn->currentText().toStdString() : "";
    config.DisconnDelay =
        CbDisconnDelay->currentIndex() > 0 ? StrToIntDef(CbDisconnDelay->currentText().toStdString(), 0) : 0;
    config.Port = DecimalOrDefault(TextOf(EdPort), DefaultFtpPort);
    config.PassiveMode = CbPassive->isChecked();
    config.ProxyType = StrToProxyType(CbProxyType->currentText().toStdString());
    config.ProxyHost = TextOf(EdProxyHost);
    config.ProxyPort = DecimalOrDefault(TextOf(EdProxyPort), DefaultProxyPort);
    config.ProxyUser = TextOf(EdProxyUser);
    config.ProxyPassword = TextOf(EdProxyPassword);
}

void TFerrixConfigDlg::NormalizeConfig(TTransportConfig& configuration)
{
    if (configuration.ExactTimeMode && configuration.ExactTime.Count() == 0)
        throw Exception("Check time is not specified");
    configuration.Username = Trim(configuration.Username);
    configuration.Password = Trim(configuration.Password);
    configuration.ProxyUser = Trim(configuration.ProxyUser);
    configuration.ProxyPassword = Trim(configuration.ProxyPassword);
    if (configuration.Transport != TRANSPORT_COPY)
        NormalizeFtpAccount(configuration);
    else
        NormalizeCopyAccount(configuration);
}

void TFerrixConfigDlg::UpdateControls()
{
    const bool ftp = RbModeFTP->isChecked();
    const bool second = CbDestination1->isChecked();
    // A disabled edit takes the face colour of a button by itself.
    EdDestination1->setEnabled(second);
    PnFtp->setVisible(ftp);
    BtnBrowseDest->setVisible(!ftp);
    BtnBrowseDest1->setVisible(!ftp && second);
    for (QWidget* account : {static_cast<QWidget*>(LabUser), static_cast<QWidget*>(EdUser),
                             static_cast<QWidget*>(LabPassword), static_cast<QWidget*>(EdPassword)})
        account->setVisible(ftp);
    if (ftp)
        LabUser->setText("For the chain");
}

void TFerrixConfigDlg::RbModeClick() { UpdateControls(); }

void TFerrixConfigDlg::CbDestination1Click() { UpdateControls(); }

void TFerrixConfigDlg::CbProxyTypeClick() { PnProxy->setVisible(CbProxyType->currentIndex() != 0); }

void TFerrixConfigDlg::RbTimeModeClick()
{
    const bool regular = RbRegular->isChecked();
    SeFreq->setEnabled(regular);
    LabMin->setEnabled(regular);
    EdExactTimes->setEnabled(!regular);
}

void TFerrixConfigDlg::CbInetConnChange()
{
    const bool dialUp = CbInetConn->currentIndex() > 0;
    LabInetDisconnDelay->setEnabled(dialUp);
    LabMin2->setEnabled(dialUp);
    CbDisconnDelay->setEnabled(dialUp);
}

void TFerrixConfigDlg::BtnBrowseDestClick()
{
    std::string path = TextOf(EdDestination);
    if (BrowseForFolder(this, "Select target directory", path))
        SetTextOf(EdDestination, path);
}

void TFerrixConfigDlg::BtnBrowseDest1Click()
{
    std::string path = TextOf(EdDestination1);
    if (BrowseForFolder(this, "Select target directory", path))
        SetTextOf(EdDestination1, path);
}

void TFerrixConfigDlg::BtnTestClick()
{
    // The test reads a copy of the values as entered; the dialog's own settings stay untouched.
    auto temporary = std::make_unique<TTransportConfig>();
    StoreControls(*temporary);
    TConnectionTestDlg test(this);
    test.Config = temporary.get();
    test.exec();
}

std::string CheckShopName(const std::string& name)
{
    std::string compact;
    for (char c : name) {
        if (c != ' ')
            compact += c;
    }
    if (compact.empty())
        throw Exception("Nom du magasin non spécifié! Vous devez indiquer le nom du magasin.");
    for (size_t at = 0; at < compact.size(); ++at) {
        const auto code = static_cast<unsigned char>(compact[at]);
        if (code < 33 || code > 126)
            throw Exception(Format("Mauvais charactère '%s' dans le nom du magasin %s", CharacterAt(compact, at).c_str(),
                                   compact.c_str()));
    }
    return UpperCase(compact);
}
