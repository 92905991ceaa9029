#!/usr/bin/env python3
"""A scripted station on a packet engine's TCP API (ornpe or Direwolf), for tests.

Standard library only. As a module:

    from station import Station
    with Station("127.0.0.1:8000", "XX1ABC") as s:
        s.connect("XX9ORN-1")
        s.expect("BBS>")
        s.send("L")
        s.disconnect()

From the command line, a script of steps run in order:

    station.py --engine 127.0.0.1:8000 --call XX1ABC [--port 0] [--timeout 30] STEP...

Steps:
    register                  accept incoming connects to the own call ('X')
    connect CALL              connect to CALL; fails unless the link comes up
    connect-fails CALL [TEXT] connect to CALL; the attempt must fail, with TEXT
                              (e.g. RETRYOUT) in the engine's notice
    accept [CALL]             wait for an incoming connect (from CALL)
    send TEXT                 send TEXT followed by a CR
    send-raw TEXT             send TEXT as it is
    expect TEXT               wait until the text received holds TEXT; what
                              comes before and with it is used up
    wait-disconnect [TEXT]    wait until the remote disconnects (TEXT in the notice)
    disconnect                wait until all that was sent is acknowledged,
                              disconnect, and wait for the engine's notice
    monitor                   toggle monitor frames
    expect-monitor TEXT       wait for a monitor line holding TEXT
    sleep SECONDS
    print                     print the text received and not yet used up

TEXT takes backslash escapes (\\r \\n \\t \\\\ \\xNN). Each step that succeeds
prints one line "CALL: step ok" on standard output. Exit status: 0 when every
step succeeds, 1 at the first failure (what was received goes to standard
error), 2 for a bad command line.

Callsigns must be what the engine can put on the air: 1-6 upper-case letters or
digits and an optional SSID 1-15, never "-0" (the engine compares callsigns as
text, and SSID 0 comes back from the air without "-0").
"""
import argparse
import codecs
import queue
import re
import socket
import struct
import sys
import threading
import time

HEADER = struct.Struct("<B3xBxBx10s10sII")
MAX_DATA = 2122      # a larger length makes Direwolf drop the client for good
PACLEN = 256         # one I frame per 'D'
CALL_RE = re.compile(r"[A-Z0-9]{1,6}(-([1-9]|1[0-5]))?\Z")
MONITOR_KINDS = "IUST"


class StationError(Exception):
    pass


def valid_call(call):
    return bool(CALL_RE.match(call))


def _field(call):
    b = call.encode("ascii")
    if len(b) > 9:
        raise ValueError("a callsign field holds at most 9 characters: %r" % call)
    return b.ljust(10, b"\0")


def _cstr(b):
    return b.split(b"\0", 1)[0].decode("latin-1")


class Frame:
    __slots__ = ("port", "kind", "pid", "call_from", "call_to", "data")

    def __init__(self, port, kind, pid, call_from, call_to, data):
        self.port, self.kind, self.pid = port, kind, pid
        self.call_from, self.call_to, self.data = call_from, call_to, data

    @property
    def text(self):
        """The data as text without its terminating NUL (link notices, monitor lines)."""
        return self.data.rstrip(b"\0").decode("latin-1")

    def __repr__(self):
        return "Frame(%r port=%d %s>%s %r)" % (self.kind, self.port, self.call_from, self.call_to, self.data[:80])


