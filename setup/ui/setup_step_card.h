// One numbered setup step: a round badge (the number, or a check once done), the title with a
// done / not-set label, the explanation, and while the step is not done its one button.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>

class QLabel;
class QPushButton;

namespace setup {

class StepBadge;

class SetupStepCard : public QWidget {
  Q_OBJECT

 public:
  SetupStepCard(std::int64_t number, QString title, QString detail, bool ready,
                std::optional<QString> buttonTitle, std::function<void()> action,
                QWidget* parent = nullptr);

  // The panel hands the card its values again whenever the model changes.
  void setReady(bool ready);
  bool ready() const { return ready_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void apply();

  const std::int64_t number_;
  const QString title_;
  bool ready_;
  const std::optional<QString> buttonTitle_;
  const std::function<void()> action_;

  StepBadge* badge_;
  QLabel* status_;
  QWidget* buttonRow_ = nullptr;
};

}  // namespace setup
