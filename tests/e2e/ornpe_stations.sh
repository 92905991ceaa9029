#!/usr/bin/env bash
# The virtual packet engine on real sockets: two scripted stations connect,
# exchange lines and disconnect; a connect to nobody retries out; a terminal
# on the gateway talks to a station registered as the BBS; a client that
# announces an over-long frame is closed.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
STATION="python3 $(dirname "$0")/station.py"

"$BUILD/ornpe" --listen 127.0.0.1:0 --gateway 127.0.0.1:0 --retry-ms 600 \
  >"$WORK/ornpe.out" 2>"$WORK/ornpe.log" &
pids+=($!)
wait_for 10 grep -qs "^ornpe ready" "$WORK/ornpe.out" || fail "ornpe not ready: $(cat "$WORK/ornpe.log")"
read -r API GATEWAY < <(sed -n 's/^ornpe ready api=\(.*\) gateway=\(.*\)$/\1 \2/p' "$WORK/ornpe.out")
export API GATEWAY
station() { $STATION --engine "$API" --timeout 10 --connect-timeout 10 "$@"; }

# Two stations: B waits for a call, A calls it; lines both ways; A hangs up.
station --call XX2BBB register accept XX1AAA expect 'hello B\r' send 'hello A' \
  wait-disconnect 'DISCONNECTED From Station XX1AAA' >"$WORK/b.out" 2>"$WORK/b.err" &
b=$!
pids+=($b)
wait_for 10 grep -qs "register ok" "$WORK/b.out" || fail "B did not register: $(cat "$WORK/b.err")"
station --call XX1AAA connect XX2BBB send 'hello B' expect 'hello A\r' disconnect \
  >"$WORK/a.out" 2>"$WORK/a.err" || fail "station A: $(cat "$WORK/a.err")"
wait $b || fail "station B: $(cat "$WORK/b.err")"
grep -qx "XX1AAA: connect ok: \*\*\* CONNECTED With Station XX2BBB" "$WORK/a.out" || fail "A: $(cat "$WORK/a.out")"
grep -qx "XX2BBB: accept ok: XX1AAA" "$WORK/b.out" || fail "B: $(cat "$WORK/b.out")"
grep -qx "XX1AAA: disconnect ok: \*\*\* DISCONNECTED From Station XX2BBB" "$WORK/a.out" || fail "A: $(cat "$WORK/a.out")"

# Nobody has this call: the attempt gives up after the retry time.
start=$SECONDS
station --call XX1AAA connect-fails XX3CCC 'DISCONNECTED RETRYOUT With XX3CCC' >"$WORK/c.out" 2>&1 ||
  fail "connect to nobody: $(cat "$WORK/c.out")"
[ $((SECONDS - start)) -lt 5 ] || fail "RETRYOUT took $((SECONDS - start)) s"

# A terminal on the gateway: the BBS call is the first one registered.
station --call XX9ORN-1 register accept XX1GW expect 'hello bbs\rsecond line\r' \
  send-raw 'Welcome\rXX9ORN BBS>\r' expect 'bye\r' send 'B' \
  disconnect >"$WORK/bbs.out" 2>"$WORK/bbs.err" &
bbs=$!
pids+=($bbs)
wait_for 10 grep -qs "register ok" "$WORK/bbs.out" || fail "BBS station did not register"
python3 - <<'PY' || fail "gateway terminal"
import os, socket, sys, time
host, _, port = os.environ["GATEWAY"].rpartition(":")
s = socket.create_connection((host, int(port)), timeout=10)
got = b""
def until(text):
    global got
    end = time.monotonic() + 10
    while text not in got:
        if time.monotonic() > end:
            sys.exit("waited for %r, got %r" % (text, got))
        chunk = s.recv(4096)
        if not chunk:
            sys.exit("closed while waiting for %r, got %r" % (text, got))
        got += chunk
until(b"Callsign: ")
s.sendall(b"xx1gw\n")
until(b"*** CONNECTED With Station XX9ORN-1\r\n")
s.sendall(b"hello bbs\r\nsecond line\n")
until(b"Welcome\r\nXX9ORN BBS>\r\n")
s.sendall(b"bye\n")
until(b"*** DISCONNECTED From Station XX9ORN-1\r\n")
s.settimeout(10)
if s.recv(100) != b"":
    sys.exit("the gateway did not close after the disconnect")
PY
wait $bbs || fail "BBS station: $(cat "$WORK/bbs.err")"
grep -qx "XX9ORN-1: accept ok: XX1GW" "$WORK/bbs.out" || fail "BBS: $(cat "$WORK/bbs.out")"

# Hanging up the terminal disconnects its station from the BBS.
station --call XX9ORN-1 register accept XX2GW wait-disconnect 'DISCONNECTED From Station XX2GW' \
  >"$WORK/bbs2.out" 2>"$WORK/bbs2.err" &
bbs=$!
pids+=($bbs)
wait_for 10 grep -qs "register ok" "$WORK/bbs2.out" || fail "BBS station did not register again"
python3 - <<'PY' || fail "gateway hang-up"
import os, socket, time
host, _, port = os.environ["GATEWAY"].rpartition(":")
s = socket.create_connection((host, int(port)), timeout=10)
s.recv(100)
s.sendall(b"XX2GW\r\n")
got = b""
while b"CONNECTED" not in got:
    got += s.recv(100)
s.close()
PY
wait $bbs || fail "BBS station after hang-up: $(cat "$WORK/bbs2.err")"

# A client announcing more data than an engine frame holds is closed.
python3 - <<'PY' || fail "over-long frame"
import os, socket, struct
host, _, port = os.environ["API"].rpartition(":")
s = socket.create_connection((host, int(port)), timeout=10)
s.sendall(struct.pack("<B3xBxBx10s10sII", 0, ord("D"), 0xF0, b"XX1AAA", b"XX2BBB", 2123, 0))
assert s.recv(10) == b"", "still open"
PY
grep -q "announced more than 2122 data bytes" "$WORK/ornpe.log" || fail "no log line for the closed client"
kill -0 "${pids[0]}" || fail "ornpe died: $(cat "$WORK/ornpe.log")"
echo "ornpe stations: ok"
