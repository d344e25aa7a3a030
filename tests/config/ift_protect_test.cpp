#include "ift_protect.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

namespace {

// A header written out byte by byte: zeros, both markers, and the two key tables.
QByteArray handHeader(const QByteArray &keyA, const QByteArray &keyB) {
    QByteArray h(256, '\0');
    h.replace(12, 8, QByteArray::fromHex("5B21E07C94D3A6F8"));
    h.replace(212, 16, QByteArray::fromHex("3F9A0C7E51B82D46E09F7A1C5D3B8E62"));
    h.replace(120, 5, keyA);
    h.replace(36, 4, keyB);
    return h;
}

TEST(UnpackIft, SubtractsBothKeyTablesCyclingAtTheirZeros) {
    // A = 01 02 03 04 00 repeats its four leading bytes, B = 10 20 00 00 its two, so the
    // packed text carries 11 22 13 24 added to every four plain bytes.
    const QByteArray file =
        handHeader(QByteArray::fromHex("0102030400"), QByteArray::fromHex("10200000")) +
        QByteArray::fromHex("547268783157202E");
    const auto plain = UnpackIft(file);
    ASSERT_TRUE(plain);
    EXPECT_EQ(*plain, QByteArray("CPUT 5\r\n"));
}

TEST(UnpackIft, WrapsBelowZeroModulo256) {
    const QByteArray file =
        handHeader(QByteArray::fromHex("F000000000"), QByteArray::fromHex("20000000")) +
        QByteArray::fromHex("0010FF");
    // 00 - F0 - 20 = -0x110 -> F0; 10 - 110 -> 00; FF - 110 -> EF
    EXPECT_EQ(UnpackIft(file), QByteArray::fromHex("F000EF"));
}

TEST(UnpackIft, A257ByteFileUnpacksToOneByte) {
    const QByteArray file =
        handHeader(QByteArray::fromHex("0500000000"), QByteArray::fromHex("01000000")) +
        QByteArray::fromHex("57");
    ASSERT_EQ(file.size(), 257);
    EXPECT_EQ(UnpackIft(file), QByteArray("Q"));
}

TEST(UnpackIft, ZeroAtIndexZeroIsUsedAsAPlainZero) {
    // A = 00 11 00 .. gives 00 11 00 11 ..; B = 00 00 00 00 gives 00 every time.
    const QByteArray file =
        handHeader(QByteArray::fromHex("0011000000"), QByteArray::fromHex("00000000")) +
        QByteArray::fromHex("4152415241");
    EXPECT_EQ(UnpackIft(file), QByteArray("AAAAA"));
}

TEST(UnpackIft, TableWhoseOnlyZeroIsItsFirstByteRunsOut) {
    // B = 00 55 66 77: the zero at index 0 sends nothing back, so B[4] is needed next.
    const QByteArray header =
        handHeader(QByteArray::fromHex("0000000000"), QByteArray::fromHex("00556677"));
    EXPECT_EQ(UnpackIft(header + QByteArray::fromHex("4196A7B8")), QByteArray("AAAA"));
    EXPECT_FALSE(UnpackIft(header + QByteArray::fromHex("4196A7B841")));
}

TEST(UnpackIft, TableBWithoutZeroFailsAtTheFifthByte) {
    const QByteArray header =
        handHeader(QByteArray::fromHex("0102030400"), QByteArray::fromHex("01010101"));
    // Four bytes use B[0]..B[3]; the fifth would need B[4].
    EXPECT_EQ(UnpackIft(header + QByteArray::fromHex("42434445")), QByteArray("@@@@"));
    EXPECT_FALSE(UnpackIft(header + QByteArray::fromHex("4243444546")));
}

TEST(UnpackIft, TableAWithoutZeroFailsAtTheSixthByte) {
    const QByteArray header =
        handHeader(QByteArray::fromHex("0101010101"), QByteArray::fromHex("00000000"));
    EXPECT_EQ(UnpackIft(header + QByteArray::fromHex("4141414141")), QByteArray("@@@@@"));
    EXPECT_FALSE(UnpackIft(header + QByteArray::fromHex("414141414141")));
}

TEST(IsProtectedIft, NeedsBothMarkersAndMoreThanAHeader) {
    const QByteArray good =
        handHeader(QByteArray::fromHex("0000000000"), QByteArray::fromHex("00000000")) + "x";
    EXPECT_TRUE(IsProtectedIft(good));
    EXPECT_FALSE(IsProtectedIft(good.left(256)));

    QByteArray badA = good;
    badA[19] = char(0xF9);
    EXPECT_FALSE(IsProtectedIft(badA));
    QByteArray badB = good;
    badB[212] = char(0x3E);
    EXPECT_FALSE(IsProtectedIft(badB));
    QByteArray shifted = QByteArray(1, ' ') + good; // markers one byte late
    EXPECT_FALSE(IsProtectedIft(shifted));
}

TEST(PackIft, WritesMarkersKeysAndShiftedText) {
    QRandomGenerator rng(7);
    const auto packed = PackIft("CPUT 5\r\n", QByteArray::fromHex("0102030400"),
                                QByteArray::fromHex("10200000"), rng);
    ASSERT_TRUE(packed);
    ASSERT_EQ(packed->size(), 264);
    EXPECT_EQ(packed->mid(12, 8).toHex(), "5b21e07c94d3a6f8");
    EXPECT_EQ(packed->mid(212, 16).toHex(), "3f9a0c7e51b82d46e09f7a1c5d3b8e62");
    EXPECT_EQ(packed->mid(120, 5).toHex(), "0102030400");
    EXPECT_EQ(packed->mid(36, 4).toHex(), "10200000");
    EXPECT_EQ(packed->mid(256).toHex(), "547268783157202e");
}

TEST(PackIft, FillsUnexaminedHeaderBytesFromTheGenerator) {
    QRandomGenerator rng1(1);
    QRandomGenerator rng2(2);
    const QByteArray a = QByteArray::fromHex("0100000000");
    const QByteArray b = QByteArray::fromHex("01000000");
    const auto p1 = PackIft("X", a, b, rng1);
    const auto p2 = PackIft("X", a, b, rng2);
    ASSERT_TRUE(p1 && p2);
    EXPECT_NE(p1->left(12), p2->left(12));
    EXPECT_NE(p1->mid(40, 80), p2->mid(40, 80));
    EXPECT_EQ(p1->mid(256), p2->mid(256));
}

TEST(PackIft, RefusesKeyTablesWithoutZeroWrongSizesAndEmptyText) {
    QRandomGenerator rng(3);
    const QByteArray a = QByteArray::fromHex("0102030400");
    const QByteArray b = QByteArray::fromHex("10200000");
    EXPECT_FALSE(PackIft("x", QByteArray::fromHex("0102030405"), b, rng));
    EXPECT_FALSE(PackIft("x", a, QByteArray::fromHex("10203040"), rng));
    EXPECT_FALSE(PackIft("x", QByteArray::fromHex("01020300"), b, rng));
    EXPECT_FALSE(PackIft("x", a, QByteArray::fromHex("1020300000"), rng));
    EXPECT_FALSE(PackIft("x", QByteArray::fromHex("0011223344"), b, rng));
    EXPECT_FALSE(PackIft("x", a, QByteArray::fromHex("00112233"), rng));
    EXPECT_FALSE(PackIft("", a, b, rng));
}

TEST(PackIft, UnpackGivesBackEveryByteForManyKeyTables) {
    QRandomGenerator rng(11);
    QByteArray plain;
    for (int i = 0; i < 1000; ++i)
        plain.append(char(rng.bounded(256)));
    const char *keys[][2] = {
        {"0102030400", "10200000"}, {"0000000000", "00000000"}, {"FF00FF00FF", "FFFFFF00"},
        {"0A0B0C0D00", "00010200"}, {"8000000000", "80800000"},
    };
    for (const auto &k : keys) {
        SCOPED_TRACE(std::string(k[0]) + " " + k[1]);
        const auto packed =
            PackIft(plain, QByteArray::fromHex(k[0]), QByteArray::fromHex(k[1]), rng);
        ASSERT_TRUE(packed);
        EXPECT_TRUE(IsProtectedIft(*packed));
        EXPECT_EQ(UnpackIft(*packed), plain);
    }
}

} // namespace
