// The update manifest that the vendor's service publishes at "/latest.json".
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

namespace setup {

struct UpdateManifest {
  QString version;
  QUrl downloadURL;
  std::optional<QString> notes;
};

// Decodes a manifest body: a JSON object whose "version" is a string, whose "download_url" is a
// string holding an absolute http or https address with a host, and whose "notes", if present
// and not null, is a string. Other keys are ignored. Anything else rejects the whole manifest.
// The scheme rule matters because the link is handed to the system to open: a document from the
// network must not make it open file:, javascript: or custom-scheme links.
std::optional<UpdateManifest> decodeUpdateManifest(const QByteArray& body);

}  // namespace setup
