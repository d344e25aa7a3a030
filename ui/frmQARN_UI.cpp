#include "frmQARN_UI.h"
#include "illustration.h"

#include "catalogue.h"
#include "host_conf.h"
#include "return_to_host.h"
#include "serial_port.h"
#include "shared_state.h"
#include "ui_frmQARN_UI.h"
#include "widget_colours.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QPainter>
#include <QScopedValueRollback>

namespace {
const QString kCrLf = QStringLiteral("\r\n");

// Window positions are kept in twips, 15 to a pixel.
int twips(int t) {
    return (t + 7) / 15;
}

// Colours of the window's own design that no shared colour names.
constexpr uint32_t kStopButtonColour = 0x008080FF;
constexpr uint32_t kInfoWhite = 0x00FFFFFF;
} // namespace

// The catalogue reader fills the tree view through this.
class TreeWidgetSink : public FirmTreeSink {
public:
    explicit TreeWidgetSink(QTreeWidget *tree) : m_tree(tree) {}
    void clear() override { m_tree->clear(); }
    bool addNode(const QString &parentKey, const QString &key, const QString &text) override;
    void expandAll() override { m_tree->expandAll(); }

private:
    QTreeWidgetItem *find(const QString &key) const;
    QTreeWidget *m_tree;
};

QTreeWidgetItem *TreeWidgetSink::find(const QString &key) const {
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
        if ((*it)->data(0, Qt::UserRole).toString() == key)
            return *it;
    }
    return nullptr;
}

bool TreeWidgetSink::addNode(const QString &parentKey, const QString &key, const QString &text) {
    if (find(key))
        return false;
    QTreeWidgetItem *item = nullptr;
    if (parentKey.isNull()) {
        item = new QTreeWidgetItem(m_tree);
    } else {
        QTreeWidgetItem *parent = find(parentKey);
        if (!parent)
            return false;
        item = new QTreeWidgetItem(parent);
    }
    item->setText(0, text);
    item->setData(0, Qt::UserRole, key);
    return true;
}

frmQARN_UI::frmQARN_UI(Links links, QWidget *parent)
    : QMainWindow(parent), m_ui(new Ui::frmQARN_UI), m_links(std::move(links)) {
    m_ui->setupUi(this);
    setFixedSize(787, 548);
    m_tmrRefresh.setInterval(200);
    loadIllustrations();

    connect(m_ui->cmdSetupOK, &QPushButton::clicked, this, &frmQARN_UI::cmdSetupOK_Click);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &frmQARN_UI::cmdCancel_Click);
    connect(m_ui->cmdFwd, &QPushButton::clicked, this, &frmQARN_UI::cmdFwd_Click);
    connect(m_ui->cmdBack, &QPushButton::clicked, this, &frmQARN_UI::cmdBack_Click);
    connect(m_ui->cmdExit, &QPushButton::clicked, this, &frmQARN_UI::cmdExit_Click);
    connect(m_ui->cmdStart, &QPushButton::clicked, this, &frmQARN_UI::cmdStart_Click);
    connect(m_ui->treFirmList, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem *node, int) { treFirmList_NodeClick(node); });
    // For a tree, selecting a node from the keyboard is a node click too.
    m_ui->treFirmList->installEventFilter(this);
    connect(m_ui->treFirmList, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *node) {
                if (m_keySelecting)
                    treFirmList_NodeClick(node);
            });
    connect(&m_tmrRefresh, &QTimer::timeout, this, &frmQARN_UI::tmrRefresh_Timer);

    Form_Load();
}

frmQARN_UI::~frmQARN_UI() {
    if (m_serial && gComm == m_serial.get())
        gComm = nullptr;
    delete m_ui;
}

