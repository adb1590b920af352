#include "setup/platform/services-linux.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

#include "desktop/session.h"
#include "setup/platform/qt_windows.h"

namespace setup {
namespace {

// Set by the build (setup/CMakeLists.txt).
constexpr char kVersion[] = MEVRIK_VERSION;

const QString kA11yService = QStringLiteral("org.a11y.Bus");
const QString kA11yPath = QStringLiteral("/org/a11y/bus");
const QString kA11yInterface = QStringLiteral("org.a11y.Status");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
// A missing or hung accessibility bus must not freeze the window for D-Bus's default 25 s.
constexpr int kBusTimeoutMs = 2000;

QSettings userSettings() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Fennick"),
                   QStringLiteral("Mevrik"));
}

QString escapeExecArgument(const QString& argument) {
  QString quoted = QStringLiteral("\"");
  for (const QChar c : argument) {
    if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
    if (c == u'%') quoted += u'%';  // a lone '%' would start a field code
    quoted += c;
  }
  quoted += u'"';
  // The Exec value is a string value, in which a backslash is written as two.
  return quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
}

}  // namespace

std::unique_ptr<Services> createPlatformServices() {
  const QString autostart =
      QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
      QStringLiteral("/autostart");
  // The login item starts the setup program, Mevrik, which lies beside every program that uses
  // these services (in the build folder and in the installation's bin folder); the program that
  // happens to ask, such as mevrik-model-cli, is not what should start at login.
  return std::make_unique<LinuxServices>(
      QDBusConnection::sessionBus(), autostart,
      QCoreApplication::applicationDirPath() + QStringLiteral("/Mevrik"));
}

QByteArray autostartEntry(const QString& executable) {
  QByteArray entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Mevrik\n"
      "Comment=Mevrik by Fennick\n";
  entry += "Exec=" + escapeExecArgument(executable).toUtf8() + "\n";
  entry += "X-GNOME-Autostart-enabled=true\n";
  return entry;
}

LinuxServices::LinuxServices(QDBusConnection bus, QString autostartFolder, QString executable)
    : bus_(std::move(bus)),
      autostartFolder_(std::move(autostartFolder)),
      executable_(std::move(executable)) {}

bool LinuxServices::isAccessibilityTrusted() {
  // In a session whose windows vantic-ax cannot place on the screen it refuses every snapshot,
  // whatever the switch says: the step is not done there.
  if (!mevrik::desktop::snapshotsServed(mevrik::desktop::detectSession())) return false;
  // Linux has no per-application permission; what decides whether the tools can read other
  // applications is whether the desktop has accessibility switched on.
  QDBusMessage get =
      QDBusMessage::createMethodCall(kA11yService, kA11yPath, kProperties, QStringLiteral("Get"));
  get << kA11yInterface << QStringLiteral("IsEnabled");
  const QDBusMessage reply = bus_.call(get, QDBus::Block, kBusTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  return qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toBool();
}

void LinuxServices::promptForAccessibility() {
  // There is no system prompt to show; switching accessibility on is what the prompt leads to.
  QDBusMessage set =
      QDBusMessage::createMethodCall(kA11yService, kA11yPath, kProperties, QStringLiteral("Set"));
  set << kA11yInterface << QStringLiteral("IsEnabled") << QVariant::fromValue(QDBusVariant(true));
  bus_.call(set, QDBus::Block, kBusTimeoutMs);
}

QString LinuxServices::autostartFile() const {
  return autostartFolder_ + QStringLiteral("/mevrik.desktop");
}

LoginItemStatus LinuxServices::loginItemStatus() {
  if (!QFile::exists(autostartFile())) return LoginItemStatus::kNotRegistered;
  // The user's own switch: desktops turn an autostart entry off with one of these two keys.
  QFile file(autostartFile());
  if (!file.open(QIODevice::ReadOnly)) return LoginItemStatus::kEnabled;
  bool inMainGroup = false;
  while (!file.atEnd()) {
    const QByteArray line = file.readLine().trimmed();
    if (line.startsWith('[')) {
      inMainGroup = line == "[Desktop Entry]";
    } else if (inMainGroup) {
      const qsizetype equals = line.indexOf('=');
      if (equals < 0) continue;
      const QByteArray key = line.left(equals).trimmed();
      const QByteArray value = line.mid(equals + 1).trimmed();
      if ((key == "Hidden" && value == "true") ||
          (key == "X-GNOME-Autostart-enabled" && value == "false")) {
        return LoginItemStatus::kDisabledByUser;
      }
    }
  }
  return LoginItemStatus::kEnabled;
}

bool LinuxServices::registerLoginItem() {
  if (!QDir().mkpath(autostartFolder_)) return false;
  QSaveFile file(autostartFile());
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QByteArray entry = autostartEntry(executable_);
  return file.write(entry) == entry.size() && file.commit();
}

void LinuxServices::openUrl(const QUrl& url) {
  QDesktopServices::openUrl(url);
}

void LinuxServices::activateApplication() {
  // X11 and Wayland have no notion of an active application apart from its windows; the window
  // that bringWindowForward raises is activated there.
}

bool LinuxServices::bringWindowForward(const QString& identifier, const QString& title) {
  return bringQtWindowForward(identifier, title);
}

bool LinuxServices::boolSetting(const QString& key) {
  return userSettings().value(key).toBool();
}

void LinuxServices::setBoolSetting(const QString& key, bool value) {
  userSettings().setValue(key, value);
}

std::optional<QString> LinuxServices::stringSetting(const QString& key) {
  const QVariant value = userSettings().value(key);
  if (!value.isValid()) return std::nullopt;
  return value.toString();
}

void LinuxServices::setStringSetting(const QString& key, const QString& value) {
  userSettings().setValue(key, value);
}

std::optional<QString> LinuxServices::applicationVersion() {
  return QString::fromUtf8(kVersion);
}

QString LinuxServices::homeFolder() {
  return QDir::homePath();
}

QString LinuxServices::cacheFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
}

QString LinuxServices::dataFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

std::optional<QString> LinuxServices::resourceFolder() {
  if (!QCoreApplication::instance()) return std::nullopt;
  // An installed application lies in <prefix>/bin and its data in <prefix>/share/mevrik.
  return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                         QStringLiteral("/../share/mevrik"));
}

}  // namespace setup
