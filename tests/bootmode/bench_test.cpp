// The stand-ins the other tests stand on: the fake clock and the port in memory.

#include "link_clock.h"
#include "memory_port.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

TEST(FakeLinkClock, RunsScheduledActionsInTimeOrderWhenTimeReachesThem) {
    FakeLinkClock clock(10);
    QStringList order;
    clock.at(12, [&] { order << QStringLiteral("12 at %1").arg(clock.now()); });
    clock.at(11, [&] { order << QStringLiteral("11 at %1").arg(clock.now()); });
    clock.at(11, [&] { order << QStringLiteral("11 again"); });
    clock.sleep(std::chrono::milliseconds(500));
    EXPECT_TRUE(order.isEmpty());
    clock.sleep(std::chrono::milliseconds(1600));
    EXPECT_EQ(order, QStringList({"11 at 11", "11 again", "12 at 12"}));
    EXPECT_DOUBLE_EQ(clock.now(), 12.1);
    EXPECT_EQ(clock.sleepCount(), 2);
    EXPECT_NEAR(clock.sleptSeconds(), 2.1, 1e-9);
}

TEST(FakeLinkClock, ProcessEventsRunsDueActionsAndTheEventHook) {
    FakeLinkClock clock(0);
    int due = 0;
    int hook = 0;
    clock.at(0, [&] { ++due; });
    clock.at(5, [&] { ++due; });
    clock.onProcessEvents([&] { ++hook; });
    clock.processEvents();
    EXPECT_EQ(due, 1);
    EXPECT_EQ(hook, 1);
    EXPECT_EQ(clock.processEventsCount(), 1);
    EXPECT_DOUBLE_EQ(clock.now(), 0);
}

TEST(FakeLinkClock, AnActionCanScheduleAnother) {
    FakeLinkClock clock(0);
    QList<double> seen;
    clock.after(1, [&] {
        seen << clock.now();
        clock.after(1, [&] { seen << clock.now(); });
    });
    clock.advance(5);
    EXPECT_EQ(seen, QList<double>({1, 2}));
}

TEST(MemoryPort, RecordsOpeningsWritesAndCloses) {
    MemoryPort port;
    EXPECT_EQ(port.open(0, QStringLiteral("9600,N,8,1")), 8002);
    EXPECT_EQ(port.open(1, QStringLiteral("9600,N,8")), 5);
    ASSERT_EQ(port.open(1, QStringLiteral("9600,N,8,1")), 0);
    EXPECT_EQ(port.open(1, QStringLiteral("9600,N,8,1")), 8005);
    EXPECT_EQ(port.write(QByteArray::fromHex("1112")), 0);
    EXPECT_EQ(port.write(QByteArray::fromHex("13")), 0);
    EXPECT_EQ(port.written(), QByteArray::fromHex("111213"));
    EXPECT_EQ(port.writes().size(), 2);
    port.close();
    EXPECT_EQ(port.write(QByteArray::fromHex("14")), 8018);
    EXPECT_EQ(port.closeCount(), 1);
    ASSERT_EQ(port.openings().size(), 1);
    EXPECT_EQ(port.openings()[0].settings, QStringLiteral("9600,N,8,1"));
}

TEST(MemoryPort, DeliversBytesInOrderAndForgetsThemOnClose) {
    MemoryPort port;
    ASSERT_EQ(port.open(1, QStringLiteral("9600,N,8,1")), 0);
    port.deliver(QByteArray::fromHex("AA55"));
    EXPECT_EQ(port.inBufferCount(), 2);
    EXPECT_EQ(port.readByte(), 0xAA);
    EXPECT_EQ(port.readByte(), 0x55);
    EXPECT_EQ(port.readByte(), -1);
    port.deliver(QByteArray::fromHex("01"));
    port.close();
    ASSERT_EQ(port.open(1, QStringLiteral("9600,N,8,1")), 0);
    EXPECT_EQ(port.inBufferCount(), 0);
}

TEST(MemoryPort, TheWriteHookAnswersSynchronously) {
    MemoryPort port;
    ASSERT_EQ(port.open(1, QStringLiteral("9600,N,8,1")), 0);
    port.setWriteHook([&](const QByteArray &bytes) { port.deliver(bytes + bytes); });
    port.write(QByteArray::fromHex("42"));
    EXPECT_EQ(port.pendingInput(), QByteArray::fromHex("4242"));
}

TEST(MemoryPort, AFailedPortReadsAndWritesNothingUntilReopened) {
    MemoryPort port;
    ASSERT_EQ(port.open(1, QStringLiteral("9600,N,8,1")), 0);
    port.deliver(QByteArray::fromHex("01"));
    port.fail();
    EXPECT_TRUE(port.hasFailed());
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.inBufferCount(), 0);
    EXPECT_EQ(port.readByte(), -1);
    EXPECT_EQ(port.write(QByteArray::fromHex("01")), 8018);
    port.close();
    ASSERT_EQ(port.open(1, QStringLiteral("9600,N,8,1")), 0);
    EXPECT_FALSE(port.hasFailed());
}

TEST(MemoryPort, HeldOutputCountsUntilReleased) {
    MemoryPort port;
    ASSERT_EQ(port.open(1, QStringLiteral("9600,N,8,1")), 0);
    port.holdOutput(true);
    port.write(QByteArray(5, '\0'));
    EXPECT_EQ(port.outBufferCount(), 5);
    port.releaseOutput();
    EXPECT_EQ(port.outBufferCount(), 0);
    port.setWriteError(57);
    EXPECT_EQ(port.write(QByteArray(1, '\0')), 57);
}

TEST(MemoryPort, WaitingSleepsOnTheCurrentClock) {
    FakeLinkClock clock(0);
    ScopedLinkClock use(&clock);
    MemoryPort port;
    ASSERT_EQ(port.open(1, QStringLiteral("9600,N,8,1")), 0);
    port.waitForActivity(std::chrono::milliseconds(15));
    EXPECT_DOUBLE_EQ(clock.now(), 0.015);
    port.fail();
    port.waitForActivity(std::chrono::milliseconds(15));
    EXPECT_DOUBLE_EQ(clock.now(), 0.015); // a failed port returns at once
}

} // namespace
