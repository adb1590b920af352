#include "setup/platform/qt_windows.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>

namespace setup {

bool bringQtWindowForward(const QString& identifier, const QString& title) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
  const QWidgetList widgets = QApplication::topLevelWidgets();
  // Only a window on screen is brought forward: a window the user closed stays closed (the
  // application lives on in the tray), whatever asks for it.
  auto matches = [&](const QWidget* w) {
    return w->isVisible() && (w->objectName() == identifier || w->windowTitle() == title);
  };
  // The window system's list gives a stable order (creation order).
  for (QWindow* window : QGuiApplication::topLevelWindows()) {
    for (QWidget* w : widgets) {
      if (w->windowHandle() != window || !matches(w)) continue;
      // Un-minimise, but keep a maximised or full-screen window as it is.
      w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
      w->raise();
      w->activateWindow();
      return true;
    }
  }
  return false;
}

}  // namespace setup
