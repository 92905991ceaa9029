#!/usr/bin/env bash
# A station pages the sysop of a headless BBS on the virtual engine, and the
# sysop answers from the shell: the page is a journal line and a row of
# "ornctl page"; "page decline" sends the station back to its prompt with
# the BBS's answer; "ornctl talk" chats both ways until Ctrl-D, and /BYE
# does the same; "sysop on|off" is kept in ORN.INI and decides whether T pages.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
# The processes are waited for before their directory goes: a BBS still
# writing its log as it ends would make the removal fail, and the test with it.
trap 'exec 3>&- 2>/dev/null || true; for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
      wait 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$WORK" || true' EXIT
HERE=$(cd "$(dirname "$0")" && pwd)
CTL="$BUILD/ornctl"

start_ornpe
d="$WORK/bbs"; mkdir -p "$d"
write_ini "$d" "[PERSONAL]" "MYCALL=XX9ORN-1" "MYNAME=Nikos" "SYSOP=0" "[RADIO]" "PORTS=1" "ENGINEPORT=$api_port" \
  "[PORT0]" "CHANNELS=2" "BBSONLY=0" "LIMITED=0" "TIMEOUT=0" "[LOG]" "LOGOK=1" "LOGOTHER=1"
"$BUILD/ornbbs" --headless --echo-channels --dir "$d" >"$d.out" 2>"$d.err" &
pids+=($!)
wait_for 15 grep -qs "UP" "$d/BBS.LOG" || fail "BBS did not start: $(cat "$d.err")"
wait_for 10 test -S "$d/ornbbs.sock" || fail "no socket"

ctl() {  # RC ARGS...: ornctl must end with RC; output in $out, errors in $err
  local want=$1; shift
  local rc=0
  "$CTL" --dir "$d" "$@" >"$WORK/ctl.out" 2>"$WORK/ctl.err" </dev/null || rc=$?
  out=$(cat "$WORK/ctl.out"); err=$(cat "$WORK/ctl.err")
  [ "$rc" = "$want" ] || fail "ornctl $* ended $rc, not $want: $out $err"
}

ctl 0 sysop on
grep -q "^SYSOP=1" "$d/ORN.INI" || fail "ORN.INI: $(cat "$d/ORN.INI")"
ctl 0 page
[ "$out" = "no pages" ] || fail "page before any: $out"

python3 "$HERE/station.py" --engine 127.0.0.1:$api_port --call XX1ABC --timeout 30 --connect-timeout 10 \
  connect XX9ORN-1 expect ">\r" send "N Anna" expect ">\r" \
  send "T" expect "please wait" expect ">\r" \
  expect "The sysop does not answer." expect ">\r" \
  send "T" expect "please wait" \
  expect "Hello XX1ABC, this is Nikos. Go ahead!" expect "Hi Anna, from the shell" send "Hello Nikos" \
  expect "You are back in the BBS." expect ">\r" \
  send "T" expect "please wait" expect "Go ahead!" expect "You are back in the BBS." expect ">\r" \
  send "B" wait-disconnect >"$WORK/station.out" 2>&1 &
spid=$!; pids+=($spid)

# The page: a journal line naming the channel and the commands, and a row.
page_line="Chat Request..: From XX1ABC,on Port:1,Channel:1. Answer: ornctl talk 1-1, decline: ornctl page decline 1-1"
wait_for 20 grep -qF "$page_line" "$d.err" || fail "no journal line: $(cat "$d.err") $(cat "$WORK/station.out")"
ctl 0 page --json
[ "$(python3 -c "import json; print([(p['channel'], p['call']) for p in json.load(open('$WORK/ctl.out'))])")" = \
  "[('1-1', 'XX1ABC')]" ] || fail "page list: $out"
ctl 0 page decline 1-1

# Paged again, answered with a talk; Ctrl-D (end of input) ends it.
pages_seen() { [ "$(grep -cF "$page_line" "$d.err")" = "$1" ]; }
wait_for 20 pages_seen 2 || fail "no second page: $(cat "$WORK/station.out")"
mkfifo "$WORK/talk.in"
"$CTL" --dir "$d" talk 1-1 <"$WORK/talk.in" >"$WORK/talk.out" 2>"$WORK/talk.err" &
tpid=$!; pids+=($tpid)
exec 3>"$WORK/talk.in"
wait_for 10 grep -q "talking with XX1ABC on channel 1-1" "$WORK/talk.out" || fail "talk: $(cat "$WORK/talk.out" "$WORK/talk.err")"
ctl 0 status --json
grep -q '"call":"XX1ABC","state":"terminal"' <<<"$out" || fail "not in terminal mode: $out"
ctl 1 talk 1-1
[[ "$err" == *"in terminal mode already"* ]] || fail "a second talk said: $err"
echo "Hi Anna, from the shell" >&3
wait_for 20 grep -q "Hello Nikos" "$WORK/talk.out" || fail "the station's line: $(cat "$WORK/talk.out") $(cat "$WORK/station.out")"
exec 3>&-
wait $tpid || fail "talk ended $?: $(cat "$WORK/talk.err")"
grep -q "^\*\*\* back in the BBS" "$WORK/talk.out" || fail "talk's end: $(cat "$WORK/talk.out")"

# Without a page, and /BYE at once.
wait_for 20 pages_seen 3 || fail "no third page: $(cat "$WORK/station.out")"
printf '/BYE\n' | "$CTL" --dir "$d" talk 1-1 >"$WORK/talk2.out" 2>&1 || fail "talk /BYE: $(cat "$WORK/talk2.out")"
wait $spid || fail "station: $(cat "$WORK/station.out")"

# Away: kept in ORN.INI, and T says so.
ctl 0 sysop off
grep -q "^SYSOP=0" "$d/ORN.INI" || fail "ORN.INI: $(cat "$d/ORN.INI")"
python3 "$HERE/station.py" --engine 127.0.0.1:$api_port --call XX1ABC --timeout 20 --connect-timeout 10 \
  connect XX9ORN-1 expect ">\r" send "T" expect "Sorry, Nikos is not at the station." send "B" wait-disconnect \
  >"$WORK/station2.out" 2>&1 || fail "station away: $(cat "$WORK/station2.out")"
[ "$(grep -c "Chat Request" "$d.err")" = 3 ] || fail "a page while away: $(cat "$d.err")"
echo "pages on ornpe: ok"
