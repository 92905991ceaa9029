#!/usr/bin/env bash
# Pages answered at the desk: the desktop host under a virtual X server on
# the virtual engine. A station pages the sysop; the "Chat Request.." notice
# comes up, the sysop answers it from the keyboard (Alt+A), types a line in
# the channel's window and reads the station's answer; a second station
# pages and the sysop declines (Alt+D). The notices and the chat are kept as
# BUILD/screenshots/desktop-page-*.png.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
command -v xvfb-run >/dev/null || fail "xvfb-run is not installed (tools/install-deps)"
command -v xdotool >/dev/null || fail "xdotool is not installed (tools/install-deps)"
mkdir -p "$BUILD/screenshots" "$WORK/bbs"
rm -f "$BUILD"/screenshots/desktop-page-*.png

start_ornpe
write_ini "$WORK/bbs" "[PERSONAL]" "MYCALL=XX9ORN-1" "MYNAME=Nikos" "SYSOP=1" "[RADIO]" "ENGINEPORT=$api_port" \
  "[PORT0]" "CHANNELS=2" "BBSONLY=0" "LIMITED=0" "TIMEOUT=0" "[LOG]" "LOGOK=1"
export BBS="$BUILD/ornbbs" DIR="$WORK/bbs" SHOTS="$BUILD/screenshots" API=127.0.0.1:$api_port \
  STATION="python3 $(dirname "$0")/station.py" OUT="$WORK"
xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
  set -e
  QT_QPA_PLATFORM=xcb "$BBS" --dir "$DIR" >"$OUT/bbs.out" 2>&1 &
  pid=$!
  for i in $(seq 1 100); do grep -qs UP "$DIR/BBS.LOG" && break; sleep 0.1; done
  # The notice of a page, brought to the keyboard; true once it is there.
  notice() {
    for i in $(seq 1 150); do
      w=$(xdotool search --name "^Chat Request\.\.$" 2>/dev/null | head -1) && [ -n "$w" ] && break
      sleep 0.1
    done
    [ -n "$w" ] || return 1
    sleep 0.5
    xdotool windowfocus --sync "$w"
  }

  $STATION --engine "$API" --call XX1ABC --timeout 30 connect XX9ORN-1 expect ">\r" send "N Anna" expect ">\r" \
    send "T" expect "please wait" expect "Go ahead!" expect "Hi Anna, from the desk" \
    send "Hello Nikos" sleep 2 disconnect >"$OUT/anna.out" 2>&1 &
  anna=$!
  notice || { echo "no notice for the first page"; kill $pid; exit 1; }
  scrot "$SHOTS/desktop-page-notice.png"
  xdotool key alt+a
  sleep 1
  # The typing line of the channel window has the keyboard now.
  xdotool type --delay 20 "Hi Anna, from the desk"
  xdotool key Return
  sleep 1.5
  scrot "$SHOTS/desktop-page-chat.png"
  wait $anna || { echo "Anna: $(cat "$OUT/anna.out")"; kill $pid; exit 1; }

  $STATION --engine "$API" --call XX2DEF --timeout 30 connect XX9ORN-1 expect ">\r" send "N Bert" expect ">\r" \
    send "T" expect "please wait" expect "The sysop does not answer." expect ">\r" send "B" wait-disconnect \
    >"$OUT/bert.out" 2>&1 &
  bert=$!
  notice || { echo "no notice for the second page"; kill $pid; exit 1; }
  xdotool key alt+d
  wait $bert || { echo "Bert: $(cat "$OUT/bert.out")"; kill $pid; exit 1; }
  sleep 0.5
  scrot "$SHOTS/desktop-page-declined.png"
  kill -TERM $pid
  wait $pid
' >"$WORK/x.out" 2>&1 || fail "desktop run failed: $(cat "$WORK/x.out" "$WORK/bbs.out" 2>/dev/null | tail -30)"
for s in notice chat declined; do
  [ -s "$BUILD/screenshots/desktop-page-$s.png" ] || fail "no screenshot desktop-page-$s.png"
done
# The sysop's layout was kept at the end, in the sysop's settings.
grep -q "geometry=" "$XDG_CONFIG_HOME/ornbbs/desktop.ini" 2>/dev/null \
  || fail "no desktop layout kept: $(ls -R "$XDG_CONFIG_HOME" 2>&1)"
echo "pages answered and declined at the desk"
