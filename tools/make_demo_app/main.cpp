// qarn-make-demo-app: builds a sample application folder in which the tool can be tried against
// the simulated target: the executables, the tool's settings, the host's hand-off files, a model
// catalogue and a firmware store with one version per download sequence variant.

#include "number_text.h"
#include "target_sim.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <cstdio>
#include <optional>

namespace {

const char kUsage[] =
    "usage: qarn-make-demo-app --out DIR [OPTIONS]\n"
    "\n"
    "Builds a sample application folder DIR:\n"
    "  qarn, qarnctl, torvane.exe   copied from --bin (when given)\n"
    "  QARN.ini                     LANGUAGE 1, PORT 1 (COM1 in DIR, linked by the simulator)\n"
    "  torvane.ini, torvane.cha     the host's lists and hand-off (model QX100, board MAIN)\n"
    "  torvane.conf, FirmDesc.txt   two models; QX100/MAIN has four versions\n"
    "  fieldkit/QX100/MAIN/<version>/  FIRM.IFT, KERNEL.BIN, IMAGE.BIN for each version\n"
    "  demo-versions.txt            one line per version of QX100/MAIN, tab-separated:\n"
    "                               version, sequence variant, description path, FCS\n"
    "The versions cover every download sequence variant (CPUT 0, 1, 5, 6); the one of\n"
    "variant 1 is stored in the protected form (made with 'qarnctl pack'). Every kernel and\n"
    "image is generated, a quarter of the image blocks blank (FF), and the descriptions carry\n"
    "the kernel sum (UCS) and the flash sum over 00000000..0003FFFF (FCS) that\n"
    "qarn-target-sim answers for them.\n"
    "\n"
    "Options:\n"
    "  --out DIR          the folder to build (created; existing files are replaced)\n"
    "  --bin DIR          folder of the built qarn, qarnctl and torvane.exe\n"
    "  --rate N           bit rate of both phases (default 115200)\n"
    "  --kernel-size N    kernel bytes (default 2048, at most 32765)\n"
    "  --image-size N     image bytes (default 16384, at most 262144)\n"
    "  --ut SECONDS       settling pause between the phases (default 0)\n"
    "  --trace            TRACE 1 in QARN.ini: the window writes qarn-trace.log per run\n";

constexpr int kBlockSize = 512;
constexpr int kFlashSize = 0x40000;
constexpr char kModel[] = "QX100";
constexpr char kBoard[] = "MAIN";

struct Options {
    QString out;
    QString bin;
    int rate = 115200;
    int kernelSize = 2048;
    int imageSize = 16384;
    QString ut = "0";
    bool trace = false;
};

struct Version {
    QString text; // country, language, "v", major, minor
    int cput;
    int variant;
    bool protectedForm;
    uint32_t seed;
};

// The versions of QX100/MAIN: one per sequence variant, variant 3 runs the same sequence as 2.
const Version kVersions[] = {
    {"USENv0100", 0, 0, false, 11},
    {"JPJAv0102", 1, 1, true, 22},
    {"DEDEv0201", 5, 2, false, 33},
    {"USENv0203", 6, 3, false, 44},
};

std::optional<Options> parse(const QStringList &args, QString &error) {
    Options options;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        auto number = [&](int lo, int hi, int &out) {
            const auto text = value();
            bool ok = false;
            const int n = text ? text->toInt(&ok) : 0;
            if (!ok || n < lo || n > hi) {
                if (error.isEmpty())
                    error = QString("%1 needs a number from %2 to %3").arg(arg).arg(lo).arg(hi);
                return false;
            }
            out = n;
            return true;
        };
        bool ok = true;
        if (arg == "--out") {
            const auto v = value();
            ok = v.has_value();
            options.out = v.value_or(QString());
        } else if (arg == "--bin") {
            const auto v = value();
            ok = v.has_value();
            options.bin = v.value_or(QString());
        } else if (arg == "--rate") {
            ok = number(300, 4000000, options.rate);
        } else if (arg == "--kernel-size") {
            ok = number(1, 32765, options.kernelSize);
        } else if (arg == "--image-size") {
            ok = number(0, kFlashSize, options.imageSize);
        } else if (arg == "--ut") {
            int seconds = 0;
            ok = number(0, 60, seconds);
            options.ut = QString::number(seconds);
        } else if (arg == "--trace") {
            options.trace = true;
        } else {
            error = QString("unknown argument '%1'").arg(arg);
            ok = false;
        }
        if (!ok)
            return std::nullopt;
    }
    if (options.out.isEmpty()) {
        error = "--out is required";
        return std::nullopt;
    }
    return options;
}

