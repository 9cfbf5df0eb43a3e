// The settings dialog of a file-tracking service: edits a local copy of the service's settings file.
#pragma once
#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include "foundation/ftconfigbase.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTabWidget;
class QToolButton;
class QWidget;

class TBaseSvcConfigDlg : public QDialog {
    Q_OBJECT
public:
    // Stores the PC name, the settings file path and the settings class. FormCreate loads the
    // dialog; the class reference (TBaseSvcConfigDlgClass) runs it, so the dialog it returns is loaded.
    TBaseSvcConfigDlg(QWidget* owner, const std::string& pcName, const std::string& iniFileName,
                      TBaseFtConfigClass configClass);
    ~TBaseSvcConfigDlg() override;

    // Hook run by OK after StoreControls; refuse = true keeps the dialog open.
    virtual void Validate(TBaseFtConfig& configuration, bool& refuse);
    // Settings into controls.
    virtual void LoadControls(TBaseFtConfig& configuration);
    // Controls into settings; raises an error with a user message for a refused value.
    virtual void StoreControls(TBaseFtConfig& configuration);
    // Captions, the settings file, LoadControls (of the most derived class), browse button.
    virtual void FormCreate();

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
    QSpinBox* SeFreq = nullptr;
    QLabel* LabMin = nullptr;

    std::string PcName;
    std::string IniFileName;
    TBaseFtConfigClass ConfigClass;
    std::unique_ptr<TBaseFtConfig> Config;
};

// A class reference to TBaseSvcConfigDlg or a descendant: its virtual constructor. The dialog it
// returns has run FormCreate.
using TBaseSvcConfigDlgClass = std::function<std::unique_ptr<TBaseSvcConfigDlg>(
    QWidget* owner, const std::string& pcName, const std::string& iniFileName, TBaseFtConfigClass configClass)>;

template <class T>
TBaseSvcConfigDlgClass DlgClassOf()
{
    return [](QWidget* owner, const std::string& pcName, const std::string& iniFileName,
              TBaseFtConfigClass configClass) -> std::unique_ptr<TBaseSvcConfigDlg> {
        auto dialog = std::make_unique<T>(owner, pcName, iniFileName, std::move(configClass));
        dialog->FormCreate();
        return dialog;
    };
}
