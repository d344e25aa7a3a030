#include "frmError.h"

#include "catalogue.h"
#include "colours.h"
#include "error_messages.h"
#include "return_to_host.h"
#include "shared_state.h"
#include "ui_frmError.h"

namespace {
QString rgbText(uint32_t bgr) {
    const QColor c = ToQColor(bgr);
    return QStringLiteral("rgb(%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

// Labels break lines at LF; the message texts use CR LF.
QString displayText(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
} // namespace

frmError::frmError(HostReturnUi &hostReturn, QWidget *parent)
    : QWidget(parent, Qt::Window), m_ui(new Ui::frmError), m_hostReturn(hostReturn) {
    m_ui->setupUi(this);
    connect(m_ui->cmdErrorOK, &QPushButton::clicked, this, &frmError::cmdErrorOK_Click);
    Form_Load();
}

frmError::~frmError() {
    delete m_ui;
}

void frmError::Form_Load() {
    setWindowTitle(Msg(102) + QStringLiteral(" Error"));
    m_ui->lblErrorCode->setText(ErrorCodeText());
    m_ui->lblError->setText(displayText(ErrorWindowText()));
    m_ui->cmdErrorOK->setText(Msg(113));
    // A style sheet paints the colour whatever the widget style; the palette keeps it readable.
    QPalette palette = m_ui->cmdErrorOK->palette();
    palette.setColor(QPalette::Button, ToQColor(gColorYellow));
    m_ui->cmdErrorOK->setPalette(palette);
    m_ui->cmdErrorOK->setStyleSheet(
        QStringLiteral(
            "QPushButton { background-color: %1; color: black;"
            " border: 1px solid rgb(80, 80, 80); border-radius: 3px; padding: 4px 12px; }"
            "QPushButton:focus { border: 2px solid rgb(0, 0, 128); }"
            "QPushButton:pressed { border: 2px inset rgb(80, 80, 80); }")
            .arg(rgbText(gColorYellow)));
    m_ui->cmdErrorOK->setEnabled(true);
    m_ui->cmdErrorOK->setFocus();
}

void frmError::cmdErrorOK_Click() {
    ReturnToHost(QStringLiteral("NormalNG"), m_hostReturn);
}
