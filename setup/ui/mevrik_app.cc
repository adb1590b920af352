#include "setup/ui/mevrik_app.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include "setup/platform/services.h"
#include "setup/ui/consent_dialog.h"
#include "setup/ui/first_frame.h"
#include "setup/ui/mevrik_panel.h"
#include "setup/ui/symbols.h"

namespace setup {
namespace {

// Room left between the tray icon and the pop-up.
constexpr int kGap = 4;

// The tray pop-up's window: frameless, above other windows, with a thin border of its own.
class PopupFrame : public QWidget {
 public:
  PopupFrame() : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }
};

}  // namespace

QPoint popupPosition(QSize size, QRect anchor, QPoint pointer, QRect available) {
  if (anchor.isEmpty()) anchor = QRect(pointer, QSize(1, 1));
  int x = anchor.center().x() - size.width() / 2;
  int y = anchor.bottom() + 1 + kGap;
  // A tray at the bottom of the screen: open upwards.
  if (y + size.height() > available.bottom() + 1) y = anchor.top() - kGap - size.height();
  x = std::max(available.left(), std::min(x, available.right() + 1 - size.width()));
  y = std::max(available.top(), std::min(y, available.bottom() + 1 - size.height()));
  return {x, y};
}

MevrikApp::MevrikApp(Services& services, ModelSettings settings,
                     std::chrono::milliseconds updatePeriod)
    : services_(services), settings_(std::move(settings)), updatePeriod_(updatePeriod) {
  // Connected before the model exists, so before the model's own wait for registrations on
  // their way: the user sees the application gone at once, and the wait happens unseen.
  connect(qApp, &QCoreApplication::aboutToQuit, this, &MevrikApp::hideEverything);
}

void MevrikApp::hideEverything() {
  if (tray_) tray_->hide();
  for (QWidget* widget : QApplication::topLevelWidgets()) widget->hide();
  // The hiding reaches the display now, not after the wait.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// The windows go before the model that their panels read.
MevrikApp::~MevrikApp() {
  tray_.reset();
  popup_.reset();
  window_.reset();
}

MevrikModel& MevrikApp::model() {
  if (!model_) {
    model_ = std::make_unique<MevrikModel>(services_, settings_);
    connect(model_.get(), &MevrikModel::accessibilityConsentRequested, this,
            &MevrikApp::askConsent);
  }
  return *model_;
}

void MevrikApp::start() {
  window_ = std::make_unique<QWidget>();
  window_->setObjectName(QString::fromLatin1(kWindowIdentifier));
  window_->setWindowTitle(QString::fromUtf8(kWindowTitle));
  // Fixed size: no maximise button.
  window_->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint);
  auto* layout = new QVBoxLayout(window_.get());
  layout->setContentsMargins(0, 0, 0, 0);
  // The window is exactly as large as the panel, which follows its content: not resizable.
  layout->setSizeConstraint(QLayout::SetFixedSize);
  windowPanel_ = new MevrikPanel(model(), updatePeriod_, window_.get());
  layout->addWidget(windowPanel_);
  // The window's own hook: activate, then one event-loop turn later bring it to the front.
  connect(windowPanel_, &MevrikPanel::cameOnScreen, this, [this] {
    services_.activateApplication();
    QTimer::singleShot(0, this, &MevrikApp::bringWindowToFront);
  });

  window_->show();
  // The window icon (drawn at four sizes for the window manager) and the tray icon come after
  // the window's first frame, which need not wait for them or for the tray's round trips.
  runAfterNextFrame(*window_, [this] {
    window_->setWindowIcon(applicationIcon());
    startTray();
  });
}

void MevrikApp::startTray() {
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    tray_ = std::make_unique<QSystemTrayIcon>(applicationIcon());
    tray_->setToolTip(QString::fromUtf8(kWindowTitle));
    connect(tray_.get(), &QSystemTrayIcon::activated, this, &MevrikApp::trayActivated);
    tray_->show();
  }
  // Without a tray, a closed window would leave a process nobody can reach.
  QApplication::setQuitOnLastWindowClosed(!tray_);
}

void MevrikApp::bringWindowToFront() {
  services_.bringWindowForward(QString::fromLatin1(kWindowIdentifier),
                               QString::fromUtf8(kWindowTitle));
}

void MevrikApp::showWindow() {
  if (!window_) return;
  window_->show();
  services_.activateApplication();
  bringWindowToFront();
}

void MevrikApp::buildPopup() {
  auto* frame = new PopupFrame;
  popup_.reset(frame);
  frame->setObjectName(QStringLiteral("trayPopup"));
  frame->setWindowTitle(QStringLiteral("Mevrik"));
  auto* layout = new QVBoxLayout(frame);
  layout->setContentsMargins(1, 1, 1, 1);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  popupPanel_ = new MevrikPanel(model(), updatePeriod_, frame);
  layout->addWidget(popupPanel_);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), frame);
  connect(escape, &QShortcut::activated, frame, &QWidget::hide);
  // The pop-up closes when the focus leaves the application or goes to the setup window; our
  // own menu and dialog opened from it keep it open.
  connect(qApp, &QGuiApplication::focusWindowChanged, this, &MevrikApp::followFocus);
}

void MevrikApp::followFocus(QWindow* focused) {
  if (!popup_ || !popup_->isVisible()) return;
  if (!focused || (window_ && focused == window_->windowHandle())) popup_->hide();
}

void MevrikApp::trayActivated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger: {
      // A second click within the double-click time belongs to the first one's gesture.
      const bool sameGesture = lastTrayClick_.isValid() &&
                               lastTrayClick_.elapsed() < QApplication::doubleClickInterval();
      lastTrayClick_.start();
      if (sameGesture) {
        showPopup();
      } else {
        togglePopup();
      }
      break;
    }
    case QSystemTrayIcon::DoubleClick:
      showPopup();
      break;
    default:  // the middle click, the context click and what else a tray may report
      break;
  }
}

void MevrikApp::togglePopup() {
  if (popup_ && popup_->isVisible()) {
    popup_->hide();
    return;
  }
  showPopup();
}

void MevrikApp::askConsent() {
  if (consent_) return;
  QWidget* parent = window_ && window_->isVisible() ? window_.get() : nullptr;
  if (!parent && popup_ && popup_->isVisible()) parent = popup_.get();
  consent_ = askAccessibilityConsent(parent, [this] { model().requestAccessibility(); });
}

void MevrikApp::showPopup() {
  // Made on first use: the window's first frame does not wait for a second panel.
  if (!popup_) buildPopup();
  if (popup_->isVisible()) return;
  popup_->adjustSize();
  const QPoint pointer = QCursor::pos();
  const QRect anchor = tray_ ? tray_->geometry() : QRect();
  QScreen* screen = QGuiApplication::screenAt(anchor.isEmpty() ? pointer : anchor.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  popup_->move(popupPosition(popup_->size(), anchor, pointer, screen->availableGeometry()));
  popup_->show();
  popup_->raise();
  popup_->activateWindow();
}

}  // namespace setup