// A small, repeatable byte sequence (a linear congruential generator).
QByteArray pseudoRandom(int size, uint32_t seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    uint32_t state = seed * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

// An image whose every fourth block is blank (all FF), the rest data without a blank block.
QByteArray image(int size, uint32_t seed) {
    QByteArray bytes = pseudoRandom(size, seed);
    for (int block = 0; block * kBlockSize < size; ++block) {
        const int start = block * kBlockSize;
        const int length = std::min(kBlockSize, size - start);
        if (block % 4 == 3)
            bytes.replace(start, length, QByteArray(length, char(0xFF)));
        else
            bytes[start] = char(0x00); // never blank by chance
    }
    return bytes;
}

// Text files of the tool and the host end their lines with CR LF.
bool writeFile(const QString &path, const QByteArray &bytes, QString &error) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        error = QString("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QByteArray lines(const QStringList &list) {
    return (list.join("\r\n") + "\r\n").toUtf8();
}

bool copyExecutable(const QString &from, const QString &to, QString &error) {
    QFile::remove(to);
    if (!QFile::copy(from, to)) {
        error = QString("cannot copy %1 to %2").arg(from, to);
        return false;
    }
    QFile::setPermissions(to, QFile::permissions(to) | QFileDevice::ExeOwner |
                                  QFileDevice::ExeGroup | QFileDevice::ExeOther);
    return true;
}

bool pack(const QString &qarnctl, const QString &in, const QString &out, QString &error) {
    QProcess process;
    process.start(qarnctl, {"pack", "--key-a", "3A5C7E9100", "--key-b", "2B4D6F00", in, out});
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        error = QString("qarnctl pack failed: %1")
                    .arg(QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    return true;
}

bool build(const Options &options, QString &error) {
    const QDir out(QDir(options.out).absolutePath());
    if (out.path().contains(QRegularExpression("\\s"))) {
        // A value in torvane.cha ends at the first blank, so Fdir could not name the store.
        error = QString("the folder path must not contain blanks: %1").arg(out.path());
        return false;
    }
    if (!QDir().mkpath(out.path())) {
        error = QString("cannot create %1").arg(out.path());
        return false;
    }
    auto path = [&](const QString &name) { return out.filePath(name); };

    QString qarnctl;
    if (!options.bin.isEmpty()) {
        const QDir bin(options.bin);
        const struct {
            const char *from;
            const char *to;
        } executables[] = {
            {"qarn", "qarn"}, {"qarnctl", "qarnctl"}, {"torvane.exe", "torvane.exe"}};
        for (const auto &exe : executables)
            if (!copyExecutable(bin.filePath(exe.from), path(exe.to), error))
                return false;
        qarnctl = path("qarnctl");
    }

    QStringList settings = {"; QARN settings of the demo folder", "LANGUAGE 1", "PORT 1"};
    if (options.trace)
        settings << "TRACE 1";
    if (!writeFile(path("QARN.ini"), lines(settings), error))
        return false;
    if (!writeFile(path("torvane.ini"),
                   lines({"DRIVE C:", "cntry US", "cntry USA", "cntry JP", "cntry Japan",
                          "cntry DE", "cntry Germany", "lang EN", "lang English", "lang JA",
                          "lang Japanese", "lang DE", "lang German"}),
                   error))
        return false;
    // The tool finds the store under the part of Fdir up to and including "fieldkit/".
    const QString store = path("fieldkit");
    if (!writeFile(path("torvane.cha"),
                   lines({"MAIN SET", "Fdir " + store + "/tools",
                          QString("SelectedModel ") + kModel, QString("SelectedPCB ") + kBoard}),
                   error))
        return false;
    QStringList conf = {QString("machine=") + kModel, QString("board=") + kBoard};
    for (const Version &version : kVersions)
        conf << "version=" + version.text;
    conf << "board=SUB"
         << "version=USENv0100"
         << "machine=QX200"
         << "board=MAIN"
         << "version=USENv0300"
         << "end";
    if (!writeFile(path("torvane.conf"), lines(conf), error))
        return false;
    if (!writeFile(path("FirmDesc.txt"),
                   lines({"# boards with firmware", "TGBN MAIN", "TGBNDESC QX100 main controller",
                          "TGBN SUB", "TGBNDESC QX100 front panel"}),
                   error))
        return false;

    QStringList manifest;
    for (const Version &version : kVersions) {
        const QDir folder(QString("%1/%2/%3/%4").arg(store, kModel, kBoard, version.text));
        const QByteArray kernel = pseudoRandom(options.kernelSize, version.seed);
        const QByteArray program = image(options.imageSize, version.seed + 1);
        QByteArray flash = program;
        flash.append(QByteArray(kFlashSize - program.size(), char(0xFF)));
        const QString fcs = Hex4(targetsim::TargetSim::sum16(flash));
        const QStringList description = {
            "; " + version.text + " for " + kModel + " " + kBoard,
            QString("CPUT %1").arg(version.cput),
            "DF KERNEL.BIN",
            "PFN IMAGE.BIN",
            "UCS " + Hex4(targetsim::TargetSim::sum16(kernel)),
            "FSA 00000000",
            QString("FEA %1").arg(kFlashSize - 1, 8, 16, QChar('0')).toUpper(),
            "FCS " + fcs,
            QString("BRATE %1").arg(options.rate),
            QString("PDSIZE %1").arg(kBlockSize),
            "UT " + options.ut,
            "TTO 3C",
            "SETUPINFO 1",
        };
        if (!writeFile(folder.filePath("KERNEL.BIN"), kernel, error) ||
            !writeFile(folder.filePath("IMAGE.BIN"), program, error))
            return false;
        const QString ift = folder.filePath("FIRM.IFT");
        QFile::remove(ift);
        if (version.protectedForm) {
            if (qarnctl.isEmpty()) {
                error = "the protected description needs qarnctl: give --bin";
                return false;
            }
            const QString plain = path("plain-description.tmp");
            const bool packed =
                writeFile(plain, lines(description), error) && pack(qarnctl, plain, ift, error);
            QFile::remove(plain);
            if (!packed)
                return false;
        } else if (!writeFile(ift, lines(description), error)) {
            return false;
        }
        manifest << QString("%1\t%2\t%3\t%4").arg(version.text).arg(version.variant).arg(ift, fcs);
    }
    // The other model's and board's versions exist in the catalogue only.
    return writeFile(path("demo-versions.txt"), (manifest.join('\n') + '\n').toUtf8(), error);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.contains("--help") || args.contains("-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    QString error;
    const auto options = parse(args, error);
    if (!options) {
        std::fprintf(stderr, "qarn-make-demo-app: %s\n\n%s", qPrintable(error), kUsage);
        return 2;
    }
    if (!build(*options, error)) {
        std::fprintf(stderr, "qarn-make-demo-app: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
