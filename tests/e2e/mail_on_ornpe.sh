#!/usr/bin/env bash
# Mail through the virtual engine: one station leaves a private message for
# another and a bulletin; the mail beacon names the addressee; the addressee
# is told of its mail, lists, reads and kills it; the mail beacon then no
# longer names it.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
STATION="python3 $(dirname "$0")/station.py"

start_ornpe
station() { $STATION --engine 127.0.0.1:$api_port --timeout 20 --connect-timeout 10 "$@"; }

bbs="$WORK/bbs"; mkdir -p "$bbs"
write_ini "$bbs" "[PERSONAL]" "MYCALL=XX9ORN-1" "MYHIER=#ATH.GRC.EU" "[RADIO]" "PORTS=1" "ENGINEPORT=$api_port" \
  "MSGBEACON=Mail for:\$q" "[PORT0]" "CHANNELS=2" "BBSONLY=0" "LIMITED=0" "UNPROTO=MAIL" "MAILBEACON=50" \
  "[LOG]" "LOGOK=1"
bbspid=
start_bbs() {  # the mail beacon goes out at the first tick after a start
  "$BUILD/ornbbs" --headless --echo-channels --dir "$bbs" >>"$WORK/bbs.out" 2>>"$WORK/bbs.err" &
  bbspid=$!
  pids+=($bbspid)
  wait_for 10 grep -qs "UP" "$bbs/BBS.LOG" || fail "BBS did not start: $(cat "$WORK/bbs.err")"
}
stop_bbs() {
  kill -TERM $bbspid
  wait $bbspid || fail "BBS exit status $?"
  rm -f "$bbs/BBS.LOG"
}
# The next mail beacon the BBS sends, as a monitoring station hears it.
listen_for_beacon() {
  station --call XX8MON monitor expect-monitor "To MAIL" print >"$WORK/beacon.out" 2>&1 &
  listener=$!
  pids+=($listener)
  wait_for 10 grep -qs "monitor ok" "$WORK/beacon.out" || fail "monitor station: $(cat "$WORK/beacon.out")"
}

start_bbs
station --call XX1ABC connect XX9ORN-1 expect ">\r" \
  send "N Anna" expect ">\r" \
  send "SP XX2BBB" expect "Subject:" send "Hello Bob" expect "Ctrl-Z:" \
  send "See you on the net tonight." send "73 Anna" send "/EX" expect "stored." \
  send "B" wait-disconnect >"$WORK/a.out" 2>&1 || fail "sender: $(cat "$WORK/a.out")"
# Registered now, the sender may post a bulletin at its next visit.
station --call XX1ABC connect XX9ORN-1 expect ">\r" \
  send "SB ALL @ EU Weekend net" expect "Ctrl-Z:" send "Net on Sunday at 10." send "/EX" expect "stored." \
  send "B" wait-disconnect >"$WORK/a2.out" 2>&1 || fail "sender, second visit: $(cat "$WORK/a2.out")"

listen_for_beacon
stop_bbs
start_bbs
wait $listener || fail "no mail beacon: $(cat "$WORK/beacon.out")"
grep -q "Mail for:.*XX2BBB" "$WORK/beacon.out" || fail "beacon without the addressee: $(cat "$WORK/beacon.out")"

station --call XX2BBB connect XX9ORN-1 expect "You have new mail" expect ">\r" \
  send "N Bob" expect ">\r" send "B" wait-disconnect >"$WORK/b1.out" 2>&1 || fail "addressee: $(cat "$WORK/b1.out")"
station --call XX2BBB connect XX9ORN-1 expect "You have new mail" expect ">\r" \
  send "L" expect "Weekend net" expect ">\r" \
  send "R 1001" expect "See you on the net tonight." expect ">\r" \
  send "K 1001" expect "erased." \
  send "B" wait-disconnect >"$WORK/b.out" 2>&1 || fail "addressee: $(cat "$WORK/b.out")"

listen_for_beacon
stop_bbs
start_bbs
wait $listener || fail "no mail beacon: $(cat "$WORK/beacon.out")"
grep -q "XX2BBB" "$WORK/beacon.out" && fail "the beacon still names the addressee: $(cat "$WORK/beacon.out")"
stop_bbs
echo "mail on ornpe: ok"
