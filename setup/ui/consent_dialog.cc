#include "setup/ui/consent_dialog.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "setup/model/platform_texts.h"
#include "setup/ui/style.h"

namespace setup {
namespace {

constexpr int kDialogWidth = 380;

}  // namespace

QDialog* askAccessibilityConsent(QWidget* parent, std::function<void()> accept) {
  const PlatformTexts& texts = platformTexts();
  auto* dialog = new QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                         Qt::WindowCloseButtonHint);
  dialog->setObjectName(QStringLiteral("accessibilityConsent"));
  dialog->setWindowTitle(QStringLiteral("Mevrik"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  auto* column = new QVBoxLayout(dialog);
  column->setContentsMargins(20, 20, 20, 16);
  column->setSpacing(10);
  column->addWidget(
      makeLabel(text(texts.consentTitle), TextStyle::kHeadline, QFont::Bold, false, true, dialog));
  column->addWidget(
      makeLabel(text(texts.consentText), TextStyle::kBody, QFont::Normal, false, true, dialog));
  column->addWidget(makeLabel(text(texts.consentDetail), TextStyle::kSubheadline, QFont::Normal,
                              true, true, dialog));
  column->addSpacing(6);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* decline = new QPushButton(text(texts.consentDecline), dialog);
  auto* yes = makeProminentButton(text(texts.consentAccept), dialog);
  // The user was asked a question: Return answers it as proposed, Escape declines.
  yes->setDefault(true);
  buttons->addWidget(decline);
  buttons->addWidget(yes);
  column->addLayout(buttons);
  QObject::connect(decline, &QPushButton::clicked, dialog, &QDialog::reject);
  QObject::connect(yes, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(dialog, &QDialog::accepted, dialog, std::move(accept));

  dialog->setFixedSize(kDialogWidth, column->totalHeightForWidth(kDialogWidth));
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
  yes->setFocus();
  return dialog;
}

}  // namespace setup
