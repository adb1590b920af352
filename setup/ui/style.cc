#include "setup/ui/style.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
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
  QFont font = QApplication::font();
  if (QFontDatabase::families().contains(kJapaneseFamily)) font.setFamilies({kJapaneseFamily});
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

QPushButton* makeProminentButton(const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setFont(textFont(TextStyle::kBody, QFont::DemiBold));
  button->setMinimumHeight(30);
  button->setCursor(Qt::PointingHandCursor);
  const QColor tint = tintColor();
  button->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border: none;"
                                       " border-radius: 7px; padding: 5px 16px; }"
                                       "QPushButton:hover { background: %2; }"
                                       "QPushButton:pressed { background: %3; }"
                                       "QPushButton:focus { border: 2px solid %3; }")
                            .arg(tint.name(), tint.lighter(110).name(), tint.darker(125).name()));
  return button;
}

BusyCursor::BusyCursor() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

BusyCursor::~BusyCursor() {
  QApplication::restoreOverrideCursor();
}

}  // namespace setup
