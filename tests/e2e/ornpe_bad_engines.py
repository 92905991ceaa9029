#!/usr/bin/env python3
"""ornpe in front of three engines that misbehave, with ornbbs on it.

    ornpe_bad_engines.py BUILD

Scripted engines stand for Direwolf or LinBPQ: one tells its port list, then
never reads nor answers again; one has a station that floods the BBS with
data, and frames for a port it never listed among them; one lists 1000
ports (in one frame, with one-letter descriptions). ornpe takes 32 of those and says so, its port list fits one frame, and
its own port comes right after them. The BBS starts and registers on every
port it uses: the silent engine is given up after a short wait (and tried
again) instead of holding the BBS's registration. Through all of it a telnet
user on ornpe's own port gets answers, ornpe never drops the BBS, and the
frames for the port nobody listed cost one line of the log.
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
from ornpe_air import BBS, Failure, Procs, Terminal, text_of, wait  # noqa: E402
from station import Station  # noqa: E402

HEADER = struct.Struct("<B3xBxBx10s10sII")
FLOOD = 16 << 20
STRAY = 500  # frames for a port the flooding engine never listed


def frame(port, kind, call_from="", call_to="", data=b""):
    return HEADER.pack(port, ord(kind), 0, call_from.encode(), call_to.encode(), len(data), 0) + data


class Engine:
    """A scripted engine: `ports` is its port list text; `silent` stops it after the list;
    the station XX5FLD on its port 0 floods the BBS once flood() is called."""

    def __init__(self, ports, silent=False):
        self.ports, self.silent = ports, silent
        self.srv = socket.socket()
        self.srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.srv.bind(("127.0.0.1", 0))
        self.srv.listen(16)
        self.addr = "127.0.0.1:%d" % self.srv.getsockname()[1]
        self.lock = threading.Lock()
        self.sending = threading.Lock()  # answers and the flood share the connection
        self.conns = 0
        self.frames = []        # (port, kind) of every frame read
        self.client = None      # the last connection that registered a call
        self.rx = b""           # what the BBS sent XX5FLD
        self.flooded = None     # seconds the flood took
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            c, _ = self.srv.accept()
            with self.lock:
                self.conns += 1
            threading.Thread(target=self.serve, args=(c,), daemon=True).start()

    def serve(self, c):
        buf = b""
        try:
            while True:
                chunk = c.recv(65536)
                if not chunk:
                    return
                buf += chunk
                while len(buf) >= HEADER.size:
                    port, kind, _, cf, ct, length, _ = HEADER.unpack(buf[:HEADER.size])
                    if len(buf) < HEADER.size + length:
                        break
                    data, buf = buf[HEADER.size:HEADER.size + length], buf[HEADER.size + length:]
                    kind, cf, ct = chr(kind), cf.split(b"\0")[0].decode(), ct.split(b"\0")[0].decode()
                    with self.lock:
                        self.frames.append((port, kind))
                    if kind == "G":
                        self.send(c, frame(0, "G", data=self.ports.encode() + b"\0"))
                        continue
                    if self.silent:
                        time.sleep(3600)  # reads nothing more, answers nothing
                    if kind == "X":
                        self.client = c
                        self.send(c, frame(port, "X", cf, data=b"\x01"))
                    elif kind == "Y":
                        self.send(c, frame(port, "Y", cf, ct, struct.pack("<I", 0)))
                    elif kind == "y":
                        self.send(c, frame(port, "y", data=struct.pack("<I", 0)))
                    elif kind == "D" and ct == "XX5FLD":
                        with self.lock:
                            self.rx += data
        except OSError:
            return

    def send(self, c, data):
        with self.sending:
            c.sendall(data)

    def prompts(self):
        with self.lock:
            return self.rx.count(b">\r")

    def got(self, text):
        with self.lock:
            return text.encode() in self.rx

    def flood(self):
        """XX5FLD connects to the BBS, starts a message and sends FLOOD bytes of it as fast as
        TCP takes them, with STRAY frames for port 7 among them."""
        c = self.client
        self.send(c, frame(0, "C", "XX5FLD", BBS, b"*** CONNECTED To Station XX5FLD\r\0"))
        wait("the BBS's prompt to XX5FLD", lambda: self.prompts() >= 1, 20)
        self.send(c, frame(0, "D", "XX5FLD", BBS, b"N Al\r"))  # a new user gives the name first
        wait("the next prompt", lambda: self.prompts() >= 2, 20)
        self.send(c, frame(0, "D", "XX5FLD", BBS, b"SP XX1ZZZ\r"))
        wait("the subject question", lambda: self.got("ubject"), 20)
        self.send(c, frame(0, "D", "XX5FLD", BBS, b"A flood\r"))

        def run():
            t0 = time.monotonic()
            line = b"A flooding station's line of text, over and over again.\r"
            data = frame(0, "D", "XX5FLD", BBS, line * 4)
            stray = frame(7, "D", "XX5FLD", BBS, b"lost\r")
            n = FLOOD // len(data)
            batch = []
            for i in range(n):
                batch.append(data)
                if i % (n // STRAY) == 0:
                    batch.append(stray)
                if len(batch) >= 64:
                    self.send(c, b"".join(batch))
                    batch = []
            self.send(c, b"".join(batch) + frame(0, "D", "XX5FLD", BBS, b"/EX\r"))
            self.flooded = time.monotonic() - t0

        th = threading.Thread(target=run, daemon=True)
        th.start()
        return th


def main(build):
    work = tempfile.mkdtemp(prefix="ornbad.")
    procs = Procs(build, work)
    silent = Engine("1;Port1 a radio that goes quiet;", silent=True)
    flood = Engine("1;Port1 a busy radio;")
    # Bare descriptions, as short as they go: the list still fits one frame.
    many = Engine("1000;" + "R;" * 1000)
    log = lambda: text_of(os.path.join(work, "front.log"))  # noqa: E731
    try:
        front = procs.ornpe("front", "--bbs", BBS, "--engine", silent.addr, "--engine", flood.addr,
                            "--engine", many.addr)
        # 32 of the 1000, numbered on from 2; ornpe's own port comes next.
        ports = front["ports"].split(",")
        if len(ports) != 35 or ports[33] != "33=%s/31" % many.addr or ports[34] != "34=ornpe":
            raise Failure("ports: %s" % front["ports"][:300])
        if "ornpe takes 32 of its ports and leaves out 968" not in log():
            raise Failure("the cap is not in the log")
        with Station(front["api"], "XX8ASK", timeout=10) as s:
            s.send_frame("G")
            g = s.wait_for("G")
            if not g.text.startswith("35;Port1 ") or len(g.data) > 2122:
                raise Failure("port list of %d bytes: %r" % (len(g.data), g.text[:200]))

        # The BBS registers on the quiet engine's port, the flooding engine's,
        # the big node's last port ornpe takes, and ornpe's own.
        t0 = time.monotonic()
        port = front["api"].rsplit(":", 1)[1]
        procs.bbs(["[RADIO]", "PORTS=4", "ENGINEPORT=" + port,
                   "[PORT0]", "PORTNUM=0", "CHANNELS=1", "BBSONLY=0", "TIMEOUT=0", "BEACONOK=0",
                   "[PORT1]", "PORTNUM=1", "CHANNELS=1", "BBSONLY=0", "LIMITED=0", "TIMEOUT=0", "BEACONOK=0",
                   "[PORT2]", "PORTNUM=33", "CHANNELS=1", "BBSONLY=0", "TIMEOUT=0", "BEACONOK=0",
                   "[PORT3]", "PORTNUM=34", "CHANNELS=3", "BBSONLY=0", "LIMITED=0", "TIMEOUT=0", "BEACONOK=0"])
        up = time.monotonic() - t0
        wait("the quiet engine given up", lambda: "no answer to a registration" in log(), 10)
        if ("X" not in [k for p, k in many.frames if p == 31]) or any(k in "Cc" for p, k in many.frames):
            raise Failure("the big node heard: %s" % sorted(set(many.frames)))

        user = Terminal(front["gateway"], "XX2USR")
        user.until(">\r\n", 20)
        th = flood.flood()
        answers = []
        while th.is_alive() or len(answers) < 3:
            t = time.monotonic()
            user.line("L")
            user.until(">\r\n", 30)
            answers.append(time.monotonic() - t)
            time.sleep(0.2)
        th.join(60)
        wait("the flooded message stored", lambda: flood.prompts() >= 3, 60)
        wait("the quiet engine tried again", lambda: silent.conns >= 3, 10)
        text = log()
        procs.alive()
        print("BBS up in %.1f s; flood of %d MB in %.1f s, the telnet user's slowest answer %.2f s; log %d bytes"
              % (up, FLOOD >> 20, flood.flooded, max(answers), len(text)))
        if "closed:" in text:
            raise Failure("ornpe dropped a client")
        if text.count("which it did not list") != 1:
            raise Failure("%d lines about the frames for port 7" % text.count("which it did not list"))
        if len(text) > 100000:
            raise Failure("ornpe's log grew to %d bytes" % len(text))
        user.line("B")
        user.close()
        print("ornpe bad engines: ok")
        return 0
    except (Failure, OSError) as e:
        print("FAIL: %s\n--- front.log (end)\n%s" % (e, log()[-4000:]))
        return 1
    finally:
        procs.stop()
        if not os.environ.get("KEEP"):
            subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1])))
