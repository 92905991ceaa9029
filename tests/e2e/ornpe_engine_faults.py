#!/usr/bin/env python3
"""ornpe in front of an engine that misbehaves, as the real binary meets it.

    ornpe_engine_faults.py BUILD

A scripted engine with two radio ports stands in for Direwolf. ornpe runs from
an ini file (--config) with that engine and one virtual port. A client of
ornpe registers on the engine's second port, a station calls in there, and
then the engine sends a frame for a port it never listed, a frame of no known
kind, and finally garbage. Each gets a line in ornpe's log; the garbage costs
the engine its connection: the client hears at once that its link ended,
ornpe connects again and registers the call again, and a call the engine
refuses is refused to the client with a log line. ornpe stays up throughout,
and its virtual port works all along.
"""
import os
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.realpath(__file__))
sys.path.insert(0, HERE)
from station import Station  # noqa: E402

HEADER = struct.Struct("<B3xBxBx10s10sII")


def frame(port, kind, call_from="", call_to="", data=b""):
    return HEADER.pack(port, ord(kind), 0, call_from.encode(), call_to.encode(), len(data), 0) + data


class Engine:
    """Two radio ports; every client connection and every frame it gets is noted."""

    def __init__(self):
        self.srv = socket.socket()
        self.srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.srv.bind(("127.0.0.1", 0))
        self.srv.listen(5)
        self.port = self.srv.getsockname()[1]
        self.frames = []      # (connection number, port, kind, call_from)
        self.conns = []
        self.lock = threading.Lock()
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            c, _ = self.srv.accept()
            with self.lock:
                self.conns.append(c)
                n = len(self.conns)
            threading.Thread(target=self.serve, args=(c, n), daemon=True).start()

    def serve(self, c, n):
        buf = b""
        try:
            while True:
                chunk = c.recv(4096)
                if not chunk:
                    return
                buf += chunk
                while len(buf) >= HEADER.size:
                    port, kind, _, cf, _, length, _ = HEADER.unpack(buf[:HEADER.size])
                    if len(buf) < HEADER.size + length:
                        break
                    buf = buf[HEADER.size + length:]
                    kind, cf = chr(kind), cf.split(b"\0")[0].decode()
                    with self.lock:
                        self.frames.append((n, port, kind, cf))
                    if kind == "G":
                        c.sendall(frame(0, "G", data=b"2;Port1 first radio;Port2 second radio;\0"))
                    elif kind == "X":
                        c.sendall(frame(port, "X", cf, data=b"\0" if cf == "XX9BAD" else b"\x01"))
        except OSError:
            return

    def last(self):
        with self.lock:
            return self.conns[-1]

    def registrations(self, conn):
        with self.lock:
            return [(p, cf) for n, p, k, cf in self.frames if n == conn and k == "X"]


def wait(what, cond, seconds=10):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if cond():
            return
        time.sleep(0.05)
    raise AssertionError("timed out: " + what)


def main(build):
    work = tempfile.mkdtemp(prefix="ornfaults.")
    engine = Engine()
    api = socket.socket()
    api.bind(("127.0.0.1", 0))
    api_port = api.getsockname()[1]
    api.close()
    conf = os.path.join(work, "ornpe.ini")
    with open(conf, "w") as f:
        f.write("[ornpe]\nlisten=127.0.0.1:%d\nlog=%s\n[gateway]\nlisten=127.0.0.1:0\nbbs=XX9ORN-1\n"
                "[engine scripted]\naddress=127.0.0.1:%d\n" % (api_port, os.path.join(work, "ornpe.log"), engine.port))
    out = open(os.path.join(work, "ornpe.out"), "w+")
    ornpe = subprocess.Popen([os.path.join(build, "ornpe"), "--config", conf], stdout=out, stderr=subprocess.STDOUT)
    log = lambda: open(os.path.join(work, "ornpe.log")).read()  # noqa: E731
    try:
        wait("ornpe ready", lambda: "ornpe ready" in open(out.name).read())
        ready = open(out.name).read()
        assert ready.rstrip().endswith("ports=0=127.0.0.1:%d/0,1=127.0.0.1:%d/1,2=ornpe" % (engine.port, engine.port)), ready

        bbs = Station("127.0.0.1:%d" % api_port, "XX9ORN-1", port=1, timeout=10)
        bbs.register()
        conn = len(engine.conns)
        assert engine.registrations(conn) == [(1, "XX9ORN-1")], engine.frames
        bbs.send_frame("G")
        g = bbs.wait_for("G")
        assert g.text.startswith("3;Port1 first radio via 127.0.0.1:%d port 0;" % engine.port), g.text

        # A station calls in on the engine's second port.
        c = engine.last()
        c.sendall(frame(1, "C", "XX2BBB", "XX9ORN-1", b"*** CONNECTED To Station XX2BBB\r\0"))
        assert bbs.accept("XX2BBB") == "XX2BBB"
        c.sendall(frame(1, "D", "XX2BBB", "XX9ORN-1", b"hello\r"))
        bbs.expect("hello\r")
        # Bad input: a port it did not list, a kind that is no kind, then garbage.
        c.sendall(frame(5, "D", "XX2BBB", "XX9ORN-1", b"lost\r"))
        c.sendall(frame(1, "Q", "XX2BBB", "XX9ORN-1", b"?"))
        c.sendall(HEADER.pack(1, ord("D"), 0, b"XX2BBB", b"XX9ORN-1", 100000, 0))
        notice = bbs.wait_disconnect()
        assert "DISCONNECTED" in notice, notice
        assert bbs.rx == b"", bbs.rx
        wait("a second connection", lambda: len(engine.conns) > conn, 10)
        wait("the call registered again", lambda: engine.registrations(conn + 1) == [(1, "XX9ORN-1")])
        text = log()
        for line in ("'D' frame for its port 5, which it did not list, dropped", "unknown frame kind",
                     "it sent garbage", "1 link(s) ended, trying again in 1 s", "registering again: XX9ORN-1@1"):
            assert line in text, "no %r in the log:\n%s" % (line, text)

        # A refused registration reaches the client and the log.
        bad = Station("127.0.0.1:%d" % api_port, "XX9BAD", port=0, timeout=10)
        try:
            bad.register()
            raise AssertionError("the refused registration was accepted")
        except Exception as e:  # noqa: BLE001 - station.py's error type
            assert "refused" in str(e), e
        wait("the refusal in the log", lambda: "refuses the registration of XX9BAD on port 0" in log())

        # The virtual port was ornpe's all along.
        virt = Station("127.0.0.1:%d" % api_port, "XX1AAA", port=2, timeout=10)
        virt.register()
        assert ornpe.poll() is None, "ornpe ended"
        print("ornpe engine faults: ok")
        return 0
    except AssertionError as e:
        print("FAIL: %s\n--- ornpe.log\n%s" % (e, log() if os.path.exists(os.path.join(work, "ornpe.log")) else ""))
        return 1
    finally:
        ornpe.terminate()
        ornpe.wait(10)
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1])))
