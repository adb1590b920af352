// Mevrik, the setup application. One instance per session: a second start asks the running one,
// over the session bus, to bring its window forward, and ends.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>

#include "setup/platform/services.h"
#include "setup/ui/first_frame.h"
#include "setup/ui/mevrik_app.h"
#include "setup/ui/style.h"

namespace {

const QString kBusName = QStringLiteral("com.fennick.Mevrik");
const QString kBusPath = QStringLiteral("/com/fennick/Mevrik");

// What a second start of the program calls on the running one.
class InstanceService : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.fennick.Mevrik")

 public:
  explicit InstanceService(setup::MevrikApp& app) : app_(app) {}

 public slots:
  void Activate() { app_.showWindow(); }

 private:
  setup::MevrikApp& app_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Mevrik"));
  QApplication::setOrganizationName(QStringLiteral("Fennick"));
  QApplication::setDesktopFileName(QStringLiteral("mevrik"));
  setup::useJapaneseFont();

  QDBusConnection bus = QDBusConnection::sessionBus();
  const std::unique_ptr<setup::Services> services = setup::createPlatformServices();
  setup::MevrikApp app(*services, setup::defaultModelSettings());
  InstanceService instance(app);
  if (bus.isConnected()) {
    bus.registerObject(kBusPath, &instance, QDBusConnection::ExportAllSlots);
    if (!bus.registerService(kBusName)) {
      bus.call(
          QDBusMessage::createMethodCall(kBusName, kBusPath, kBusName, QStringLiteral("Activate")),
          QDBus::Block, 5000);
      return 0;
    }
  }

  app.start();
  setup::reportFirstFrameForBenchmark(*app.window());
  return QApplication::exec();
}

#include "main.moc"