class Station:
    """One station: one TCP connection to the engine, one own call, at most one link."""

    def __init__(self, engine, call, port=0, timeout=30.0, connect_timeout=120.0, log=None):
        if not valid_call(call):
            raise ValueError("%r is not a callsign the engine can put on the air" % call)
        host, _, tcp_port = engine.rpartition(":")
        self.call, self.port = call, port
        self.timeout, self.connect_timeout = timeout, connect_timeout
        self.log = log or (lambda s: None)
        self.remote = None
        self.rx = b""              # data received on the link and not yet used up
        self.pending = []          # frames received and not yet taken
        self.closed = False
        self._q = queue.Queue()
        self._sock = socket.create_connection((host.strip("[]"), int(tcp_port)), timeout=10)
        self._sock.settimeout(None)
        # Each frame leaves as it is written, as an engine's client sends them.
        self._sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self._wlock = threading.Lock()
        threading.Thread(target=self._reader, daemon=True).start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        try:
            self._sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self._sock.close()

    # ---- frames --------------------------------------------------------------
    def _recv_exact(self, n):
        b = bytearray()
        while len(b) < n:
            chunk = self._sock.recv(n - len(b))
            if not chunk:
                raise EOFError
            b += chunk
        return bytes(b)

    def _reader(self):
        try:
            while True:
                port, kind, pid, cf, ct, n, _ = HEADER.unpack(self._recv_exact(HEADER.size))
                f = Frame(port, chr(kind), pid, _cstr(cf), _cstr(ct), self._recv_exact(n) if n else b"")
                self.log("<<< %r" % f)
                self._q.put(f)
        except (EOFError, OSError):
            self._q.put(None)

    def send_frame(self, kind, call_from="", call_to="", data=b"", pid=0):
        if len(data) > MAX_DATA:
            raise ValueError("at most %d data bytes in one frame" % MAX_DATA)
        self.log(">>> %r %s>%s %r" % (kind, call_from, call_to, data[:80]))
        with self._wlock:
            self._sock.sendall(HEADER.pack(self.port, ord(kind), pid, _field(call_from), _field(call_to),
                                           len(data), 0) + data)

    def wait_for(self, kinds, pred=None, timeout=None):
        """The first frame of one of `kinds` matching `pred`; frames passed over stay
        pending. None after the timeout or when the engine closed the connection."""
        timeout = self.timeout if timeout is None else timeout
        for i, f in enumerate(self.pending):
            if f.kind in kinds and (pred is None or pred(f)):
                return self.pending.pop(i)
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0 or self.closed:
                return None
            try:
                f = self._q.get(timeout=left)
            except queue.Empty:
                return None
            if f is None:
                self.closed = True
                return None
            if f.kind in kinds and (pred is None or pred(f)):
                return f
            self.pending.append(f)

    def _link_frame(self, f):
        return f.port == self.port and f.call_from == self.remote and f.call_to == self.call

    # ---- steps ---------------------------------------------------------------
    def register(self):
        self.send_frame("X", self.call)
        f = self.wait_for("X", lambda f: f.call_from == self.call)
        if f is None or f.data[:1] != b"\x01":
            raise StationError("registration of %s refused or unanswered" % self.call)

    def connect(self, remote):
        """Connects to `remote`; returns the engine's notice. Raises unless the link comes up."""
        f = self.try_connect(remote)
        if f.kind != "C":
            raise StationError("connect to %s failed: %s" % (remote, f.text.strip()))
        return f.text

    def try_connect(self, remote):
        """Asks for a connect; returns the 'C' or 'd' notice that ends the attempt."""
        self.remote = remote
        self.rx = b""
        self.send_frame("C", self.call, remote)
        f = self.wait_for("Cd", self._link_frame, self.connect_timeout)
        if f is None:
            raise StationError("no answer to the connect to %s" % remote)
        return f

    def accept(self, remote=None):
        """Waits for an incoming connect (from `remote`); returns the caller's call."""
        f = self.wait_for("C", lambda f: f.port == self.port and f.call_to == self.call
                          and remote in (None, f.call_from), self.connect_timeout)
        if f is None:
            raise StationError("nobody connected to %s" % self.call)
        self.remote = f.call_from
        self.rx = b""
        return self.remote

    def send(self, text, end=b"\r"):
        data = (text.encode("latin-1") if isinstance(text, str) else bytes(text)) + end
        if self.remote is None:
            raise StationError("send without a link")
        for i in range(0, len(data), PACLEN):
            self.send_frame("D", self.call, self.remote, data[i:i + PACLEN], pid=0xF0)

    def expect(self, text, timeout=None):
        """Waits until the data received holds `text`; uses up the data through it
        and returns what was used up."""
        want = text.encode("latin-1") if isinstance(text, str) else bytes(text)
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        while want not in self.rx:
            left = deadline - time.monotonic()
            f = self.wait_for("Dd", self._link_frame, left) if left > 0 else None
            if f is None:
                raise StationError("%r did not arrive; received: %r" % (want, self.rx))
            if f.kind == "d":
                self.pending.insert(0, f)
                raise StationError("the link went down (%s) before %r arrived; received: %r"
                                   % (f.text.strip(), want, self.rx))
            self.rx += f.data
        cut = self.rx.index(want) + len(want)
        used, self.rx = self.rx[:cut], self.rx[cut:]
        return used

    def outstanding(self):
        self.send_frame("Y", self.call, self.remote)
        f = self.wait_for("Y", lambda f: f.call_from == self.call and f.call_to == self.remote)
        if f is None:
            raise StationError("no answer to 'Y'")
        return struct.unpack("<i", f.data[:4])[0]

    def disconnect(self, settle=None):
        """Waits until what was sent is acknowledged, then disconnects; returns the notice."""
        deadline = time.monotonic() + (self.timeout if settle is None else settle)
        while self.outstanding() != 0 and time.monotonic() < deadline:
            time.sleep(0.2)
        self.send_frame("d", self.call, self.remote)
        return self.wait_disconnect()

    def wait_disconnect(self, timeout=None):
        f = self.wait_for("d", self._link_frame, timeout)
        if f is None:
            raise StationError("no disconnect notice from %s" % self.remote)
        self.remote = None
        return f.text

    def monitor(self):
        self.send_frame("m")

    def expect_monitor(self, text, timeout=None):
        f = self.wait_for(MONITOR_KINDS, lambda f: text in f.text, timeout)
        if f is None:
            raise StationError("no monitor line with %r" % text)
        return f.text


