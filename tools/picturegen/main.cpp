// picturegen OUTDIR [--preview FILE] [NAME...]
// Paints the window pictures into OUTDIR (all of them, or only the NAMEs given) and, with
// --preview, composes the windows from the pictures in OUTDIR into FILE.
#include "Art.h"
#include "Pictures.h"

#include <QDir>
#include <QGuiApplication>
#include <QImageWriter>
#include <QStringList>

#include <cstdio>

namespace {

bool isOpaque(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(line[x]) != 255)
                return false;
    }
    return true;
}

// PNG with no text or time chunks, so that a rerun gives the same bytes.
bool writePng(const QImage &painted, const QString &path)
{
    QImage image = painted.convertToFormat(QImage::Format_ARGB32);
    if (isOpaque(image))
        image = image.convertToFormat(QImage::Format_RGB32);
    QImageWriter writer(path, "png");
    writer.setCompression(100); // Qt maps 0..100 onto zlib levels 0..9
    if (!writer.write(image)) {
        std::fprintf(stderr, "picturegen: %s: %s\n", qPrintable(path), qPrintable(writer.errorString()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString previewPath;
    const int previewAt = args.indexOf(QStringLiteral("--preview"));
    if (previewAt >= 0 && previewAt + 1 < args.size()) {
        previewPath = args.at(previewAt + 1);
        args.removeAt(previewAt + 1);
        args.removeAt(previewAt);
    }
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: picturegen OUTDIR [--preview FILE] [NAME...]\n");
        return 2;
    }
    const QString outDir = args.takeFirst();
    QString error;
    if (!Art::loadFonts(&error)) {
        std::fprintf(stderr, "picturegen: %s\n", qPrintable(error));
        return 1;
    }
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "picturegen: cannot create %s\n", qPrintable(outDir));
        return 1;
    }

    int written = 0;
    for (const Picture &picture : allPictures()) {
        if (!args.isEmpty() && !args.contains(picture.name))
            continue;
        if (!writePng(picture.make(), QDir(outDir).filePath(picture.name)))
            return 1;
        ++written;
    }
    if (!args.isEmpty() && written != args.size()) {
        std::fprintf(stderr, "picturegen: unknown picture name among %s\n", qPrintable(args.join(' ')));
        return 2;
    }
    if (!previewPath.isEmpty() && !composePreview(outDir).save(previewPath, "png")) {
        std::fprintf(stderr, "picturegen: cannot write %s\n", qPrintable(previewPath));
        return 1;
    }
    return 0;
}
