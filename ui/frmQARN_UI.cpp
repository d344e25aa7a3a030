#include "frmQARN_UI.h"

#include "catalogue.h"
#include "ui_frmQARN_UI.h"

frmQARN_UI::frmQARN_UI(QWidget *parent) : QMainWindow(parent), m_ui(new Ui::frmQARN_UI)
{
    m_ui->setupUi(this);
    SetCaptions();
}

frmQARN_UI::~frmQARN_UI()
{
    delete m_ui;
}

void frmQARN_UI::SetCaptions()
{
    setWindowTitle(Msg(102) + QStringLiteral(" Download"));
}
