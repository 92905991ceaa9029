#!/usr/bin/env bash
# The desktop under a virtual X server: the main window with the monitor and
# channel windows comes up; a screenshot goes to BUILD/screenshots/desktop.png.
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
