// The Start button and the refresh timer: one download run and its step display.

#include "catalogue.h"
#include "frmQARN_UI.h"
#include "shared_state.h"
#include "ui_frmQARN_UI.h"
#include "widget_colours.h"

#include <QCoreApplication>
#include <QScopedValueRollback>
#include <algorithm>
#include <cmath>

namespace {
const QString kCrLf = QStringLiteral("\r\n");
const QString kOkCaption = QStringLiteral("O  K");

// Rounds to the nearest whole number, an exact half to the even neighbour.
double roundHalfEven(double x) {
    return std::nearbyint(x); // the default rounding mode is to nearest, ties to even
}

void letEventsThrough() {
    QCoreApplication::processEvents();
}
} // namespace

void frmQARN_UI::cmdStart_Click() {
    if (m_runInProgress)
        return;
    if (gDownloadState == 0)
        startRun();
    else if (gDownloadState == 5 || gDownloadState == 8)
        confirmAndReset();
}

void frmQARN_UI::startRun() {
    QScopedValueRollback<bool> running(m_runInProgress, true);

    // An error window still open speaks of an earlier selection; its OK would end the tool in
    // the middle of this run.
    if (m_links.closeErrorWindows)
        m_links.closeErrorWindows();
    gStopRequested = false;
    m_ui->treFirmList->setEnabled(false);
    m_ui->lblDLMsg->setText(Msg(125));
    SetBackColour(m_ui->cmdStart, gColorCyan);
    m_ui->cmdStart->setEnabled(false);
    SetBackColour(m_ui->cmdCancel, gColorYellow);
    m_ui->cmdCancel->setEnabled(true);
    SetBackColour(m_ui->cmdExit, gColorGrey);
    m_ui->cmdExit->setEnabled(false);
    ResetProgressBars();
    m_tmrRefresh.start();

    QString checkSum;
    const bool succeeded = m_links.runDownload && m_links.runDownload(checkSum);
    m_ui->cmdCancel->setEnabled(false);

    m_ui->lblCheckSum->setText(succeeded ? Msg(152) + kCrLf + checkSum + Msg(153) : QString());
    m_ui->lblCheckSum->show();

    if (succeeded) {
        // A stop request that the sequence cleared may have frozen the display on an earlier
        // step: show the finished run as it ended.
        refreshDisplay(blinkPhase());
        m_ui->lblDLMsg->setText(Msg(126));
        closeStopQuestion();
        offerConfirmation();
    } else if (!gStopRequested) {
        // A failed run has nothing left to stop: the stop question goes before the last refresh
        // lets pending clicks through, so that no Continue can make Cancel available again.
        closeStopQuestion();
        refreshDisplay(blinkPhase());
        const int state = gDownloadState;
        int message = 143 + state;
        if (gSeqType < 2 && state == 2)
            message = 146;
        else if (gSeqType < 2 && state == 3)
            message = 145;
        if (QLabel *failed = stepLabel(state)) {
            failed->setText(Msg(message));
            SetBackColour(failed, kColorLightRed);
        }
        gDownloadState = 9;
        m_ui->cmdCancel->setEnabled(false);
        if (m_links.showErrorWindow)
            m_links.showErrorWindow();
    } else {
        closeStopQuestion();
        gDownloadState = 8;
        m_ui->lblDLMsg->setText(Msg(127));
        SetForeColour(m_ui->lblDLMsg, kColorRed);
        offerConfirmation();
    }
    m_tmrRefresh.stop();
}

void frmQARN_UI::closeStopQuestion() {
    m_ui->cmdFwd->setEnabled(false);
    m_ui->cmdBack->setEnabled(false);
    m_ui->fraMessage->hide();
}

// After a finished or stopped run, Start becomes "O  K" to confirm the outcome.
void frmQARN_UI::offerConfirmation() {
    m_ui->cmdStart->setText(kOkCaption);
    SetBackColour(m_ui->cmdStart, gColorGreen);
    m_ui->cmdStart->setEnabled(true);
    SetBackColour(m_ui->cmdCancel, gColorGrey);
    m_ui->cmdCancel->setEnabled(false);
    m_ui->cmdStart->setFocus();
}

void frmQARN_UI::confirmAndReset() {
    gDownloadState = 0;
    m_ui->lblDLMsg->setText(Msg(120));
    SetForeColour(m_ui->lblDLMsg, kColorBlack);
    m_ui->cmdStart->setText(Msg(111));
    SetBackColour(m_ui->cmdStart, gColorGrey);
    m_ui->cmdStart->setEnabled(false);
    SetBackColour(m_ui->cmdCancel, gColorGrey);
    m_ui->cmdCancel->setEnabled(false);
    SetBackColour(m_ui->cmdExit, gColorYellow);
    m_ui->cmdExit->setEnabled(true);
    ResetStepLabels();
    ResetProgressBars();
    m_ui->lblCheckSum->hide();
    gByteCount = 0;
    m_ui->treFirmList->setEnabled(true);
}

bool frmQARN_UI::blinkPhase() const {
    const double seconds = m_links.secondsSinceMidnight ? m_links.secondsSinceMidnight() : 0.0;
    return std::fmod(roundHalfEven(seconds), 2.0) == 1.0;
}

void frmQARN_UI::tmrRefresh_Timer() {
    if (m_inTick)
        return;
    QScopedValueRollback<bool> inTick(m_inTick, true);
    if (gDownloadState > 5 || gStopRequested) {
        m_tmrRefresh.stop();
        return;
    }
    refreshDisplay(blinkPhase());
}

void frmQARN_UI::setStepBack(int index, uint32_t bgr) {
    if (QLabel *label = stepLabel(index))
        SetBackColour(label, bgr);
}

void frmQARN_UI::refreshDisplay(bool blinkOn) {
    const int state = gDownloadState;
    if (state >= 2 && state <= 5) {
        setStepBack(0, gColorGrey);
        for (int i = 1; i <= state - 1; ++i)
            setStepBack(i, gColorGreen);
    }
    letEventsThrough();

    if (state == 5) {
        m_tmrRefresh.stop();
        setStepBack(5, gColorYellow);
        cpuBar(1)->setValue(cpuBar(1)->maximum());
    } else {
        setStepBack(state, blinkOn ? kColorWhite : gColorYellow);
    }
    letEventsThrough();

    if (gByteTotal < 1) {
        m_ui->prgDownload->hide();
        if (state >= 3 && gSeqType != 1)
            cpuBar(0)->setValue(cpuBar(0)->maximum());
    } else {
        m_ui->prgDownload->show();
        const double perMille = roundHalfEven(double(gByteCount) / double(gByteTotal) * 1000.0);
        const int p = int(std::clamp(perMille, 0.0, 1000.0));
        m_ui->prgDownload->setValue(p);
        const bool kernelStep = ((gSeqType == 0 || gSeqType == 2 || gSeqType == 3) && state == 1) ||
                                (gSeqType == 1 && state == 3);
        if (kernelStep)
            cpuBar(0)->setValue(p);
        else if (state == 4)
            cpuBar(1)->setValue(p);
    }
    letEventsThrough();

    const bool eraseStep = (gSeqType < 2 && state == 2) || (gSeqType >= 2 && state == 3);
    if (eraseStep)
        cpuBar(1)->setValue(blinkOn ? cpuBar(1)->maximum() : 0);
    if (gSeqType < 2 && state == 3)
        cpuBar(1)->setValue(0);
    letEventsThrough();
}
