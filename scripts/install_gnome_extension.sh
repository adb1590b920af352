#!/bin/bash
# Places Mevrik's GNOME Shell extension in the user's extension folder and enables it. Run it as
# the user, from the session (before or after GNOME Shell starts). It prints one line per action.
#
# Exit status: 0 when the extension is in place and enabled (it may still need a new login to
# run: the last line says so), 1 when it could not be installed or enabled.
set -euo pipefail

uuid=mevrik-shell@fennick.example
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=${MEVRIK_GNOME_EXTENSION_SOURCE:-$here/../gnome-extension}

fail() {
  echo "install_gnome_extension: $*" >&2
  exit 1
}

command -v gnome-shell >/dev/null || fail "GNOME Shell is not installed; nothing was changed"
version=$(gnome-shell --version 2>/dev/null | sed -n 's/^GNOME Shell \([0-9][0-9]*\).*/\1/p')
[ -n "$version" ] || fail "cannot read the version of GNOME Shell; nothing was changed"
# GNOME 45 made extensions ES modules; earlier shells load them as legacy scripts.
if [ "$version" -ge 45 ]; then
  variant=45
elif [ "$version" -ge 43 ]; then
  variant=43
else
  fail "GNOME Shell $version is older than 43, which Mevrik supports; nothing was changed"
fi
[ -f "$source_dir/service.js" ] && [ -d "$source_dir/$variant" ] ||
  fail "the extension's files are missing from $source_dir"

target=${XDG_DATA_HOME:-$HOME/.local/share}/gnome-shell/extensions/$uuid
mkdir -p "$(dirname "$target")"
staging=$(mktemp -d "$(dirname "$target")/.$uuid.XXXXXX")
trap 'rm -rf "$staging"' EXIT
cp "$source_dir/$variant/metadata.json" "$staging/"
# The variant's extension.js holds a marker line where the shared service goes.
awk -v service="$source_dir/service.js" '
  /^\/\/ @MEVRIK_SERVICE@$/ { while ((getline line < service) > 0) print line; next }
  { print }' "$source_dir/$variant/extension.js" >"$staging/extension.js"
chmod 755 "$staging"
chmod 644 "$staging"/*
rm -rf "$target"
mv "$staging" "$target"
echo "installed the extension $uuid for GNOME Shell $version in $target"

# Enabled in the settings, the shell loads it at its next start.
command -v gsettings >/dev/null || fail "gsettings is missing; the extension was not enabled"
enabled=$(gsettings get org.gnome.shell enabled-extensions) ||
  fail "cannot read org.gnome.shell enabled-extensions; the extension was not enabled"
if [[ $enabled == *"'$uuid'"* ]]; then
  echo "the extension is already in org.gnome.shell enabled-extensions"
else
  if [[ $enabled == "@as []" || $enabled == "[]" ]]; then
    enabled="['$uuid']"
  else
    enabled="${enabled%]}, '$uuid']"
  fi
  # Without the session's bus the settings store drops the write without an error: read it back.
  gsettings set org.gnome.shell enabled-extensions "$enabled" 2>/dev/null || true
  [[ $(gsettings get org.gnome.shell enabled-extensions) == *"'$uuid'"* ]] ||
    fail "cannot write org.gnome.shell enabled-extensions (run this from the desktop session);" \
      "the extension was not enabled"
  echo "added the extension to org.gnome.shell enabled-extensions"
fi
if [ "$(gsettings get org.gnome.shell disable-user-extensions)" = true ]; then
  echo "note: org.gnome.shell disable-user-extensions is true, so GNOME Shell loads no user" \
    "extension; switch user extensions on in the Extensions application"
fi

on_bus() {
  gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null | grep -q true
}
if ! on_bus org.gnome.Shell; then
  echo "GNOME Shell is not running in this session; it starts the extension when it starts"
  exit 0
fi
# A running shell knows only the extensions it found when it started; for those, enable works now.
if command -v gnome-extensions >/dev/null && gnome-extensions enable "$uuid" 2>/dev/null; then
  echo "enabled the extension in the running GNOME Shell"
fi
# A shell that knew the extension starts it when the setting changes, a moment later.
for _ in 1 2 3 4 5 6 7 8 9 10; do
  on_bus com.fennick.Mevrik.Shell && break
  sleep 0.2
done
if on_bus com.fennick.Mevrik.Shell; then
  echo "the extension is running"
else
  echo "log out and log in once: GNOME Shell loads a new extension only when the session starts"
fi
