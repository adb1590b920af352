#include "setup/ui/mevrik_panel.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QShowEvent>
#include <QStyleOptionMenuItem>
#include <QVBoxLayout>

#include "setup/model/mevrik_model.h"
#include "setup/model/platform_texts.h"
#include "setup/ui/first_frame.h"
#include "setup/ui/setup_step_card.h"
#include "setup/ui/style.h"
#include "setup/ui/symbols.h"
#include "setup/ui/uninstall_dialog.h"

namespace setup {

// The update banner: a tinted, rounded box with the version, the notes and the download button.
class UpdateBanner : public QWidget {
 public:
  UpdateBanner(std::function<void()> download, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(15, 15, 15, 15);
    column->setSpacing(9);
    auto* title = new QHBoxLayout;
    title->addWidget(new SymbolView(Symbol::kArrowDownCircle, 18, tintColor(),
                                    QStringLiteral("アップデート"), this));
    title->addWidget(makeLabel(QStringLiteral("アップデートがあります"), TextStyle::kHeadline,
                               QFont::Bold, false, false, this));
    title->addStretch(1);
    version_ = makeLabel({}, TextStyle::kCaption, QFont::DemiBold, true, false, this);
    title->addWidget(version_);
    column->addLayout(title);
    notes_ = makeLabel({}, TextStyle::kSubheadline, QFont::Normal, true, true, this);
    column->addWidget(notes_);
    QPushButton* button = makeProminentButton(QStringLiteral("アップデートをダウンロード"), this);
    connect(button, &QPushButton::clicked, this, std::move(download));
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(button);
    buttonRow->addStretch(1);
    column->addLayout(buttonRow);
  }

  void present(const QString& version, const std::optional<QString>& notes) {
    version_->setText(QStringLiteral("v") + version);
    const bool hasNotes = notes && !notes->isEmpty();
    notes_->setText(hasNotes ? *notes : QString());
    notes_->setVisible(hasNotes);
    setVisible(true);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = tintColor();
    fill.setAlphaF(0.12f);
    painter.fillPath(smoothRoundedRect(QRectF(rect()), 14), fill);
  }

 private:
  QLabel* version_;
  QLabel* notes_;
};

namespace {

// Draws menu items marked "destructive" in red, as such items are shown on other desktops.
class DestructiveItemStyle : public QProxyStyle {
 public:
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    const auto* menu = qobject_cast<const QMenu*>(widget);
    if (element == CE_MenuItem && item && menu && isDestructive(*menu, item->text)) {
      QStyleOptionMenuItem red = *item;
      for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        red.palette.setColor(role, failureRed());
      QProxyStyle::drawControl(element, &red, painter, widget);
      return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
  }

 private:
  static bool isDestructive(const QMenu& menu, const QString& text) {
    for (const QAction* action : menu.actions()) {
      if (action->text() == text) return action->property("destructive").toBool();
    }
    return false;
  }
};

// The "その他" button, a class of its own so that its accessibility interface can be told apart.
// Its menu is made on the first press.
class MoreButton : public QPushButton {
  Q_OBJECT

 public:
  MoreButton(const QString& text, std::function<QMenu*()> makeMenu, QWidget* parent)
      : QPushButton(text, parent), makeMenu_(std::move(makeMenu)) {
    // Connected before setMenu's own handler exists: the first press attaches the menu and
    // opens it; later presses open it through QPushButton.
    connect(this, &QPushButton::pressed, this, [this] {
      if (menu()) return;
      prepareMenu();
      showMenu();
    });
  }

  void prepareMenu() {
    if (!menu()) setMenu(makeMenu_());
  }

 private:
  std::function<QMenu*()> makeMenu_;
};

// The "その他" button as the accessibility interface sees it: a menu button whose open menu is
// its child. Qt lists no pop-up window among an application's windows, so without this a tool
// that walks the tree (screen readers' review modes, vantic-ax) could never see the items.
class MoreButtonAccessible : public QAccessibleWidget {
 public:
  explicit MoreButtonAccessible(QWidget* button)
      : QAccessibleWidget(button, QAccessible::ButtonMenu) {}

  int childCount() const override { return openMenu() ? 1 : 0; }
  QAccessibleInterface* child(int index) const override {
    QMenu* menu = openMenu();
    return index == 0 && menu ? QAccessible::queryAccessibleInterface(menu) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child && openMenu() && child->object() == openMenu() ? 0 : -1;
  }
  QStringList actionNames() const override { return {showMenuAction()}; }
  void doAction(const QString& name) override {
    if (name != showMenuAction()) return;
    auto* button = static_cast<MoreButton*>(widget());
    button->prepareMenu();
    button->showMenu();
  }

