#!/usr/bin/env bash
# A station's first visits through the virtual engine, text for text: it is
# greeted as new, registers, comes back as a regular user, switches to expert
# mode, reads the help, pages the sysop (who sees the request) and leaves.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
SRC=$(cd "$(dirname "$0")/../.." && pwd)

start_ornpe

bbs="$WORK/bbs"; mkdir -p "$bbs"
write_ini "$bbs" "[PERSONAL]" "MYCALL=XX9ORN-1" "MYNAME=Maria" "SYSOP=1" "[RADIO]" "PORTS=1" \
  "ENGINEPORT=$api_port" "[PORT0]" "CHANNELS=2" "BBSONLY=0" "LIMITED=0" "[LOG]" "LOGOK=1" "LOGCON=1" "LOGTALK=1"
"$BUILD/ornbbs" --headless --echo-channels --dir "$bbs" >"$WORK/bbs.out" 2>"$WORK/bbs.err" &
pids+=($!)
bbspid=$!
wait_for 10 grep -qs "UP" "$bbs/BBS.LOG" || fail "BBS did not start: $(cat "$WORK/bbs.err")"

python3 "$(dirname "$0")/session_transcript.py" 127.0.0.1:$api_port "$SRC" Maria ||
  fail "transcript; BBS said: $(cat "$WORK/bbs.out")"
grep -qxF "Chat Request..: From XX1ABC,on Port:1,Channel:1. Answer: ornctl talk 1-1, decline: ornctl page decline 1-1" \
  "$WORK/bbs.err" ||
  fail "the sysop saw no page: $(cat "$WORK/bbs.err")"
grep -q -- "->.*Chat.*XX1ABC" "$bbs/BBS.LOG" || fail "no chat request in the log: $(cat "$bbs/BBS.LOG")"
kill -TERM $bbspid
wait $bbspid || fail "BBS exit status $?"
echo "session on ornpe: ok"
