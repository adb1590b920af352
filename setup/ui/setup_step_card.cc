#include "setup/ui/setup_step_card.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "setup/ui/style.h"
#include "setup/ui/symbols.h"

namespace setup {

// The card's round badge: the step's number on the accent colour, or a white check on green.
class StepBadge : public QLabel {
 public:
  StepBadge(std::int64_t number, QWidget* parent) : QLabel(parent), number_(number) {
    setFixedSize(34, 34);
    setAccessibleName(QStringLiteral("ステップ%1").arg(number));
  }
  void setReady(bool ready) {
    ready_ = ready;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ready_ ? successGreen() : palette().color(QPalette::Highlight));
    painter.drawEllipse(QRectF(rect()));
    const QRectF mark(QPointF(10, 10), QSizeF(14, 14));
    if (ready_) {
      paintSymbol(painter, Symbol::kCheck, mark, Qt::white);
    } else {
      painter.setPen(Qt::white);
      painter.setFont(textFont(TextStyle::kBody, QFont::Bold));
      QFont font = painter.font();
      font.setPixelSize(14);
      painter.setFont(font);
      painter.drawText(QRectF(rect()), Qt::AlignCenter, QString::number(number_));
    }
  }

 private:
  const std::int64_t number_;
  bool ready_ = false;
};

SetupStepCard::SetupStepCard(std::int64_t number, QString title, QString detail, bool ready,
                             std::optional<QString> buttonTitle, std::function<void()> action,
                             QWidget* parent)
    : QWidget(parent),
      number_(number),
      title_(std::move(title)),
      ready_(ready),
      buttonTitle_(std::move(buttonTitle)),
      action_(std::move(action)) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(15, 15, 15, 15);
  row->setSpacing(14);
  badge_ = new StepBadge(number_, this);
  row->addWidget(badge_, 0, Qt::AlignTop);

  auto* column = new QVBoxLayout;
  column->setSpacing(5);
  row->addLayout(column, 1);

  auto* heading = new QHBoxLayout;
  heading->addWidget(makeLabel(title_, TextStyle::kHeadline, QFont::Bold, false, false, this));
  heading->addStretch(1);
  status_ = makeLabel({}, TextStyle::kCaption, QFont::DemiBold, false, false, this);
  heading->addWidget(status_);
  column->addLayout(heading);

  QLabel* detailLabel = makeLabel(detail, TextStyle::kSubheadline, QFont::Normal, true, true, this);
  column->addWidget(detailLabel);

  if (buttonTitle_) {
    buttonRow_ = new QWidget(this);
    auto* buttonLayout = new QHBoxLayout(buttonRow_);
    buttonLayout->setContentsMargins(0, 7, 0, 0);
    QPushButton* button = makeProminentButton(*buttonTitle_, buttonRow_);
    connect(button, &QPushButton::clicked, this, [this] {
      if (action_) action_();
    });
    buttonLayout->addWidget(button);
    buttonLayout->addStretch(1);
    column->addWidget(buttonRow_);
  }
  apply();
}

void SetupStepCard::setReady(bool ready) {
  if (ready == ready_) return;
  ready_ = ready;
  apply();
}

void SetupStepCard::apply() {
  badge_->setReady(ready_);
  status_->setText(ready_ ? QStringLiteral("完了") : QStringLiteral("未設定"));
  setLabelColor(*status_, ready_ ? successGreen() : secondaryColor(*this));
  // A done step shows no button; hidden, it takes no room either.
  if (buttonRow_) buttonRow_->setVisible(!ready_);
  setAccessibleName(title_ + u' ' + status_->text());
}

void SetupStepCard::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor fill = palette().color(QPalette::WindowText);
  fill.setAlphaF(0.055f);
  painter.fillPath(smoothRoundedRect(QRectF(rect()), 14), fill);
}

}  // namespace setup
