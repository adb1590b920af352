// Files for the setup tests: written whole, executable on request, and read back.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace setup {

inline void writeFile(const QString& path, const QByteArray& content, bool executable = false) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
  file.write(content);
  file.close();
  if (executable) file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The file's content, or nothing when it cannot be read.
inline QByteArray readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace setup
