#!/bin/sh
# Installs into a scratch prefix and builds the update zip, then checks what a desktop and
# the update path rely on: the application folder with its executable, desktop entry and
# icon; the menu's entry pointing into it; the zip holding Mirelo.app at its top level.
# Usage: packaging.sh <build folder> <mirelo-appcast program> <cmake> <cpack>
set -eu
build="$1"
appcast="$2"
cmake="$3"
cpack="$4"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/mirelo-packaging.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "$*" >&2; exit 1; }

prefix="$scratch/prefix with space"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
bundle="$prefix/lib/mirelo/Mirelo.app"
[ -x "$bundle/mirelo" ] || fail "The application folder has no executable mirelo."
[ -s "$bundle/mirelo.desktop" ] || fail "The application folder has no desktop entry."
[ -s "$bundle/mirelo.svg" ] || fail "The application folder has no icon."
[ -s "$prefix/share/icons/hicolor/scalable/apps/mirelo.svg" ] || fail "The icon is not in the icon theme."
[ "$(readlink "$prefix/bin/mirelo")" = "../lib/mirelo/Mirelo.app/mirelo" ] || fail "bin/mirelo does not lead to the application."
entry="$prefix/share/applications/mirelo.desktop"
grep -qx "Exec=\"$bundle/mirelo\"" "$entry" || fail "The menu's entry does not start $bundle/mirelo: $(grep Exec "$entry")"
grep -qx 'Icon=mirelo' "$entry" || fail "The menu's entry names another icon."
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "The menu's entry is not a valid desktop entry."
fi

"$cpack" --config "$build/CPackConfig.cmake" -G ZIP -B "$scratch/packages" >/dev/null
set -- "$scratch"/packages/Mirelo-*.zip
[ -f "$1" ] || fail "cpack wrote no update zip."
listing=$(cd "$scratch" && "$cmake" -E tar tf "$1" | sort | tr '\n' ' ')
[ "$listing" = "Mirelo.app/ Mirelo.app/mirelo Mirelo.app/mirelo.desktop Mirelo.app/mirelo.svg " ] ||
    fail "The update zip holds: $listing"
"$appcast" --version 1.0 --build 2 --download-path /downloads/update.zip "$1" >/dev/null ||
    fail "mirelo-appcast refused the update zip."
echo "Installed layout and update zip are as expected."