void frmQARN_UI::Form_Load() {
    if (gPrototype == 0 && m_links.makeSerialPort) {
        m_serial = m_links.makeSerialPort();
        gComm = m_serial.get();
    }
    ResetStepLabels();
    SetCaptions();

    m_ui->fraMessage->move(twips(3637), twips(1641));
    m_ui->fraMessage->hide();
    m_ui->cmdFwd->setEnabled(false); // hidden with the stop question
    m_ui->cmdBack->setEnabled(false);
    const bool setup = gSetupInfo != QLatin1String("0");
    if (setup) {
        m_ui->fraSetup->move(twips(2425), twips(1641));
        m_ui->fraSetup->show();
    } else {
        m_ui->fraSetup->hide();
    }
    m_ui->cmdSetupOK->setEnabled(setup);
    m_ui->treFirmList->setEnabled(!setup);
    if (!setup)
        m_ui->treFirmList->setFocus(); // the keys choose firmware at once

    m_ui->lblPortNo->setText(QStringLiteral("Port COM") + gPort);
    m_ui->lblSim_Mode->setVisible(gPrototype == 1);
    ResetProgressBars();
    cpuBar(0)->setVisible(true);
    cpuBar(1)->setVisible(true);
    gDownloadState = 0;
    m_ui->lblStatus->setText(Msg(138));
    m_ui->lblByteCount->setText(QString());
    m_ui->lblStatus->hide();
    m_ui->lblByteCount->hide();
    m_ui->lblCheckSum->hide();

    // The window's design colours; availability is shown by colour as well.
    SetBackColour(m_ui->cmdDownload, gColorCyan);
    SetBackColour(m_ui->cmdStart, gColorGrey);
    SetBackColour(m_ui->cmdCancel, gColorGrey);
    SetBackColour(m_ui->cmdExit, gColorYellow);
    SetBackColour(m_ui->cmdSetupOK, gColorYellow);
    SetBackColour(m_ui->cmdFwd, kStopButtonColour);
    SetBackColour(m_ui->cmdBack, gColorGreen);
    SetBackColour(m_ui->lblDLMsg, kInfoWhite);
    SetForeColour(m_ui->lblDLMsg, kColorBlack);
    m_ui->cmdDownload->setEnabled(false);
    m_ui->cmdStart->setEnabled(false);
    m_ui->cmdCancel->setEnabled(false);
    m_tmrRefresh.stop();

    TreeWidgetSink sink(m_ui->treFirmList);
    if (ReadHostConf(sink) != 0 && m_links.showErrorWindow)
        m_links.showErrorWindow();
}

void frmQARN_UI::SetCaptions() {
    setWindowTitle(Msg(102) + QStringLiteral(" Download"));

    m_ui->fraTop->setTitle(QString());
    m_ui->fraDownload->setTitle(QStringLiteral("SelectableFirmware"));
    m_ui->fraControl->setTitle(QStringLiteral("Control"));
    m_ui->fraInfo->setTitle(QStringLiteral("Information"));
    m_ui->fraMessage->setTitle(QStringLiteral("Caution"));
    m_ui->fraCommand->setTitle(QString());
    m_ui->fraSetup->setTitle(QStringLiteral("Connection"));

    m_ui->cmdDownload->setText(Msg(110));
    m_ui->cmdStart->setText(Msg(111));
    m_ui->cmdCancel->setText(Msg(112));
    m_ui->cmdExit->setText(Msg(113));

    m_ui->lblDLMsg->setText(Msg(120));
    m_ui->lblFirmlist->setText(Msg(121));
    m_ui->lblControlMsg->setText(Msg(122));
    m_ui->lblFirmInfo->setText(QString());
    for (int i = 0; i <= 5; ++i)
        stepLabel(i)->setText(QString());

    m_ui->lblSetupMsg->setText(Msg(128) + kCrLf + Msg(129) + kCrLf + Msg(130));
    m_ui->cmdSetupOK->setText(QStringLiteral("O    K"));
    m_ui->lblMessage->setText(Msg(123) + kCrLf + Msg(124));
    m_ui->cmdFwd->setText(Msg(114));
    m_ui->cmdBack->setText(Msg(115));

    show();
    m_ui->cmdSetupOK->setFocus();
}

void frmQARN_UI::ResetStepLabels() {
    for (int i = 0; i <= 5; ++i) {
        SetBackColour(stepLabel(i), gColorGrey);
        SetForeColour(stepLabel(i), kColorBlack);
        stepLabel(i)->setText(QString());
    }
}

void frmQARN_UI::ResetProgressBars() {
    m_ui->prgDownload->setMaximum(1000);
    m_ui->prgDownload->setValue(0);
    m_ui->prgDownload->hide();
    cpuBar(0)->setMaximum(1000);
    cpuBar(0)->setValue(0);
    cpuBar(1)->setMaximum(1000);
    cpuBar(1)->setValue(1000);
}

void frmQARN_UI::DisableStart() {
    SetBackColour(m_ui->cmdStart, gColorGrey);
    m_ui->cmdStart->setEnabled(false);
}

