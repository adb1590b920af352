#include "setup/platform/services-linux.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

#include "desktop/session.h"
#include "setup/model/mevrik_model.h"
#include "setup/platform/qt_windows.h"

// Last: Xlib's macros (None, Status, Bool) would clash with names in the Qt headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace setup {
namespace {

// Set by the build (setup/CMakeLists.txt).
constexpr char kVersion[] = MEVRIK_VERSION;
constexpr char kSourceProductRoot[] = MEVRIK_SOURCE_ROOT;

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

// Runs a helper program to its end, within `timeoutMs`; false when it cannot start, fails or
// takes longer.
bool runHelper(const QString& program, const QStringList& arguments, int timeoutMs) {
  if (QStandardPaths::findExecutable(program).isEmpty() && !QFile::exists(program)) return false;
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished(1000);
    return false;
  }
  return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

struct WindowApplication {
  qint64 pid = 0;
  QString name;
};

int ignoreXError(Display*, XErrorEvent*) {
  return 0;
}

// The applications behind the window manager's client list, or none when there is no X display
// or no window manager that keeps the list.
std::optional<QList<WindowApplication>> x11WindowApplications() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return std::nullopt;
  // A window may go away between the list and the questions about it.
  const auto previousHandler = XSetErrorHandler(ignoreXError);
  auto property = [display](Window window, Atom name, Atom type, unsigned long& count) {
    Atom actualType = None;
    int format = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    count = 0;
    if (XGetWindowProperty(display, window, name, 0, 65536, False, type, &actualType, &format,
                           &count, &after, &data) != Success ||
        format != 32) {
      if (data) XFree(data);
      count = 0;
      return static_cast<unsigned long*>(nullptr);
    }
    return reinterpret_cast<unsigned long*>(data);
  };
  std::optional<QList<WindowApplication>> result;
  const Atom clientList = XInternAtom(display, "_NET_CLIENT_LIST", True);
  const Atom wmPid = XInternAtom(display, "_NET_WM_PID", True);
  unsigned long count = 0;
  unsigned long* windows = clientList == None
                               ? nullptr
                               : property(DefaultRootWindow(display), clientList, XA_WINDOW, count);
  if (windows) {
    result.emplace();
    for (unsigned long i = 0; i < count; ++i) {
      WindowApplication app;
      unsigned long n = 0;
      if (unsigned long* pid =
              wmPid == None ? nullptr : property(windows[i], wmPid, XA_CARDINAL, n)) {
        if (n > 0) app.pid = qint64(pid[0]);
        XFree(pid);
      }
      XClassHint hint{};
      if (XGetClassHint(display, windows[i], &hint)) {
        app.name = QString::fromLocal8Bit(hint.res_class ? hint.res_class : hint.res_name);
        if (hint.res_name) XFree(hint.res_name);
        if (hint.res_class) XFree(hint.res_class);
      }
      if (app.name.isEmpty() && app.pid > 0) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(app.pid));
        if (comm.open(QIODevice::ReadOnly))
          app.name = QString::fromLocal8Bit(comm.readAll()).trimmed();
      }
      // A window without a process id (X toolkits older than the convention) cannot be on
      // the accessibility bus either; it is kept, with pid 0.
      if (!app.name.isEmpty()) result->append(app);
    }
    XFree(windows);
  }
  XSync(display, False);
  XSetErrorHandler(previousHandler);
  XCloseDisplay(display);
  return result;
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
  const QString product = findProductRoot(
      QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/mevrik")),
      QString::fromUtf8(kSourceProductRoot));
  return std::make_unique<LinuxServices>(
      QDBusConnection::sessionBus(), autostart,
      QCoreApplication::applicationDirPath() + QStringLiteral("/Mevrik"),
      product + QStringLiteral("/scripts/install_gnome_extension.sh"));
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

LinuxServices::LinuxServices(QDBusConnection bus, QString autostartFolder, QString executable,
                             QString gnomeExtensionInstaller)
    : bus_(std::move(bus)),
      autostartFolder_(std::move(autostartFolder)),
      executable_(std::move(executable)),
      gnomeExtensionInstaller_(std::move(gnomeExtensionInstaller)) {}

