#include "console/selectpcdlg.h"
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

TSelectPcDlg::TSelectPcDlg(QWidget* owner) : QDialog(owner)
{
    BtnOK = new QPushButton(this);
    BtnCancel = new QPushButton(this);
    LabPrompt = new QLabel(this);
    EdPc = new QLineEdit(this);
    BtnPc = new QToolButton(this);
    FormCreate();
}

std::string TSelectPcDlg::GetPcName() const { return EdPc->text().toStdString(); }

void TSelectPcDlg::SetPcName(const std::string& name) { EdPc->setText(QString::fromStdString(name)); }

void TSelectPcDlg::FormCreate() { setWindowTitle("Switch to another PC"); }

void TSelectPcDlg::BtnPcClick() {}

bool BrowseForComputer(QWidget*, const std::string&, std::string&) { return false; }

bool BrowseForFolder(QWidget*, const std::string&, std::string&) { return false; }
