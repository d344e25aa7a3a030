#include "firm_tree.h"

#include "catalogue.h"
#include "error_messages.h"
#include "frmQARN_UI.h"
#include "ift_file.h"
#include "shared_state.h"
#include "text_file.h"
#include "text_helpers.h"
#include "ui_frmQARN_UI.h"
#include "widget_colours.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTreeWidgetItemIterator>
#include <algorithm>

namespace {
const QString kCrLf = QStringLiteral("\r\n");
const QString kNoVersion = QStringLiteral("0000v0000");

QString keyOf(const QTreeWidgetItem *node) {
    return node->data(0, Qt::UserRole).toString();
}

QString textOf(const QTreeWidgetItem *node) {
    return node ? node->text(0) : QString();
}

// The board's description from the host's board list, or the board name itself.
QString boardDescription(const QString &board) {
    for (qsizetype i = 1; i < gTgbnList.size(); ++i) {
        if (gTgbnList[i] == board)
            return i < gTgbnDescList.size() ? gTgbnDescList[i] : board;
    }
    return board;
}
} // namespace

int VersionNumber(const QString &versionText) {
    const QString digits = versionText.mid(5, 4);
    if (digits.size() != 4)
        return 0;
    int number = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return 0;
        number = number * 10 + (c.unicode() - u'0');
    }
    return number;
}

QString FirmwareInfoText(const QString &t) {
    return Msg(149) + CountryName(t.mid(0, 2)) + kCrLf + Msg(150) + LangName(t.mid(2, 2)) + kCrLf +
           Msg(151) + t.mid(5, 2) + u'.' + t.mid(7, 2);
}

QString ToolPrefix(const QString &fdir) {
    const QString word = QStringLiteral("fieldkit");
    for (qsizetype at = fdir.indexOf(word, 0, Qt::CaseInsensitive); at >= 0;
         at = fdir.indexOf(word, at + 1, Qt::CaseInsensitive)) {
        const qsizetype after = at + word.size();
        if (after < fdir.size() && (fdir[after] == u'\\' || fdir[after] == u'/'))
            return fdir.left(after + 1);
    }
    return QString();
}

QString FirstDescriptionFile(const QString &folder) {
    QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return QString();
    QStringList names;
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo &info : entries) {
        if (info.isFile() && !info.isHidden() &&
            info.fileName().endsWith(QLatin1String(".ift"), Qt::CaseInsensitive))
            names << info.fileName();
    }
    if (names.isEmpty())
        return QString();
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return dir.filePath(names.first());
}

void frmQARN_UI::treFirmList_NodeClick(QTreeWidgetItem *node) {
    if (!node || m_runInProgress)
        return;
    const QString key = keyOf(node);

    if (key.contains(u'\\')) {
        const QString board = textOf(node->parent());
        const QString model = node->parent() ? textOf(node->parent()->parent()) : QString();
        m_ui->lblFirmInfo->setText(boardDescription(board) + kCrLf +
                                   FirmwareInfoText(node->text(0)));
        selectFirmware(model, board, node->text(0));
    } else if (key.contains(u'=')) {
        const QString board = node->text(0);
        m_ui->lblFirmInfo->setText(boardDescription(board));
        const QString versionPrefix = key + u'\\';
        QString pick = kNoVersion;
        for (QTreeWidgetItemIterator it(m_ui->treFirmList); *it; ++it) {
            if (keyOf(*it).contains(versionPrefix) &&
                VersionNumber((*it)->text(0)) > VersionNumber(pick))
                pick = (*it)->text(0);
        }
        if (pick == kNoVersion) {
            // Only the board is on screen now: Start must not write what was chosen before.
            DisableStart();
            return;
        }
        m_ui->lblFirmInfo->setText(m_ui->lblFirmInfo->text() + kCrLf + FirmwareInfoText(pick));
        selectFirmware(textOf(node->parent()), board, pick);
    } else {
        m_ui->lblFirmInfo->setText(QString());
        DisableStart();
    }
}

void frmQARN_UI::selectFirmware(const QString &model, const QString &board,
                                const QString &version) {
    gSelectedVersion = version;
    const QString prefix = ToolPrefix(gFdir);
    const QString folder =
        prefix.isEmpty()
            ? QString()
            : ResolvePathNoCase(prefix + model + u'\\' + board + u'\\' + version + u'\\');
    const QString file = FirstDescriptionFile(folder);
    if (file.isEmpty()) {
        // The screen shows this version now: Start must not write the one read before. The
        // error window names the folder that was searched.
        DisableStart();
        gErrNo = 120;
        gRunErrNo = 0;
        gErrFileName = folder.isEmpty() ? gFdir : QDir(folder).filePath(QStringLiteral("*.ift"));
        if (m_links.showErrorWindow)
            m_links.showErrorWindow();
        return;
    }

    if (!ReadIftFile(file)) {
        DisableStart();
        QMessageBox box(QMessageBox::NoIcon, Msg(102), GetErrorMessage(gErrNo), QMessageBox::Ok,
                        this);
        box.exec();
        return;
    }

    SetBackColour(m_ui->cmdStart, gColorGreen);
    m_ui->cmdStart->setEnabled(true);
    m_ui->cmdStart->setFocus();
    ResetProgressBars();
    ResetStepLabels();
    ShowStepCaptions(gSeqType);
}
