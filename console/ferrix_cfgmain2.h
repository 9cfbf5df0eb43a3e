// The console's window for the transport service.
#pragma once
#include <QMainWindow>

class TMainWnd : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainWnd(QWidget* parent = nullptr);
};
