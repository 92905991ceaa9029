#!/usr/bin/env bash
# LinFBB (xfbbd) calls the BBS in MBL mode and in plain FBB mode, through the
# virtual engine's BBS gateway: it forwards a personal message and a bulletin,
# the BBS stores both and, on its turn, forwards a message of its own that
# xfbbd stores. Runs in a private network namespace (exit status 77, skipped,
# without root or unshare).
BUILD=${1:?build directory}
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=$(cd "$BUILD" && pwd)
if [ -z "${ORN_IN_NETNS:-}" ]; then
  [ -x /usr/sbin/xfbbd ] || { echo "FAIL: /usr/sbin/xfbbd missing: run tools/install-deps" >&2; exit 1; }
  ORN_IN_NETNS=1 exec timeout 250 "$HERE/linfbb/netns.sh" bash "$0" "$BUILD"
fi
. "$HERE/lib.bash"

one_mode() {
  local mode=$1
  make_workdir
  pids=()
  start_ornpe --bbs-gateway 127.0.0.1:0 --bbs XX9ORN
  local gw
  gw=$(sed -n 's/^ornpe ready .* bbs-gateway=\([^ ]*\)$/\1/p' "$WORK/ornpe.out")
  bbs="$WORK/bbs"; mkdir -p "$bbs"
  write_ini "$bbs" "[PERSONAL]" "MYCALL=XX9ORN" "MYHIER=#TST.XX.EU" "[RADIO]" "PORTS=1" "ENGINEPORT=$api_port" \
    "[PORT0]" "CHANNELS=2" "BBSONLY=0" "LIMITED=0" "[LOG]" "LOGOK=1" "LOGOTHER=1"

  # The sysop makes xfbbd's call a forwarding BBS (through the store's own
  # functions) that takes mail for @XX8FBB; a station's message for it is
  # then queued for it as the BBS routes it.
  "$BUILD/test_partner" "$bbs" XX8FBB "@XX8FBB" XX8FBB "" || fail "could not make XX8FBB a partner"
  start_bbs
  python3 "$HERE/station.py" --engine 127.0.0.1:$api_port --call XX1AAA --timeout 20 --connect-timeout 10 \
    connect XX9ORN expect ">\r" send "N Al" expect ">\r" \
    send "SP XX9ABC @ XX8FBB" expect "Subject:" send "From ornbbs" send "Hello LinFBB," send "second line." \
    send "/EX" expect ">\r" send "B" wait-disconnect >"$WORK/entry.out" 2>&1 || fail "entry: $(cat "$WORK/entry.out")"

  python3 "$HERE/linfbb/linfbb.py" --dir "$WORK/fbb" --mode "$mode" --partner XX9ORN --partner-addr "$gw" \
    start send P XX9ABC XX9ORN "Private title" "line one|line two" send B ALL WW "Bull title" "for all" PLAIN1 \
    forward expect-message XX9ORN_1001 90 sleep 5 messages >"$WORK/linfbb.out" 2>&1 ||
    fail "$mode: xfbbd: $(cat "$WORK/linfbb.out")"
  grep -qs "FWD Rcv> Msg#1003 from XX8FBB" "$bbs/BBS.LOG" || fail "$mode: not both received: $(cat "$bbs/BBS.LOG")"
  grep -qs "FWD Send> Msg#1001 to XX8FBB" "$bbs/BBS.LOG" || fail "$mode: not sent: $(cat "$bbs/BBS.LOG")"
  local stored
  stored=$(find "$bbs" -iname 1002.amm)
  grep -q "^line two" "$stored" || fail "$mode: stored text: $(cat "$stored")"
  head -1 "$stored" | grep -q "^R:.*XX9ORN" || fail "$mode: no routing line of ours"
  grep -q '"bid": "XX9ORN_1001".*Hello LinFBB,\\r\\nsecond line.\\r\\n' "$WORK/linfbb.out" ||
    fail "$mode: xfbbd holds: $(cat "$WORK/linfbb.out")"
  grep -q '"bid": "PLAIN1", "title": "Bull title"' "$WORK/linfbb.out" || fail "$mode: bulletin not sent"
  stop_bbs
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -n "${KEEP:-}" ] || rm -rf "$WORK"
  echo "LinFBB in $mode mode: ok"
}

start_bbs() {
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
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT

one_mode mbl
one_mode fbb
