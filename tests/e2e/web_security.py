#!/usr/bin/env python3
"""The web console's checks for web_security.sh: refusals, bounds and the
sysop's own use, over http.client and raw sockets."""
import argparse
import http.client
import json
import os
import socket
import subprocess
import sys
import time

ap = argparse.ArgumentParser()
ap.add_argument("--port", type=int, required=True)
ap.add_argument("--ornctl", required=True)
ap.add_argument("--dir", required=True)
ap.add_argument("--engine", required=True)
ap.add_argument("--station", required=True)
ap.add_argument("--no-web-pids", required=True)
opt = ap.parse_args()
PASSWORD = "correct horse battery"


def fail(why):
    print("FAIL: " + why, file=sys.stderr)
    sys.exit(1)


def request(method, path, body=None, headers=None, timeout=20, source=None):
    c = http.client.HTTPConnection("127.0.0.1", opt.port, timeout=timeout,
                                   source_address=(source, 0) if source else None)
    headers = dict(headers or {})
    if isinstance(body, (dict, list)):
        body = json.dumps(body)
        headers.setdefault("Content-Type", "application/json")
    c.request(method, path, body=body, headers=headers)
    r = c.getresponse()
    data = r.read()
    c.close()
    return r, data


def ornctl(*args):
    out = subprocess.run([opt.ornctl, "--dir", opt.dir, *args, "--json"], capture_output=True, text=True, timeout=30)
    if out.returncode != 0:
        fail("ornctl %s: %s" % (" ".join(args), out.stderr))
    return json.loads(out.stdout)


def raw(data, wait=5.0, source=None):
    """Sends bytes on a new connection; returns what came back until it closed."""
    s = socket.create_connection(("127.0.0.1", opt.port), source_address=(source, 0) if source else None)
    s.settimeout(wait)
    try:
        s.sendall(data)
    except (BrokenPipeError, ConnectionResetError):
        pass  # the server had heard enough; its answer may be there all the same
    got = b""
    try:
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            got += chunk
    except (socket.timeout, ConnectionResetError):
        pass
    s.close()
    return got


# ---- nothing without a login ----
API = ["status", "session", "logout", "live", "msg/list", "msg/read?number=1", "msg/send", "msg/reply",
       "msg/kill", "msg/hold", "msg/release", "msg/import", "msg/export?numbers=1", "msg/choices", "user/list",
       "user/show?call=XX1ABC", "user/add", "user/set", "user/kill", "user/password", "fwd/queue", "fwd/now",
       "optimize/now", "optimize/progress", "sysop", "sysop/on", "sysop/off", "page", "page/decline",
       "talk", "talk/start", "talk/line", "talk/end", "monitor", "nonsense"]
for path in API:
    for method in ("GET", "POST"):
        r, data = request(method, "/api/" + path, body={} if method == "POST" else None)
        if r.status != 401:
            fail("%s /api/%s without login: %d %s" % (method, path, r.status, data[:80]))
for page in ("/", "/index.html", "/msgs.html"):
    r, data = request("GET", page)
    if r.status != 303 or r.getheader("Location") != "/login.html":
        fail("page %s without login: %d" % (page, r.status))
# A forged cookie is no session.
r, _ = request("GET", "/api/status", headers={"Cookie": "ornweb=" + "0" * 64})
if r.status != 401:
    fail("a forged session cookie was taken: %d" % r.status)

# ---- wrong passwords: slowed, growing; the right one always gets in ----
t0 = time.monotonic()
r, data = request("POST", "/api/login", {"password": "wrong one"})
first = time.monotonic() - t0
if r.status != 401:
    fail("wrong password: %d" % r.status)
t0 = time.monotonic()
c = http.client.HTTPConnection("127.0.0.1", opt.port, timeout=20)
c.request("POST", "/api/login", body=json.dumps({"password": "wrong again"}),
          headers={"Content-Type": "application/json"})
