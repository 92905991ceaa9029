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


def request(method, path, body=None, headers=None, timeout=20):
    c = http.client.HTTPConnection("127.0.0.1", opt.port, timeout=timeout)
    if isinstance(body, (dict, list)):
        body = json.dumps(body)
    c.request(method, path, body=body, headers=headers or {})
    r = c.getresponse()
    data = r.read()
    c.close()
    return r, data


def ornctl(*args):
    out = subprocess.run([opt.ornctl, "--dir", opt.dir, *args, "--json"], capture_output=True, text=True, timeout=30)
    if out.returncode != 0:
        fail("ornctl %s: %s" % (" ".join(args), out.stderr))
    return json.loads(out.stdout)


def raw(data, wait=5.0):
    """Sends bytes on a new connection; returns what came back until it closed."""
    s = socket.create_connection(("127.0.0.1", opt.port))
    s.settimeout(wait)
    s.sendall(data)
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

# ---- wrong passwords: slowed, growing, one try at a time ----
t0 = time.monotonic()
r, data = request("POST", "/api/login", {"password": "wrong one"})
first = time.monotonic() - t0
if r.status != 401:
    fail("wrong password: %d" % r.status)
t0 = time.monotonic()
c = http.client.HTTPConnection("127.0.0.1", opt.port, timeout=20)
c.request("POST", "/api/login", body=json.dumps({"password": "wrong again"}))
# While that answer waits, a third try from the same address is turned away at once.
t1 = time.monotonic()
r3, _ = request("POST", "/api/login", {"password": PASSWORD})
if r3.status != 429 or time.monotonic() - t1 > 0.5:
    fail("a try while the last one waits: %d after %.2f s" % (r3.status, time.monotonic() - t1))
r2 = c.getresponse()
r2.read()
second = time.monotonic() - t0
if r2.status != 401:
    fail("second wrong password: %d" % r2.status)
if first < 0.9 or second < first:
    fail("wrong passwords not slowed: first %.2f s, second %.2f s" % (first, second))
print("wrong passwords answered after %.2f s and %.2f s" % (first, second))
r, _ = request("POST", "/api/login", body="not json")
if r.status != 400:
    fail("a login that is no JSON: %d" % r.status)

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
    got = raw(b"GET " + target + b" HTTP/1.1\r\nHost: x\r\n" + ("Cookie: %s\r\n" % flags[0]).encode() +
              b"Connection: close\r\n\r\n")
    if got[:12] == b"HTTP/1.1 200" or b"MYCALL" in got or b"root:" in got:
        fail("request target %s: %s" % (target, got[:80]))

# ---- bounds: a huge body, a huge head, an endless request, too many connections ----
s = socket.create_connection(("127.0.0.1", opt.port))
s.settimeout(10)
s.sendall(b"POST /api/login HTTP/1.1\r\nHost: x\r\nContent-Length: 50000000\r\n\r\n")
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
got = raw(b"GET /api/status HTTP/1.1\r\nHost: x\r\nX-Pad: " + b"a" * 40000 + b"\r\n\r\n")
if got and not got.startswith(b"HTTP/1.1 431"):
    fail("a huge head: %s" % got[:60])

# Sixteen connections that never finish a request: the seventeenth is not
# taken, and all are cut off in about ten seconds, the one that trickles too.
t0 = time.monotonic()
idle = [socket.create_connection(("127.0.0.1", opt.port)) for _ in range(16)]
idle[0].sendall(b"GET /api/status HTTP/1.1\r\n")
time.sleep(0.3)
extra = socket.create_connection(("127.0.0.1", opt.port))
extra.settimeout(3)
try:
    if extra.recv(100) != b"":
        fail("a seventeenth connection was answered")
except socket.timeout:
    fail("a seventeenth connection was kept")
except ConnectionResetError:
    pass
extra.close()
for s in idle:
    s.setblocking(False)
closed = set()
while len(closed) < len(idle) and time.monotonic() - t0 < 14:
    try:
        idle[0].sendall(b"X")  # one byte a half second: a slow head never ends
    except OSError:
        pass
    for i, s in enumerate(idle):
        if i in closed:
            continue
        try:
            if s.recv(4096) == b"":
                closed.add(i)
        except BlockingIOError:
            pass
        except OSError:
            closed.add(i)
    time.sleep(0.5)
took = time.monotonic() - t0
if len(closed) < len(idle) or took < 8:
    fail("endless requests: %d of %d cut off after %.1f s" % (len(closed), len(idle), took))
for s in idle:
    s.close()
print("endless requests cut off after %.1f s" % took)
# What is no HTTP at all (a TLS hello, a broken head, a bad method) is let go.
import threading
t0 = time.monotonic()
answers = []
junk = [threading.Thread(target=lambda j=j: answers.append(raw(j, wait=15))) for j in (
    b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03" + bytes(range(256)),
    b"GET / HTTP/9.9\r\nNo colon here\r\n\r\n", b"BREW /api/status HTTP/1.1\r\nHost: x\r\n\r\n")]
for t in junk:
    t.start()
for t in junk:
    t.join()
if any(a.startswith(b"HTTP/1.1 200") for a in answers) or time.monotonic() - t0 > 13:
    fail("junk: %s after %.1f s" % (answers, time.monotonic() - t0))
r, _ = request("GET", "/api/status", headers=cookie)
if r.status != 200:
    fail("the console after the bounds: %d" % r.status)

# ---- the live stream: a station's line arrives ----
live = socket.create_connection(("127.0.0.1", opt.port))
live.settimeout(20)
live.sendall(("GET /api/live HTTP/1.1\r\nHost: x\r\nCookie: %s\r\n\r\n" % flags[0]).encode())
head = live.recv(4096)
if not head.startswith(b"HTTP/1.1 200") or b"text/event-stream" not in head:
    fail("live stream: %s" % head[:100])
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
    s.sendall(("GET /api/live HTTP/1.1\r\nHost: x\r\nCookie: %s\r\n\r\n" % flags[0]).encode())
    head = s.recv(4096)
    want = b"HTTP/1.1 200" if i < 7 else b"HTTP/1.1 503"
    if not head.startswith(want):
        fail("live stream %d: %s" % (i + 2, head[:40]))
    more.append(s)
for s in more:
    s.close()
live.close()

# ---- logout ends the session ----
r, _ = request("POST", "/api/logout", {}, auth)
r2, _ = request("GET", "/api/status", headers=cookie)
if r.status != 200 or r2.status != 401:
    fail("logout: %d, then %d" % (r.status, r2.status))

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
