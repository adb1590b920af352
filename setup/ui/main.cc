// Mevrik, the setup application. One instance per session: a second start asks the running one,
// over the session bus, to bring its window forward, and ends.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

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

// Qt ends a program whose platform plugin cannot start (no display, or one it cannot reach) with
// several lines of its own and abort(), which reads as a crash. While the application object is
// built, Qt's messages are held back: a fatal one becomes one line that names the display and
// status 1; otherwise the held messages go on to Qt's own handler.
class StartupMessages {
 public:
  StartupMessages() { previous_ = qInstallMessageHandler(&StartupMessages::hold); }
  ~StartupMessages() {
    qInstallMessageHandler(previous_);
    for (const Held& message : held_) {
      const QMessageLogContext context(
          nullptr, 0, nullptr, message.category.isEmpty() ? nullptr : message.category.constData());
      previous_(message.type, context, message.text);
    }
    held_.clear();
  }

 private:
  struct Held {
    QtMsgType type;
    QByteArray category;
    QString text;
  };

  static void hold(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
      held_.push_back({type, QByteArray(context.category), text});
      return;
    }
    const QByteArray x11 = qgetenv("DISPLAY"), wayland = qgetenv("WAYLAND_DISPLAY");
    if (x11.isEmpty() && wayland.isEmpty()) {
      std::fputs(
          "Mevrik: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY "
          "is set); start Mevrik in a desktop session\n",
          stderr);
    } else {
      // The platform plugin's own words say why ("could not connect to display :5").
      QString reason = text.section(QLatin1Char('\n'), 0, 0);
      for (const Held& message : held_) {
        if (message.category.startsWith("qt.qpa")) {
          reason = message.text;
          break;
        }
      }
      const QByteArray name = x11.isEmpty() ? "WAYLAND_DISPLAY=" + wayland : "DISPLAY=" + x11;
      std::fprintf(stderr, "Mevrik: cannot open the window on the display (%s): %s\n",
                   name.constData(), reason.trimmed().toLocal8Bit().constData());
    }
    std::fflush(stderr);
    std::_Exit(1);  // the half-built application object has nothing to save
  }

  static inline QtMessageHandler previous_ = nullptr;
  static inline std::vector<Held> held_;
};

}  // namespace

int main(int argc, char** argv) {
  std::optional<StartupMessages> startup(std::in_place);
  QApplication application(argc, argv);
  startup.reset();
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