# While that answer waits, the right password from the same address is let in at once.
t1 = time.monotonic()
r3, _ = request("POST", "/api/login", {"password": PASSWORD})
if r3.status != 200 or time.monotonic() - t1 > 1.5:
    fail("the right password while a wrong one waits: %d after %.2f s" % (r3.status, time.monotonic() - t1))
r2 = c.getresponse()
r2.read()
second = time.monotonic() - t0
if r2.status != 401:
    fail("second wrong password: %d" % r2.status)
if first < 0.9 or second < 0.9:
    fail("wrong passwords not slowed: first %.2f s, second %.2f s" % (first, second))
print("wrong passwords answered after %.2f s and %.2f s" % (first, second))
r, _ = request("POST", "/api/login", body="not json", headers={"Content-Type": "application/json"})
if r.status != 400:
    fail("a login that is no JSON: %d" % r.status)
# A loop of wrong passwords from one address (the sysop's own, or a proxy's
# that all share) never keeps the sysop out.
import threading
guesses = []
def guess(i):
    try:
        guesses.append(request("POST", "/api/login", {"password": "guess %d" % i}, timeout=60, source="127.0.0.7")[0].status)
    except OSError as e:
        guesses.append(str(e))
for i in range(8):
    threading.Thread(target=guess, args=(i,), daemon=True).start()
    time.sleep(0.05)
time.sleep(0.5)
t1 = time.monotonic()
r, _ = request("POST", "/api/login", {"password": PASSWORD}, source="127.0.0.7")
if r.status != 200 or time.monotonic() - t1 > 3:
    fail("the sysop during a guessing loop: %d after %.2f s" % (r.status, time.monotonic() - t1))
if any(g not in (401, 429) for g in guesses):
    fail("guesses answered %s" % guesses)
print("the sysop got in during a loop of guesses (so far %s)" % sorted(guesses))
# What a page of another site can send without a preflight is no login.
for headers, want in (({"Content-Type": "text/plain"}, 415), ({}, 415),
                      ({"Content-Type": "application/x-www-form-urlencoded"}, 415),
                      ({"Content-Type": "application/json", "Origin": "http://evil.example.com"}, 403),
                      ({"Content-Type": "application/json", "Origin": "null"}, 403)):
    r, _ = request("POST", "/api/login", json.dumps({"password": PASSWORD}), headers)
    if r.status != want or r.getheader("Set-Cookie"):
        fail("a login with %s: %d" % (headers, r.status))
r, _ = request("POST", "/api/login", {"password": PASSWORD}, {"Origin": "http://127.0.0.1:%d" % opt.port})
if r.status != 200:
    fail("a login from the console's own page: %d" % r.status)

# ---- the sysop's login; the cookie's flags ----
r, data = request("POST", "/api/login", {"password": PASSWORD})
if r.status != 200:
    fail("login: %d %s" % (r.status, data))
csrf = json.loads(data)["csrf"]
cookie_header = r.getheader("Set-Cookie")
flags = [f.strip() for f in cookie_header.split(";")]
if not flags[0].startswith("ornweb=") or "HttpOnly" not in flags or "SameSite=Strict" not in flags \
        or "Path=/" not in flags or "Secure" in flags:
    fail("cookie flags: " + cookie_header)
cookie = {"Cookie": flags[0]}
auth = {"Cookie": flags[0], "X-CSRF-Token": csrf}
r, _ = request("POST", "/api/login", {"password": PASSWORD}, {"X-Forwarded-Proto": "https"})
if "Secure" not in [f.strip() for f in r.getheader("Set-Cookie").split(";")]:
    fail("no Secure flag behind an https proxy: " + r.getheader("Set-Cookie"))
r, data = request("GET", "/api/session", headers=cookie)
if r.status != 200 or json.loads(data) != {"csrf": csrf, "call": "XX9ORN-1"}:
    fail("session: %d %s" % (r.status, data))

