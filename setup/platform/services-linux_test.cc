// The Linux services against real files, a private session bus and offscreen windows.
#include "setup/platform/services-linux.h"

#include <QApplication>
#include <QDBusConnection>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWidget>

namespace setup {

// Stands in for the accessibility bus launcher: the one property the services read and set.
class FakeA11yStatus : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.a11y.Status")
  Q_PROPERTY(bool IsEnabled READ isEnabled WRITE setEnabled)

 public:
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool value) { enabled_ = value; }

 private:
  std::atomic<bool> enabled_ = false;
};

class LinuxServicesTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QProcess busDaemon_;
  QString busAddress_;
  QThread serviceThread_;
  FakeA11yStatus* a11y_ = nullptr;

  LinuxServices services(const QString& autostart = {}) {
    return LinuxServices(QDBusConnection::connectToBus(busAddress_, "client"),
                         autostart.isEmpty() ? dir_.filePath("config/autostart") : autostart,
                         "/opt/Mevrik Apps/bin/mevrik \"setup\" $1 100% \\x");
  }

 private slots:
  void initTestCase() {
    // Settings and folders go to the temporary folder, before anything reads the variables.
    qputenv("HOME", dir_.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", dir_.filePath("config").toUtf8());
    qunsetenv("XDG_CACHE_HOME");
    qunsetenv("XDG_DATA_HOME");
    // Switching accessibility on also writes the desktop's setting: never the account's own.
    qputenv("GSETTINGS_BACKEND", "memory");
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("XDG_SESSION_TYPE");

    // A private session bus, with the fake status object served from its own thread so that
    // the services' blocking calls can be answered.
    busDaemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!busDaemon_.waitForStarted()) QSKIP("dbus-daemon is not installed");
    QVERIFY(busDaemon_.waitForReadyRead(10000));
    busAddress_ = QString::fromUtf8(busDaemon_.readLine()).trimmed();
    QDBusConnection serviceBus = QDBusConnection::connectToBus(busAddress_, "service");
    QVERIFY2(serviceBus.isConnected(), qPrintable(busAddress_));
    a11y_ = new FakeA11yStatus;
    a11y_->moveToThread(&serviceThread_);
    serviceThread_.start();
    QVERIFY(
        serviceBus.registerObject("/org/a11y/bus", a11y_, QDBusConnection::ExportAllProperties));
    QVERIFY(serviceBus.registerService("org.a11y.Bus"));
  }

  void cleanupTestCase() {
    QDBusConnection::disconnectFromBus("service");
    QDBusConnection::disconnectFromBus("client");
    serviceThread_.quit();
    serviceThread_.wait();
    delete a11y_;
    busDaemon_.kill();
    busDaemon_.waitForFinished();
  }

  void readsAndSetsTheAccessibilitySwitch() {
    LinuxServices s = services();
    QVERIFY(!s.isAccessibilityTrusted());
    s.promptForAccessibility();
    QVERIFY(a11y_->isEnabled());
    QVERIFY(s.isAccessibilityTrusted());
    // A Wayland session whose windows vantic-ax cannot place: not ready, whatever the switch.
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    QVERIFY(!s.isAccessibilityTrusted());
    qunsetenv("WAYLAND_DISPLAY");
    a11y_->setEnabled(false);
    QVERIFY(!s.isAccessibilityTrusted());
    // Without a bus there is no trust, and the prompt is dropped quietly.
    LinuxServices offline(QDBusConnection::connectToBus("unix:path=/nonexistent", "offline"),
                          dir_.filePath("x"), "mevrik");
    QVERIFY(!offline.isAccessibilityTrusted());
    offline.promptForAccessibility();
  }

  void registersAnAutostartEntry() {
    LinuxServices s = services();
    QCOMPARE(s.loginItemStatus(), LoginItemStatus::kNotRegistered);
    QVERIFY(s.registerLoginItem());
    QCOMPARE(s.loginItemStatus(), LoginItemStatus::kEnabled);
    QFile entry(s.autostartFile());
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QByteArray content = entry.readAll();
    QVERIFY(content.startsWith("[Desktop Entry]\nType=Application\nName=Mevrik\n"));
    // Quoted for Exec, then each backslash doubled for the string value.
    QVERIFY2(content.contains(
                 "Exec=\"/opt/Mevrik Apps/bin/mevrik \\\\\"setup\\\\\" \\\\$1 100%% \\\\\\\\x\"\n"),
             content.constData());
    entry.close();
    // The user switched it off: left alone.
    QVERIFY(entry.open(QIODevice::Append));
    entry.write("Hidden = true\n");
    entry.close();
    QCOMPARE(s.loginItemStatus(), LoginItemStatus::kDisabledByUser);
  }

  void theLoginItemStartsTheSetupProgram() {
    // Whatever program makes the services (a test, mevrik-model-cli), the login item starts
    // Mevrik, which the build and the installation put beside them.
    const std::unique_ptr<Services> s = createPlatformServices();
    QVERIFY(s->registerLoginItem());
    QFile entry(dir_.filePath("config/autostart/mevrik.desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QByteArray exec =
        "Exec=\"" + (QCoreApplication::applicationDirPath() + "/Mevrik").toUtf8() + "\"\n";
    QVERIFY2(entry.readAll().contains(exec), exec.constData());
    QVERIFY(entry.remove());
  }

  void aRefusedAutostartEntryIsAFailure() {
    QFile blocker(dir_.filePath("blocked"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    LinuxServices s = services(dir_.filePath("blocked/autostart"));
    QVERIFY(!s.registerLoginItem());
    QCOMPARE(s.loginItemStatus(), LoginItemStatus::kNotRegistered);
  }

  void keepsSettingsAndFindsFolders() {
    LinuxServices s = services();
    QVERIFY(!s.boolSetting("didRequestAccessibilityOnFirstLaunch"));
    s.setBoolSetting("didRequestAccessibilityOnFirstLaunch", true);
    QVERIFY(s.boolSetting("didRequestAccessibilityOnFirstLaunch"));
    QVERIFY(!s.stringSetting("lastPresentedUpdateVersion"));
    s.setStringSetting("lastPresentedUpdateVersion", "1.2.0");
    QCOMPARE(s.stringSetting("lastPresentedUpdateVersion"), std::optional<QString>("1.2.0"));
    QVERIFY(QFile::exists(dir_.filePath("config/Fennick/Mevrik.conf")));

    QCOMPARE(s.homeFolder(), dir_.path());
    QCOMPARE(s.cacheFolder(), dir_.filePath(".cache"));
    QCOMPARE(s.dataFolder(), dir_.filePath(".local/share"));
    qputenv("XDG_CACHE_HOME", dir_.filePath("xdg-cache").toUtf8());
    qputenv("XDG_DATA_HOME", dir_.filePath("xdg-data").toUtf8());
    QCOMPARE(s.cacheFolder(), dir_.filePath("xdg-cache"));
    QCOMPARE(s.dataFolder(), dir_.filePath("xdg-data"));
    QVERIFY(s.applicationVersion() && !s.applicationVersion()->isEmpty());
    QCOMPARE(s.resourceFolder(), std::optional<QString>(QDir::cleanPath(
                                     QCoreApplication::applicationDirPath() + "/../share/mevrik")));
  }

  void bringsTheFirstMatchingWindowForward() {
    LinuxServices s = services();
    QWidget other;
    other.setWindowTitle("Other");
    QWidget byTitle;
    byTitle.setWindowTitle("Mevrik by Fennick");
    QWidget byIdentifier;
    byIdentifier.setObjectName("setup");
    for (QWidget* w : {&other, &byTitle, &byIdentifier}) w->show();
    other.activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), &other);
    QVERIFY(s.bringWindowForward("setup", "Mevrik by Fennick"));
    QTRY_COMPARE(QApplication::activeWindow(), &byTitle);  // first in the window list
    byTitle.close();
    byIdentifier.close();
    // A closed window is not shown again.
    QVERIFY(!s.bringWindowForward("setup", "Mevrik by Fennick"));
    QVERIFY(!byTitle.isVisible() && !byIdentifier.isVisible());
    byIdentifier.show();
    QVERIFY(s.bringWindowForward("setup", "Mevrik by Fennick"));
    QTRY_COMPARE(QApplication::activeWindow(), &byIdentifier);
    QVERIFY(!s.bringWindowForward("nothing", "No such title"));
  }
};

}  // namespace setup

QTEST_MAIN(setup::LinuxServicesTest)
#include "services-linux_test.moc"
