#!/usr/bin/env bash
# YAPP with terminals on the virtual engine's telnet gateway, BINARY on: an
# independent peer (yapp_peer.py) downloads and uploads files of 0 to 70 000
# bytes with every byte value, plain and YAPP-C, byte for byte (one upload
# starts right after YU, as a terminal that does not wait for the answer's
# text); cancels in the middle of the data; and falls silent, after which its
# channel is free again within the YAPP time-out and no part file is left. Seven stations run at
# once: downloads go at one block a second, so the two of 70 000 bytes set
# the pace (about five minutes).
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT

start_ornpe
gateway=$(sed -n 's/^ornpe ready .*gateway=\([^ ]*\).*/\1/p' "$WORK/ornpe.out")
[ -n "$gateway" ] || fail "no gateway address: $(cat "$WORK/ornpe.out")"

bbs="$WORK/bbs"; mkdir -p "$bbs"
write_ini "$bbs" "[PERSONAL]" "MYCALL=XX9ORN-1" "[RADIO]" "PORTS=1" "ENGINEPORT=$api_port" \
  "[PORT0]" "CHANNELS=7" "TIMEOUT=10" "BBSONLY=0" "LIMITED=0" "[LOG]" "LOGOK=1"
"$BUILD/ornbbs" --headless --echo-channels --dir "$bbs" >"$WORK/bbs.out" 2>"$WORK/bbs.err" &
pids+=($!)
bbspid=$!
wait_for 10 grep -qs "UP" "$bbs/BBS.LOG" || fail "BBS did not start: $(cat "$WORK/bbs.err")"

python3 "$(dirname "$0")/yapp_peer.py" --gateway "$gateway" --bbs "$bbs" suite ||
  fail "yapp suite; BBS errors: $(tail -20 "$WORK/bbs.err")"
kill -0 $bbspid || fail "the BBS has gone"
kill -TERM $bbspid
wait $bbspid || fail "BBS exit status $?"
echo "yapp on ornpe: ok"
