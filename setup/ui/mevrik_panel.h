// The setup panel: the summary of what remains, the update banner, the two step cards, the
// connection line, the commands and the status line, all read from the one model. The setup
// window and the tray pop-up each show one.
#pragma once

#include <QTimer>
#include <QWidget>
#include <chrono>

class QLabel;
class QMenu;
class QPushButton;

namespace setup {

class MevrikModel;
class SetupStepCard;
class SymbolView;
class UpdateBanner;

class MevrikPanel : public QWidget {
  Q_OBJECT

 public:
  static constexpr std::chrono::seconds kUpdatePeriod{21600};
  static constexpr int kWidth = 440;

  // `model` must outlive the panel. `updatePeriod` is how often a shown panel checks for
  // updates (tests shorten it).
  explicit MevrikPanel(MevrikModel& model, std::chrono::milliseconds updatePeriod = kUpdatePeriod,
                       QWidget* parent = nullptr);

  // The "その他" menu, made on first use (the first press of its button): the first frame
  // does not wait for a menu and its style.
  QMenu* moreMenu();

 signals:
  // The panel came on screen (hidden to shown), its frame was drawn, and it made its launch
  // calls.
  void cameOnScreen();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void buildHeader();
  void buildActions();
  void showBanner();
  void reload();
  void fitHeight();
  // Runs one of the model's script actions with a busy cursor: the window does not respond
  // until the script ends.
  void runScript(void (MevrikModel::*action)());

  MevrikModel& model_;
  QTimer updateTimer_;

  QLabel* summaryTitle_;
  QLabel* summarySubtitle_;
  UpdateBanner* banner_ = nullptr;  // made when an update is first offered
  SetupStepCard* accessibilityCard_;
  SetupStepCard* codexCard_;
  SymbolView* connectionSymbol_;
  QPushButton* moreButton_ = nullptr;
  QMenu* moreMenu_ = nullptr;
  QLabel* status_;
};

}  // namespace setup
