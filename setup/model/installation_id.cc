#include "setup/model/installation_id.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QUuid>

namespace setup {
namespace {

bool isHexDigit(QChar c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

std::optional<QString> readStoredId(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  const QString text = decoder.decode(file.readAll());
  if (decoder.hasError()) return std::nullopt;
  const QString trimmed = text.trimmed();
  if (!isCanonicalUuid(trimmed)) return std::nullopt;
  return trimmed.toLower();
}

}  // namespace

bool isCanonicalUuid(QStringView text) {
  if (text.size() != 36) return false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
    if (hyphenPlace ? text[i] != u'-' : !isHexDigit(text[i])) return false;
  }
  return true;
}

std::optional<QString> loadOrCreateInstallationId(const QString& folder) {
  const QString path = folder + QStringLiteral("/installation-id");
  if (std::optional<QString> stored = readStoredId(path)) return stored;

  const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
  if (!QDir().mkpath(folder)) return std::nullopt;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return std::nullopt;
  const QByteArray bytes = id.toUtf8();
  if (file.write(bytes) != bytes.size() || !file.commit()) return std::nullopt;
  return id;
}

}  // namespace setup
