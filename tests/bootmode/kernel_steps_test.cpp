#include "download_steps.h"
#include "link.h"
#include "scripted_device.h"

#include <gtest/gtest.h>

namespace {

// The kernel side of the bench: the port is open for the data phase and every command gets the
// reply queued by the test.
class Kernel : public LinkBench {
protected:
    Kernel() {
        openPort();
        port.setWriteHook([this](const QByteArray &bytes) {
            if (!replies.isEmpty())
                port.deliver(replies.takeFirst());
            (void)bytes;
        });
    }
    QList<QByteArray> replies;
};

TEST_F(Kernel, CheckIrdSendsTheKernelLengthAndComparesWithUcs) {
    gIrdSize = 4464;
    gIrdCheckSum = QStringLiteral("1234");
    replies << Hex("101234");
    EXPECT_TRUE(CheckIrd());
    EXPECT_EQ(gErrNo, 0);
    EXPECT_EQ(gFuncName, QString());
    ASSERT_EQ(port.writes().size(), 1);
    EXPECT_EQ(port.writes()[0], Hex("101170"));
}

TEST_F(Kernel, CheckIrdFailures) {
    struct Case {
        const char *name;
        QByteArray reply;
        QString ucs;
        int errNo;
    };
    const Case cases[] = {
        {"checksum differs", Hex("101235"), "1234", 371},
        {"wrong reply code", Hex("111234"), "1234", 342},
        {"no reply", QByteArray(), "1234", 340},
        {"short reply", Hex("1012"), "1234", 340},
        {"reply too long", Hex("10123400"), "1234", 342},
        {"UCS that is no hexadecimal", Hex("101234"), "12G4", 123},
        {"UCS empty", Hex("101234"), "", 123},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        port.discardInput();
        replies = {c.reply};
        gIrdSize = 16;
        gIrdCheckSum = c.ucs;
        EXPECT_FALSE(CheckIrd());
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gFuncName, QStringLiteral("CheckIrd"));
    }
    EXPECT_EQ(gErrKey, QStringLiteral("UCS"));
}

TEST_F(Kernel, CheckIrdComparesNumerically) {
    gIrdSize = 1;
    gIrdCheckSum = QStringLiteral("00abc");
    replies << Hex("100ABC");
    EXPECT_TRUE(CheckIrd());
}

TEST_F(Kernel, EraseFromJudgesTheStatus) {
    struct Case {
        const char *name;
        QByteArray reply;
        bool ok;
        int errNo;
    };
    const Case cases[] = {
        {"erased", Hex("150000"), true, 0},
        {"erase failed", Hex("15FFFF"), false, 350},
        {"other status", Hex("151234"), false, 343},
        {"half failed", Hex("15FF00"), false, 343},
        {"wrong reply code", Hex("140000"), false, 342},
        {"no reply", QByteArray(), false, 340},
        {"extra byte after a good status", Hex("15000000"), false, 342},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        port.discardInput();
        port.clearRecord();
        replies = {c.reply};
        EXPECT_EQ(EraseFROM(), c.ok);
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(port.written(), Hex("15"));
        EXPECT_EQ(gFuncName, c.ok ? QString() : QStringLiteral("EraseFROM"));
    }
}

TEST_F(Kernel, EraseFromWhoseReplyIsCutByAFailedPortIsNotAnErasedFlash) {
    // 15 00 arrives, then the adapter is pulled: the missing byte is not taken for 00.
    replies << Hex("1500");
    clock.after(1, [this] { port.fail(); });
    EXPECT_FALSE(EraseFROM());
    EXPECT_EQ(gErrNo, 342);
    EXPECT_EQ(gRunErrNo, 8018);
    EXPECT_LT(clock.now(), 1002);
}

TEST_F(Kernel, EraseFromStopIsATimeout) {
    clock.after(5, [] { gStopRequested = true; });
    EXPECT_FALSE(EraseFROM());
    EXPECT_EQ(gErrNo, 340);
    EXPECT_NEAR(clock.now(), 1005, 0.05);
}

