#!/usr/bin/env bash
# What a fast client, a paste or a terminal that starts its YAPP packets with
# the command sends in one frame, through the virtual engine: every line is
# answered, the packets after "YU" belong to the upload, stray YAPP packets
# at the prompt spoil nothing. What a station sends to drive a terminal
# (title, clear screen, clipboard, cursor query) reaches "ornctl monitor" and
# "ornctl talk" visibly, and raw with --raw; a talk ends when its station
# leaves.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
HERE=$(cd "$(dirname "$0")" && pwd)
CTL="$BUILD/ornctl"

start_ornpe

d="$WORK/bbs"; mkdir -p "$d"
write_ini "$d" "[PERSONAL]" "MYCALL=XX9ORN-1" "MYNAME=Maria" "SYSOP=1" "[RADIO]" "PORTS=1" \
  "ENGINEPORT=$api_port" "[PORT0]" "CHANNELS=2" "BBSONLY=0" "LIMITED=0" "TIMEOUT=0" \
  "[LOG]" "LOGOK=1" "LOGCON=1" "LOGOTHER=1"
"$BUILD/ornbbs" --headless --dir "$d" >"$WORK/bbs.out" 2>"$WORK/bbs.err" &
bbspid=$!; pids+=($bbspid)
wait_for 10 grep -qs "UP" "$d/BBS.LOG" || fail "BBS did not start: $(cat "$WORK/bbs.err")"
wait_for 10 test -S "$d/ornbbs.sock" || fail "no socket"

"$CTL" --dir "$d" monitor >"$WORK/monitor.out" 2>&1 &
pids+=($!)
"$CTL" --dir "$d" monitor --raw >"$WORK/monitor_raw.out" 2>&1 &
pids+=($!)
sleep 1

python3 - "$HERE" 127.0.0.1:$api_port "$WORK" <<'PY' || fail "station: $(cat "$WORK/bbs.out" | tail -40)"
import sys, time
sys.path.insert(0, sys.argv[1])
from station import Station
work = sys.argv[3]
VERSION = b"v7.10 for Linux"

def check(cond, what, got):
    if not cond:
        sys.exit("%s: %r" % (what, got))

with Station(sys.argv[2], "XX1ABC", timeout=20, connect_timeout=10) as s:
    s.connect("XX9ORN-1")
    s.expect("You are new here")
    s.expect(">\r")
    # Name and home BBS in one frame: both are answered.
    s.send(b"N Anna\rM XX9ORN\r", end=b"")
    got = s.expect("Home BBS set to")
    check(b"Tnx, Anna." in got, "the name's answer", got)
    s.expect(">\r")
    s.send("B")
    s.wait_disconnect()

# Registered: the whole command set.
with Station(sys.argv[2], "XX1ABC", timeout=20, connect_timeout=10) as s:
    s.connect("XX9ORN-1")
    s.expect("welcome back")
    s.expect(">\r")
    # Two commands in one frame, two answers.
    s.send(b"V\rV\r", end=b"")
    got = s.expect(VERSION) + s.expect(VERSION)
    check(got.count(VERSION) == 2 and b"Invalid" not in got, "two versions", got)
    s.expect(">\r")
    # The command and the send-init together: the upload starts and is
    # answered with receive-ready.
    s.send(b"YU UP.BIN\r\x05\x01", end=b"")
    got = s.expect(b"\x06\x01")
    check(b"Ready to receive" in got and b"Invalid" not in got, "YU with its send-init", got)
    s.send(b"\x18\x09Cancelled", end=b"")
    s.expect(b"\x06\x05")
    s.expect(">\r")
    # The terminal's own acknowledgement and a send-init at the prompt are
    # no part of the next command.
    s.send(b"\x06\x05", end=b"")
    s.send(b"\x05\x01", end=b"")
    s.send(b"V\r", end=b"")
    got = s.expect(VERSION)
    check(b"Invalid" not in got, "the command after stray packets", got)
    s.expect(">\r")
    # What would drive the sysop's terminal.
    s.send(b"\x1b]0;owned\x07\x1b[2J\x1b]52;c;aGk=\x07\x1b[6n hello\r", end=b"")
    s.expect("Invalid command")
    s.expect(">\r")
    s.send("B")
    s.wait_disconnect()
PY

esc=$'\x1b'
shown='^[]0;owned^G^[[2J^[]52;c;aGk=^G^[[6n hello'
wait_for 10 grep -qF "$shown" "$WORK/monitor.out" || fail "monitor: $(cat -v "$WORK/monitor.out" | tail -20)"
! grep -q "$esc" "$WORK/monitor.out" || fail "an escape reached the monitor: $(cat -v "$WORK/monitor.out" | grep -F '^[' | head)"
grep -qF "${esc}]0;owned" "$WORK/monitor_raw.out" || fail "monitor --raw: $(cat -v "$WORK/monitor_raw.out" | tail -20)"

# A talk shows the station's escapes visibly and ends when the station leaves.
python3 "$HERE/station.py" --engine 127.0.0.1:$api_port --call XX1ABC --timeout 30 --connect-timeout 10 \
  connect XX9ORN-1 expect ">\r" send "T" expect "Go ahead!" \
  send-raw '\x1b[6n\x1b]0;x\x07 are you there?\r' sleep 2 disconnect >"$WORK/station2.out" 2>&1 &
spid=$!; pids+=($spid)
wait_for 20 grep -q "Chat Request" "$WORK/bbs.err" || fail "no page: $(cat "$WORK/station2.out")"
mkfifo "$WORK/talk.in"
"$CTL" --dir "$d" talk 1-1 <"$WORK/talk.in" >"$WORK/talk.out" 2>"$WORK/talk.err" &
tpid=$!; pids+=($tpid)
exec 3>"$WORK/talk.in"
wait_for 10 grep -q "talking with XX1ABC" "$WORK/talk.out" || fail "talk: $(cat "$WORK/talk.out" "$WORK/talk.err")"
wait $spid || fail "station in the talk: $(cat "$WORK/station2.out")"
# Standard input stays open: only the station's leaving ends the talk.
wait_for 10 sh -c "! kill -0 $tpid 2>/dev/null" || fail "talk did not end with its station: $(cat -v "$WORK/talk.out")"
wait $tpid || fail "talk ended $?: $(cat "$WORK/talk.err")"
exec 3>&-
grep -qF '^[[6n^[]0;x^G are you there?' "$WORK/talk.out" || fail "talk's text: $(cat -v "$WORK/talk.out")"
! grep -q "$esc" "$WORK/talk.out" || fail "an escape reached the talk: $(cat -v "$WORK/talk.out")"
grep -q "^\*\*\* the station left" "$WORK/talk.out" || fail "talk's end: $(cat "$WORK/talk.out")"

kill -TERM $bbspid
wait $bbspid || fail "BBS exit status $?"
echo "station lines on ornpe: ok"
