// Renders the application's SVG icon into the PNG files of a macOS icon set (a folder named
// NAME.iconset), which iconutil packs into the bundle's .icns. Each size is drawn from the SVG
// itself rather than scaled down from a large bitmap, so small sizes stay sharp. Apple builds run
// it at build time; Qt's SVG image plugin does the drawing.
//
//   mevrik-render-icon ICON.svg OUT.iconset
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QSize>
#include <QString>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: mevrik-render-icon ICON.svg OUT.iconset\n");
    return 2;
  }
  const QString svg = QString::fromLocal8Bit(argv[1]);
  const QDir out(QString::fromLocal8Bit(argv[2]));
  if (!out.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "mevrik-render-icon: cannot make %s\n", argv[2]);
    return 1;
  }
  // iconutil's names: each point size at 1x and 2x.
  for (const int points : {16, 32, 128, 256, 512}) {
    for (const int scale : {1, 2}) {
      const int pixels = points * scale;
      QImageReader reader(svg);
      reader.setScaledSize(QSize(pixels, pixels));
      const QImage image = reader.read();
      const QString name = QStringLiteral("icon_%1x%1%2.png")
                               .arg(points)
                               .arg(scale == 2 ? QStringLiteral("@2x") : QString());
      if (image.isNull() || !image.save(out.filePath(name), "PNG")) {
        std::fprintf(stderr, "mevrik-render-icon: %s: %s\n", argv[1],
                     qPrintable(reader.errorString()));
        return 1;
      }
    }
  }
  return 0;
}
