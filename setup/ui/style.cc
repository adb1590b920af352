#include "setup/ui/style.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace setup {
namespace {

const QString kJapaneseFamily = QStringLiteral("Noto Sans CJK JP");

// Sizes in points (Qt's device-independent pixels) of the text styles.
int pixelSize(TextStyle style) {
  switch (style) {
    case TextStyle::kTitle2:
      return 20;
    case TextStyle::kTitle3:
      return 17;
    case TextStyle::kHeadline:
      return 14;
    case TextStyle::kSubheadline:
      return 12;
    case TextStyle::kCaption:
      return 11;
    case TextStyle::kBody:
      break;
  }
  return 13;
}

}  // namespace

QColor tintColor() {
  return QColor::fromRgbF(0.49f, 0.36f, 0.99f);
}

QColor successGreen() {
  return QColor(40, 175, 75);
}

QColor failureRed() {
  return QColor(230, 55, 45);
}

QColor secondaryColor(const QWidget& widget) {
  QColor color = widget.palette().color(QPalette::WindowText);
  color.setAlphaF(0.6f);
  return color;
}

void useJapaneseFont() {
  // Named first, the family is used where installed; elsewhere the default family stays. No
  // lookup of the installed families is needed (listing them all costs start-up time).
  QFont font = QApplication::font();
  font.setFamilies({kJapaneseFamily, font.family()});
  font.setPixelSize(pixelSize(TextStyle::kBody));
  QApplication::setFont(font);
}

QFont textFont(TextStyle style, QFont::Weight weight) {
  QFont font = QApplication::font();
  font.setPixelSize(pixelSize(style));
  font.setWeight(weight);
  return font;
}

QLabel* makeLabel(const QString& text, TextStyle style, QFont::Weight weight, bool secondary,
                  bool wrap, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setFont(textFont(style, weight));
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(wrap);
  if (secondary) setLabelColor(*label, secondaryColor(*label));
  return label;
}

void setLabelColor(QLabel& label, const QColor& color) {
  QPalette palette = label.palette();
  palette.setColor(QPalette::WindowText, color);
  label.setPalette(palette);
}

QPainterPath smoothRoundedRect(const QRectF& rect, qreal radius) {
  // Each corner is one cubic curve from 1.28 radii before the corner to 1.28 radii after it,
  // with both control points 0.3 radii from the corner along the edges.
  const qreal reach = std::min({radius * 1.28, rect.width() / 2, rect.height() / 2});
  const qreal pull = radius * 0.3;
  const qreal l = rect.left(), r = rect.right(), t = rect.top(), b = rect.bottom();
  QPainterPath path;
  path.moveTo(l + reach, t);
  path.lineTo(r - reach, t);
  path.cubicTo(r - pull, t, r, t + pull, r, t + reach);
  path.lineTo(r, b - reach);
  path.cubicTo(r, b - pull, r - pull, b, r - reach, b);
  path.lineTo(l + reach, b);
  path.cubicTo(l + pull, b, l, b - pull, l, b - reach);
  path.lineTo(l, t + reach);
  path.cubicTo(l, t + pull, l + pull, t, l + reach, t);
  path.closeSubpath();
  return path;
}

namespace {

// Painted by hand rather than through a style sheet: a style sheet gives each button a style
// object of its own, which costs start-up time for three buttons.
class ProminentButton : public QPushButton {
 public:
  ProminentButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setFont(textFont(TextStyle::kBody, QFont::DemiBold));
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
  }

  QSize sizeHint() const override {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 2 * kPadding, std::max(30, metrics.height() + 10)};
  }
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = tintColor();
    if (isDown()) {
      fill = fill.darker(125);
    } else if (underMouse()) {
      fill = fill.lighter(110);
    }
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(hasFocus() ? QPen(tintColor().darker(140), 2) : Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(box, 7, 7);
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, text());
  }

 private:
  static constexpr int kPadding = 16;
};

}  // namespace

QPushButton* makeProminentButton(const QString& text, QWidget* parent) {
  return new ProminentButton(text, parent);
}

BusyCursor::BusyCursor() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

BusyCursor::~BusyCursor() {
  QApplication::restoreOverrideCursor();
}

}  // namespace setup
