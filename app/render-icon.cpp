// Renders an SVG picture into a PNG of the given width (the height keeps the picture's aspect);
// the build makes the program's icon-theme pictures with it so that they always match the
// scalable icon.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PICTURE.svg SIZE OUTPUT.png\n", argv[0]);
        return 2;
    }
    QGuiApplication app(argc, argv);
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    bool sizeOk = false;
    const int size = QByteArray(argv[2]).toInt(&sizeOk);
    if (!renderer.isValid() || !sizeOk || size <= 0 || size > 4096) {
        std::fprintf(stderr, "%s: cannot render %s at size %s\n", argv[0], argv[1], argv[2]);
        return 1;
    }
    const QSizeF natural = renderer.defaultSize();
    const int height =
        natural.width() > 0 ? qRound(size * natural.height() / natural.width()) : size;
    QImage image(size, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, height));
    }
    if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3]);
        return 1;
    }
    return 0;
}
