// mevrik-icons OUTDIR: writes the application icon as hicolor PNGs
// (OUTDIR/NxN/apps/mevrik.png), drawn by the same code as the window and tray icons. The build
// runs it for the installation.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <cstdio>

#include "setup/ui/style.h"
#include "setup/ui/symbols.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: mevrik-icons OUTDIR\n", stderr);
    return 2;
  }
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString folder =
        QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    setup::paintSymbol(painter, setup::Symbol::kBoltCircle, QRectF(0, 0, size, size),
                       setup::tintColor(), Qt::white);
    painter.end();
    if (!QDir().mkpath(folder) || !image.save(folder + QStringLiteral("/mevrik.png"))) {
      std::fprintf(stderr, "mevrik-icons: cannot write %s\n", qPrintable(folder));
      return 1;
    }
  }
  return 0;
}
