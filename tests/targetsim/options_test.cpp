// The simulated target's command line.

#include "sim_options.h"

#include <gtest/gtest.h>

using namespace targetsim;

namespace {

// Every parsed value in one line: the target, its timing, the run options, then the faults.
QString summary(const SimOptions &o) {
    const SimConfig &c = o.config;
    const Faults &f = c.faults;
    const auto n = [](auto value, int base = 10) { return QString::number(value, base); };
    const auto step = [](const std::optional<Step> &s) { return s ? stepName(*s) : "-"; };
    const auto byte = [&](const std::optional<uint8_t> &b) { return b ? n(*b, 16) : "-"; };
    return QString("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10 %11 %12 %13 %14 %15 %16 %17 | %18 %19 %20 %21 "
                   "%22 %23 %24 %25 %26 %27 %28 %29 | %30 %31")
        .arg(o.link, n(c.variant), n(c.blockSize), n(c.flashStart, 16), n(c.flashSize, 16),
             n(c.flashFill, 16), n(c.bootBitRate), n(c.dataBitRate), n(c.eraseTime.count()),
             n(c.writeTime.count()), n(o.pace), n(o.once), n(o.serve), n(o.help), n(o.version),
             o.saveFlash, o.record, n(f.noAdjustAnswer), byte(f.adjustAnswer), byte(f.ackAnswer),
             n(f.corruptEcho), step(f.silentAt), n(f.eraseFails), n(f.writeFailBlock),
             n(f.writeFailStatus, 16), n(f.badBlockSum), n(f.badFlashSum), step(f.extraByteAt),
             step(f.dropAt), n(o.adapterLatencyMs), n(o.echoReport));
}

} // namespace

// Each command line gives its values, or is refused with a message that says why.
TEST(SimOptions, ReadsEveryOptionInBothFormsOrRefusesItSayingWhy) {
    const std::pair<QString, QString> cases[] = {
        {"--link COM1", "COM1 0 512 0 40000 ff 9600 9600 0 0 0 0 0 0 0   | "
                        "0 - - -1 - 0 -1 ffff -1 0 - - | 0 0"},
        {QString("--link=/tmp/x/COM1 --variant 1 --block-size=128 --flash-start 0x20000 "
                 "--flash-size 8000 --flash-fill 00 --boot-rate 19200 --data-rate 38400 "
                 "--erase-time 300 --write-time=7 --pace --once --serve --save-flash /tmp/f.bin "
                 "--record=/tmp/r.bin --write-fail 3:0001 --drop-at kernel --bad-block-sum 2 "
                 "--ack-answer 5a --adjust-answer=80 --no-adjust-answer --corrupt-echo 9 "
                 "--silent-at=data --erase-fail --bad-flash-sum --extra-byte flash-sum --variant 2 "
                 "--adapter-latency=16 --echo-report"),
         "/tmp/x/COM1 2 128 20000 8000 0 19200 38400 300 7 1 1 1 0 0 /tmp/f.bin /tmp/r.bin | "
         "1 80 5a 9 data 1 3 1 2 1 flash-sum kernel | 16 1"},
        {"--help", " 0 512 0 40000 ff 9600 9600 0 0 0 0 0 1 0   | 0 - - -1 - 0 -1 ffff -1 0 - -"},
        {"--version",
         " 0 512 0 40000 ff 9600 9600 0 0 0 0 0 0 1   | 0 - - -1 - 0 -1 ffff -1 0 - -"},
        {"", "no: --link is required"},
        {"--link", "no: Missing value after '--link'."},
        {"--link C --variant 4", "no: --variant: '4' is not a decimal number from 0 to 3"},
        {"--link C --block-size 0", "no: --block-size: '0' is not a decimal number from 1"},
        {"--link C --block-size=32768", "no: --block-size: '32768' is not a decimal"},
        {"--link C --flash-size 0", "no: --flash-size: '0' is not a hexadecimal number"},
        {"--link C --flash-size 1000001",
         "no: --flash-size: '1000001' is not a hexadecimal number from 1 to 1000000"},
        {"--link C --flash-fill 100", "no: --flash-fill: '100' is not a hexadecimal"},
        {"--link C --drop-at somewhere", "no: --drop-at: unknown step 'somewhere'"},
        {"--link C --write-fail x", "no: --write-fail: 'x' is not a decimal number"},
        {"--link C --write-fail 1:0", "no: --write-fail: '0' is not a hexadecimal number"},
        {"--link C --write-fail 1:2:3", "no: --write-fail: '1:2:3' is not N or N:HEX"},
        {"--link C --corrupt-echo -1", "no: --corrupt-echo: '-1' is not a decimal"},
        {"--link C --adapter-latency 0",
         "no: --adapter-latency: '0' is not a decimal number from 1 to 255"},
        {"--link C --clock-error -50.5",
         "no: --clock-error: '-50.5' is not a percentage from -50 to 50"},
        {"--link C --frobnicate", "no: Unknown option 'frobnicate'."},
        {"--link C extra", "no: unexpected argument 'extra'"},
    };
    for (const auto &[args, expected] : cases) {
        QString error;
        const auto options = parseSimOptions(args.split(' ', Qt::SkipEmptyParts), error);
        const QString result = options ? summary(*options) : "no: " + error;
        EXPECT_EQ(result.left(expected.size()).toStdString(), expected.toStdString());
    }
    const QString text = usageText();
    EXPECT_TRUE(text.startsWith("usage: qarn-target-sim [options]\n"));
    EXPECT_TRUE(text.contains("kernel sum  sum of the kernel bytes received"));
    EXPECT_TRUE(text.contains("--record <FILE>"));
}
