#include "sim_options.h"

#include <QCommandLineParser>

#include <algorithm>
#include <limits>

namespace targetsim {

namespace {

constexpr uint32_t kMaxFlashSize = 16u * 1024 * 1024;

std::optional<uint64_t> parseUnsigned(QString text, int base) {
    if (base == 16 && (text.startsWith("0x") || text.startsWith("0X")))
        text = text.mid(2);
    if (text.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, base);
    if (!ok)
        return std::nullopt;
    return value;
}

// Reads the value of an option into `out` when it lies in [lo, hi].
template <typename T>
bool takeNumber(const QString &option, const QString &text, int base, uint64_t lo, uint64_t hi,
                T &out, QString &error) {
    const auto value = parseUnsigned(text, base);
    if (!value || *value < lo || *value > hi) {
        error = QString("%1: '%2' is not a %3 number from %4 to %5")
                    .arg(option, text, base == 16 ? "hexadecimal" : "decimal",
                         QString::number(lo, base).toUpper(), QString::number(hi, base).toUpper());
        return false;
    }
    out = static_cast<T>(*value);
    return true;
}

bool takeStep(const QString &option, const QString &text, std::optional<Step> &out,
              QString &error) {
    out = stepFromName(text);
    if (!out)
        error = QString("%1: unknown step '%2'").arg(option, text);
    return out.has_value();
}

// What the target does, before the generated list of options.
const char kDescription[] =
    "Plays an H8/H8SX target in boot mode on a pseudo-terminal: the boot program, then the\n"
    "write kernel over an emulated flash memory. The pseudo-terminal's slave is linked as\n"
    "DIR/COMn (a stale link is replaced). Prints 'ready <slave>' when it listens, and runs\n"
    "until SIGTERM or SIGINT (removes the link, exits 0), or with --once until one download\n"
    "has ended. SIGUSR1 resets the target, as the device's reset button would: a fresh chip\n"
    "in its boot program, also in the middle of a download, and 'ready <slave>' again; a\n"
    "dropped line comes back on a new pseudo-terminal under the same link.\n"
    "\n"
    "Boot program, at the boot bit rate:\n"
    "  00 ...            -> 00      bit-rate adjustment\n"
    "  55                -> AA      end of adjustment (variants 0, 2, 3)\n"
    "  55                -> AA/FF   variant 1: erases first; the erase byte answers 55\n"
    "  LH LL kernel      -> echoed  16-bit kernel length, then the kernel, byte by byte\n"
    "  after the kernel  -> AA/FF   variant 0: erases, then answers\n"
    "                    -> AA      variant 1: kernel acknowledge\n"
    "Write kernel, at the data bit rate (replies: command byte, 16-bit value, high first):\n"
    "  10 LH LL          -> 10 SSSS kernel sum\n"
    "  11 block          -> 11 SSSS block sum; the block waits for 12\n"
    "  12                -> 12 0000 block written at the next position (FFFF: beyond the\n"
    "                               flash; 0001: no block waiting)\n"
    "  13 FSA(4) FEA(4)  -> 13 SSSS flash sum\n"
    "  14                -> 14 0000 next position skipped (stays FF)\n"
    "  15                -> 15 0000 whole flash erased to FF (FFFF: erase failed)\n"
    "Commands before the kernel is loaded are line noise to the boot program: no answer.\n"
    "\n"
    "Checksums, all modulo 65536:\n"
    "  kernel sum  sum of the kernel bytes received after the two length bytes\n"
    "  block sum   sum of the block's bytes as received\n"
    "  flash sum   sum of the flash bytes from FSA to FEA, both included; addresses\n"
    "              outside the emulated flash read as FF; FEA below FSA gives 0\n"
    "Blocks are placed one after another from the flash start, written or skipped.\n"
    "Writing clears bits only (flash := flash AND data), as real flash does.\n"
    "\n"
    "Faults take a STEP: adjust, adjust-end, kernel, boot-erase, kernel-ack, kernel-sum, data,\n"
    "write, flash-sum, blank, erase.";

struct OptionEntry {
    const char *name;
    const char *valueName; // nullptr: a flag
    const char *description;
};

const OptionEntry kOptions[] = {
    {"link", "PATH", "link the pseudo-terminal's slave here (required)"},
    {"variant", "N", "download sequence variant 0..3 (default 0)"},
    {"block-size", "N", "block size in bytes, decimal 1..32767 (default 512)"},
    {"flash-start", "HEX", "address of the first flash byte (default 0)"},
    {"flash-size", "HEX", "flash size in bytes, up to 1000000 (default 40000)"},
    {"flash-fill", "HEX", "flash contents before any erase (default FF)"},
    {"boot-rate", "N", "bit rate of the boot phase (default 9600)"},
    {"data-rate", "N",
     "bit rate of the kernel phase (default 9600); a byte at any other line speed is noise: "
     "no answer"},
    {"erase-time", "MS", "time an erase takes before its answer (default 0)"},
    {"write-time", "MS", "time each block write takes (default 0)"},
    {"pace", nullptr,
     "every byte takes its time on the wire, both ways: the host's as its line settings make it "
     "(start, data, parity and stop bits at its speed), the chip's 10 bits at its own clock"},
    {"adapter-latency", "MS",
     "the bytes the target sends wait as in a USB adapter's chip: until MS (1..255) ms have "
     "passed since the first byte that waits, or until 62 bytes wait; then all go at once"},
    {"clock-error", "PCT",
     "with --pace: the chip's clock runs PCT percent fast (negative: slow), -50..50; its bytes "
     "take that much less (more) time on the wire. Its receiver holds one character besides the "
     "one arriving: a character complete while the one before is still unread is an overrun, "
     "and the chip receives nothing more"},
    {"echo-report", nullptr,
     "when the kernel transfer ends, print its time from the first length byte to the last "
     "echo, and the host's reaction to each echo (from the echo leaving to the next byte "
     "arriving) as median, 99th percentile, longest and all together"},
    {"save-flash", "FILE", "write the flash image here after the flash sum and at exit"},
    {"record", "FILE", "write every byte received from the host to FILE (replaced), as it comes"},
    {"steps", "FILE",
     "write the name of every step the target takes up to FILE (replaced), one a line, as it "
     "happens: each kernel command as it comes, the boot program's exchanges and its erase"},
    {"once", nullptr,
     "end after one download: the flash sum answered, or a fault that ended it (a target that "
     "went silent runs on)"},
    {"serve", nullptr,
     "a fresh target for every download: once a download has ended, the next byte meets a "
     "reset chip"},
    {"no-adjust-answer", nullptr, "fault: never answer the 00 pattern"},
    {"adjust-answer", "HEX", "fault: answer the 00 pattern with this byte"},
    {"ack-answer", "HEX",
     "fault: answer 55 with this byte (variant 1: in place of the erase byte)"},
    {"corrupt-echo", "N", "fault: echo kernel byte N (0 = first after the length) inverted"},
    {"silent-at", "STEP", "fault: stop answering from STEP on"},
    {"erase-fail", nullptr, "fault: the erase fails (boot program FF, command 15 -> 15 FFFF)"},
    {"write-fail", "N[:HEX]", "fault: the write of block position N answers this status (FFFF)"},
    {"bad-block-sum", "N", "fault: answer block position N's data with a wrong sum"},
    {"bad-flash-sum", nullptr, "fault: answer the flash sum wrong"},
    {"extra-byte", "STEP", "fault: send an unsolicited EE right after STEP's answer"},
    {"drop-at", "STEP",
     "fault: drop the line in the middle of STEP: the pseudo-terminal is closed and the link "
     "removed (kernel: after half the kernel; data: after half the block; others: instead of "
     "the answer)"},
};

// The option list, --help and --version included.
void describeOptions(QCommandLineParser &parser) {
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const OptionEntry &entry : kOptions) {
        parser.addOption(entry.valueName
                             ? QCommandLineOption(QString::fromLatin1(entry.name),
                                                  QString::fromLatin1(entry.description),
                                                  QString::fromLatin1(entry.valueName))
                             : QCommandLineOption(QString::fromLatin1(entry.name),
                                                  QString::fromLatin1(entry.description)));
    }
    parser.addHelpOption();
    parser.addVersionOption();
}

} // namespace