# ---- status and the SYSOP switch agree with ornctl ----
r, data = request("GET", "/api/status", headers=cookie)
web = json.loads(data)
ctl = ornctl("status")
if r.status != 200 or web["call"] != ctl["call"] or web["counters"] != ctl["counters"] or web["ports"] != ctl["ports"]:
    fail("status differs from ornctl's: %s / %s" % (web, ctl))
if ornctl("sysop")["sysop"]:
    fail("the sysop is present before the test")
for headers in (cookie, {"Cookie": flags[0], "X-CSRF-Token": csrf[:-1] + ("0" if csrf[-1] != "0" else "1")}):
    r, _ = request("POST", "/api/sysop/on", {}, headers)
    if r.status != 403:
        fail("a change without the right CSRF token: %d" % r.status)
r, _ = request("GET", "/api/sysop/on", headers=cookie)
if r.status != 405:
    fail("a change by GET: %d" % r.status)
if ornctl("sysop")["sysop"]:
    fail("a refused change was made")
r, data = request("POST", "/api/sysop/on", {}, auth)
if r.status != 200 or not ornctl("sysop")["sysop"]:
    fail("sysop on with the token: %d %s" % (r.status, data))
# Refusals and usage errors keep ornctl's meaning.
r, data = request("GET", "/api/user/show?call=XX0NONE", headers=cookie)
if r.status != 409 or "error" not in json.loads(data):
    fail("an unknown user: %d %s" % (r.status, data))
r, data = request("GET", "/api/msg/list?sort=Nonsense", headers=cookie)
if r.status != 400:
    fail("a bad sort field: %d" % r.status)

# ---- an exchange file uploaded and imported, then exported ----
exchange = "SP XX1ABC @ XX9ORN < XX2DEF\nFrom the web\nUploaded text.\n/EX\n"
r, data = request("POST", "/api/msg/import", {"input": exchange}, auth)
if r.status != 200 or len(json.loads(data).get("stored", [])) != 1:
    fail("import: %d %s" % (r.status, data))
number = json.loads(data)["stored"][0]
r, data = request("GET", "/api/msg/list?to=XX1ABC&limit=10&sort=MsgNo&desc=true", headers=cookie)
page = json.loads(data)
if r.status != 200 or page["total"] < 1 or page["messages"][0]["MsgSubject"] != "From the web":
    fail("the imported message in the list: %s" % data)
r, data = request("GET", "/api/msg/export?numbers=%d" % number, headers=cookie)
if r.status != 200 or b"Uploaded text." not in data or "attachment" not in (r.getheader("Content-Disposition") or ""):
    fail("export: %d %s" % (r.status, data[:200]))

# ---- only the compiled-in files ----
for path in ("/../ORN.INI", "/%2e%2e/ORN.INI", "/%2E%2E%2FORN.INI", "/..%2fORN.INI", "//etc/passwd", "/ORN.INI",
             "/WEB.PWD", "/BBS.LOG", "/static/../../ORN.INI", "/.%2e/WEB.PWD", "/robots.txt/../WEB.PWD"):
    for headers in ({}, cookie):
        r, data = request("GET", path, headers=headers)
        if r.status != 404 or b"MYCALL" in data or b"argon2" in data:
            fail("path %s: %d %s" % (path, r.status, data[:80]))
for target in (b"http://127.0.0.1/ORN.INI", b"/api/../ORN.INI", b"/api/%2e%2e/ORN.INI", b"/../../etc/passwd"):
    got = raw(b"GET " + target + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n" + ("Cookie: %s\r\n" % flags[0]).encode() +
              b"Connection: close\r\n\r\n")
    if got[:12] == b"HTTP/1.1 200" or b"MYCALL" in got or b"root:" in got:
        fail("request target %s: %s" % (target, got[:80]))

# ---- bounds: a huge body, a huge head, idle connections ----
HOST = b"Host: 127.0.0.1\r\n"
s = socket.create_connection(("127.0.0.1", opt.port))
s.settimeout(10)
s.sendall(b"POST /api/login HTTP/1.1\r\n" + HOST + b"Content-Type: application/json\r\nContent-Length: 50000000\r\n\r\n")
t0 = time.monotonic()
sent = 0
try:
    while sent < 50000000:
        s.sendall(b"x" * 65536)
        sent += 65536
