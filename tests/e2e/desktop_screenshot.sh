#!/usr/bin/env bash
# The desktop under a virtual X server: the program itself comes up in idle
# mode (BUILD/screenshots/desktop.png, the whole screen), then the desktop
# tests draw every window of the sysop on a BBS with a 2000-message store,
# two ports and three stations on the air (BUILD/screenshots/*.png).
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
trap 'rm -rf "$WORK"' EXIT
command -v xvfb-run >/dev/null || fail "xvfb-run is not installed (tools/install-deps)"
mkdir -p "$BUILD/screenshots" "$WORK/bbs"
shot="$BUILD/screenshots/desktop.png"
rm -f "$shot"
# No packet engine answers: the BBS says so in a box, which is closed.
write_ini "$WORK/bbs" "[RADIO]" "ENGINEPORT=$(free_port)"
export BBS="$BUILD/ornbbs" DIR="$WORK/bbs" SHOT="$shot"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -e
  QT_QPA_PLATFORM=xcb "$BBS" --dir "$DIR" >"$DIR/../out" 2>&1 &
  pid=$!
  for i in $(seq 1 100); do xdotool search --name "Monitor Conversation|MailBox" >/dev/null 2>&1 && break; sleep 0.1; done
  sleep 0.5
  xdotool key Return
  for i in $(seq 1 100); do [ -s "$DIR/../xdg/mime/packages/ornbbs-files.xml" ] && break; sleep 0.1; done
  sleep 1.5
  scrot "$SHOT"
  kill -TERM $pid
  wait $pid
' || fail "desktop run failed: $(cat "$WORK/out" 2>/dev/null)"
[ -s "$shot" ] || fail "no screenshot"
size=$(stat -c %s "$shot")
[ "$size" -gt 5000 ] || fail "screenshot too small ($size bytes): blank screen?"
echo "desktop screenshot: $shot ($size bytes)"

[ -x "$BUILD/tests/ornqttests" ] || fail "no ornqttests in $BUILD"
export ORN_SCREENSHOT_DIR="$BUILD/screenshots" QTESTS="$BUILD/tests/ornqttests"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  QT_QPA_PLATFORM=xcb "$QTESTS" --gtest_filter="DesktopTest.*"' >"$WORK/qt.out" 2>&1 \
  || fail "the desktop tests failed under X: $(tail -40 "$WORK/qt.out")"
expected="main_window tray_icon messages_window message_text_pane users_window fonts_dialog yapp_progress
  repair_gauge monitor_config about help_contents properties_port_1 properties_port_2 properties_general
  properties_colours message_editor user_editor_forwarding user_editor_entries"
for name in $expected; do
  png="$BUILD/screenshots/$name.png"
  [ -s "$png" ] || fail "no screenshot $name.png"
  [ "$(stat -c %s "$png")" -gt 2000 ] || fail "$name.png is too small: an empty window?"
done
echo "screenshots:"
ls -1 "$BUILD/screenshots"/*.png | sed "s|^|  |"
