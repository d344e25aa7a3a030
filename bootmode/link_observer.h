#pragma once
// One narrow hook for watching the serial link (a trace writer). Null by default; the link
// tests the pointer before every call, so nothing is paid when no one watches. The step under
// way is gFuncName, the outcome gErrNo, at the moment of each call.

#include <QByteArray>
#include <QString>

class LinkObserver {
public:
    virtual ~LinkObserver() = default;
    // After every open attempt: the port number, the settings text and the open's result code
    // (0, or the run-time failure code).
    virtual void onOpen(int port, const QString &settings, int result) {
        Q_UNUSED(port);
        Q_UNUSED(settings);
        Q_UNUSED(result);
    }
    virtual void onClose() {}
    // After a successful open and after a close: what the port did beyond the line settings
    // (the low-latency flag), one line, when it has something to say.
    virtual void onNote(const QString &text) { Q_UNUSED(text); }
    // Bytes handed to the port for sending, as one write.
    virtual void onSend(const QByteArray &bytes) { Q_UNUSED(bytes); }
    // Bytes taken from the port (one at a time, as the link reads them).
    virtual void onReceive(const QByteArray &bytes) { Q_UNUSED(bytes); }
    // A download run has ended (after the port was closed).
    virtual void onRunEnd(bool ok) { Q_UNUSED(ok); }
};

extern LinkObserver *gLinkObserver;
