// setup_bare_window: the baseline of bench/setup_start, a bare Qt Widgets window with one
// label, reporting its first frame the way Mevrik does.
#include <QApplication>
#include <QLabel>

#include "setup/ui/first_frame.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QLabel label(QStringLiteral("Mevrik"));
  label.show();
  setup::reportFirstFrameForBenchmark(label);
  return QApplication::exec();
}
