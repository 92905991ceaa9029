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
# Every window at a wide screen, at the smallest screen a sysop is likely to
# have, and at twice the pixels (HiDPI): BUILD/screenshots/SIZE/*.png.
expected="main_window tray_icon messages_window message_text_pane users_window fonts_dialog yapp_progress
  repair_gauge monitor_config about help_contents properties_port_1 properties_port_2 properties_general
  properties_colours message_editor user_editor_forwarding user_editor_entries chat_request
  tiled_vert_1024x768 tiled_horiz_1024x768"
export QTESTS="$BUILD/tests/ornqttests"
for screen in 1600x1000:1 1024x768:1 3200x2000:2; do
  size=${screen%:*} scale=${screen#*:}
  name=$size; [ "$scale" = 1 ] || name="scale$scale"
  out="$BUILD/screenshots/$name"
  rm -rf "$out"; mkdir -p "$out"
  ORN_SCREENSHOT_DIR="$out" QT_SCALE_FACTOR=$scale xvfb-run -a -s "-screen 0 ${size}x24" bash -c '
    QT_QPA_PLATFORM=xcb "$QTESTS" --gtest_filter="DesktopTest.*"' >"$WORK/qt.out" 2>&1 \
    || fail "the desktop tests failed under X at $name: $(tail -40 "$WORK/qt.out")"
  for shot in $expected; do
    png="$out/$shot.png"
    [ -s "$png" ] || fail "no screenshot $name/$shot.png"
    [ "$(stat -c %s "$png")" -gt 2000 ] || fail "$name/$shot.png is too small: an empty window?"
  done
  # At scale factor 2 the pictures have twice the pixels.
  if [ "$scale" = 2 ]; then
    w=$(python3 -c "import struct,sys; f=open(sys.argv[1],'rb'); f.read(16); print(struct.unpack('>I', f.read(4))[0])" "$out/main_window.png")
    [ "$w" -ge 3000 ] || fail "main_window.png at scale 2 is $w pixels wide"
  fi
done
echo "screenshots:"
ls -1 "$BUILD/screenshots"/*/*.png | sed "s|^|  |"
