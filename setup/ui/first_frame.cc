#include "setup/ui/first_frame.h"

#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <ctime>

namespace setup {
namespace {

// Waits for the widget's next paint (or the fallback), runs the task one turn later, and goes.
class NextFrame : public QObject {
 public:
  NextFrame(QWidget& widget, std::function<void()> task, std::chrono::milliseconds fallback)
      : QObject(&widget), task_(std::move(task)) {
    widget.installEventFilter(this);
    QTimer::singleShot(fallback, this, &NextFrame::finish);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) QTimer::singleShot(0, this, &NextFrame::finish);
    return false;
  }

 private:
  void finish() {
    if (!task_) return;
    parent()->removeEventFilter(this);
    const std::function<void()> task = std::move(task_);
    task_ = nullptr;
    deleteLater();
    task();
  }

  std::function<void()> task_;
};

void writeFirstFrame(const QString& path) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  QByteArray rss = "0";
  QFile status(QStringLiteral("/proc/self/status"));
  if (status.open(QIODevice::ReadOnly)) {
    for (const QByteArray& line : status.readAll().split('\n')) {
      if (line.startsWith("VmRSS:")) rss = line.mid(6).simplified().split(' ').first();
    }
  }
  QFile out(path);
  if (out.open(QIODevice::WriteOnly)) {
    out.write(QByteArray::number(qint64(now.tv_sec) * 1000000000 + now.tv_nsec) + ' ' + rss + '\n');
  }
}

}  // namespace

void runAfterNextFrame(QWidget& widget, std::function<void()> task,
                       std::chrono::milliseconds fallback) {
  new NextFrame(widget, std::move(task), fallback);
}

void reportFirstFrameForBenchmark(QWidget& window) {
  const QString path = qEnvironmentVariable("MEVRIK_BENCH_FIRST_FRAME");
  if (!path.isEmpty())
    runAfterNextFrame(
        window, [path] { writeFirstFrame(path); }, std::chrono::seconds(60));
}

}  // namespace setup
