// Mevrik, the setup application. One instance per session: a second start asks the running one,
// over the session bus, to bring its window forward, and ends.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <ctime>

#include "setup/platform/services.h"
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

// For bench/: when MEVRIK_BENCH_FIRST_FRAME names a file, the monotonic clock (ns) and the
// resident memory (kB) right after the window's first frame are written to it.
class FirstFrameProbe : public QObject {
 public:
  explicit FirstFrameProbe(QString path) : path_(std::move(path)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !done_) {
      done_ = true;
      // One turn later the backing store has been flushed to the window system.
      QTimer::singleShot(0, this, [this] { write(); });
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void write() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    QByteArray rss = "0";
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
      for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) rss = line.mid(6).trimmed().split(' ').first();
      }
    }
    QFile out(path_);
    if (out.open(QIODevice::WriteOnly)) {
      out.write(QByteArray::number(qint64(now.tv_sec) * 1000000000 + now.tv_nsec) + ' ' + rss +
                '\n');
    }
  }

  QString path_;
  bool done_ = false;
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

  std::unique_ptr<FirstFrameProbe> probe;
  const QString probePath = qEnvironmentVariable("MEVRIK_BENCH_FIRST_FRAME");
  app.start();
  if (!probePath.isEmpty()) {
    probe = std::make_unique<FirstFrameProbe>(probePath);
    app.window()->installEventFilter(probe.get());
  }
  return QApplication::exec();
}

#include "main.moc"
