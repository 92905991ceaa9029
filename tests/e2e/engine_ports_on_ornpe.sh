#!/usr/bin/env bash
# A BBS whose one port is engine port 2 of an engine with three: it registers
# and beacons on port 2 only, a station on port 2 is served, and a connect on
# ports 0 and 1 finds nobody. The ports it leaves alone show in its monitor.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
E2E=$(cd "$(dirname "$0")" && pwd)

start_ornpe --ports 3 --retry-ms 1000
station() { python3 "$E2E/station.py" --engine 127.0.0.1:$api_port --timeout 10 --connect-timeout 10 "$@"; }

# Everything on the air, as "port|kind|first line", from before the BBS starts.
python3 - "$E2E" "$api_port" "$WORK" <<'EOF' &
import os, sys, time
sys.path.insert(0, sys.argv[1])
from station import Station, MONITOR_KINDS
work = sys.argv[3]
with Station("127.0.0.1:" + sys.argv[2], "XX8MON") as s, open(os.path.join(work, "air.txt"), "w") as out:
    s.monitor()
    open(os.path.join(work, "air.ready"), "w").close()
    end = time.monotonic() + 120
    while time.monotonic() < end and not os.path.exists(os.path.join(work, "air.stop")):
        f = s.wait_for(MONITOR_KINDS, timeout=0.2)
        if f is not None:
            out.write("%d|%s|%s\n" % (f.port, f.kind, f.text.split("\r")[0]))
            out.flush()
EOF
pids+=($!)
wait_for 10 test -e "$WORK/air.ready" || fail "monitor station did not start"

bbs="$WORK/bbs"; mkdir -p "$bbs"
printf 'XX9ORN-1 on the air\r\n' >"$bbs/beacon.txt"
# PORT1 would beacon on engine port 1 if the engine's port count replaced PORTS.
write_ini "$bbs" "[PERSONAL]" "MYCALL=XX9ORN-1" "[RADIO]" "PORTS=1" "ENGINEPORT=$api_port" \
  "[PORT0]" "PORTNUM=2" "CHANNELS=1" "TIMEOUT=0" "BBSONLY=0" "BEACONOK=1" "BTEXT=beacon.txt" "UNPROTO=MAIL" \
  "[PORT1]" "BEACONOK=1" "BTEXT=beacon.txt" "[LOG]" "LOGOK=1" "LOGOTHER=1"
"$BUILD/ornbbs" --headless --echo-channels --dir "$bbs" >"$WORK/bbs.out" 2>"$WORK/bbs.err" &
bbspid=$!
pids+=($bbspid)
out="$WORK/bbs.out"
wait_for 10 grep -qs "UP" "$bbs/BBS.LOG" || fail "BBS did not start: $(cat "$WORK/bbs.err")"
[ ! -s "$WORK/bbs.err" ] || fail "BBS complained: $(cat "$WORK/bbs.err")"

# Registered on engine port 2 and nowhere else.
grep -q ": register XX9ORN-1 on port 2" "$WORK/ornpe.log" || fail "not registered on port 2: $(cat "$WORK/ornpe.log")"
! grep -E ": register XX9ORN-1 on port [01]" "$WORK/ornpe.log" || fail "registered on another port"
for p in 0 1; do
  grep -qF "[0 <Monitor>] Engine port $p (ornpe virtual radio): no enabled port of ORN.INI names it, left alone" "$out" ||
    fail "engine port $p not reported: $(cat "$out")"
  grep -qF "<Engine port left alone> $p from ENGINE..." "$bbs/BBS.LOG" || fail "engine port $p not logged"
done

# A station on port 2 is served; on ports 0 and 1 the call does not answer.
station --call XX1ABC --port 2 connect XX9ORN-1 send "hello port 2" disconnect >"$WORK/s1.out" 2>&1 ||
  fail "station on port 2: $(cat "$WORK/s1.out")"
wait_for 5 grep -qF "] hello port 2" "$out" || fail "line not on the channel: $(cat "$out")"
for p in 0 1; do
  station --call XX2ABC --port $p connect-fails XX9ORN-1 RETRYOUT >"$WORK/s$p.out" 2>&1 ||
    fail "connect on port $p: $(cat "$WORK/s$p.out")"
done
! grep -E '^\[[1-9]' "$out" | grep -F "XX2ABC" || fail "a connect on port 0 or 1 reached the BBS: $(cat "$out")"

# Both beacons went out on port 2; nothing the BBS sent went out on 0 or 1.
wait_for 10 grep -qE "^2\|U\|.*Fm XX9ORN-1 To BEACON" "$WORK/air.txt" || fail "no beacon: $(cat "$WORK/air.txt")"
wait_for 10 grep -qE "^2\|U\|.*Fm XX9ORN-1 To MAIL" "$WORK/air.txt" || fail "no mail beacon: $(cat "$WORK/air.txt")"
touch "$WORK/air.stop"
! grep -E "^[01]\|.*Fm XX9ORN-1 " "$WORK/air.txt" || fail "the BBS transmitted on port 0 or 1"

kill -TERM $bbspid
wait $bbspid || fail "BBS exit status $?"
echo "engine ports on ornpe: ok"
