#include "setup/platform/qt_windows.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>

namespace setup {

bool bringQtWindowForward(const QString& identifier, const QString& title) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
  const QWidgetList widgets = QApplication::topLevelWidgets();
  auto matches = [&](const QWidget* w) {
    return w->objectName() == identifier || w->windowTitle() == title;
  };
  auto raise = [](QWidget* w) {
    // Un-minimise, but keep a maximised or full-screen window as it is.
    w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    w->show();
    w->raise();
    w->activateWindow();
  };
  // The window system's list gives a stable order (creation order); widgets that were never
  // shown have no window yet and come after it.
  for (QWindow* window : QGuiApplication::topLevelWindows()) {
    for (QWidget* w : widgets) {
      if (w->windowHandle() == window && matches(w)) {
        raise(w);
        return true;
      }
    }
  }
  for (QWidget* w : widgets) {
    if (!w->windowHandle() && w->isWindow() && matches(w)) {
      raise(w);
      return true;
    }
  }
  return false;
}

}  // namespace setup