except (BrokenPipeError, ConnectionResetError, socket.timeout):
    pass
# What the kernels' buffers hold aside, the server stopped taking it.
if sent >= 50000000 or time.monotonic() - t0 > 8:
    fail("a huge body was taken: %d bytes in %.1f s" % (sent, time.monotonic() - t0))
s.close()
print("a huge body was cut off after %d bytes" % sent)


def refused_then_closed(data, want, what):
    """A refused request is answered `want` and its connection closed: what
    follows it on the connection is never served."""
    got = raw(data, wait=8)
    if not got.startswith(b"HTTP/1.1 " + want) or got.count(b"HTTP/1.") != 1:
        fail("%s: %s" % (what, got[:300]))


follow = b"GET /api/session HTTP/1.1\r\n" + HOST + ("Cookie: %s\r\n\r\n" % flags[0]).encode()
big = json.dumps({"password": PASSWORD, "pad": "x" * 1100000}).encode()
refused_then_closed(b"POST /api/login HTTP/1.1\r\n" + HOST + b"Content-Type: application/json\r\nContent-Length: %d\r\n\r\n"
                    % len(big) + big + follow, b"413", "a 1 MB login body")
exchange_big = json.dumps({"input": "SP XX1ABC < XX2DEF\nBig\nText\n/EX\n" * 30000}).encode()
before = ornctl("status")["counters"]
refused_then_closed(b"POST /api/msg/import HTTP/1.1\r\n" + HOST + b"Content-Type: application/json\r\n" +
                    ("Cookie: %s\r\nX-CSRF-Token: %s\r\n" % (flags[0], csrf)).encode() +
                    b"Content-Length: %d\r\n\r\n" % len(exchange_big) + exchange_big, b"413", "a 1 MB import")
time.sleep(2)
if ornctl("status")["counters"] != before:
    fail("a refused import was stored: %s / %s" % (before, ornctl("status")["counters"]))
got = raw(b"GET /api/status HTTP/1.1\r\n" + HOST + b"X-Pad: " + b"a" * 40000 + b"\r\n\r\n" + follow)
if b"HTTP/1.1 200" in got or (got and not got.startswith(b"HTTP/1.1 4")):
    fail("a huge head: %s" % got[:200])
# A chunked body past the bound is cut off, without an answer of substance.
got = raw(b"POST /api/login HTTP/1.1\r\n" + HOST + b"Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n"
          + (b"10000\r\n" + b"x" * 65536 + b"\r\n") * 20 + b"0\r\n\r\n" + follow, wait=8)
if b"HTTP/1.1 200" in got:
    fail("a huge chunked body: %s" % got[:200])

# ---- connections: one address cannot take them all ----
# Connections that never send a request are let go when they stay quiet; one
# address holds at most 16 at once; twenty addresses holding all they may
# still leave the sysop a way in.
t0 = time.monotonic()
hogs = []
for i in range(20):
    for _ in range(20):
        try:
            c = socket.create_connection(("127.0.0.1", opt.port), source_address=("127.0.1.%d" % (i + 1), 0))
            hogs.append(c)
        except OSError:
            pass
time.sleep(0.5)
refused = 0
for c in hogs:
    c.setblocking(False)
    try:
        if c.recv(10) == b"":
            refused += 1
    except BlockingIOError:
        pass
    except OSError:
        refused += 1
if refused < 20 * 4:
    fail("one address took more than 16 connections: %d of %d refused" % (refused, len(hogs)))
t1 = time.monotonic()
r, data = request("GET", "/api/status", headers=cookie)
if r.status != 200 or time.monotonic() - t1 > 2:
    fail("the sysop while 20 addresses hold their connections: %d after %.1f s" % (r.status, time.monotonic() - t1))
