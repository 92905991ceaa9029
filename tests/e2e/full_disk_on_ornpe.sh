#!/usr/bin/env bash
# The BBS on a disk that fills up (a small tmpfs, in a mount namespace of its
# own): a new station is told that no new users can be taken and let go; a
# message that still fits is stored with the highest number on disk in
# LASTMSG.DAT; one that does not is refused and leaves the number where it was.
BUILD=${1:?build directory}
if [ -z "${ORN_OWN_MOUNTS:-}" ]; then
  [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null || { echo "needs root and mount namespaces: skipped"; exit 77; }
  ORN_OWN_MOUNTS=1 exec unshare -m --propagation private bash "$0" "$@"
fi
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; umount "$WORK/bbs" 2>/dev/null || true
      [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
station() { python3 "$(dirname "$0")/station.py" --engine 127.0.0.1:$api_port --timeout 15 --connect-timeout 10 "$@"; }

start_ornpe

bbs="$WORK/bbs"; mkdir -p "$bbs"
mount -t tmpfs -o size=4m tmpfs "$bbs" || { echo "no tmpfs: skipped"; exit 77; }
# The log lives off the small disk, so that its lines take no room there.
: >"$WORK/BBS.LOG"
write_ini "$bbs" "[PERSONAL]" "MYCALL=XX9ORN-1" "[RADIO]" "PORTS=1" "ENGINEPORT=$api_port" \
  "[PORT0]" "CHANNELS=2" "BBSONLY=0" "LIMITED=0" "[LOG]" "LOGOK=1" "LOGOTHER=1" "LOGFILE=$WORK/BBS.LOG"
"$BUILD/ornbbs" --headless --echo-channels --dir "$bbs" >"$WORK/bbs.out" 2>"$WORK/bbs.err" &
pids+=($!)
bbspid=$!
wait_for 10 grep -qs "UP" "$WORK/BBS.LOG" || fail "BBS did not start: $(cat "$WORK/bbs.err")"

send_message() {  # CALL SUBJECT EXPECTED
  station --call "$1" connect XX9ORN-1 expect ")>\r" \
    send "SP XX2BBB $2" expect "Ctrl-Z:" send "A short text." send "/EX" expect "$3" \
    send "B" wait-disconnect
}
free_pages() { stat -f -c %a "$bbs"; }
lastmsg() { tr -d '\r\n' <"$bbs/LASTMSG.DAT"; }

station --call XX1ABC connect XX9ORN-1 expect ")>\r" send "N Anna" expect ")>\r" send "B" wait-disconnect \
  >"$WORK/a0.out" 2>&1 || fail "registering: $(cat "$WORK/a0.out")"
send_message XX1ABC one "Msg# 1001" >"$WORK/a1.out" 2>&1 || fail "first message: $(cat "$WORK/a1.out")"

# Full to the last page.
dd if=/dev/zero of="$bbs/filler" bs=4096 2>/dev/null || true
[ "$(free_pages)" = 0 ] || fail "the disk is not full: $(free_pages) pages free"
station --call XX3NEW connect XX9ORN-1 expect "The BBS cannot take new users now." wait-disconnect \
  >"$WORK/new.out" 2>&1 || fail "new station on a full disk: $(cat "$WORK/new.out")"
grep -q "<New user not stored> 1 from XX3NEW" "$WORK/BBS.LOG" || fail "not in the log: $(cat "$WORK/BBS.LOG")"

# Two pages: the message's lines while it is typed, and its text; the
# number's mark has to fit too.
truncate -s -8192 "$bbs/filler"
[ "$(free_pages)" = 2 ] || fail "expected 2 free pages, have $(free_pages)"
send_message XX1ABC two "Msg# 1002" >"$WORK/a2.out" 2>&1 || fail "second message: $(cat "$WORK/a2.out")"
[ "$(lastmsg)" = 1002 ] || fail "LASTMSG.DAT says $(lastmsg) after message 1002"

# One page: no room for the text.
[ "$(free_pages)" = 1 ] || fail "expected 1 free page, have $(free_pages)"
send_message XX1ABC three "not stored" >"$WORK/a3.out" 2>&1 || fail "third message: $(cat "$WORK/a3.out")"
[ "$(lastmsg)" -ge 1002 ] || fail "LASTMSG.DAT says $(lastmsg), below message 1002"
[ ! -e "$bbs/MAIL/1003.amm" ] && [ ! -e "$bbs/mail/1003.amm" ] || fail "a text of the refused message is left"
[ "$(stat -c %s "$bbs/MSG.ADB" 2>/dev/null || stat -c %s "$bbs/msg.adb")" = 830 ] || fail "msg.adb is not two records"

# With room again, the next message takes the next number.
rm -f "$bbs/filler"
send_message XX1ABC four "Msg# 1003" >"$WORK/a4.out" 2>&1 || fail "fourth message: $(cat "$WORK/a4.out")"
[ "$(lastmsg)" = 1003 ] || fail "LASTMSG.DAT says $(lastmsg) after message 1003"
kill -0 $bbspid || fail "the BBS has gone"
kill -TERM $bbspid
wait $bbspid || fail "BBS exit status $?"
echo "full disk on ornpe: ok"
