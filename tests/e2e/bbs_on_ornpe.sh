#!/usr/bin/env bash
# The BBS on the virtual packet engine: a scripted station connects to the
# BBS's call, its session lands on channel 1, its line reaches the channel,
# and it leaves. Then the engine goes away: the BBS drops to idle mode with
# every session ended, and with RECONNECT set it is back when the engine is.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
STATION="python3 $(dirname "$0")/station.py"

api_port=$(free_port)
start_ornpe() {
  "$BUILD/ornpe" --listen 127.0.0.1:$api_port --gateway 127.0.0.1:0 --retry-ms 1000 \
    >"$WORK/ornpe.out" 2>>"$WORK/ornpe.log" &
  ornpe=$!
  pids+=($ornpe)
  wait_for 10 grep -qs "^ornpe ready" "$WORK/ornpe.out" || fail "ornpe not ready: $(cat "$WORK/ornpe.log")"
}
start_ornpe
station() { $STATION --engine 127.0.0.1:$api_port --timeout 10 --connect-timeout 10 "$@"; }

bbs="$WORK/bbs"; mkdir -p "$bbs"
write_ini "$bbs" "[PERSONAL]" "MYCALL=XX9ORN-1" "[RADIO]" "PORTS=1" "ENGINEPORT=$api_port" "RECONNECT=1" \
  "[PORT0]" "CHANNELS=2" "TIMEOUT=0" "BBSONLY=0" "[LOG]" "LOGOK=1"
"$BUILD/ornbbs" --headless --echo-channels --dir "$bbs" >"$WORK/bbs.out" 2>"$WORK/bbs.err" &
pids+=($!)
bbspid=$!
out="$WORK/bbs.out"
# A line of channel 1 with the station's call in the caption, which may also
# show the engine's queue for the station.
said() {
  local text
  text=$(printf '%s' "$2" | sed 's/[][\.*^$()+?{}|]/\\&/g')
  grep -qxE "\[1 $1 on PC\(1-1\)( - Q:\([0-9]+\))?\] $text" "$out"
}
wait_for 10 grep -qs "UP" "$bbs/BBS.LOG" || fail "BBS did not start: $(cat "$WORK/bbs.err")"
[ ! -s "$WORK/bbs.err" ] || fail "BBS complained: $(cat "$WORK/bbs.err")"

# One visit: connect, a line, disconnect.
station --call XX1ABC connect XX9ORN-1 send "hello bbs" disconnect >"$WORK/s1.out" 2>&1 ||
  fail "station: $(cat "$WORK/s1.out")"
wait_for 5 grep -q "status: BBS->Idle Mode" "$out" || fail "session did not end: $(cat "$out")"
for line in "*** CONNECTED To Station XX1ABC" "hello bbs" "*** DISCONNECTED From Station XX1ABC"; do
  said XX1ABC "$line" || fail "missing: $line; BBS said: $(cat "$out")"
done

# A second station stays on the channel while the engine goes away.
station --call XX2ABC connect XX9ORN-1 send "still here" sleep 30 >"$WORK/s2.out" 2>&1 &
pids+=($!)
wait_for 10 said XX2ABC "still here" || fail "second station: $(cat "$out")"
kill -TERM $ornpe
wait $ornpe 2>/dev/null || true
wait_for 10 grep -q "status: Idle Mode! No Server Connection !" "$out" || fail "no idle mode: $(cat "$out")"
grep -qF "Disconnected From Packet Engine.  Program Enters Idle Mode !" "$WORK/bbs.err" ||
  fail "no message: $(cat "$WORK/bbs.err")"
# The session ended before the idle status was shown.
grep -n "status:" "$out" | tail -3 | cut -d: -f3- | tr '\n' '|' | grep -qF \
  " BBS->Disconnection..| BBS->Idle Mode| Idle Mode! No Server Connection !|" ||
  fail "sessions not reset: $(cat "$out")"
kill -0 $bbspid || fail "BBS ended with the engine"

# The engine returns: the BBS registers again and takes calls.
start_ornpe
wait_for 10 grep -q "status: BBS Server reconnected->Idle Mode" "$out" || fail "no reconnect: $(cat "$out")"
station --call XX3ABC connect XX9ORN-1 send "back again" disconnect >"$WORK/s3.out" 2>&1 ||
  fail "station after reconnect: $(cat "$WORK/s3.out")"
said XX3ABC "back again" || fail "after reconnect: $(cat "$out")"
kill -TERM $bbspid
wait $bbspid || fail "BBS exit status $?"
echo "bbs on ornpe: ok"