r, data = request("POST", "/api/login", {"password": PASSWORD})
if r.status != 200:
    fail("a login while 20 addresses hold their connections: %d" % r.status)
closed = 0
# Quiet for 10 s each; on a loaded machine the last are taken from the
# backlog a moment late.
while time.monotonic() - t0 < 30 and closed < len(hogs):
    closed = 0
    for c in hogs:
        try:
            if c.recv(10) == b"":
                closed += 1
        except BlockingIOError:
            pass
        except OSError:
            closed += 1
    time.sleep(0.5)
took = time.monotonic() - t0
if closed < len(hogs) or took < 8:
    fail("quiet connections: %d of %d let go after %.1f s" % (closed, len(hogs), took))
for c in hogs:
    c.close()
print("quiet connections let go after %.1f s; %d of %d over the address's share refused" % (took, refused, len(hogs)))

# What is no HTTP at all (a TLS hello, a broken head, a bad method) is let go.
t0 = time.monotonic()
answers = []
junk = [threading.Thread(target=lambda j=j: answers.append(raw(j, wait=15))) for j in (
    b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03" + bytes(range(256)),
    b"GET / HTTP/9.9\r\nNo colon here\r\n\r\n", b"BREW /api/status HTTP/1.1\r\n" + HOST + b"\r\n")]
for t in junk:
    t.start()
for t in junk:
    t.join()
if any(b"HTTP/1.1 200" in a for a in answers) or time.monotonic() - t0 > 13:
    fail("junk: %s after %.1f s" % (answers, time.monotonic() - t0))
r, _ = request("GET", "/api/status", headers=cookie)
if r.status != 200:
    fail("the console after the bounds: %d" % r.status)

