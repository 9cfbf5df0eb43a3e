// The PC selection dialog and the shell's browsers for a computer and for a folder.
#pragma once
#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

// A small modal dialog in which the user types or picks the PC where the service runs; an empty
// name means this PC.
class TSelectPcDlg : public QDialog {
    Q_OBJECT
public:
    explicit TSelectPcDlg(QWidget* owner);
    // The text of the name box, unchanged.
    std::string GetPcName() const;
    void SetPcName(const std::string& name);

    QPushButton* BtnOK = nullptr;
    QPushButton* BtnCancel = nullptr;
    QLabel* LabPrompt = nullptr;
    QLineEdit* EdPc = nullptr;
    QToolButton* BtnPc = nullptr;

private:
    void FormCreate();
    void BtnPcClick();
};

// Lets the user pick a computer this PC knows how to reach. True with name set to the chosen
// computer; false, name unchanged, when nothing was chosen.
bool BrowseForComputer(QWidget* owner, const std::string& title, std::string& name);
// Lets the user pick a folder, starting at path. True with path set to the chosen folder; false,
// path unchanged, when nothing was chosen.
bool BrowseForFolder(QWidget* owner, const std::string& title, std::string& path);
