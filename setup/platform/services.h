#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <optional>

namespace setup {

// The login item states the model tells apart. Only kNotRegistered makes the model register;
// every other state is the user's or the system's choice and is left alone.
enum class LoginItemStatus {
  kNotRegistered = 0,
  kEnabled,
  kRequiresApproval,
  kNotFound,
  // The entry exists but the user switched it off.
  kDisabledByUser,
};

// Everything the setup model needs from the desktop and the user's account. It is an interface
// so that tests can hand the model a fake (FakeServices) instead of the real session bus,
// settings store and home folder; the model reaches the platform through nothing else.
class Services {
 public:
  virtual ~Services() = default;

  // Accessibility permission: whether this process may use the accessibility interface
  // (asks nothing), and asking the system to prompt the user for it.
  virtual bool isAccessibilityTrusted() = 0;
  virtual void promptForAccessibility() = 0;
  // True where promptForAccessibility switches a desktop-wide setting by itself (Linux) rather
  // than leading the user to a system prompt (macOS): the model then asks before the first
  // launch switches it, and reports what it switched.
  virtual bool switchesAccessibilityItself() { return false; }
  // The running applications with windows that are not on the accessibility bus, by name: they
  // read the switch when they start and must be restarted to be seen. None when the session
  // cannot list windows.
  virtual std::optional<QStringList> applicationsToRestart() { return std::nullopt; }
  // True when promptForAccessibility did its part but the desktop takes it up only at the next
  // login (GNOME Shell starts a newly installed extension when the session starts).
  virtual bool waitsForNewLogin() { return false; }

  // Starting the setup application at login.
  virtual LoginItemStatus loginItemStatus() = 0;
  // False when the system refused; the model drops the failure.
  virtual bool registerLoginItem() = 0;

  // Hands a link to the application registered for its scheme (browser, Codex).
  virtual void openUrl(const QUrl& url) = 0;

  // Makes this application the active one, then brings forward the first of its windows whose
  // identifier is `identifier` or whose title is `title`. False when no window matched.
  virtual void activateApplication() = 0;
  virtual bool bringWindowForward(const QString& identifier, const QString& title) = 0;

  // The user's persistent preferences ("user defaults"). An absent Boolean reads as false.
  virtual bool boolSetting(const QString& key) = 0;
  virtual void setBoolSetting(const QString& key, bool value) = 0;
  virtual std::optional<QString> stringSetting(const QString& key) = 0;
  virtual void setStringSetting(const QString& key, const QString& value) = 0;

  // The running application's version text, or none when the build carries none.
  virtual std::optional<QString> applicationVersion() = 0;

  // Folders of the user's account, absolute, without a trailing slash: the home folder, the
  // per-user cache root (~/.cache, ~/Library/Caches) and the per-user data root
  // (~/.local/share, ~/Library/Application Support).
  virtual QString homeFolder() = 0;
  virtual QString cacheFolder() = 0;
  virtual QString dataFolder() = 0;

  // The folder of the application's installed resources (where "product" lies in a packaged
  // application), or none when the application runs from its build folder.
  virtual std::optional<QString> resourceFolder() = 0;
};

// The services of the system the application was built for (services-linux.cc,
// services-mac.mm; CMake picks one).
std::unique_ptr<Services> createPlatformServices();

}  // namespace setup
