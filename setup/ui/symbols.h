// The setup application's symbols, drawn as vector paths so that they stay sharp at every scale
// (1x, 2x, fractional) without image files.
#pragma once

#include <QColor>
#include <QIcon>
#include <QLabel>
#include <QRectF>

class QPainter;

namespace setup {

enum class Symbol {
  kBoltCircle,       // a filled circle with a horizontal lightning bolt cut out: the product
  kCheck,            // a bold check mark
  kCheckCircle,      // a filled circle with a check mark cut out
  kCrossCircle,      // a filled circle with a cross cut out
  kArrowDownCircle,  // a filled circle with a downward arrow cut out
};

// Draws `symbol` filling the square centred in `box`, in `color`. The mark inside a circle is
// painted in `markColor`, or cut out (the background shows through) when that is transparent.
void paintSymbol(QPainter& painter, Symbol symbol, const QRectF& box, const QColor& color,
                 const QColor& markColor = Qt::transparent);

// The application and tray icon: the bolt circle in the tint on a white disc, at the usual icon
// sizes.
QIcon applicationIcon();

// A symbol shown at a fixed size in points. It is a label for the accessibility interface, with
// the name that the panel gives it.
class SymbolView : public QLabel {
  Q_OBJECT

 public:
  SymbolView(Symbol symbol, int size, QColor color, const QString& accessibleName,
             QWidget* parent = nullptr);
  void setSymbol(Symbol symbol, QColor color, const QString& accessibleName);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Symbol symbol_;
  QColor color_;
};

}  // namespace setup
