#!/usr/bin/env bash
# Both variants of the extension, assembled as scripts/install_gnome_extension.sh assembles them,
# must parse: GNOME 43-44 load extension.js as a script, 45 and later as an ES module. Only one
# of them runs in the GNOME check, so this is what keeps the other one in step.
#
#   gnome_extension_syntax.sh NODE
set -euo pipefail
node=$1
here=$(cd "$(dirname "$0")/../gnome-extension" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for variant in 43 45; do
  awk -v service="$here/service.js" '
    /^\/\/ @MEVRIK_SERVICE@$/ { while ((getline line < service) > 0) print line; next }
    { print }' "$here/$variant/extension.js" >"$work/extension-$variant.js"
done
cp "$work/extension-45.js" "$work/extension-45.mjs"
"$node" --check "$work/extension-43.js"
"$node" --check "$work/extension-45.mjs"
python3 -c 'import json, sys; [json.load(open(p)) for p in sys.argv[1:]]' "$here"/*/metadata.json
echo "both variants parse"
