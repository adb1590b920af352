// The setup application's services on a Linux desktop: the accessibility switch on the session
// bus, an XDG autostart entry as the login item, QSettings, xdg-open, the XDG folders.
#pragma once

#include <QDBusConnection>

#include "setup/platform/services.h"

namespace setup {

class LinuxServices : public Services {
 public:
  // `bus` is the session bus that carries org.a11y.Bus; `autostartFolder` is where the login
  // item's desktop entry goes (normally ~/.config/autostart); `executable` is what that entry
  // starts.
  // `gnomeExtensionInstaller` is the product's script that lets the tools work on a GNOME
  // Wayland session; step 1 runs it there when it exists.
  LinuxServices(QDBusConnection bus, QString autostartFolder, QString executable,
                QString gnomeExtensionInstaller = {});

  bool isAccessibilityTrusted() override;
  void promptForAccessibility() override;
  bool switchesAccessibilityItself() override { return true; }
  std::optional<QStringList> applicationsToRestart() override;
  bool waitsForNewLogin() override;
  LoginItemStatus loginItemStatus() override;
  bool registerLoginItem() override;
  void openUrl(const QUrl& url) override;
  void activateApplication() override;
  bool bringWindowForward(const QString& identifier, const QString& title) override;
  bool boolSetting(const QString& key) override;
  void setBoolSetting(const QString& key, bool value) override;
  std::optional<QString> stringSetting(const QString& key) override;
  void setStringSetting(const QString& key, const QString& value) override;
  std::optional<QString> applicationVersion() override;
  QString homeFolder() override;
  QString cacheFolder() override;
  QString dataFolder() override;
  std::optional<QString> resourceFolder() override;

  QString autostartFile() const;

 private:
  // Whether Mevrik's GNOME Shell extension answers on the session bus.
  bool gnomeExtensionRunning();

  QDBusConnection bus_;
  QString autostartFolder_;
  QString executable_;
  QString gnomeExtensionInstaller_;
  bool gnomeExtensionInstalled_ = false;  // by this process's step 1
};

// The desktop entry that starts `executable` at login. The path is quoted as the desktop entry
// rules ask for Exec values (inside double quotes, backslash before '"', '`', '$' and '\'),
// and each backslash is doubled once more because the value is itself an escaped string.
QByteArray autostartEntry(const QString& executable);

}  // namespace setup
