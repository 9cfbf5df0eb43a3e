#include "console/selectpcdlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "console/application.h"
#include "console/formpos.h"
#include "platform/network/knownhosts.h"
#include "platform/network/pcname.h"

namespace {

constexpr const char* SelectPcHint = "Select PC where the service is running";
constexpr int PromptWidth = 360;

QStringList KnownComputers()
{
    ferrix::TWaitCursor wait;
    QStringList names;
    for (const std::string& name : ferrix::KnownHosts(ferrix::DefaultKnownHostsSources()))
        names.append(QString::fromStdString(name));
    return names;
}

}  // namespace

TSelectPcDlg::TSelectPcDlg(QWidget* owner) : QDialog(owner)
{
    setObjectName("SelectPcDlg");
    BtnOK = new QPushButton(this);
    BtnCancel = new QPushButton(this);
    LabPrompt = new QLabel(this);
    EdPc = new QLineEdit(this);
    BtnPc = new QToolButton(this);
    BuildLayout();
    FormCreate();
}

void TSelectPcDlg::BuildLayout()
{
    LabPrompt->setWordWrap(true);
    BtnPc->setIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    BtnPc->setAutoRaise(true);
    BtnOK->setDefault(true);
    connect(BtnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(BtnPc, &QToolButton::clicked, this, [this] { ferrix::RunHandler([this] { BtnPcClick(); }); });

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(EdPc);
    nameRow->addWidget(BtnPc);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(BtnOK);
    buttonRow->addStretch();
    buttonRow->addWidget(BtnCancel);
    auto* rows = new QVBoxLayout(this);
    rows->addWidget(LabPrompt);
    rows->addLayout(nameRow);
    rows->addLayout(buttonRow);
    rows->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(BtnOK, BtnCancel);
    setTabOrder(BtnCancel, EdPc);
    BtnPc->setFocusPolicy(Qt::NoFocus);
}

void TSelectPcDlg::FormCreate()
{
    setWindowTitle("Switch to another PC");
    // A line feed breaks a Qt label where the carriage return broke the original one.
    LabPrompt->setText("Type PC name or select PC from Network Neighborhood.\n"
                       "Leave the name box blank if you mean this PC.");
    BtnPc->setToolTip(SelectPcHint);
    BtnOK->setText("OK");
    BtnCancel->setText("Cancel");
    LabPrompt->setFixedSize(PromptWidth, LabPrompt->heightForWidth(PromptWidth));
}

std::string TSelectPcDlg::GetPcName() const { return EdPc->text().toStdString(); }

void TSelectPcDlg::SetPcName(const std::string& name) { EdPc->setText(QString::fromStdString(name)); }

void TSelectPcDlg::accept()
{
    const std::string name = GetPcName();
    if (ferrix::IsValidPcName(name)) {
        QDialog::accept();
        return;
    }
    QMessageBox box(QMessageBox::Warning, ApplicationTitle,
                    QString::fromStdString("\"" + name + "\" is not a PC name: " + ferrix::PcNameRule + "."),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    EdPc->setFocus();
}

void TSelectPcDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ferrix::CenterOnScreen(*this);
}

void TSelectPcDlg::BtnPcClick()
{
    std::string name = GetPcName();
    if (BrowseForComputer(this, SelectPcHint, name))
        SetPcName(name);
}

bool BrowseForComputer(QWidget* owner, const std::string& title, std::string& name)
{
    QDialog browser(owner);
    browser.setWindowTitle(QString::fromStdString(title));
    auto* list = new QListWidget(&browser);
    list->addItems(KnownComputers());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &browser);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(false);
    QObject::connect(list, &QListWidget::currentRowChanged, ok, [ok](int row) { ok->setEnabled(row >= 0); });
    QObject::connect(list, &QListWidget::itemActivated, &browser, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &browser, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &browser, &QDialog::reject);
    auto* rows = new QVBoxLayout(&browser);
    rows->addWidget(list);
    rows->addWidget(buttons);
    // A list with the focus makes its first row current; nothing is chosen until the user picks.
    buttons->button(QDialogButtonBox::Cancel)->setFocus();
    if (browser.exec() != QDialog::Accepted || list->currentItem() == nullptr)
        return false;
    name = list->currentItem()->text().toStdString();
    return true;
}

bool BrowseForFolder(QWidget* owner, const std::string& title, std::string& path)
{
    QFileDialog browser(owner, QString::fromStdString(title));
    browser.setFileMode(QFileDialog::Directory);
    browser.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    // Never a parent of a missing path: that would look like the path itself.
    const QFileInfo start(QString::fromStdString(path));
    browser.setDirectory(!path.empty() && start.isDir() ? start.absoluteFilePath() : QDir::homePath());
    if (browser.exec() != QDialog::Accepted || browser.selectedFiles().isEmpty())
        return false;
    path = browser.selectedFiles().first().toStdString();
    return true;
}
