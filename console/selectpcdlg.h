// The PC selection dialog and the shell's browsers for a computer and for a folder.
#pragma once
#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

// A small modal dialog in which the user types or picks the PC where the service runs; an empty
// name means this PC. OK gives Accepted, Cancel, Esc and closing give Rejected.
// A name that is no PC name (ferrix::IsValidPcName) is refused: OK then says why in a box and
// keeps the dialog open.
class TSelectPcDlg : public QDialog {
    Q_OBJECT
public:
    explicit TSelectPcDlg(QWidget* owner);
    // The text of the name box, unchanged (no trimming, no case change).
    std::string GetPcName() const;
    void SetPcName(const std::string& name);

    QPushButton* BtnOK = nullptr;
    QPushButton* BtnCancel = nullptr;
    QLabel* LabPrompt = nullptr;
    QLineEdit* EdPc = nullptr;
    QToolButton* BtnPc = nullptr;

    // Closes the dialog with Accepted when the name box holds a PC name; otherwise says why in a
    // warning box and keeps it open.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildLayout();
    void FormCreate();
    void BtnPcClick();
};

// Lets the user pick one of the computers this PC knows how to reach (ferrix::KnownHosts) in a
// modal list; the incoming name preselects nothing. True with name set to the chosen computer;
// false, name unchanged, when nothing was chosen. Never raises.
bool BrowseForComputer(QWidget* owner, const std::string& title, std::string& name);
// Lets the user pick a directory in a modal directory chooser that starts in path; a path that is
// not an existing directory preselects nothing (the chooser starts in the home directory). True
// with path set to the chosen directory; false, path unchanged, when nothing was chosen. Never
// raises.
bool BrowseForFolder(QWidget* owner, const std::string& title, std::string& path);
