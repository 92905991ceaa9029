#!/usr/bin/env bash
# The usual order at boot: the BBS (made by `ornctl init`) starts before its
# packet engine. It says it will keep trying, the engine comes 5 s later, and
# the BBS registers on its own within RECONNECT seconds and serves a station.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
STATION="python3 $(dirname "$0")/station.py"
reconnect=3

api_port=$(free_port)
bbs="$WORK/bbs"
"$BUILD/ornctl" --dir "$bbs" init --call XX9ORN-1 --name Anna --engine 127.0.0.1:$api_port >"$WORK/init.out" 2>&1 ||
  fail "init: $(cat "$WORK/init.out")"
grep -q "^RECONNECT=30" "$bbs/ORN.INI" || fail "init wrote no RECONNECT=30: $(cat "$bbs/ORN.INI")"
# A shorter wait keeps the test short; the default is the unit tests' business.
sed -i "s/^RECONNECT=30/RECONNECT=$reconnect/" "$bbs/ORN.INI"

"$BUILD/ornbbs" --headless --echo-channels --dir "$bbs" >"$WORK/bbs.out" 2>"$WORK/bbs.err" &
bbspid=$!
pids+=($bbspid)
wait_for 10 grep -qs "BBS SERVER UP" "$bbs/BBS.LOG" || fail "BBS did not start: $(cat "$WORK/bbs.err")"
grep -qF "No packet engine answers at 127.0.0.1:$api_port" "$WORK/bbs.err" || fail "no message: $(cat "$WORK/bbs.err")"
grep -qF "Trying again every $reconnect s" "$WORK/bbs.err" || fail "no word of trying again: $(cat "$WORK/bbs.err")"

sleep 5
kill -0 $bbspid || fail "BBS ended without its engine"
"$BUILD/ornpe" --listen 127.0.0.1:$api_port --gateway 127.0.0.1:0 >"$WORK/ornpe.out" 2>"$WORK/ornpe.log" &
pids+=($!)
wait_for 10 grep -qs "^ornpe ready" "$WORK/ornpe.out" || fail "ornpe not ready: $(cat "$WORK/ornpe.log")"
ready=$SECONDS
wait_for $((reconnect + 3)) grep -q "status: BBS Server reconnected->Idle Mode" "$WORK/bbs.out" ||
  fail "BBS not on the engine within $reconnect s: $(cat "$WORK/bbs.out")"
echo "registered $((SECONDS - ready)) s after the engine was ready (RECONNECT=$reconnect)"

# A new station registers and leaves: BBSONLY=0 from init lets it in.
$STATION --engine 127.0.0.1:$api_port --call XX1ABC --timeout 10 --connect-timeout 10 \
  connect XX9ORN-1 expect ">\r" send "N Bob" expect ">\r" send "B" wait-disconnect >"$WORK/station.out" 2>&1 ||
  fail "station: $(cat "$WORK/station.out")"
grep -q "<Connect> XX1ABC" "$bbs/BBS.LOG" || fail "log: $(cat "$bbs/BBS.LOG")"

kill -TERM $bbspid
wait $bbspid || fail "BBS exit status $?"
echo "start order: ok"
