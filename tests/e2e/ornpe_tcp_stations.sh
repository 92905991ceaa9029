#!/usr/bin/env bash
# ornpe's stations behind TCP: a connect to a --dial call reaches a TCP peer,
# every byte value intact both ways (telnet and raw); a close on either side
# is a disconnect on the other; a peer that refuses ends the attempt as a
# retry-out; a client that vanishes disconnects the stations it was linked
# to; a BBS calling in on --bbs-gateway answers the callsign question and
# then passes binary.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
HERE=$(cd "$(dirname "$0")" && pwd)

telnet_port=$(free_port)
raw_port=$(free_port)
refused_port=$(free_port)
[ "$telnet_port" != "$raw_port" ] && [ "$raw_port" != "$refused_port" ] && [ "$telnet_port" != "$refused_port" ] ||
  fail "the same free port twice, run again"
start_ornpe --bbs-gateway 127.0.0.1:0 --ports 2 --retry-ms 3000 --bbs XX9ORN-1 \
  --dial XX5FBB=127.0.0.1:$telnet_port --dial xx6raw=127.0.0.1:$raw_port,raw --dial XX7REF=127.0.0.1:$refused_port
read -r API BBSGW < <(sed -n 's/^ornpe ready api=\([^ ]*\) gateway=[^ ]* bbs-gateway=\([^ ]*\)$/\1 \2/p' "$WORK/ornpe.out")
[ -n "$BBSGW" ] || fail "no BBS gateway in: $(cat "$WORK/ornpe.out")"

python3 - "$HERE" "$API" "$BBSGW" "$telnet_port" "$raw_port" >"$WORK/test.out" 2>&1 <<'PY' || fail "$(cat "$WORK/test.out")"
import queue, socket, sys, threading, time
sys.path.insert(0, sys.argv[1])
from station import Station
API, BBSGW = sys.argv[2], sys.argv[3]
TELNET_PORT, RAW_PORT = int(sys.argv[4]), int(sys.argv[5])
ALL = bytes(range(256))
IAC = b"\xff"

def doubled(b):
    return b.replace(IAC, IAC + IAC)

def recv_exact(c, n):
    got = b""
    while len(got) < n:
        chunk = c.recv(n - len(got))
        if not chunk:
            raise AssertionError("closed after %r" % got)
        got += chunk
    return got

def recv_to_eof(c):
    got = b""
    while True:
        chunk = c.recv(4096)
        if not chunk:
            return got
        got += chunk

# The far BBSes: what each connection got goes into `heard`.
heard = queue.Queue()

def serve(port, handlers):
    srv = socket.create_server(("127.0.0.1", port))
    def loop():
        for handler in handlers:
            c, _ = srv.accept()
            c.settimeout(15)
            threading.Thread(target=lambda c=c, h=handler: heard.put(h(c)), daemon=True).start()
    threading.Thread(target=loop, daemon=True).start()

def telnet_far_closes(c):
    # Asks for ECHO (refused) and for binary from the caller (agreed).
    c.sendall(IAC + b"\xfb\x01" + IAC + b"\xfd\x00" + b"Welcome\r" + doubled(ALL) + b"\r")
    got = recv_exact(c, 6 + len(doubled(ALL + b"\r")))
    c.sendall(b"bye\r")
    c.close()
    return got

def telnet_until_eof(c):
    return recv_to_eof(c)

def raw_until_eof(c):
    c.sendall(IAC + b"\xfb\x01" + ALL + b"\r")
    return recv_to_eof(c)

serve(TELNET_PORT, [telnet_far_closes, telnet_until_eof])
serve(RAW_PORT, [raw_until_eof])

def take(s, n):
    """Exactly n bytes of connected data, in frames of PACLEN at most."""
    data, s.rx = s.rx, b""
    end = time.monotonic() + 15
    while len(data) < n:
        f = s.wait_for("Dd", s._link_frame, max(0.1, end - time.monotonic()))
        assert f is not None and f.kind == "D", "after %d bytes: %r" % (len(data), f)
        assert len(f.data) <= 256, len(f.data)
        data += f.data
    s.rx = data[n:]
    return data[:n]

def far_got():
    try:
        return heard.get(timeout=15)
    except queue.Empty:
        raise AssertionError("the far BBS's connection did not end")

def step(name):
    print("--", name, flush=True)

