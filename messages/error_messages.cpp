#include "error_messages.h"

#include "catalogue.h"
#include "number_text.h"
#include "run_errors.h"
#include "shared_state.h"

#include <initializer_list>

namespace {
const QString kCrLf = QStringLiteral("\r\n");

QString joined(std::initializer_list<int> ids) {
    QStringList parts;
    for (const int j : ids)
        parts << Msg(j);
    return parts.join(kCrLf);
}

// The line of a run-time failure, with the CR LF before it; empty when gRunErrNo is 0.
QString runTimeLine() {
    if (gRunErrNo == 0)
        return QString();
    return kCrLf + QStringLiteral("ErrNo ") + QString::number(gRunErrNo) + u':' +
           RunErrorDescription(gRunErrNo);
}
} // namespace

QString GetErrorMessage(int16_t n) {
    QString text;
    switch (n) {
    case 0:
        text = Msg(160);
        break;
    case 100:
    case 110:
    case 120:
    case 130:
    case 140:
    case 160:
    case 170:
    case 171:
        text = Msg(161);
        break;
    case 121:
    case 122:
        text = Msg(163);
        break;
    case 111:
        text = Msg(164);
        break;
    case 123:
        text = Msg(164);
        if (!gErrKey.isEmpty())
            text += kCrLf + QStringLiteral("  ") + gErrKey;
        break;
    case 300:
        text = Msg(169);
        break;
    case 301:
    case 331:
        text = joined({191, 192});
        break;
    case 302:
        text = joined({170, 171, 172, 173, 174});
        break;
    case 303:
    case 304:
        text = joined({175, 176, 177, 178});
        break;
    case 330:
        text = Msg(181);
        break;
    case 310:
    case 340:
    case 344:
    case 346:
        text = Msg(182);
        break;
    case 312:
    case 313:
    case 341:
    case 342:
    case 345:
    case 347:
        text = Msg(183);
        break;
    case 343:
    case 350:
        text = Msg(184);
        break;
    case 360:
    case 361:
        text = Msg(185);
        break;
    case 370:
        text = Msg(186) + kCrLf + Msg(187) + gFlashCheckSum + kCrLf + Msg(188) +
               Hex4(uint32_t(gObtainedCheckSum));
        break;
    case 118:
        text = Msg(118) + runTimeLine();
        break;
    default:
        text = Msg(189) + runTimeLine();
        break;
    }
    if (!gErrFileName.isEmpty())
        text += kCrLf + Msg(162) + gErrFileName;
    return text;
}

QString ErrorWindowText() {
    QString text = GetErrorMessage(gErrNo);
    if (!gFuncName.isEmpty())
        text += kCrLf + kCrLf + Msg(155) + gFuncName;
    return text;
}

QString ErrorCodeText() {
    return QStringLiteral("E") + QString::number(gErrNo);
}
