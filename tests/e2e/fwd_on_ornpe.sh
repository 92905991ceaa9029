#!/usr/bin/env bash
# A partner BBS forwards one compressed message through the virtual engine:
# it connects, sends its SID and a proposal, the message as LZHUF-compressed
# packets (made by the lzhuf tool), and ends the exchange; the BBS stores the
# message and logs it.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
HERE=$(cd "$(dirname "$0")" && pwd)

start_ornpe

bbs="$WORK/bbs"; mkdir -p "$bbs"
write_ini "$bbs" "[PERSONAL]" "MYCALL=XX9ORN-1" "MYHIER=#ATH.GRC.EU" "[RADIO]" "PORTS=1" "ENGINEPORT=$api_port" \
  "[PORT0]" "CHANNELS=2" "BBSONLY=0" "LIMITED=0" "[LOG]" "LOGOK=1" "LOGOTHER=1"
bbspid=
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

# First visit: the partner is registered like any station; the sysop then
# makes it a forwarding BBS (type B, forwarding station, BIDs welcome).
start_bbs
python3 "$HERE/station.py" --engine 127.0.0.1:$api_port --call XX2BBB --timeout 20 --connect-timeout 10 \
  connect XX9ORN-1 expect ">\r" send "B" wait-disconnect >"$WORK/first.out" 2>&1 || fail "first visit: $(cat "$WORK/first.out")"
stop_bbs
python3 - "$bbs" <<'PY' || fail "could not make XX2BBB a partner"
import os, sys
bbs = sys.argv[1]
def patch(name, size, fields):
    path = next(os.path.join(bbs, f) for f in os.listdir(bbs) if f.lower() == name)
    data = bytearray(open(path, "rb").read())
    for i in range(0, len(data), size):
        if data[i + 4:i + 11].split(b"\0")[0] == b"XX2BBB":
            for off, val in fields:
                data[i + off:i + off + len(val)] = val
            open(path, "wb").write(data)
            return
    raise SystemExit("XX2BBB not in " + name)
patch("users.adb", 19326, [(26, b"B\0"), (162, b"Y\0"), (179, b"Y\0")])
patch("users.idx", 34, [(26, b"B\0"), (28, b"Y\0")])
PY

printf 'R:261209/0800Z @:XX2BBB.#X.Y [Town] #:17\r\n\r\nFrom: XX1AAA\r\nTo: XX3CCC\r\n\r\nHello from afar,\r\nforwarded compressed.\r\n' >"$WORK/msg.txt"
"$BUILD/lzhuf" e "$WORK/msg.txt" "$WORK/msg.lzh" || fail "lzhuf tool"

start_bbs
python3 - "$HERE" 127.0.0.1:$api_port "$WORK/msg.txt" "$WORK/msg.lzh" >"$WORK/partner.out" 2>&1 <<'PY' || fail "partner: $(cat "$WORK/partner.out")"
import sys
sys.path.insert(0, sys.argv[1])
from station import Station
text = open(sys.argv[3], "rb").read()
code = open(sys.argv[4], "rb").read()

line = b"FB P XX1AAA XX9ORN XX3CCC 41_XX1AAA %d\r" % len(text)
block = line + b"F> %02X\r" % ((256 - sum(line) % 256) % 256)
title = b"Greetings"
packets = b"\x01" + bytes([len(title) + 8]) + title + b"\0" * 6 + b"0\0"
for i in range(0, len(code), 250):
    packets += b"\x02" + bytes([len(code[i:i + 250]) & 0xFF]) + code[i:i + 250]
packets += b"\x04" + bytes([(256 - sum(code) % 256) % 256])

with Station(sys.argv[2], "XX2BBB", timeout=20, connect_timeout=10) as s:
    s.connect("XX9ORN-1")
    greeting = s.expect(">\r")
    assert greeting.startswith(b"[ORN-7.10-AB1FHMR$]\r"), greeting
    s.send(b"[FBB-7.00-ABFHMR$]\r" + block, end=b"")
    s.expect("FS +\r")
    s.send(packets, end=b"")
    s.expect("FF\r")
    s.send("FQ")
    s.wait_disconnect()
print("partner ok")
PY
wait_for 10 grep -qs "FWD Rcv> Msg#1001 from XX2BBB" "$bbs/BBS.LOG" || fail "no receive in the log: $(cat "$bbs/BBS.LOG")"
stored=$(find "$bbs" -iname 1001.amm)
[ -n "$stored" ] || fail "message 1001 not stored"
grep -q "forwarded compressed." "$stored" || fail "stored text: $(cat "$stored")"
head -1 "$stored" | grep -q "^R:.*XX9ORN" || fail "no routing line of ours: $(head -1 "$stored")"
stop_bbs
echo "forwarding on ornpe: ok"
