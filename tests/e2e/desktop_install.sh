#!/usr/bin/env bash
# `cmake --install` puts the program, its desktop menu entry, its icon and
# the sysop's manual where a desktop finds them.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
trap 'rm -rf "$WORK"' EXIT
[ -x "$BUILD/ornbbs" ] || { echo "SKIP: no desktop build"; exit 77; }
cmake --install "$BUILD" --prefix "$WORK/prefix" >"$WORK/install.log" 2>&1 || fail "install failed: $(cat "$WORK/install.log")"
P=$WORK/prefix
for f in bin/ornbbs bin/ornctl bin/ornpe bin/ornlzhuf share/applications/ornbbs.desktop share/icons/hicolor/scalable/apps/ornbbs.svg \
         share/doc/ornbbs/manual.md; do
  [ -s "$P/$f" ] || fail "not installed: $f"
done
entry=$P/share/applications/ornbbs.desktop
grep -qx 'Exec=ornbbs' "$entry" || fail "the menu entry does not start ornbbs"
grep -qx 'Icon=ornbbs' "$entry" || fail "the menu entry has no icon"
grep -q '^Categories=.*Network' "$entry" || fail "the menu entry has no category"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$entry" || fail "desktop-file-validate complains"
fi
echo "installed: $(cd "$P" && find . -type f | sort | tr '\n' ' ')"
