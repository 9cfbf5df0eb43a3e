#include "console/basesvc_configdlg.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

#include "console/application.h"
#include "console/formpos.h"
#include "console/selectpcdlg.h"
#include "foundation/inifile.h"
#include "platform/files/filecontent.h"
#include "platform/files/findfile.h"

namespace {

constexpr const char* DefaultIniFileName = "cfg_local.ini";

// A spin edit that takes a whole number typed outside its range and brings it to the nearer
// bound once the typing ends, where a plain spin box refuses the keystroke ("300" stays "30").
class TSpinEdit : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

    QValidator::State validate(QString& input, int& pos) const override
    {
        const QValidator::State state = QSpinBox::validate(input, pos);
        bool whole = false;
        input.trimmed().toLongLong(&whole);
        return state == QValidator::Invalid && whole ? QValidator::Intermediate : state;
    }
    void fixup(QString& input) const override
    {
        bool whole = false;
        const qlonglong number = input.trimmed().toLongLong(&whole);
        if (whole)
            input = textFromValue(static_cast<int>(std::clamp<qlonglong>(number, minimum(), maximum())));
        else
            QSpinBox::fixup(input);
    }
};

void ShowInformation(QWidget* owner, const std::exception& error)
{
    QMessageBox box(QMessageBox::Information, ApplicationTitle, QString::fromUtf8(error.what()), QMessageBox::Ok,
                    owner);
    box.setTextFormat(Qt::PlainText);  // a typed value or a path in the message is no markup
    box.exec();
}

// Writes the settings into the file, keeping its other keys and sections; raises
// EIniFileException("Unable to write to <file>") when the file cannot be written. The file holds
// passwords: one that does not exist yet is made readable by its owner only.
void SaveSettingsFile(const TBaseFtConfig& config, const std::string& path)
{
    const std::string local = ferrix::LocalPath(path);
    struct stat st {};
    if (stat(local.c_str(), &st) != 0 && errno == ENOENT) {
        ferrix::TReplaceOptions ownerOnly;
        ownerOnly.NewFileMode = 0600;
        ferrix::ReplaceFileContent(local, "", 0, ownerOnly);  // a failure shows in the write below
    }
    TMemIniFile ini(path);
    config.SaveToIni(ini);
    ini.UpdateFile();
}

}  // namespace

TBaseSvcConfigDlg::TBaseSvcConfigDlg(TDlgCreateKey, QWidget* owner, const std::string& pcName,
                                     const std::string& iniFileName, TBaseFtConfigClass configClass)
    : QDialog(owner), PcName(pcName), IniFileName(iniFileName), ConfigClass(std::move(configClass))
{
    BuildComponents();
}

TBaseSvcConfigDlg::~TBaseSvcConfigDlg() = default;

void TBaseSvcConfigDlg::BuildComponents()
{
    BtnOK = new QPushButton(this);
    BtnCancel = new QPushButton(this);
    PgcParams = new QTabWidget(this);
    TsGeneral = new QWidget;
    PgcParams->addTab(TsGeneral, QString());
    CbLogDetailed = new QCheckBox(TsGeneral);
    SbMain = new QStatusBar(this);
    SbMain->setSizeGripEnabled(false);
    PnAcquisition = new QWidget(TsGeneral);
    BtnBrowseDir = new QToolButton(PnAcquisition);
    BtnBrowseDir->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    BtnBrowseDir->setAutoRaise(true);
    EdCentralizationDir = new QLineEdit(PnAcquisition);
    LabCentralizationDir = new QLabel(PnAcquisition);
    LabFreq = new QLabel(PnAcquisition);
    SeFreq = new TSpinEdit(PnAcquisition);
    SeFreq->setRange(1, 60);
    SeFreq->setValue(1);
    SeFreq->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    LabMin = new QLabel(PnAcquisition);

    auto* dirRow = new QHBoxLayout;
    dirRow->addWidget(EdCentralizationDir);
    dirRow->addWidget(BtnBrowseDir);
    FreqRow = new QHBoxLayout;
    FreqRow->addWidget(LabFreq);
    FreqRow->addWidget(SeFreq);
    FreqRow->addWidget(LabMin);
    FreqRow->addStretch();
    AcquisitionRows = new QVBoxLayout(PnAcquisition);
    AcquisitionRows->setContentsMargins(0, 0, 0, 0);
    AcquisitionRows->addWidget(LabCentralizationDir);
    AcquisitionRows->addLayout(dirRow);
    AcquisitionRows->addLayout(FreqRow);
    auto* page = new QVBoxLayout(TsGeneral);
    page->addWidget(PnAcquisition);
    page->addWidget(CbLogDetailed);
    page->addStretch();

    ButtonRow = new QHBoxLayout;
    ButtonRow->addWidget(BtnOK);
    ButtonRow->addStretch();
    ButtonRow->addWidget(BtnCancel);
    auto* form = new QVBoxLayout(this);
    form->addWidget(PgcParams);
    form->addLayout(ButtonRow);
    form->addWidget(SbMain);
    form->setSizeConstraint(QLayout::SetFixedSize);

    BtnOK->setDefault(true);
    connect(BtnOK, &QPushButton::clicked, this, [this] { ferrix::RunHandler([this] { BtnOKClick(); }); });
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(BtnBrowseDir, &QToolButton::clicked, this,
            [this] { ferrix::RunHandler([this] { BtnBrowseDirClick(); }); });
}

