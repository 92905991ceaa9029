#!/usr/bin/env bash
# A station on the air reaches the BBS through a real Direwolf: two engines share
# a simulated radio channel (direwolf/airlab.py); the BBS runs on engine A, a
# scripted station on engine B connects to the BBS's call, talks, and leaves.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
LAB="$(cd "$(dirname "$0")/direwolf" && pwd)"
make_workdir
STATE="$WORK/lab"
trap '[ -n "${pid:-}" ] && kill -TERM $pid 2>/dev/null; python3 -B "$LAB/airlab.py" stop --state "$STATE"; rm -rf "$WORK"' EXIT
port_a=$(free_port)
rc=0
python3 -B "$LAB/airlab.py" start --state "$STATE" --port-a "$port_a" >"$WORK/lab.out" 2>&1 || rc=$?
[ $rc -ne 77 ] || { echo "SKIP: the Direwolf lab needs root and network namespaces"; exit 77; }
[ $rc -eq 0 ] || fail "lab did not start: $(cat "$WORK/lab.out")"

bbs="$WORK/bbs"; mkdir -p "$bbs"
write_ini "$bbs" "[PERSONAL]" "MYCALL=XX9ORN-1" "[RADIO]" "PORTS=1" "ENGINEPORT=$port_a" \
  "[PORT0]" "CHANNELS=2" "TIMEOUT=0" "BBSONLY=0" "[LOG]" "LOGOK=1"
"$BUILD/ornbbs" --headless --echo-channels --dir "$bbs" >"$WORK/bbs.out" 2>"$WORK/bbs.err" &
pid=$!
wait_for 20 grep -q "UP" "$bbs/BBS.LOG" || fail "BBS did not start: $(cat "$WORK/bbs.err")"
[ ! -s "$WORK/bbs.err" ] || fail "BBS complained: $(cat "$WORK/bbs.err")"

nsenter --net="$STATE/b.netns" python3 -B "$(dirname "$0")/station.py" --engine 127.0.0.1:8000 \
  --call XX2BBB --connect-timeout 90 --timeout 60 \
  connect XX9ORN-1 send "hello from the air" disconnect >"$WORK/station.out" 2>&1 ||
  fail "station on B: $(cat "$WORK/station.out"); BBS said: $(cat "$WORK/bbs.out")"

out="$WORK/bbs.out"
q='( - Q:\([0-9]+\))?'  # the caption may show the engine's queue for the station
wait_for 10 grep -q "status: BBS->Idle Mode" "$out" || fail "session did not end: $(cat "$out")"
grep -qE "^\[1 XX2BBB on PC\(1-1\)$q\] \*\*\* CONNECTED To Station XX2BBB$" "$out" || fail "no session on channel 1: $(cat "$out")"
grep -qE "^\[1 XX2BBB on PC\(1-1\)$q\] hello from the air$" "$out" || fail "data not on channel 1: $(cat "$out")"
grep -qE "^\[1 XX2BBB on PC\(1-1\)$q\] \*\*\* DISCONNECTED From Station XX2BBB$" "$out" || fail "no disconnect: $(cat "$out")"
kill -TERM $pid; wait $pid || fail "BBS exit status $?"
pid=
echo "direwolf session: ok"