bool LinuxServices::gnomeExtensionRunning() {
  QDBusConnectionInterface* names = bus_.interface();
  return names && names->isServiceRegistered(QStringLiteral("com.fennick.Mevrik.Shell")).value();
}

bool LinuxServices::waitsForNewLogin() {
  return gnomeExtensionInstalled_ && !gnomeExtensionRunning();
}

bool LinuxServices::isAccessibilityTrusted() {
  // In a session whose windows vantic-ax cannot place on the screen it refuses every snapshot,
  // whatever the switch says: the step is not done there. On GNOME Wayland the product's shell
  // extension places them once the shell runs it.
  const mevrik::desktop::Session session = mevrik::desktop::detectSession();
  if (session == mevrik::desktop::Session::kGnome) {
    if (!gnomeExtensionRunning()) return false;
  } else if (!mevrik::desktop::snapshotsServed(session)) {
    return false;
  }
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
  // The bus launcher's switch takes effect at once for the applications that follow it.
  QDBusMessage set =
      QDBusMessage::createMethodCall(kA11yService, kA11yPath, kProperties, QStringLiteral("Set"));
  set << kA11yInterface << QStringLiteral("IsEnabled") << QVariant::fromValue(QDBusVariant(true));
  bus_.call(set, QDBus::Block, kBusTimeoutMs);
  // The desktop's own setting, where it has one (a missing schema makes gsettings fail, which
  // is fine): what GNOME's settings show, and what applications read when they start.
  runHelper(QStringLiteral("gsettings"),
            {QStringLiteral("set"), QStringLiteral("org.gnome.desktop.interface"),
             QStringLiteral("toolkit-accessibility"), QStringLiteral("true")},
            kBusTimeoutMs);
  // GNOME on Wayland lets no client read or move other windows by itself; the product's
  // shell extension does that for the tools.
  if (mevrik::desktop::detectSession() == mevrik::desktop::Session::kGnome &&
      !gnomeExtensionInstaller_.isEmpty() && QFile::exists(gnomeExtensionInstaller_)) {
    gnomeExtensionInstalled_ =
        runHelper(QStringLiteral("/bin/bash"), {gnomeExtensionInstaller_}, 60000);
  }
}

std::optional<QStringList> LinuxServices::applicationsToRestart() {
  // Wayland sessions give no client a list of other clients' windows.
  if (mevrik::desktop::isWayland(mevrik::desktop::detectSession())) return std::nullopt;
  const std::optional<QList<WindowApplication>> windows = x11WindowApplications();
  if (!windows) return std::nullopt;
  // The processes connected to the accessibility bus, which carries the applications that the
  // tools can read.
  QList<qint64> onBus;
  const QDBusMessage reply = bus_.call(
      QDBusMessage::createMethodCall(kA11yService, kA11yPath, QStringLiteral("org.a11y.Bus"),
                                     QStringLiteral("GetAddress")),
      QDBus::Block, kBusTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
    return std::nullopt;
  const QString connectionName = QStringLiteral("mevrik-a11y-check");
  {
    QDBusConnection a11y =
        QDBusConnection::connectToBus(reply.arguments().first().toString(), connectionName);
    if (!a11y.isConnected() || !a11y.interface()) {
      QDBusConnection::disconnectFromBus(connectionName);
      return std::nullopt;
    }
    const QStringList names = a11y.interface()->registeredServiceNames().value();
    for (const QString& name : names) {
      if (!name.startsWith(u':')) continue;
      const uint pid = a11y.interface()->servicePid(name).value();
      if (pid > 0) onBus.append(qint64(pid));
    }
  }
  QDBusConnection::disconnectFromBus(connectionName);

  QStringList missing;
  const qint64 self = QCoreApplication::applicationPid();
  for (const WindowApplication& app : *windows) {
    if (app.pid == self || (app.pid > 0 && onBus.contains(app.pid)) || missing.contains(app.name))
      continue;
    missing.append(app.name);
  }
  return missing;
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
