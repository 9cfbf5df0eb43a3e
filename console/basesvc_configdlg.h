// The settings dialog of a file-tracking service: edits a local copy of the service's settings file.
#pragma once
#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include "foundation/ftconfigbase.h"

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTabWidget;
class QToolButton;
class QVBoxLayout;
class QWidget;
class TBaseSvcConfigDlg;

// A class reference to TBaseSvcConfigDlg or a descendant: its virtual constructor. The dialog it
// returns has run FormCreate.
using TBaseSvcConfigDlgClass = std::function<std::unique_ptr<TBaseSvcConfigDlg>(
    QWidget* owner, const std::string& pcName, const std::string& iniFileName, TBaseFtConfigClass configClass)>;

// The class reference of dialog class T (below).
template <class T>
TBaseSvcConfigDlgClass DlgClassOf();

// The first parameter of the dialogs' constructors. Only the class reference makes one, so a
// dialog is never built without FormCreate, which makes its settings object.
class TDlgCreateKey {
    TDlgCreateKey() = default;
    template <class T>
    friend TBaseSvcConfigDlgClass DlgClassOf();
};

// Edits the first tracked directory, the check interval and the detailed-log flag; every other
// setting of the file passes through unchanged, since the whole settings object is loaded from the
// file and saved back. The modal result is Accepted only after OK has saved the file; Cancel, Esc
// and closing give Rejected and write nothing.
class TBaseSvcConfigDlg : public QDialog {
    Q_OBJECT
public:
    // Stores the PC name, the settings file path and the settings class, and builds the
    // components. FormCreate loads the dialog; the class reference (DlgClassOf), the only maker of
    // the key, runs it, so the dialog it returns is loaded.
    TBaseSvcConfigDlg(TDlgCreateKey key, QWidget* owner, const std::string& pcName, const std::string& iniFileName,
                      TBaseFtConfigClass configClass);
    ~TBaseSvcConfigDlg() override;

    // Hook run by OK after StoreControls; refuse = true keeps the dialog open. May raise an error
    // with a user message, which OK shows.
    virtual void Validate(TBaseFtConfig& configuration, bool& refuse);
    // Settings into controls.
    virtual void LoadControls(TBaseFtConfig& configuration);
    // Controls into settings; raises an error with a user message for a refused value.
    virtual void StoreControls(TBaseFtConfig& configuration);
    // Captions, the settings file, LoadControls (of the most derived class), browse button.
    virtual void FormCreate();

    // OK: stores the controls into Config, asks Validate and saves the file, then closes with
    // Accepted; a refusal keeps the dialog open, an error (a file that cannot be written too) is
    // shown in an information box and keeps it open. A new file is readable by its owner only.
    void BtnOKClick();
    // Lets the user pick the tracked directory.
    void BtnBrowseDirClick();

    QPushButton* BtnOK = nullptr;
    QPushButton* BtnCancel = nullptr;
    QTabWidget* PgcParams = nullptr;
    QWidget* TsGeneral = nullptr;
    QCheckBox* CbLogDetailed = nullptr;
    QStatusBar* SbMain = nullptr;
    QWidget* PnAcquisition = nullptr;
    QToolButton* BtnBrowseDir = nullptr;
    QLineEdit* EdCentralizationDir = nullptr;
    QLabel* LabCentralizationDir = nullptr;
    QLabel* LabFreq = nullptr;
    // A whole number typed outside the range goes to the nearer bound.
    QSpinBox* SeFreq = nullptr;
    QLabel* LabMin = nullptr;

    std::string PcName;
    std::string IniFileName;
    TBaseFtConfigClass ConfigClass;
    std::unique_ptr<TBaseFtConfig> Config;

protected:
    void showEvent(QShowEvent* event) override;
    // The value of SeFreq as its text reads: brought into the range, the minimum for a text that
    // is not a whole number.
    int FreqMinutes() const;

    // Where a descendant adds its rows: below the interval row, on the interval row itself, and
    // between OK and Cancel.
    QVBoxLayout* AcquisitionRows = nullptr;
    QHBoxLayout* FreqRow = nullptr;
    QHBoxLayout* ButtonRow = nullptr;

private:
    void BuildComponents();
    void LocalizeCaptions();
};

template <class T>
TBaseSvcConfigDlgClass DlgClassOf()
{
    return [key = TDlgCreateKey()](QWidget* owner, const std::string& pcName, const std::string& iniFileName,
                                   TBaseFtConfigClass configClass) -> std::unique_ptr<TBaseSvcConfigDlg> {
        auto dialog = std::make_unique<T>(key, owner, pcName, iniFileName, std::move(configClass));
        dialog->FormCreate();
        return dialog;
    };
}
