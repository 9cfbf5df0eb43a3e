#include "console/ferrix_conntest.h"

TConnectionTestDlg::TConnectionTestDlg(QWidget* owner) : QDialog(owner) { setWindowTitle("Connectivity test"); }

TConnectionTestDlg::~TConnectionTestDlg() = default;
