#pragma once

#include <QMainWindow>

namespace Ui {
class frmQARN_UI;
}

// The tool's main window.
class frmQARN_UI : public QMainWindow {
    Q_OBJECT
public:
    explicit frmQARN_UI(QWidget *parent = nullptr);
    ~frmQARN_UI() override;

    void SetCaptions();

private:
    Ui::frmQARN_UI *m_ui;
};