# ---- HTTP as the RFCs have it: framing, versions, methods, hosts ----
# The request hidden behind each would be answered 405 if it were served.
smuggled = b"GET /api/sysop/on HTTP/1.1\r\n" + HOST + b"\r\n"
for what, data, want in (
        ("two Content-Lengths", b"POST /api/login HTTP/1.1\r\n" + HOST + b"Content-Type: application/json\r\n"
         b"Content-Length: 2\r\nContent-Length: 40\r\n\r\n{}" + smuggled, b"400"),
        ("Content-Length with chunked", b"POST /api/login HTTP/1.1\r\n" + HOST + b"Content-Type: application/json\r\n"
         b"Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + smuggled, b"400"),
        ("no Host", b"GET /api/status HTTP/1.1\r\n" + ("Cookie: %s\r\n\r\n" % flags[0]).encode(), b"400"),
        ("another site's name (DNS rebinding)", b"GET /api/status HTTP/1.1\r\nHost: rebound.example.com:%d\r\n" % opt.port
         + ("Cookie: %s\r\n\r\n" % flags[0]).encode(), b"421")):
    got = raw(data, wait=8)
    if not got.startswith(b"HTTP/1.1 " + want) or b" 200 " in got or b" 405 " in got or b"csrf" in got:
        fail("%s: %s" % (what, got[:300]))
# A chunked login is read whole.
body = json.dumps({"password": PASSWORD}).encode()
got = raw(b"POST /api/login HTTP/1.1\r\n" + HOST + b"Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n"
          b"Connection: close\r\n\r\n" + b"%x\r\n" % len(body) + body + b"\r\n0\r\n\r\n")
if not got.startswith(b"HTTP/1.1 200") or b"ornweb=" not in got:
    fail("a chunked login: %s" % got[:200])
# HTTP/1.0 without keep-alive is answered and closed (the status line names
# the server's own version, as RFC 9112 has it); HEAD has the head alone.
t0 = time.monotonic()
got = raw(b"GET /login.html HTTP/1.0\r\n" + HOST + b"\r\n")
if not got.startswith(b"HTTP/1.1 200") or b"</html>" not in got.lower() or time.monotonic() - t0 > 3:
    fail("HTTP/1.0: %s after %.1f s" % (got[:200], time.monotonic() - t0))
got = raw(b"HEAD /login.html HTTP/1.1\r\n" + HOST + b"Connection: close\r\n\r\n")
if not got.startswith(b"HTTP/1.1 200") or b"<html" in got.lower() or b"Content-Security-Policy" not in got:
    fail("HEAD: %s" % got[:400])
# Every answer has the security headers; the policy bounds forms and the base.
for path in ("/login.html", "/api/status", "/nonsense.js"):
    r, _ = request("GET", path)
    csp = r.getheader("Content-Security-Policy") or ""
    if "form-action 'self'" not in csp or "base-uri 'none'" not in csp or r.getheader("X-Frame-Options") != "DENY":
        fail("security headers of %s: %s" % (path, r.getheaders()))
r, _ = request("GET", "/%61pp.js")
if r.status != 404:
    fail("an encoded name was served: %d" % r.status)

# ---- a GET carries no command words; flags cannot move the real ones ----
# (The sysop is present since "sysop on" above.)
for path in ("/api/sysop?call=off", "/api/sysop?channel=off", "/api/page?channel=decline&call=1-1",
             "/api/status?number=x", "/api/user/list?call=XX1ABC", "/api/msg/read?call=1"):
    r, data = request("GET", path, headers=cookie)
    if r.status not in (400, 405):
        fail("GET %s: %d %s" % (path, r.status, data[:100]))
if not ornctl("sysop")["sysop"]:
    fail("a GET changed the sysop's presence")
target = os.path.join(opt.dir, "EXPORTED.TXT")
ini_before = open(os.path.join(opt.dir, "ORN.INI"), "rb").read()
for args in (["--json", "export", target, "1"], ["--partners", "export", target, "1"],
             ["export", "--raw", target, "1"], ["import", target], ["--json", "import", os.path.join(opt.dir, "ORN.INI")]):
    r, data = request("POST", "/api/msg", {"args": args}, auth)
    if r.status == 200:
        fail("msg %s through the API: %d %s" % (args, r.status, data[:100]))
for args in (["export", os.path.join(opt.dir, "ORN.INI"), "1"],):
    r, data = request("POST", "/api/msg", {"args": args, "json": True}, auth)
    if r.status == 200:
        fail("msg %s through the API: %d" % (args, r.status))
if os.path.exists(target) or open(os.path.join(opt.dir, "ORN.INI"), "rb").read() != ini_before:
    fail("a request body reached the file system")

# ---- the live stream: a station's line arrives ----
class Live:
    """A live stream read as the browser reads it (the body comes chunked)."""
    def __init__(self, headers):
        self.c = http.client.HTTPConnection("127.0.0.1", opt.port, timeout=20)
        self.c.request("GET", "/api/live", headers=headers)
        self.r = self.c.getresponse()

    def recv(self, n):
        return self.r.read1(n)

    def close(self):
        self.c.close()


live = Live(cookie)
if live.r.status != 200 or "text/event-stream" not in live.r.getheader("Content-Type", "") \
        or "base-uri" not in live.r.getheader("Content-Security-Policy", ""):
    fail("live stream: %d %s" % (live.r.status, live.r.getheaders()))
station = subprocess.Popen([sys.executable, opt.station, "--engine", opt.engine, "--call", "XX1ABC", "--timeout", "20",
                            "connect", "XX9ORN-1", "expect", ">\\r", "send", "N Anna", "expect", ">\\r",
                            "send", "B", "wait-disconnect"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
stream = b""
t0 = time.monotonic()
while time.monotonic() - t0 < 20 and not (b"event: channel" in stream and b"XX1ABC" in stream
                                          and b'"what":"status"' in stream):
    try:
        chunk = live.recv(65536)
    except socket.timeout:
        break
    if not chunk:
        break
    stream += chunk
if station.wait(30) != 0:
    fail("station: " + station.stderr.read().decode())
if b"event: channel" not in stream or b'"channel":"1-' not in stream or b'"what":"status"' not in stream:
    fail("the station's lines did not come live: %s" % stream[-600:])
for event in stream.split(b"\n\n"):
    for line in event.split(b"\n"):
        if line.startswith(b"data: "):
            json.loads(line[6:])


def events_until(pred, limit=20):
    """Reads the live stream until pred(events) holds; the events as (name, data)."""
    global stream
    t0 = time.monotonic()
    while time.monotonic() - t0 < limit:
        events = []
        for block in stream.split(b"\n\n"):
            name = data = None
            for line in block.split(b"\n"):
                if line.startswith(b"event: "):
                    name = line[7:].decode()
                elif line.startswith(b"data: "):
                    data = json.loads(line[6:])
            if name:
                events.append((name, data))
        if pred(events):
            return events
        try:
            chunk = live.recv(65536)
        except socket.timeout:
            continue
        if not chunk:
            break
        stream += chunk
    fail("not on the live stream in time: %s" % stream[-600:])


# ---- a station pages the sysop: declined, then answered with a talk ----
stream = b""
pager = subprocess.Popen([sys.executable, opt.station, "--engine", opt.engine, "--call", "XX2ABC", "--timeout", "30",
                          "connect", "XX9ORN-1", "expect", ">\\r", "send", "N Bea", "expect", ">\\r",
                          "send", "T", "expect", "please wait", "expect", "The sysop does not answer.", "expect", ">\\r",
                          "send", "T", "expect", "Go ahead!", "expect", "Hi Bea, from the web", "send", "Hello console",
                          "expect", "You are back in the BBS.", "expect", ">\\r", "send", "B", "wait-disconnect"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
pages = lambda ev: [d for n, d in ev if n == "page" and d["call"] == "XX2ABC"]
channel = pages(events_until(lambda ev: pages(ev)))[0]["channel"]
r, data = request("GET", "/api/page", headers=cookie)
if r.status != 200 or [p["channel"] for p in json.loads(data)] != [channel]:
    fail("page list: %d %s" % (r.status, data))
r, data = request("POST", "/api/page/decline", {"channel": channel}, auth)
if r.status != 200:
    fail("decline: %d %s" % (r.status, data))
events_until(lambda ev: len(pages(ev)) == 2)
r, data = request("POST", "/api/talk/start", {"channel": channel}, auth)
if r.status != 200:
    fail("talk start: %d %s" % (r.status, data))
# The chat is listed as the console's own, here and to ornctl.
r, data = request("GET", "/api/talk", headers=cookie)
if r.status != 200 or json.loads(data) != [{"channel": channel, "port": 1, "call": "XX2ABC", "console": "web"}]:
    fail("talk list: %d %s" % (r.status, data))
if ornctl("talk", "list") != json.loads(data):
    fail("ornctl talk list: %s" % ornctl("talk", "list"))
r, data = request("POST", "/api/talk/line", {"channel": channel, "line": "Hi Bea, from the web"}, auth)
if r.status != 200 or not json.loads(data)["talk"]:
    fail("talk line: %d %s" % (r.status, data))
events_until(lambda ev: any(n == "channel" and d["channel"] == channel and "Hello console" in d["line"]
                            for n, d in ev))
r, data = request("POST", "/api/talk/end", {"channel": channel}, auth)
if r.status != 200:
    fail("talk end: %d %s" % (r.status, data))
if pager.wait(40) != 0:
    fail("paging station: " + pager.stderr.read().decode())
r, data = request("POST", "/api/talk/line", {"channel": channel, "line": "anyone?"}, auth)
if r.status != 409:
    fail("a line after the talk: %d %s" % (r.status, data))
r, data = request("GET", "/api/talk", headers=cookie)
if r.status != 200 or json.loads(data) != []:
    fail("talk list after the talk: %d %s" % (r.status, data))
# Eight live streams at most: with this one, seven more; a ninth is refused.
more = []
for i in range(8):
    s = socket.create_connection(("127.0.0.1", opt.port))
    s.settimeout(5)
    s.sendall(("GET /api/live HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: %s\r\n\r\n" % flags[0]).encode())
    head = s.recv(4096)
    want = b"HTTP/1.1 200" if i < 7 else b"HTTP/1.1 503"
    if not head.startswith(want):
        fail("live stream %d: %s" % (i + 2, head[:40]))
    more.append(s)
for s in more:
    s.close()
live.close()

# ---- a forwarded address is believed only from a listed proxy ----
# ORN.INI: PROXIES=127.0.0.2, HOSTS=bbs.example.org
request("POST", "/api/login", {"password": "through the proxy"}, {"X-Forwarded-For": "203.0.113.5, 198.51.100.7"},
        source="127.0.0.2")
request("POST", "/api/login", {"password": "a claim of its own"}, {"X-Forwarded-For": "198.51.100.8"},
        source="127.0.0.3")
log = open(os.path.join(opt.dir, "BBS.LOG"), errors="replace").read()
if "from 198.51.100.7" not in log or "203.0.113.5" in log or "198.51.100.8" in log or "from 127.0.0.3" not in log:
    fail("forwarded addresses in the log: %s" % log[-800:])
r, _ = request("GET", "/api/status", headers={"Host": "bbs.example.org", **cookie})
if r.status != 200:
    fail("a Host listed in HOSTS: %d" % r.status)


def ended(stream, limit=10):
    """The live stream ends (the server closes it) within `limit` seconds."""
    t0 = time.monotonic()
    while time.monotonic() - t0 < limit:
        try:
            if stream.recv(65536) == b"":
                return True
        except socket.timeout:
            continue
        except (http.client.HTTPException, OSError):
            return True
    return False


def login():
    r, data = request("POST", "/api/login", {"password": PASSWORD})
    if r.status != 200:
        fail("login: %d %s" % (r.status, data))
    c = {"Cookie": r.getheader("Set-Cookie").split(";")[0]}
    return c, dict(c, **{"X-CSRF-Token": json.loads(data)["csrf"]})


# ---- logout ends the session and its live streams ----
other, other_auth = login()
other_live = Live(other)
r, _ = request("POST", "/api/logout", {}, auth)
r2, _ = request("GET", "/api/status", headers=cookie)
if r.status != 200 or r2.status != 401:
    fail("logout: %d, then %d" % (r.status, r2.status))
r, _ = request("POST", "/api/logout", {}, other_auth)
if not ended(other_live, 5):
    fail("a live stream went on after its logout")

# ---- a new password ends every session and its streams ----
cookie, auth = login()
kept_live = Live(cookie)
out = subprocess.run([opt.ornctl, "--dir", opt.dir, "web", "password"], input="a brand new password\n",
                     capture_output=True, text=True, timeout=30)
if out.returncode != 0:
    fail("ornctl web password: " + out.stderr)
if not ended(kept_live, 8):
    fail("a live stream went on after the password changed")
r, _ = request("GET", "/api/status", headers=cookie)
if r.status != 401:
    fail("a session went on after the password changed: %d" % r.status)
r, _ = request("POST", "/api/login", {"password": "a brand new password"})
if r.status != 200:
    fail("the new password: %d" % r.status)
out = subprocess.run([opt.ornctl, "--dir", opt.dir, "web", "password"], input=PASSWORD + "\n",
                     capture_output=True, text=True, timeout=30)

# ---- a BBS without [WEB] (or with a bad LISTEN) has no TCP port open ----
listening = set()
for table in ("/proc/net/tcp", "/proc/net/tcp6"):
    with open(table) as f:
        for row in f.readlines()[1:]:
            cols = row.split()
            if cols[3] == "0A":
                listening.add(cols[9])
for pid in opt.no_web_pids.split(","):
    for fd in os.listdir("/proc/%s/fd" % pid):
        try:
            target = os.readlink("/proc/%s/fd/%s" % (pid, fd))
        except OSError:
            continue
        if target.startswith("socket:[") and target[8:-1] in listening:
            fail("BBS %s without a web console listens on TCP" % pid)
print("web_security.py: ok")
