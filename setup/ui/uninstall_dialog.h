// The uninstall confirmation, bound to the model's showUninstallConfirmation: shown while it is
// true, and closing it by either button writes false. One per model, so that with the window
// and the tray pop-up both on screen the user sees one dialog.
#pragma once

#include <QDialog>
#include <QList>
#include <QObject>
#include <QPointer>

namespace setup {

class MevrikModel;

class UninstallConfirmation : public QObject {
  Q_OBJECT

 public:
  // The confirmation of `model`, made on first use and owned by the model.
  static UninstallConfirmation& of(MevrikModel& model);

  // Panels that may carry the dialog.
  void addPanel(QWidget* panel);
  // Asks for the confirmation from `panel` (the dialog is attached to its window).
  void request(QWidget* panel);
  // The dialog on screen, or null.
  QDialog* dialog() const { return dialog_; }

 private:
  explicit UninstallConfirmation(MevrikModel& model);
  void follow();
  void open();
  void finish(bool uninstall);

  MevrikModel& model_;
  QList<QPointer<QWidget>> panels_;
  QPointer<QWidget> requester_;
  QPointer<QDialog> dialog_;
};

}  // namespace setup
