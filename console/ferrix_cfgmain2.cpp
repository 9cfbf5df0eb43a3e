#include "console/ferrix_cfgmain2.h"

TMainWnd::TMainWnd(QWidget* parent) : QMainWindow(parent) { setWindowTitle("Sending files"); }