void frmQARN_UI::ShowStepCaptions(int16_t variant) {
    stepLabel(0)->setText(Msg(138));
    SetBackColour(stepLabel(0), kColorWhite);
    stepLabel(1)->setText(Msg(139));
    const bool eraseFirst = variant == 0 || variant == 1;
    stepLabel(2)->setText(Msg(eraseFirst ? 141 : 140));
    stepLabel(3)->setText(Msg(eraseFirst ? 140 : 141));
    stepLabel(4)->setText(Msg(142));
    stepLabel(5)->setText(Msg(143));
}

// Every handler that changes the window asks whether a run is under way: a control that is
// hidden or grey can still be pressed by an accessibility client or called from code.
void frmQARN_UI::cmdSetupOK_Click() {
    if (m_runInProgress)
        return; // the tree stays as the run has set it
    m_ui->fraSetup->hide();
    m_ui->cmdSetupOK->setEnabled(false); // hidden: nobody can press it any more
    m_ui->treFirmList->setEnabled(true);
}

// The stop question belongs to a run; without one there is nothing to stop.
void frmQARN_UI::cmdCancel_Click() {
    if (!m_runInProgress)
        return;
    m_ui->cmdCancel->setEnabled(false);
    m_ui->cmdFwd->setEnabled(true);
    m_ui->cmdBack->setEnabled(true);
    m_ui->fraMessage->show();
    m_ui->fraMessage->raise();
}

void frmQARN_UI::cmdFwd_Click() {
    if (!m_runInProgress)
        return;
    m_ui->cmdFwd->setEnabled(false);
    m_ui->cmdBack->setEnabled(false);
    gStopRequested = true;
}

void frmQARN_UI::cmdBack_Click() {
    if (!m_runInProgress)
        return;
    m_ui->cmdFwd->setEnabled(false);
    m_ui->cmdBack->setEnabled(false);
    m_ui->fraMessage->hide();
    m_ui->cmdCancel->setEnabled(true);
}

void frmQARN_UI::cmdExit_Click() {
    if (m_runInProgress)
        return; // the tool never returns to the host in the middle of a download
    m_ui->cmdExit->setEnabled(false);
    m_ui->cmdSetupOK->setEnabled(false);
    if (m_links.hostReturnUi)
        ReturnToHost(QStringLiteral("Normal"), m_links.hostReturnUi());
}

void frmQARN_UI::closeEvent(QCloseEvent *event) {
    // A run is under way inside cmdStart_Click: closing now would pull the window out from
    // under it. Offer the stop question instead; the window stays until the run has ended.
    if (m_runInProgress) {
        event->ignore();
        if (m_ui->cmdCancel->isEnabled())
            cmdCancel_Click();
        return;
    }
    QMainWindow::closeEvent(event);
}

// The tree handles a key press with this filter out of the way; a node it makes current
// meanwhile was selected from the keyboard.
bool frmQARN_UI::eventFilter(QObject *watched, QEvent *event) {
    if (watched != m_ui->treFirmList || event->type() != QEvent::KeyPress || m_keySelecting)
        return QMainWindow::eventFilter(watched, event);
    QScopedValueRollback<bool> keys(m_keySelecting, true);
    QCoreApplication::sendEvent(watched, event); // passes the key on to the parents if unused
    event->accept();
    return true;
}

QLabel *frmQARN_UI::stepLabel(int index) const {
    QLabel *const labels[] = {m_ui->lblStep_0, m_ui->lblStep_1, m_ui->lblStep_2,
                              m_ui->lblStep_3, m_ui->lblStep_4, m_ui->lblStep_5};
    return index >= 0 && index <= 5 ? labels[index] : nullptr;
}

QProgressBar *frmQARN_UI::cpuBar(int index) const {
    return index == 0 ? m_ui->prgCPU_0 : m_ui->prgCPU_1;
}

void frmQARN_UI::loadIllustrations() {
    const struct {
        QLabel *label;
        const char *name;
    } pictures[] = {
        {m_ui->picPC, "pc"},
        {m_ui->picMFP, "downloader"},
        {m_ui->picImage, "device"},
        {m_ui->Picture1, "target"},
        {m_ui->Picture2, "connection"},
        {m_ui->picCmdDL_0, "start"},
        {m_ui->picCmdDL_1, "cancel"},
    };
    for (const auto &p : pictures) {
        const QPixmap pixmap = DrawIllustration(p.name, p.label->size(), devicePixelRatioF());
        if (pixmap.isNull())
            continue;
        p.label->setPixmap(pixmap);
        p.label->setAlignment(Qt::AlignCenter);
    }
}
