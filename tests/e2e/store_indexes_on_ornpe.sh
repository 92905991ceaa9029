#!/usr/bin/env bash
# Emptied index files on a BBS of the virtual engine: the start rebuilds
# MSG.IDX and USERS.IDX from their records and says so; every message and
# every user is there as before, a station is greeted by name and reads its
# mail, adding a user already there is refused, and a message stored
# afterwards lets the next start go quietly. The repair rebuilds indexes
# emptied under the running BBS, and ornctl on the stopped BBS does as the
# start does. The record files themselves never change.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
HERE=$(cd "$(dirname "$0")" && pwd)
CTL="$BUILD/ornctl"
station() { python3 "$HERE/station.py" --engine 127.0.0.1:$api_port --timeout 20 --connect-timeout 10 "$@"; }

start_ornpe

bbs="$WORK/bbs"; mkdir -p "$bbs"
write_ini "$bbs" "[PERSONAL]" "MYCALL=XX9ORN-1" "MYHIER=#ATH.GRC.EU" "[RADIO]" "PORTS=1" "ENGINEPORT=$api_port" \
  "[PORT0]" "CHANNELS=2" "BBSONLY=0" "LIMITED=0" "[LOG]" "LOGOK=1" "LOGOTHER=1"
bbspid=
start_bbs() {
  rm -f "$bbs/BBS.LOG"
  : >"$WORK/bbs.err"
  "$BUILD/ornbbs" --headless --dir "$bbs" >>"$WORK/bbs.out" 2>"$WORK/bbs.err" &
  bbspid=$!
  pids+=($bbspid)
  wait_for 15 grep -qs "UP" "$bbs/BBS.LOG" || fail "BBS did not start: $(cat "$WORK/bbs.err")"
  wait_for 10 test -S "$bbs/ornbbs.sock" || fail "no socket"
}
stop_bbs() {
  kill -TERM $bbspid
  wait $bbspid || fail "BBS exit status $?"
}
ctl() {  # RC ARGS...: ornctl must end with RC; its output in $out, errors in $err
  local want=$1; shift
  local rc=0
  "$CTL" --dir "$bbs" "$@" >"$WORK/ctl.out" 2>"$WORK/ctl.err" </dev/null || rc=$?
  out=$(cat "$WORK/ctl.out"); err=$(cat "$WORK/ctl.err")
  [ "$rc" = "$want" ] || fail "ornctl $* ended $rc, not $want: $out $err"
}
records() { sha256sum "$bbs/MSG.ADB" "$bbs/USERS.ADB" | cut -d' ' -f1 | tr '\n' ' '; }
listing() {  # every message and user as ornctl shows them
  ctl 0 msg list --json; local m=$out
  ctl 0 user list --json; echo "$m $out"
}
msgidx() { ls "$bbs" | grep -ix msg.idx; }
usersidx() { ls "$bbs" | grep -ix users.idx; }

# --- a BBS with thirty messages for a registered user with a password ---
start_bbs
station --call XX1ABC connect XX9ORN-1 expect ">\r" send "N Anna" expect ">\r" send "B" wait-disconnect \
  >"$WORK/s0.out" 2>&1 || fail "registering: $(cat "$WORK/s0.out")"
ctl 0 user add XX8ORN
ctl 0 user password XX1ABC
pw=$out
for i in $(seq 1 30); do printf 'SP XX1ABC @ XX9ORN < XX5DEF\nNumber %d\nText of message %d.\n/EX\n' $i $i; done \
  >"$WORK/thirty.txt"
ctl 0 msg import "$WORK/thirty.txt"
[ "$out" = "imported 30: 1001-1030, already here 0, skipped 0" ] || fail "import: $out"
stop_bbs
before=$(listing)
sums=$(records)

# --- both indexes emptied: the start rebuilds them ---
: >"$bbs/$(msgidx)"; : >"$bbs/$(usersidx)"
start_bbs
grep -q "MSG.IDX did not match 30 of the 30 records of MSG.ADB: the index was rebuilt from them." "$WORK/bbs.err" ||
  fail "the start said nothing of MSG.IDX: $(cat "$WORK/bbs.err")"
