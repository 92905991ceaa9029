#!/usr/bin/env bash
# A station on the air reaches the BBS through a real Direwolf: the lab's two
# engines share a simulated radio channel; the BBS runs on station A, a
# scripted station on B connects to the BBS's call, talks, and leaves.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
SHARED=${ORN_SHARED_DIR:-$(dirname "$0")/../../../shared}
LAB=$(cd "$SHARED/direwolf-lab" 2>/dev/null && pwd) || fail "direwolf lab not found in $SHARED"
[ "$(id -u)" = 0 ] || { echo "SKIP: the direwolf lab needs root"; exit 0; }
make_workdir
STATE="$WORK/lab"
trap '[ -n "${pid:-}" ] && kill -TERM $pid 2>/dev/null; "$LAB/stop" --state "$STATE" >/dev/null 2>&1 || true; rm -rf "$WORK"' EXIT
port_a=$(free_port)
"$LAB/start" --state "$STATE" --port-a "$port_a" >"$WORK/lab.out" 2>&1 ||
  fail "lab did not start: $(cat "$WORK/lab.out"; tail -20 "$STATE"/dw-a.log 2>/dev/null)"

bbs="$WORK/bbs"; mkdir -p "$bbs"
write_ini "$bbs" "[PERSONAL]" "MYCALL=XX9ORN-1" "[RADIO]" "PORTS=1" "ENGINEPORT=$port_a" \
  "[PORT0]" "CHANNELS=2" "TIMEOUT=0" "BBSONLY=0" "[LOG]" "LOGOK=1"
"$BUILD/ornbbs" --headless --dir "$bbs" >"$WORK/bbs.out" 2>"$WORK/bbs.err" &
pid=$!
wait_for 20 grep -q "UP" "$bbs/BBS.LOG" || fail "BBS did not start: $(cat "$WORK/bbs.err")"
[ ! -s "$WORK/bbs.err" ] || fail "BBS complained: $(cat "$WORK/bbs.err")"

python3 - "$LAB" "$STATE" <<'PY' || fail "station on B: see above; BBS said: $(cat "$WORK/bbs.out")"
import sys
sys.dont_write_bytecode = True
sys.path.insert(0, sys.argv[1])
import engineclient
ME, BBS = "XX2BBB", "XX9ORN-1"
with engineclient.open_station(sys.argv[2], "b") as b:
    c = b.connect(ME, BBS, timeout=90)
    assert c is not None and c.kind == "C", c
    b.send_data(ME, BBS, b"hello from the air\r")
    assert b.wait_sent(ME, BBS, timeout=30)
    d = b.disconnect(ME, BBS, timeout=30)
    assert d is not None, "no disconnect notice"
PY

out="$WORK/bbs.out"
q='( - Q:\([0-9]+\))?'  # the caption may show the engine's queue for the station
wait_for 10 grep -q "status: BBS->Idle Mode" "$out" || fail "session did not end: $(cat "$out")"
grep -qE "^\[1 XX2BBB on PC\(1-1\)$q\] \*\*\* CONNECTED To Station XX2BBB$" "$out" || fail "no session on channel 1: $(cat "$out")"
grep -qE "^\[1 XX2BBB on PC\(1-1\)$q\] hello from the air$" "$out" || fail "data not on channel 1: $(cat "$out")"
grep -qE "^\[1 XX2BBB on PC\(1-1\)$q\] \*\*\* DISCONNECTED From Station XX2BBB$" "$out" || fail "no disconnect: $(cat "$out")"
kill -TERM $pid; wait $pid || fail "BBS exit status $?"
pid=
echo "direwolf session: ok"
