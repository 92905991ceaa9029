"""What the ornpe end-to-end scripts share: ornpe and ornbbs as processes, a
telnet user on a gateway, and the paste measured by tests/e2e/ornpe_paste.py
and bench/e2e_bench.py. Standard library only.
"""
import os
import socket
import subprocess
import threading
import time

from station import Station

BBS = "XX9ORN"


class Failure(Exception):
    pass


def wait(what, cond, seconds=10):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if cond():
            return
        time.sleep(0.05)
    raise Failure("timed out: " + what)


def text_of(path):
    try:
        return open(path, "rb").read().decode("latin-1")
    except OSError:
        return ""


class Procs:
    """The processes started, stopped in reverse order."""

    def __init__(self, build, work):
        self.build, self.work = build, work
        self.list = []

    def ornpe(self, name, *args):
        """An ornpe on free ports; its ready line as a dict (api, gateway, ...)."""
        out = os.path.join(self.work, name + ".out")
        p = subprocess.Popen([os.path.join(self.build, "ornpe"), "--listen", "127.0.0.1:0", "--gateway", "127.0.0.1:0",
                              "--log", os.path.join(self.work, name + ".log")] + list(args),
                             stdout=open(out, "wb"), stderr=subprocess.STDOUT)
        self.list.append(p)
        wait(name + " ready", lambda: "ornpe ready" in text_of(out) or p.poll() is not None, 30)
        if p.poll() is not None:
            raise Failure("%s ended: %s%s" % (name, text_of(out), text_of(os.path.join(self.work, name + ".log"))))
        return dict(w.split("=", 1) for w in text_of(out).split() if "=" in w)

    def bbs(self, ini, call=BBS):
        """ornbbs --headless in WORK/bbs with ORN.INI's [RADIO] and [PORTn] lines `ini`; its directory."""
        d = os.path.join(self.work, "bbs")
        os.makedirs(d, exist_ok=True)
        lines = ["[PERSONAL]", "MYCALL=" + call, "MYHIER=#TST.XX.EU", "FWDOK=1", "BIDGENERATION=1"] + list(ini) + \
            ["[LOG]", "LOGOK=1", "LOGOTHER=1"]
        with open(os.path.join(d, "ORN.INI"), "w", newline="") as f:
            f.write("".join(line + "\r\n" for line in lines))
        p = subprocess.Popen([os.path.join(self.build, "ornbbs"), "--headless", "--dir", d],
                             stdout=open(os.path.join(d, "bbs.out"), "wb"),
                             stderr=open(os.path.join(d, "bbs.err"), "wb"))
        self.list.append(p)
        wait("ornbbs up", lambda: "UP" in text_of(os.path.join(d, "BBS.LOG")), 30)
        return d

    def alive(self):
        for p in self.list:
            if p.poll() is not None:
                raise Failure("%s ended with %s" % (p.args[0], p.returncode))

    def stop(self):
        for p in reversed(self.list):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()


def host_port(addr):
    host, port = addr.rsplit(":", 1)
    return host, int(port)


class Terminal:
    """A user at a telnet terminal on one of ornpe's gateways."""

    def __init__(self, addr, call, timeout=60):
        self.s = socket.create_connection(host_port(addr), timeout=timeout)
        self.got = b""
        self.until(b"Callsign: ")
        self.line(call)

    def line(self, text):
        self.s.sendall(text.encode("latin-1") + b"\r\n")

    def until(self, text, seconds=60):
        text = text.encode("latin-1") if isinstance(text, str) else text
        end = time.monotonic() + seconds
        while text not in self.got:
            if time.monotonic() > end:
                raise Failure("telnet user waited for %r, got %r" % (text, self.got[-400:]))
            try:
                chunk = self.s.recv(65536)
            except socket.timeout:
                continue
            if not chunk:
                raise Failure("telnet closed while waiting for %r, got %r" % (text, self.got[-400:]))
            self.got += chunk
        at = self.got.index(text) + len(text)
        used, self.got = self.got[:at], self.got[at:]
        return used

    def close(self):
        self.s.close()


PASTE_LINE = b"A line of a long paste, as a user's terminal sends it when the clipboard is large.\r\n"


def paste_while_serving(gateway, radio_api, size=8 << 20, rounds=4):
    """A telnet user on `gateway` pastes `size` bytes into a message while a second telnet
    user and a radio station on the engine at `radio_api` (port 0) send commands. Returns
    (seconds the paste took, answer times of the others as (who, seconds), the paster)."""
    paster = Terminal(gateway, "XX1PST")
    paster.until(">\r\n")
    paster.line("N Al")  # a new user gives the name first
    paster.until(">\r\n")
    paster.line("SP XX1ZZZ")
    paster.until("ubject")
    paster.line("A paste")
    other = Terminal(gateway, "XX2USR")
    other.until(">\r\n")
    radio = Station(radio_api, "XX3RAD", timeout=60, connect_timeout=30)
    radio.connect(BBS)
    radio.expect(">\r")

    lines = size // len(PASTE_LINE) + 1
    took = [None]
    errors = []

    def paste():
        try:
            t0 = time.monotonic()
            chunk = PASTE_LINE * 800
            for _ in range(lines // 800 + 1):
                paster.s.sendall(chunk)
            took[0] = time.monotonic() - t0
        except OSError as e:
            errors.append("the paste: %s" % e)

    th = threading.Thread(target=paste, daemon=True)
    th.start()
    time.sleep(0.3)  # the paste has the BBS's link to itself
    answers = []
    n = 0
    while n < rounds or th.is_alive():
        t = time.monotonic()
        other.line("L")
        other.until(">\r\n")
        answers.append(("telnet user", time.monotonic() - t))
        t = time.monotonic()
        radio.send("L")
        radio.expect(">\r")
        answers.append(("radio station", time.monotonic() - t))
        n += 1
        time.sleep(0.2)
        if n > 200:
            break
    th.join(120)
    if errors:
        raise Failure(errors[0])
    if took[0] is None:
        raise Failure("the paste did not end")
    other.line("B")
    other.close()
    radio.send("B")
    radio.wait_disconnect()
    radio.close()
    return took[0], answers, paster
