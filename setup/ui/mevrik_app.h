// The setup application as a whole: the one model, the setup window and the tray icon with its
// pop-up, both showing a MevrikPanel on that model.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QSystemTrayIcon>
#include <QWidget>
#include <chrono>
#include <memory>

#include "setup/model/mevrik_model.h"

namespace setup {

class MevrikPanel;
class Services;

class MevrikApp : public QObject {
  Q_OBJECT

 public:
  static constexpr char kWindowIdentifier[] = "setup";
  static constexpr char kWindowTitle[] = "Mevrik by Fennick";

  // `services` must outlive the application. Nothing is created yet: the model comes with its
  // first use, the windows with start().
  MevrikApp(Services& services, ModelSettings settings,
            std::chrono::milliseconds updatePeriod = std::chrono::seconds(21600));
  ~MevrikApp() override;

  // The one model of the process, constructed on first use.
  MevrikModel& model();

  // Opens the setup window and, where the desktop has a tray, puts the icon there. Without a
  // tray, closing the window quits; with one, the application stays in the tray.
  void start();
  // What a second start of the program asks for: the window, shown and in front.
  void showWindow();
  // Opens the pop-up at the tray icon (or at the pointer when the tray tells no place), or
  // closes it when it is open.
  void togglePopup();
  // What the tray icon reports. One gesture is one activation: a click toggles the pop-up, a
  // double click (which trays report as a click and then a double click, or as two clicks)
  // leaves it open; the middle and the context click do nothing.
  void trayActivated(QSystemTrayIcon::ActivationReason reason);

  QWidget* window() const { return window_.get(); }
  QWidget* popup() const { return popup_.get(); }
  MevrikPanel* windowPanel() const { return windowPanel_; }
  MevrikPanel* popupPanel() const { return popupPanel_; }
  QSystemTrayIcon* trayIcon() const { return tray_.get(); }
  // The first launch's accessibility question while it is on screen.
  QWidget* consentDialog() const { return consent_; }

 private:
  void startTray();
  void buildPopup();
  void bringWindowToFront();
  void followFocus(QWindow* focused);
  void showPopup();
  void askConsent();
  void hideEverything();

  Services& services_;
  ModelSettings settings_;
  std::chrono::milliseconds updatePeriod_;
  std::unique_ptr<MevrikModel> model_;
  std::unique_ptr<QWidget> window_;
  MevrikPanel* windowPanel_ = nullptr;
  std::unique_ptr<QWidget> popup_;
  MevrikPanel* popupPanel_ = nullptr;
  std::unique_ptr<QSystemTrayIcon> tray_;
  // Since the last click on the tray icon, to tell a double click's second click from a new one.
  QElapsedTimer lastTrayClick_;
  QPointer<QWidget> consent_;
};

// Where a pop-up of `size` goes: centred below `anchor` (the tray icon), or above it where
// there is no room below; at `pointer` when the anchor is empty; always inside `available`.
QPoint popupPosition(QSize size, QRect anchor, QPoint pointer, QRect available);

}  // namespace setup