QString usageText() {
    QCommandLineParser parser;
    describeOptions(parser);
    // The generated first line names the executable as it was started.
    const QString text = parser.helpText();
    const qsizetype options = text.indexOf(QStringLiteral(" [options]"));
    return QStringLiteral("usage: qarn-target-sim") + text.mid(std::max<qsizetype>(options, 0));
}

std::optional<SimOptions> parseSimOptions(const QStringList &args, QString &error) {
    QCommandLineParser parser;
    describeOptions(parser);
    if (!parser.parse(QStringList{QStringLiteral("qarn-target-sim")} + args)) {
        error = parser.errorText();
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = QString("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return std::nullopt;
    }
    SimOptions options;
    SimConfig &config = options.config;
    Faults &faults = config.faults;
    const auto max32 = std::numeric_limits<uint32_t>::max();
    options.help = parser.isSet("help") || parser.isSet("help-all");
    options.version = parser.isSet("version");
    options.link = parser.value("link");
    options.saveFlash = parser.value("save-flash");
    options.record = parser.value("record");
    options.steps = parser.value("steps");
    options.once = parser.isSet("once");
    options.serve = parser.isSet("serve");
    options.pace = parser.isSet("pace");
    options.echoReport = parser.isSet("echo-report");
    faults.noAdjustAnswer = parser.isSet("no-adjust-answer");
    faults.eraseFails = parser.isSet("erase-fail");
    faults.badFlashSum = parser.isSet("bad-flash-sum");

    // Each option with a value, when given: read it into its place, or refuse it.
    const auto given = [&](const char *name) { return parser.isSet(QString::fromLatin1(name)); };
    const auto number = [&](const char *name, int base, uint64_t lo, uint64_t hi, auto &out) {
        return !given(name) ||
               takeNumber(QStringLiteral("--") + QString::fromLatin1(name),
                          parser.value(QString::fromLatin1(name)), base, lo, hi, out, error);
    };
    const auto step = [&](const char *name, std::optional<Step> &out) {
        return !given(name) || takeStep(QStringLiteral("--") + QString::fromLatin1(name),
                                        parser.value(QString::fromLatin1(name)), out, error);
    };
    int eraseMs = int(config.eraseTime.count());
    int writeMs = int(config.writeTime.count());
    uint8_t adjustAnswer = 0;
    uint8_t ackAnswer = 0;
    bool ok = number("variant", 10, 0, 3, config.variant) &&
              number("block-size", 10, 1, 32767, config.blockSize) &&
              number("flash-start", 16, 0, max32, config.flashStart) &&
              number("flash-size", 16, 1, kMaxFlashSize, config.flashSize) &&
              number("flash-fill", 16, 0, 0xFF, config.flashFill) &&
              number("boot-rate", 10, 50, 4000000, config.bootBitRate) &&
              number("data-rate", 10, 50, 4000000, config.dataBitRate) &&
              number("erase-time", 10, 0, 600000, eraseMs) &&
              number("write-time", 10, 0, 600000, writeMs) &&
              number("adapter-latency", 10, 1, 255, options.adapterLatencyMs) &&
              number("adjust-answer", 16, 0, 0xFF, adjustAnswer) &&
              number("ack-answer", 16, 0, 0xFF, ackAnswer) &&
              number("corrupt-echo", 10, 0, 65535, faults.corruptEcho) &&
              number("bad-block-sum", 10, 0, 65535, faults.badBlockSum) &&
              step("silent-at", faults.silentAt) && step("extra-byte", faults.extraByteAt) &&
              step("drop-at", faults.dropAt);
    config.eraseTime = std::chrono::milliseconds(eraseMs);
    config.writeTime = std::chrono::milliseconds(writeMs);
    if (ok && given("clock-error")) {
        const QString text = parser.value("clock-error");
        bool number = false;
        options.clockErrorPct = text.toDouble(&number);
        if (!number || !(options.clockErrorPct >= -50 && options.clockErrorPct <= 50)) {
            error = QString("--clock-error: '%1' is not a percentage from -50 to 50").arg(text);
            ok = false;
        }
    }
    if (given("adjust-answer"))
        faults.adjustAnswer = adjustAnswer;
    if (given("ack-answer"))
        faults.ackAnswer = ackAnswer;
    if (ok && given("write-fail")) {
        const QString v = parser.value("write-fail");
        const QStringList parts = v.split(':');
        ok = parts.size() <= 2 &&
             takeNumber("--write-fail", parts[0], 10, 0, 65535, faults.writeFailBlock, error) &&
             (parts.size() == 1 ||
              takeNumber("--write-fail", parts[1], 16, 1, 0xFFFF, faults.writeFailStatus, error));
        if (!ok && error.isEmpty())
            error = QString("--write-fail: '%1' is not N or N:HEX").arg(v);
    }
    if (!ok)
        return std::nullopt;
    if (!options.help && !options.version && options.link.isEmpty()) {
        error = "--link is required";
        return std::nullopt;
    }
    return options;
}

} // namespace targetsim
