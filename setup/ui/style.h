// Colours, text styles and the prominent button of the setup panel, in one place.
#pragma once

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QRectF>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

namespace setup {

// The panel's tint: sRGB 0.49 / 0.36 / 0.99.
QColor tintColor();
QColor successGreen();
QColor failureRed();
// Secondary text: the widget's text colour, faded.
QColor secondaryColor(const QWidget& widget);

enum class TextStyle { kBody, kTitle2, kTitle3, kHeadline, kSubheadline, kCaption };

// The application's font family: Noto Sans CJK JP when installed, so that the Japanese texts
// show Japanese glyph forms whatever the locale's font preferences pick; else the default.
void useJapaneseFont();
QFont textFont(TextStyle style, QFont::Weight weight = QFont::Normal);

// A label in a text style; `secondary` fades its colour. Long texts wrap when `wrap` is set.
QLabel* makeLabel(const QString& text, TextStyle style, QFont::Weight weight, bool secondary,
                  bool wrap, QWidget* parent);
// Recolours a label made by makeLabel.
void setLabelColor(QLabel& label, const QColor& color);

// A rounded rectangle with continuous ("smooth") corners: each corner's curve starts further out
// than a circular arc of `radius` would and bends more gently, so that there is no visible
// kink where the straight edge meets the curve.
QPainterPath smoothRoundedRect(const QRectF& rect, qreal radius);

// A button filled with the tint, white text, large control size.
QPushButton* makeProminentButton(const QString& text, QWidget* parent);

// The wait cursor for the length of a synchronous script run (the window does not respond
// meanwhile). The cursor change reaches the window system before the run blocks the event loop.
class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace setup
