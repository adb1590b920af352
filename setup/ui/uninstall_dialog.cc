#include "setup/ui/uninstall_dialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "setup/model/mevrik_model.h"
#include "setup/ui/style.h"

namespace setup {
namespace {

constexpr int kDialogWidth = 380;

}  // namespace

UninstallConfirmation& UninstallConfirmation::of(MevrikModel& model) {
  auto* existing = model.findChild<UninstallConfirmation*>(QString(), Qt::FindDirectChildrenOnly);
  return existing ? *existing : *new UninstallConfirmation(model);
}

UninstallConfirmation::UninstallConfirmation(MevrikModel& model) : QObject(&model), model_(model) {
  connect(&model_, &MevrikModel::showUninstallConfirmationChanged, this,
          &UninstallConfirmation::follow);
}

void UninstallConfirmation::addPanel(QWidget* panel) {
  panels_.append(panel);
}

void UninstallConfirmation::request(QWidget* panel) {
  requester_ = panel;
  model_.setShowUninstallConfirmation(true);
}

void UninstallConfirmation::follow() {
  const bool wanted = model_.showUninstallConfirmation();
  if (wanted && !dialog_) {
    open();
  } else if (!wanted && dialog_) {
    QDialog* dialog = dialog_;
    dialog_ = nullptr;
    dialog->disconnect(this);
    dialog->hide();
    dialog->deleteLater();
  }
}

void UninstallConfirmation::open() {
  // Attached to the window of the panel that asked, else to the first panel on screen.
  QWidget* anchor = requester_ && requester_->isVisible() ? requester_.data() : nullptr;
  for (const QPointer<QWidget>& panel : std::as_const(panels_)) {
    if (!anchor && panel && panel->isVisible()) anchor = panel;
  }
  auto* dialog = new QDialog(
      anchor ? anchor->window() : nullptr,
      Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  dialog->setObjectName(QStringLiteral("uninstallConfirmation"));
  dialog->setWindowTitle(QStringLiteral("Mevrik"));
  dialog->setWindowModality(Qt::WindowModal);
  auto* column = new QVBoxLayout(dialog);
  column->setContentsMargins(20, 20, 20, 16);
  column->setSpacing(10);
  column->addWidget(makeLabel(QStringLiteral("Mevrikをアンインストールしますか？"),
                              TextStyle::kHeadline, QFont::Bold, false, true, dialog));
  column->addWidget(makeLabel(QStringLiteral("Codexプラグイン、キャッシュ、保存済みAPIキーを削除"
                                             "します。他のプラグインや設定は残ります。"),
                              TextStyle::kBody, QFont::Normal, false, true, dialog));
  column->addSpacing(6);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  // Cancel comes first and holds the focus, so that Return never removes anything unasked;
  // Escape cancels too (QDialog's reject).
  auto* cancel = new QPushButton(QStringLiteral("キャンセル"), dialog);
  auto* remove = new QPushButton(QStringLiteral("アンインストール"), dialog);
  QPalette red = remove->palette();
  red.setColor(QPalette::ButtonText, failureRed());
  remove->setPalette(red);
  cancel->setDefault(true);
  buttons->addWidget(cancel);
  buttons->addWidget(remove);
  column->addLayout(buttons);
  connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  connect(remove, &QPushButton::clicked, dialog, &QDialog::accept);
  connect(dialog, &QDialog::finished, this,
          [this](int result) { finish(result == QDialog::Accepted); });

  dialog->setFixedSize(kDialogWidth, column->totalHeightForWidth(kDialogWidth));
  dialog_ = dialog;
  dialog->show();
  cancel->setFocus();
}

void UninstallConfirmation::finish(bool uninstall) {
  model_.setShowUninstallConfirmation(false);
  if (!uninstall) return;
  BusyCursor busy;
  model_.uninstall();
}

}  // namespace setup
