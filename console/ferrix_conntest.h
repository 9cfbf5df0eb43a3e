// The connectivity test: checks connection, destination directory and file transfer of each
// configured destination and writes a report.
#pragma once
#include <QDialog>
#include "foundation/trconfig.h"

class TConnectionTestDlg : public QDialog {
    Q_OBJECT
public:
    // The test starts by itself once the dialog is shown; set Config before that.
    explicit TConnectionTestDlg(QWidget* owner);
    ~TConnectionTestDlg() override;

    // The settings under test; not owned.
    const TTransportConfig* Config = nullptr;
};
