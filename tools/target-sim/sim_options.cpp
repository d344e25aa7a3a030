#include "sim_options.h"

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

} // namespace

QString usageText() {
    return QStringLiteral(
        "usage: qarn-target-sim --link DIR/COMn [OPTIONS]\n"
        "\n"
        "Plays an H8/H8SX target in boot mode on a pseudo-terminal: the boot program, then the\n"
        "write kernel over an emulated flash memory. The pseudo-terminal's slave is linked as\n"
        "DIR/COMn (a stale link is replaced). Prints 'ready <slave>' when it listens, and runs\n"
        "until SIGTERM or SIGINT (removes the link, exits 0), or with --once until one download\n"
        "has ended.\n"
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
        "Target:\n"
        "  --link PATH          link the pseudo-terminal's slave here (required)\n"
        "  --variant N          download sequence variant 0..3 (default 0)\n"
        "  --block-size N       block size in bytes, decimal 1..32767 (default 512)\n"
        "  --flash-start HEX    address of the first flash byte (default 0)\n"
        "  --flash-size HEX     flash size in bytes, up to 1000000 (default 40000)\n"
        "  --flash-fill HEX     flash contents before any erase (default FF)\n"
        "  --boot-rate N        bit rate of the boot phase (default 9600)\n"
        "  --data-rate N        bit rate of the kernel phase (default 9600)\n"
        "                       a byte at any other line speed is noise: no answer\n"
        "  --erase-time MS      time an erase takes before its answer (default 0)\n"
        "  --write-time MS      time each block write takes (default 0)\n"
        "  --pace               every byte takes its time on the wire (10 bits at the line\n"
        "                       speed), both ways\n"
        "  --save-flash FILE    write the flash image here after the flash sum and at exit\n"
        "  --once               end after one download: the flash sum answered, or a fault\n"
        "                       that ended it (a target that went silent runs on)\n"
        "  --serve              a fresh target for every download: once a download has\n"
        "                       ended, the next byte meets a reset chip\n"
        "Faults (STEP: adjust, adjust-end, kernel, boot-erase, kernel-ack, kernel-sum, data,\n"
        "write, flash-sum, blank, erase):\n"
        "  --no-adjust-answer   never answer the 00 pattern\n"
        "  --adjust-answer HEX  answer the 00 pattern with this byte\n"
        "  --ack-answer HEX     answer 55 with this byte (variant 1: in place of the erase\n"
        "                       byte)\n"
        "  --corrupt-echo N     echo kernel byte N (0 = first after the length) inverted\n"
        "  --silent-at STEP     stop answering from STEP on\n"
        "  --erase-fail         the erase fails (boot program FF, command 15 -> 15 FFFF)\n"
        "  --write-fail N[:HEX] the write of block position N answers this status (FFFF)\n"
        "  --bad-block-sum N    answer block position N's data with a wrong sum\n"
        "  --bad-flash-sum      answer the flash sum wrong\n"
        "  --extra-byte STEP    send an unsolicited EE right after STEP's answer\n"
        "  --drop-at STEP       drop the line in the middle of STEP: the pseudo-terminal is\n"
        "                       closed and the link removed (kernel: after half the kernel;\n"
        "                       data: after half the block; others: instead of the answer)\n"
        "  --help               this text\n");
}

std::optional<SimOptions> parseSimOptions(const QStringList &args, QString &error) {
    SimOptions options;
    SimConfig &config = options.config;
    Faults &faults = config.faults;
    const auto max32 = std::numeric_limits<uint32_t>::max();

    for (int i = 0; i < args.size(); ++i) {
        const QString option = args[i];
        auto value = [&](QString &out) {
            if (i + 1 >= args.size()) {
                error = QString("%1 needs a value").arg(option);
                return false;
            }
            out = args[++i];
            return true;
        };
        QString v;
        bool ok = true;
        if (option == "--help" || option == "-h") {
            options.help = true;
        } else if (option == "--link") {
            ok = value(options.link);
        } else if (option == "--save-flash") {
            ok = value(options.saveFlash);
        } else if (option == "--once") {
            options.once = true;
        } else if (option == "--serve") {
            options.serve = true;
        } else if (option == "--pace") {
            options.pace = true;
        } else if (option == "--variant") {
            ok = value(v) && takeNumber(option, v, 10, 0, 3, config.variant, error);
        } else if (option == "--block-size") {
            ok = value(v) && takeNumber(option, v, 10, 1, 32767, config.blockSize, error);
        } else if (option == "--flash-start") {
            ok = value(v) && takeNumber(option, v, 16, 0, max32, config.flashStart, error);
        } else if (option == "--flash-size") {
            ok = value(v) && takeNumber(option, v, 16, 1, kMaxFlashSize, config.flashSize, error);
        } else if (option == "--flash-fill") {
            ok = value(v) && takeNumber(option, v, 16, 0, 0xFF, config.flashFill, error);
        } else if (option == "--boot-rate") {
            ok = value(v) && takeNumber(option, v, 10, 50, 4000000, config.bootBitRate, error);
        } else if (option == "--data-rate") {
            ok = value(v) && takeNumber(option, v, 10, 50, 4000000, config.dataBitRate, error);
        } else if (option == "--erase-time" || option == "--write-time") {
            int ms = 0;
            ok = value(v) && takeNumber(option, v, 10, 0, 600000, ms, error);
            (option == "--erase-time" ? config.eraseTime : config.writeTime) =
                std::chrono::milliseconds(ms);
        } else if (option == "--no-adjust-answer") {
            faults.noAdjustAnswer = true;
        } else if (option == "--adjust-answer" || option == "--ack-answer") {
            uint8_t byte = 0;
            ok = value(v) && takeNumber(option, v, 16, 0, 0xFF, byte, error);
            (option == "--adjust-answer" ? faults.adjustAnswer : faults.ackAnswer) = byte;
        } else if (option == "--corrupt-echo") {
            ok = value(v) && takeNumber(option, v, 10, 0, 65535, faults.corruptEcho, error);
        } else if (option == "--silent-at") {
            ok = value(v) && takeStep(option, v, faults.silentAt, error);
        } else if (option == "--extra-byte") {
            ok = value(v) && takeStep(option, v, faults.extraByteAt, error);
        } else if (option == "--drop-at") {
            ok = value(v) && takeStep(option, v, faults.dropAt, error);
        } else if (option == "--erase-fail") {
            faults.eraseFails = true;
        } else if (option == "--write-fail") {
            ok = value(v);
            const QStringList parts = v.split(':');
            ok = ok && parts.size() <= 2 &&
                 takeNumber(option, parts[0], 10, 0, 65535, faults.writeFailBlock, error) &&
                 (parts.size() == 1 ||
                  takeNumber(option, parts[1], 16, 1, 0xFFFF, faults.writeFailStatus, error));
            if (!ok && error.isEmpty())
                error = QString("%1: '%2' is not N or N:HEX").arg(option, v);
        } else if (option == "--bad-block-sum") {
            ok = value(v) && takeNumber(option, v, 10, 0, 65535, faults.badBlockSum, error);
        } else if (option == "--bad-flash-sum") {
            faults.badFlashSum = true;
        } else {
            error = QString("unknown option '%1'").arg(option);
            ok = false;
        }
        if (!ok)
            return std::nullopt;
    }
    if (!options.help && options.link.isEmpty()) {
        error = "--link is required";
        return std::nullopt;
    }
    return options;
}

} // namespace targetsim