TEST_F(Kernel, CheckFromCheckSumSendsTheAddressRangeInOneWrite) {
    gFlashStart = QStringLiteral("00000000");
    gFlashEnd = QStringLiteral("0003FFFF");
    gFlashCheckSum = QStringLiteral("ABCD");
    replies << Hex("13ABCD");
    EXPECT_TRUE(CheckFROMCheckSum());
    ASSERT_EQ(port.writes().size(), 1);
    EXPECT_EQ(port.writes()[0], Hex("13000000000003FFFF"));
    EXPECT_EQ(gObtainedCheckSum, 43981);
    EXPECT_EQ(gErrNo, 0);
    EXPECT_EQ(gFuncName, QString());
}

TEST_F(Kernel, AddressTextsGiveTheirBytesFromTheLeft) {
    struct Case {
        const char *start;
        const char *end;
        QByteArray sent;
    };
    const Case cases[] = {
        {"00010000", "0001FFFF", Hex("13000100000001FFFF")},
        {"ffe00000", "FFFFFFFF", Hex("13FFE00000FFFFFFFF")},
        {"0001000", "0001FFF", Hex("13000100000001FF0F")},    // a seventh digit alone
        {"000100009", "0001FFFF", Hex("13000100000001FFFF")}, // digits beyond the eighth
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.start);
        port.clearRecord();
        replies = {Hex("130001")};
        gFlashStart = QString::fromLatin1(c.start);
        gFlashEnd = QString::fromLatin1(c.end);
        gFlashCheckSum = QStringLiteral("1");
        EXPECT_TRUE(CheckFROMCheckSum());
        EXPECT_EQ(port.written(), c.sent);
    }
}

TEST_F(Kernel, CheckFromCheckSumFailures) {
    struct Case {
        const char *name;
        QByteArray reply;
        QString fsa;
        QString fcs;
        int errNo;
        const char *key;
        bool sent;
    };
    const Case cases[] = {
        {"checksum differs", Hex("13ABCD"), "00000000", "ABCE", 370, "", true},
        {"wrong reply code", Hex("12ABCD"), "00000000", "ABCD", 342, "", true},
        {"no reply", QByteArray(), "00000000", "ABCD", 340, "", true},
        {"FSA too short", Hex("13ABCD"), "000000", "ABCD", 123, "FSA", false},
        {"FSA not hexadecimal", Hex("13ABCD"), "0000XY00", "ABCD", 123, "FSA", false},
        {"FCS not hexadecimal", Hex("13ABCD"), "00000000", "AB-D", 123, "FCS", false},
        {"FCS empty", Hex("13ABCD"), "00000000", "", 123, "FCS", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        port.discardInput();
        port.clearRecord();
        replies = {c.reply};
        gErrKey.clear();
        gFlashStart = c.fsa;
        gFlashEnd = QStringLiteral("0003FFFF");
        gFlashCheckSum = c.fcs;
        EXPECT_FALSE(CheckFROMCheckSum());
        EXPECT_EQ(gErrNo, c.errNo);
        EXPECT_EQ(gErrKey, QString::fromLatin1(c.key));
        EXPECT_EQ(!port.written().isEmpty(), c.sent);
        EXPECT_EQ(gFuncName, QStringLiteral("CheckFROMCheckSum"));
    }
}

TEST_F(Kernel, FlashChecksumDifferenceKeepsTheObtainedValue) {
    gFlashStart = QStringLiteral("00000000");
    gFlashEnd = QStringLiteral("0003FFFF");
    gFlashCheckSum = QStringLiteral("ABCE");
    replies << Hex("13ABCD");
    EXPECT_FALSE(CheckFROMCheckSum());
    EXPECT_EQ(gErrNo, 370);
    EXPECT_EQ(gObtainedCheckSum, 43981);
    // A reply with the wrong code leaves the value of the earlier check.
    replies << Hex("121111");
    EXPECT_FALSE(CheckFROMCheckSum());
    EXPECT_EQ(gObtainedCheckSum, 43981);
}

TEST_F(Kernel, FlashEndTooShortNamesFea) {
    gFlashStart = QStringLiteral("00000000");
    gFlashEnd = QStringLiteral("3FFFF");
    gFlashCheckSum = QStringLiteral("ABCD");
    EXPECT_FALSE(CheckFROMCheckSum());
    EXPECT_EQ(gErrNo, 123);
    EXPECT_EQ(gErrKey, QStringLiteral("FEA"));
}

} // namespace
