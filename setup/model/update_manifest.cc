#include "setup/model/update_manifest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace setup {
namespace {

std::optional<QUrl> parseDownloadUrl(const QString& text) {
  const QUrl url(text, QUrl::StrictMode);
  if (!url.isValid() || url.isRelative() || url.host().isEmpty()) return std::nullopt;
  const QString scheme = url.scheme().toLower();
  if (scheme != u"http" && scheme != u"https") return std::nullopt;
  return url;
}

}  // namespace

std::optional<UpdateManifest> decodeUpdateManifest(const QByteArray& body) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(body, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
  const QJsonObject object = document.object();

  const QJsonValue version = object.value(u"version");
  const QJsonValue downloadUrl = object.value(u"download_url");
  if (!version.isString() || !downloadUrl.isString()) return std::nullopt;
  std::optional<QUrl> url = parseDownloadUrl(downloadUrl.toString());
  if (!url) return std::nullopt;

  UpdateManifest manifest{version.toString(), *url, std::nullopt};
  const QJsonValue notes = object.value(u"notes");
  if (notes.isString()) {
    manifest.notes = notes.toString();
  } else if (!notes.isUndefined() && !notes.isNull()) {
    return std::nullopt;  // present with the wrong type
  }
  return manifest;
}

}  // namespace setup