 private:
  QMenu* openMenu() const {
    QMenu* menu = static_cast<QPushButton*>(widget())->menu();
    return menu && menu->isVisible() ? menu : nullptr;
  }
};

QAccessibleInterface* moreButtonAccessible(const QString& className, QObject* object) {
  if (className == QLatin1String(MoreButton::staticMetaObject.className()))
    return new MoreButtonAccessible(static_cast<QWidget*>(object));
  return nullptr;
}

}  // namespace

MevrikPanel::MevrikPanel(MevrikModel& model, std::chrono::milliseconds updatePeriod,
                         QWidget* parent)
    : QWidget(parent), model_(model) {
  setFixedWidth(kWidth);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(22, 22, 22, 22);
  column->setSpacing(18);

  buildHeader();

  auto* summary = new QVBoxLayout;
  summary->setSpacing(5);
  summaryTitle_ = makeLabel({}, TextStyle::kTitle3, QFont::Bold, false, true, this);
  summarySubtitle_ = makeLabel({}, TextStyle::kSubheadline, QFont::Normal, true, true, this);
  summary->addWidget(summaryTitle_);
  summary->addWidget(summarySubtitle_);
  column->addLayout(summary);

  const PlatformTexts& texts = platformTexts();
  accessibilityCard_ = new SetupStepCard(
      1, text(texts.accessibilityTitle), text(texts.accessibilityDetail), false,
      text(texts.accessibilityButton), [this] { model_.requestAccessibility(); }, this);
  codexCard_ = new SetupStepCard(
      2, QStringLiteral("Codexに追加"), QStringLiteral("MevrikプラグインをCodexへ追加します。"),
      false, QStringLiteral("Codexに追加する"), [this] { runScript(&MevrikModel::installCodex); },
      this);
  column->addWidget(accessibilityCard_);
  column->addWidget(codexCard_);

  auto* connection = new QHBoxLayout;
  connection->setSpacing(7);
  connectionSymbol_ = new SymbolView(Symbol::kCheckCircle, 14, successGreen(), {}, this);
  connection->addWidget(connectionSymbol_);
  connection->addWidget(makeLabel(QStringLiteral("Fennickサービスに接続済み"), TextStyle::kCaption,
                                  QFont::Normal, true, false, this));
  connection->addStretch(1);
  column->addLayout(connection);

  buildActions();

  status_ = makeLabel({}, TextStyle::kCaption, QFont::Normal, true, true, this);
  status_->setAccessibleDescription(QStringLiteral("状態"));
  column->addWidget(status_);

  updateTimer_.setInterval(updatePeriod);
  // A coarse timer may be off by 5 %, which is 18 minutes of a six-hour period.
  updateTimer_.setTimerType(Qt::PreciseTimer);
  connect(&updateTimer_, &QTimer::timeout, this, [this] { model_.checkForUpdates(false); });
  // Permission granted elsewhere meanwhile shows as soon as the user comes back.
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
    if (s == Qt::ApplicationActive && isVisible()) model_.refresh();
  });

  for (auto changed :
       {&MevrikModel::accessibilityChanged, &MevrikModel::configuredChanged,
        &MevrikModel::codexInstalledChanged, &MevrikModel::messageChanged,
        &MevrikModel::availableUpdateVersionChanged, &MevrikModel::availableUpdateNotesChanged}) {
    connect(&model_, changed, this, &MevrikPanel::reload);
  }
  UninstallConfirmation::of(model_).addPanel(this);
  reload();
}

void MevrikPanel::buildHeader() {
  auto* header = new QHBoxLayout;
  header->setSpacing(12);
  header->addWidget(
      new SymbolView(Symbol::kBoltCircle, 34, tintColor(), QStringLiteral("Mevrik"), this), 0,
      Qt::AlignTop);
  auto* names = new QVBoxLayout;
  names->setSpacing(2);
  names->addWidget(
      makeLabel(QStringLiteral("Mevrik"), TextStyle::kTitle2, QFont::Bold, false, false, this));
  names->addWidget(makeLabel(QStringLiteral("by Fennick"), TextStyle::kCaption, QFont::Normal, true,
                             false, this));
  header->addLayout(names, 1);
  static_cast<QVBoxLayout*>(layout())->addLayout(header);
}