step("telnet peer: every byte both ways, the peer closes")
mon = Station(API, "XX8MON", timeout=15)
mon.monitor()
with Station(API, "XX1AAA", timeout=15, connect_timeout=15) as a:
    assert a.connect("XX5FBB").strip() == "*** CONNECTED With Station XX5FBB"
    got = take(a, len(b"Welcome\r" + ALL + b"\r"))
    assert got == b"Welcome\r" + ALL + b"\r", got
    a.send(ALL, end=b"\r")
    far = far_got()
    assert far == IAC + b"\xfe\x01" + IAC + b"\xfb\x00" + doubled(ALL + b"\r"), far
    a.expect("bye\r")
    notice = a.wait_disconnect()
    assert "DISCONNECTED From Station XX5FBB" in notice, notice
mon.expect_monitor("1:Fm XX1AAA To XX5FBB <SABM")
mon.expect_monitor("1:Fm XX5FBB To XX1AAA <UA")
mon.expect_monitor("1:Fm XX5FBB To XX1AAA <DISC")

step("raw peer on port 1: bytes exactly as they are, the station disconnects")
with Station(API, "XX2BBB", port=1, timeout=15, connect_timeout=15) as b:
    assert "CONNECTED With Station XX6RAW" in b.connect("XX6RAW")
    got = take(b, 3 + 256 + 1)
    assert got == IAC + b"\xfb\x01" + ALL + b"\r", got
    b.send(ALL + IAC + IAC, end=b"")
    assert "DISCONNECTED From Station XX6RAW" in b.disconnect()
    far = far_got()
    assert far == ALL + IAC + IAC, far

step("a refused dial retries out at once")
with Station(API, "XX1AAA", timeout=15, connect_timeout=15) as a:
    start = time.monotonic()
    f = a.try_connect("XX7REF")
    assert f.kind == "d" and "DISCONNECTED RETRYOUT With XX7REF" in f.text, f
    assert time.monotonic() - start < 2.5, "took %.1f s" % (time.monotonic() - start)

step("a client that vanishes hangs up its dialled peer")
c = Station(API, "XX3CCC", timeout=15, connect_timeout=15)
c.connect("XX5FBB")
c.send("last words")
time.sleep(0.5)
c.close()
far = far_got()
assert far == b"last words\r", far

step("a client that vanishes disconnects its peer station")
b = Station(API, "XX2BBB", timeout=15, connect_timeout=15)
b.register()
a = Station(API, "XX1AAA", timeout=15, connect_timeout=15)
a.connect("XX2BBB")
assert b.accept("XX1AAA") == "XX1AAA"
a.close()
notice = b.wait_disconnect()
assert notice.strip() == "*** DISCONNECTED From Station XX1AAA", notice
b.close()

step("the dialled BBS calls in on the BBS gateway under its own call and sends binary")
bbs = Station(API, "XX9ORN-1", timeout=15, connect_timeout=15)
bbs.register()
host, _, port = BBSGW.rpartition(":")
caller = socket.create_connection((host, int(port)), timeout=15)
seen = b""
def until(text):
    global seen
    while text not in seen:
        chunk = caller.recv(4096)
        assert chunk, "closed waiting for %r, got %r" % (text, seen)
        seen += chunk
    cut = seen.index(text) + len(text)
    used, seen = seen[:cut], seen[cut:]
    return used
until(b"Callsign: ")
caller.sendall(IAC + b"\xfd\x00" + b"xx5fbb\r\n")
assert bbs.accept("XX5FBB") == "XX5FBB"
assert until(b"*** CONNECTED With Station XX9ORN-1\r\n").startswith(IAC + b"\xfb\x00")
payload = ALL + IAC + IAC + b"\r\n" + b"\r\0" + b"end"
caller.sendall(doubled(payload))
got = take(bbs, len(payload))
assert got == payload, got
bbs.send(ALL + b"\r\n", end=b"")
want = doubled(ALL + b"\r\n")
while len(seen) < len(want):
    chunk = caller.recv(4096)
    assert chunk, "closed after %r" % seen
    seen += chunk
assert seen[:len(want)] == want, seen
seen = seen[len(want):]
bbs.disconnect()
until(b"*** DISCONNECTED From Station XX9ORN-1\r\n")
assert recv_to_eof(caller) == b"", "the gateway did not close"
print("all ok")
PY
kill -0 "${pids[0]}" || fail "ornpe died: $(cat "$WORK/ornpe.log")"
grep -q "dial .*failed" "$WORK/ornpe.log" || fail "no log line for the refused dial: $(cat "$WORK/ornpe.log")"
echo "ornpe TCP stations: ok"