# ---- command line ------------------------------------------------------------
STEPS = {  # name: (least, most arguments)
    "register": (0, 0), "connect": (1, 1), "connect-fails": (1, 2), "accept": (0, 1),
    "send": (1, 1), "send-raw": (1, 1), "expect": (1, 1), "wait-disconnect": (0, 1),
    "disconnect": (0, 0), "monitor": (0, 0), "expect-monitor": (1, 1), "sleep": (1, 1), "print": (0, 0),
}


def unescape(text):
    return codecs.escape_decode(text.encode("latin-1"))[0].decode("latin-1")


def parse_steps(words):
    steps, i = [], 0
    while i < len(words):
        name = words[i]
        if name not in STEPS:
            raise ValueError("unknown step %r" % name)
        least, most = STEPS[name]
        args = []
        i += 1
        while len(args) < most and i < len(words) and (len(args) < least or words[i] not in STEPS):
            args.append(words[i])
            i += 1
        if len(args) < least:
            raise ValueError("%s needs %d argument(s)" % (name, least))
        steps.append((name, args))
    return steps


def run_step(s, name, args):
    if name == "register":
        s.register()
    elif name == "connect":
        return s.connect(args[0]).strip()
    elif name == "connect-fails":
        f = s.try_connect(args[0])
        if f.kind != "d":
            raise StationError("connect to %s succeeded" % args[0])
        if len(args) > 1 and unescape(args[1]) not in f.text:
            raise StationError("connect failed with %r" % f.text)
        return f.text.strip()
    elif name == "accept":
        return s.accept(args[0] if args else None)
    elif name == "send":
        s.send(unescape(args[0]))
    elif name == "send-raw":
        s.send(unescape(args[0]), end=b"")
    elif name == "expect":
        s.expect(unescape(args[0]))
    elif name == "wait-disconnect":
        text = s.wait_disconnect()
        if args and unescape(args[0]) not in text:
            raise StationError("disconnected with %r" % text)
        return text.strip()
    elif name == "disconnect":
        return s.disconnect().strip()
    elif name == "monitor":
        s.monitor()
    elif name == "expect-monitor":
        return s.expect_monitor(unescape(args[0])).strip()
    elif name == "sleep":
        time.sleep(float(args[0]))
    elif name == "print":
        sys.stdout.write(s.rx.decode("latin-1"))
        s.rx = b""
    return None


def main(argv=None):
    p = argparse.ArgumentParser(description="A scripted station on a packet engine's TCP API.",
                                epilog=__doc__.split("Steps:")[1].split("TEXT takes")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--engine", default="127.0.0.1:8000", help="HOST:PORT of the engine's TCP API")
    p.add_argument("--call", required=True, help="the station's callsign")
    p.add_argument("--port", type=int, default=0, help="radio port (0-based)")
    p.add_argument("--timeout", type=float, default=30.0, help="seconds a step waits")
    p.add_argument("--connect-timeout", type=float, default=120.0, help="seconds a connect waits")
    p.add_argument("--verbose", action="store_true", help="log every frame on standard error")
    p.add_argument("steps", nargs=argparse.REMAINDER)
    a = p.parse_args(argv)
    try:
        steps = parse_steps(a.steps)
    except ValueError as e:
        p.error(str(e))
    log = (lambda line: print("%s %s" % (a.call, line), file=sys.stderr, flush=True)) if a.verbose else None
    try:
        s = Station(a.engine, a.call, a.port, a.timeout, a.connect_timeout, log)
    except (OSError, ValueError) as e:
        print("%s: cannot start: %s" % (a.call, e), file=sys.stderr)
        return 1
    with s:
        for name, args in steps:
            try:
                detail = run_step(s, name, args)
            except StationError as e:
                print("%s: %s failed: %s" % (a.call, name, e), file=sys.stderr)
                return 1
            print("%s: %s ok%s" % (a.call, name, (": " + detail) if detail else ""), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
