// Draws SVG drawings as PNG pictures, for a build of the window that has no Qt Svg:
//   qarn-render-illustrations SCALE OUT_FOLDER FILE.svg...
// Each FILE.svg becomes OUT_FOLDER/FILE.png at SCALE times the drawing's own size, on a
// transparent background.

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    bool scaleOk = false;
    const int scale = args.value(0).toInt(&scaleOk);
    if (args.size() < 3 || !scaleOk || scale < 1 || scale > 16) {
        std::fprintf(stderr, "usage: qarn-render-illustrations SCALE OUT_FOLDER FILE.svg...\n");
        return 2;
    }
    const QDir out(args[1]);
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(out.path()));
        return 1;
    }
    for (const QString &file : args.mid(2)) {
        QSvgRenderer renderer(file);
        if (!renderer.isValid()) {
            std::fprintf(stderr, "%s: not a drawing\n", qPrintable(file));
            return 1;
        }
        QImage picture(renderer.defaultSize() * scale, QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        renderer.render(&painter);
        painter.end();
        const QString target = out.filePath(QFileInfo(file).completeBaseName() + ".png");
        if (!picture.save(target, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(target));
            return 1;
        }
    }
    return 0;
}
