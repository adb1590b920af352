// setup_refresh_bench: how long MevrikModel::refresh takes over a large Codex plug-in cache that
// does not hold the plug-in, so the walk has to visit everything. Prints milliseconds per
// refresh, beside a plain QDirIterator walk that checks every full path, for comparison.
//
//   setup_refresh_bench [files (100000)] [refreshes (20)]
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include "setup/model/mevrik_model.h"
#include "setup/platform/fake_services.h"

namespace {

// marketplaces/plugins/versions/files, 100 files to a version folder.
void makeCache(const QString& cache, int files) {
  constexpr int kFilesPerVersion = 100;
  for (int n = 0; n < files; ++n) {
    const int version = n / kFilesPerVersion;
    const QString folder = QStringLiteral("%1/market-%2/plugin-%3/1.%4.0")
                               .arg(cache)
                               .arg(version % 10)
                               .arg(version / 20)
                               .arg(version % 2);
    if (n % kFilesPerVersion == 0) QDir().mkpath(folder);
    QFile file(QStringLiteral("%1/file-%2.py").arg(folder).arg(n));
    if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(file.fileName()));
  }
}

// The straightforward Qt walk: every item, its full path split into components.
bool qtWalkFinds(const QString& cache) {
  QDirIterator it(cache, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    if (it.next().split(u'/').contains(QStringLiteral("mevrik"))) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int refreshes = argc > 2 ? std::atoi(argv[2]) : 20;
  QTemporaryDir dir;
  setup::FakeServices services;
  services.home = dir.path();
  services.cache = dir.filePath("cache");
  services.data = dir.filePath("data");
  const QString cache = dir.filePath(".codex/plugins/cache");
  makeCache(cache, files);

  setup::ModelSettings settings;
  settings.serviceUrl = QUrl(QStringLiteral("http://127.0.0.1:9"));
  setup::MevrikModel model(services, settings);  // its construction walks once: warms the cache
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < refreshes; ++i) model.refresh();
  const double modelMs = static_cast<double>(clock.nsecsElapsed()) / 1e6 / refreshes;
  if (model.codexInstalled()) qFatal("the generated cache must not hold the plug-in");

  clock.restart();
  for (int i = 0; i < refreshes; ++i) {
    if (qtWalkFinds(cache)) qFatal("unexpected match");
  }
  const double qtMs = static_cast<double>(clock.nsecsElapsed()) / 1e6 / refreshes;

  std::printf("refresh over %d files without the plug-in: %.2f ms per refresh (%d refreshes)\n",
              files, modelMs, refreshes);
  std::printf("QDirIterator walk checking full paths:      %.2f ms per walk (%.1fx the refresh)\n",
              qtMs, qtMs / modelMs);
  return 0;
}
