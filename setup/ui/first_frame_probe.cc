#include "setup/ui/first_frame_probe.h"

#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <ctime>

namespace setup {
namespace {

class FirstFrameProbe : public QObject {
 public:
  FirstFrameProbe(QString path, QObject* parent) : QObject(parent), path_(std::move(path)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !seen_) {
      seen_ = true;
      // One event-loop turn later the painted frame has been handed to the window system.
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
        if (line.startsWith("VmRSS:")) rss = line.mid(6).simplified().split(' ').first();
      }
    }
    QFile out(path_);
    if (out.open(QIODevice::WriteOnly)) {
      out.write(QByteArray::number(qint64(now.tv_sec) * 1000000000 + now.tv_nsec) + ' ' + rss +
                '\n');
    }
  }

  const QString path_;
  bool seen_ = false;
};

}  // namespace

void reportFirstFrameForBenchmark(QWidget& window) {
  const QString path = qEnvironmentVariable("MEVRIK_BENCH_FIRST_FRAME");
  if (!path.isEmpty()) window.installEventFilter(new FirstFrameProbe(path, &window));
}

}  // namespace setup