grep -q "USERS.IDX did not match 2 of the 2 records of USERS.ADB" "$WORK/bbs.err" ||
  fail "the start said nothing of USERS.IDX: $(cat "$WORK/bbs.err")"
grep -q "MSG.IDX did not match 30 of the 30" "$bbs/BBS.LOG" && grep -q "USERS.IDX did not match 2 of the 2" "$bbs/BBS.LOG" ||
  fail "not in the log: $(cat "$bbs/BBS.LOG")"
[ "$(listing)" = "$before" ] || fail "after the rebuild: $(listing) / before: $before"
[ "$(records)" = "$sums" ] || fail "the record files changed"
ctl 0 user show XX1ABC --json
[ "$(python3 -c "import json; print(json.load(open('$WORK/ctl.out'))['Password'])")" = "$pw" ] || fail "password lost"
ctl 1 user add XX1ABC
[ "$err" = "ornctl: XX1ABC is already a user" ] || fail "a second XX1ABC: $err"
# Known by name, with every message there to read.
station --call XX1ABC connect XX9ORN-1 expect "Anna" expect ">\r" \
  send "R 1001" expect "Text of message 1." expect ">\r" \
  send "R 1015" expect "Text of message 15." expect ">\r" \
  send "R 1030" expect "Text of message 30." expect ">\r" \
  send "B" wait-disconnect >"$WORK/s1.out" 2>&1 || fail "reader: $(cat "$WORK/s1.out")"
[ "$(stat -c %s "$bbs/USERS.ADB")" = $((2 * 19326)) ] || fail "a user record was added"
printf 'One more.\n' | "$CTL" --dir "$bbs" msg send --to XX1ABC --subject "Number 31" >"$WORK/send.out" ||
  fail "msg send: $(cat "$WORK/send.out")"
grep -q "^stored as 1031 " "$WORK/send.out" || fail "msg send said: $(cat "$WORK/send.out")"
stop_bbs

# --- the next start: nothing to mend ---
start_bbs
grep -q "IDX" "$WORK/bbs.err" && fail "the next start mended again: $(cat "$WORK/bbs.err")"
ctl 0 msg list --json
[ "$(python3 -c "import json; print(len(json.load(open('$WORK/ctl.out'))))")" = 31 ] || fail "not 31 messages: $out"
before=$(listing)
sums=$(records)

# --- emptied under the running BBS: the repair rebuilds them ---
: >"$bbs/$(msgidx)"; : >"$bbs/$(usersidx)"
ctl 0 optimize now
wait_for 30 bash -c "\"$CTL\" --dir \"$bbs\" status --json | grep -q '\"repair\":{\"running\":false'" ||
  fail "repair did not end"
ctl 0 optimize progress
grep -q "^MSG.IDX did not match 31 of the 31 records of MSG.ADB" <<<"$out" &&
  grep -q "^USERS.IDX did not match 2 of the 2 records" <<<"$out" || fail "repair said: $out"
grep -q "MSG.IDX did not match 31 of the 31" "$bbs/BBS.LOG" || fail "repair not in the log: $(cat "$bbs/BBS.LOG")"
[ "$(listing)" = "$before" ] || fail "after the repair: $(listing) / before: $before"
[ "$(records)" = "$sums" ] || fail "the repair changed the record files"
stop_bbs

# --- ornctl on the stopped BBS looks the files over as a start does ---
: >"$bbs/$(usersidx)"
ctl 1 user add XX1ABC
[[ "$err" == *"USERS.IDX did not match 2 of the 2 records of USERS.ADB"* ]] &&
  [[ "$err" == *"ornctl: XX1ABC is already a user"* ]] || fail "offline add said: $err"
[ "$(records)" = "$sums" ] || fail "ornctl changed the record files"
[ "$(listing)" = "$before" ] || fail "offline: $(listing) / before: $before"
echo "store indexes on ornpe: ok"
