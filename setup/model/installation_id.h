// The random identifier under which this user account's installation registers itself.
#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace setup {

// True for a UUID in its canonical text form: 8-4-4-4-12 hexadecimal digits of either case
// separated by hyphens, nothing else.
bool isCanonicalUuid(QStringView text);

// The identifier kept in `folder`/"installation-id". A file holding a UUID (surrounding white
// space and line ends allowed) gives it in lower case and is left as it is. Otherwise a new
// random UUID is made and written in lower case without a line end, atomically, creating the
// folder and its parents as needed. None when the new identifier could not be stored, so that
// nothing is sent under an identifier that the next run would not find again.
std::optional<QString> loadOrCreateInstallationId(const QString& folder);

}  // namespace setup