void MevrikPanel::buildActions() {
  auto* row = new QHBoxLayout;
  auto* recheck = new QPushButton(QStringLiteral("状態を再確認"), this);
  connect(recheck, &QPushButton::clicked, &model_, &MevrikModel::refresh);
  row->addWidget(recheck);
  row->addStretch(1);

  static const bool factoryInstalled = [] {
    QAccessible::installFactory(moreButtonAccessible);
    return true;
  }();
  Q_UNUSED(factoryInstalled);
  auto* more = new MoreButton(
      QStringLiteral("その他"), [this] { return moreMenu(); }, this);
  more->setAccessibleName(more->text());
  moreButton_ = more;
  row->addWidget(more);
  static_cast<QVBoxLayout*>(layout())->addLayout(row);
}

QMenu* MevrikPanel::moreMenu() {
  if (moreMenu_) return moreMenu_;
  moreMenu_ = new QMenu(moreButton_);
  moreMenu_->setAccessibleName(QStringLiteral("その他"));
  auto* style = new DestructiveItemStyle;
  style->setParent(moreMenu_);
  moreMenu_->setStyle(style);
  moreMenu_->addAction(QStringLiteral("接続チェックを実行"), this,
                       [this] { runScript(&MevrikModel::runDoctor); });
  moreMenu_->addAction(QStringLiteral("アップデートを確認"), this,
                       [this] { model_.checkForUpdates(true); });
  moreMenu_->addSeparator();
  QAction* uninstall = moreMenu_->addAction(QStringLiteral("アンインストール…"), this, [this] {
    UninstallConfirmation::of(model_).request(this);
  });
  uninstall->setProperty("destructive", true);
  moreMenu_->addAction(QStringLiteral("アプリを終了"), qApp, &QCoreApplication::quit);
  return moreMenu_;
}

void MevrikPanel::showBanner() {
  if (banner_) return;
  banner_ = new UpdateBanner([this] { model_.downloadUpdate(); }, this);
  // Below the summary: the header and the summary come first.
  static_cast<QVBoxLayout*>(layout())->insertWidget(2, banner_);
}

void MevrikPanel::reload() {
  // Everything is derived afresh from the model each time; nothing is kept between reloads.
  const int remainingSteps = int(!model_.accessibility()) + int(!model_.codexInstalled());
  if (remainingSteps > 0) {
    summaryTitle_->setText(QStringLiteral("あと%1ステップで使えます").arg(remainingSteps));
    summarySubtitle_->setText(QStringLiteral("上から順番にボタンを押してください。"));
  } else {
    summaryTitle_->setText(QStringLiteral("セットアップ完了"));
    summarySubtitle_->setText(QStringLiteral("CodexからMevrikを利用できます。"));
  }
  if (const std::optional<QString> version = model_.availableUpdateVersion()) {
    showBanner();
    banner_->present(*version, model_.availableUpdateNotes());
  } else if (banner_) {
    banner_->setVisible(false);
  }
  accessibilityCard_->setReady(model_.accessibility());
  codexCard_->setReady(model_.codexInstalled());
  if (model_.configured()) {
    connectionSymbol_->setSymbol(Symbol::kCheckCircle, successGreen(), QStringLiteral("接続済み"));
  } else {
    connectionSymbol_->setSymbol(Symbol::kCrossCircle, failureRed(), QStringLiteral("未接続"));
  }
  status_->setText(model_.message());
  fitHeight();
}

void MevrikPanel::fitHeight() {
  // The panel is as tall as its content at its fixed width, wrapped labels included; the window
  // around it follows.
  layout()->activate();
  const int height = layout()->totalHeightForWidth(kWidth);
  if (height > 0 && height != this->height()) setFixedHeight(height);
}

bool MevrikPanel::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  if (event->type() == QEvent::LayoutRequest) fitHeight();
  return handled;
}

void MevrikPanel::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A window coming back from the minimised state is not a new appearance.
  if (event->spontaneous()) return;
  updateTimer_.start();
  // The launch calls, in their order, once the panel's frame is on screen: the first frame
  // already shows the state that the model read when it was made.
  runAfterNextFrame(*this, [this] {
    if (!isVisible()) return;
    model_.refresh();
    model_.registerInstallation();
    model_.requestAccessibilityOnFirstLaunch();
    model_.enableLaunchAtLogin();
    model_.checkForUpdates(false);
    emit cameOnScreen();
  });
}

void MevrikPanel::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (!event->spontaneous()) updateTimer_.stop();
}

void MevrikPanel::runScript(void (MevrikModel::*action)()) {
  BusyCursor busy;
  (model_.*action)();
}

}  // namespace setup

#include "mevrik_panel.moc"
