#pragma once
// The error window: the numbered error text of the last failure and one button that hands the
// failure result back to the host.

#include <QWidget>

class HostReturnUi;

namespace Ui {
class frmError;
}

class frmError : public QWidget {
    Q_OBJECT
public:
    // hostReturn serves the return to the host when the button is clicked.
    explicit frmError(HostReturnUi &hostReturn, QWidget *parent = nullptr);
    ~frmError() override;

    void cmdErrorOK_Click();

private:
    void Form_Load();

    Ui::frmError *m_ui;
    HostReturnUi &m_hostReturn;
};
