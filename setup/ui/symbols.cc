#include "setup/ui/symbols.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPixmap>

#include "setup/ui/style.h"

namespace setup {
namespace {

// Every symbol is laid out in a 100 x 100 square; the circle fills it.
constexpr qreal kUnit = 100;

QPainterPath polyline(std::initializer_list<QPointF> points) {
  QPainterPath path;
  auto it = points.begin();
  path.moveTo(*it);
  for (++it; it != points.end(); ++it) path.lineTo(*it);
  return path;
}

// The outline of a stroke of `width` along `path`, with round ends and joins.
QPainterPath stroked(const QPainterPath& path, qreal width) {
  QPainterPathStroker stroker;
  stroker.setWidth(width);
  stroker.setCapStyle(Qt::RoundCap);
  stroker.setJoinStyle(Qt::RoundJoin);
  return stroker.createStroke(path).simplified();
}

QPainterPath checkMark(qreal width) {
  return stroked(polyline({{27, 52}, {43, 67}, {73, 35}}), width);
}

// A lightning bolt lying on its side, tip to the right.
QPainterPath bolt() {
  QPainterPath path;
  path.moveTo(15, 57);
  path.lineTo(50, 31);
  path.lineTo(48, 45);
  path.lineTo(85, 43);
  path.lineTo(50, 69);
  path.lineTo(52, 55);
  path.closeSubpath();
  return path;
}

// The mark inside a circled symbol, in the 100-unit square.
QPainterPath innerMark(Symbol symbol) {
  switch (symbol) {
    case Symbol::kBoltCircle:
      return bolt();
    case Symbol::kCheckCircle:
      return checkMark(10);
    case Symbol::kCrossCircle:
      return stroked(polyline({{35, 35}, {65, 65}}), 10)
          .united(stroked(polyline({{65, 35}, {35, 65}}), 10));
    case Symbol::kArrowDownCircle:
      return stroked(polyline({{50, 25}, {50, 70}}), 10)
          .united(stroked(polyline({{31, 53}, {50, 72}, {69, 53}}), 10));
    case Symbol::kCheck:
      break;
  }
  return {};
}

}  // namespace

void paintSymbol(QPainter& painter, Symbol symbol, const QRectF& box, const QColor& color,
                 const QColor& markColor) {
  const qreal side = std::min(box.width(), box.height());
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.translate(box.center() - QPointF(side / 2, side / 2));
  painter.scale(side / kUnit, side / kUnit);
  if (symbol == Symbol::kCheck) {
    painter.fillPath(checkMark(14), color);
  } else {
    QPainterPath circle;
    circle.addEllipse(QRectF(0, 0, kUnit, kUnit));
    const QPainterPath mark = innerMark(symbol);
    if (markColor.alpha() == 0) {
      painter.fillPath(circle.subtracted(mark), color);
    } else {
      painter.fillPath(circle, color);
      painter.fillPath(mark, markColor);
    }
  }
  painter.restore();
}

namespace {

// The application icon drawn at whatever size is asked for, when it is asked for.
class SymbolIconEngine : public QIconEngine {
 public:
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
    paintSymbol(*painter, Symbol::kBoltCircle, rect, tintColor(), Qt::white);
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paint(&painter, QRect(QPoint(), size), mode, state);
    return pixmap;
  }
  QIconEngine* clone() const override { return new SymbolIconEngine; }
};

}  // namespace

QIcon applicationIcon() {
  return QIcon(new SymbolIconEngine);
}

SymbolView::SymbolView(Symbol symbol, int size, QColor color, const QString& accessibleName,
                       QWidget* parent)
    : QLabel(parent), symbol_(symbol), color_(std::move(color)) {
  setFixedSize(size, size);
  setAccessibleName(accessibleName);
}

void SymbolView::setSymbol(Symbol symbol, QColor color, const QString& accessibleName) {
  symbol_ = symbol;
  color_ = std::move(color);
  setAccessibleName(accessibleName);
  update();
}

void SymbolView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paintSymbol(painter, symbol_, rect(), color_);
}

}  // namespace setup