void TBaseSvcConfigDlg::LocalizeCaptions()
{
    setWindowTitle("Rurivure Service Parameters");
    BtnOK->setText("OK");
    BtnCancel->setText("Cancel");
    PgcParams->setTabText(PgcParams->indexOf(TsGeneral), "General");
    CbLogDetailed->setText("Detailed event log");
    BtnBrowseDir->setToolTip("Select Centralization directory");
    LabCentralizationDir->setText("Centralization root directory");
    LabFreq->setText("Check state of the data files each");
    LabMin->setText("min");
}

void TBaseSvcConfigDlg::FormCreate()
{
    LocalizeCaptions();
    if (IniFileName.empty())
        IniFileName = DefaultIniFileName;
    Config = ConfigClass();
    Config->LoadFromFile(IniFileName);
    LoadControls(*Config);
    BtnBrowseDir->setVisible(PcName.empty());
}

void TBaseSvcConfigDlg::Validate(TBaseFtConfig&, bool& refuse) { refuse = false; }

void TBaseSvcConfigDlg::LoadControls(TBaseFtConfig& configuration)
{
    EdCentralizationDir->setText(QString::fromStdString(configuration.GetTrackDirectory(0)));
    CbLogDetailed->setChecked(configuration.LogDetailed);
    // The spin edit brings the minutes into its range.
    SeFreq->setValue(configuration.TimeBetweenActions / 60);
}

void TBaseSvcConfigDlg::StoreControls(TBaseFtConfig& configuration)
{
    configuration.SetTrackDirectory(0, EdCentralizationDir->text().toStdString());
    configuration.TimeBetweenActions = FreqMinutes() * 60;
    configuration.LogDetailed = CbLogDetailed->isChecked();
}

int TBaseSvcConfigDlg::FreqMinutes() const
{
    bool whole = false;
    const qlonglong minutes = SeFreq->cleanText().toLongLong(&whole);
    return whole ? static_cast<int>(std::clamp<qlonglong>(minutes, SeFreq->minimum(), SeFreq->maximum()))
                 : SeFreq->minimum();
}

void TBaseSvcConfigDlg::BtnOKClick()
{
    try {
        StoreControls(*Config);
        bool refuse = false;
        Validate(*Config, refuse);
        if (refuse)
            return;
        // A failed save is shown like a refused value: OK must never stand for a file that was
        // not written, since the caller sends that file to the service.
        SaveSettingsFile(*Config, IniFileName);
        accept();
    } catch (const std::exception& error) {
        ShowInformation(this, error);
    }
}

void TBaseSvcConfigDlg::BtnBrowseDirClick()
{
    std::string path = EdCentralizationDir->text().toStdString();
    if (BrowseForFolder(this, "Select target directory", path))
        EdCentralizationDir->setText(QString::fromStdString(path));
}

void TBaseSvcConfigDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ferrix::CenterOnScreen(*this);
}
