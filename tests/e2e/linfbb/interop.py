#!/usr/bin/env python3
"""ornbbs and LinFBB forward with each other, both ways, in each mode given.

    interop.py BUILD MODE...      (inside netns.sh; MODE: b1, b0, fbb, mbl)

Per mode: LinFBB (xfbbd) with ornbbs as its partner XX9ORN, ornbbs on ornpe
with LinFBB as its partner XX8FBB. ornbbs reaches LinFBB through
`ornpe --dial XX8FBB=...` (a connect script that logs in with ".XX9ORN" and a
password); LinFBB reaches ornbbs through `ornpe --bbs-gateway`. First ornbbs
calls at its forwarding minute; then LinFBB calls (its sysop's FW). In each
session both sides have a private message and a bulletin for the other, and
LinFBB offers one bulletin ornbbs already holds, which must be refused. Every
message must arrive whole: title, text, BID, addressee and the sender's
routing line; each link must be released at the end.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.realpath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.dirname(HERE))
from linfbb import LinFbb  # noqa: E402
from station import Station  # noqa: E402

ORN, FBB = "XX9ORN", "XX8FBB"
API, GATEWAY, BBS_GATEWAY, FBB_TELNET = 8000, 6301, 6302, 6300
MSGDB = 415  # bytes of a MSG.ADB record


class Failure(Exception):
    pass


def wait(what, cond, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        v = cond()
        if v:
            return v
        time.sleep(0.5)
    raise Failure("timed out waiting for " + what)


def orn_messages(bbs):
    """ornbbs's messages: (number, type, status, to, from, at, subject, bid, text)."""
    path = os.path.join(bbs, "MSG.ADB")
    out = []
    if not os.path.exists(path):
        return out
    with open(path, "rb") as f:
        data = f.read()
    for i in range(len(data) // MSGDB):
        r = data[i * MSGDB:(i + 1) * MSGDB]

        def s(a, n):
            return r[a:a + n].split(b"\0")[0].decode("latin-1")
        number = struct.unpack_from("<i", r, 0)[0]
        try:
            with open(os.path.join(bbs, "MAIL", "%d.amm" % number), "rb") as f:
                text = f.read().decode("latin-1").replace("\r\n", "\n")
        except OSError:
            text = ""
        out.append(dict(number=number, type=s(4, 2), status=s(6, 2), to=s(12, 40), sender=s(52, 40),
                        at=s(92, 40), subject=s(147, 255), bid=s(402, 13), text=text))
    return out


def by_bid(msgs, bid):
    found = [m for m in msgs if (m["bid"] if isinstance(m, dict) else m.bid) == bid]
    return found


class Run:
    # fbb_port: where ornpe dials LinFBB; orn_port: where LinFBB calls ornbbs
    # (ornpe's BBS gateway), unless something stands between them.
    # fwd_ahead: minutes until ornbbs's hourly forwarding minute.
    def __init__(self, build, mode, work, fbb_port=FBB_TELNET, orn_port=BBS_GATEWAY, fwd_ahead=1):
        self.build, self.mode, self.work = build, mode, work
        self.fbb_port, self.fwd_ahead = fbb_port, fwd_ahead
        self.procs = []
        self.registered = False
        self.bbs = os.path.join(work, "orn")
        self.lin = LinFbb(os.path.join(work, "fbb"), call=FBB, telnet_port=FBB_TELNET, partner=ORN,
                          partner_password="ornpw", partner_addr=("127.0.0.1", orn_port), mode=mode)

    def start(self):
        self.lin.configure()
        self.lin.start()
        log = open(os.path.join(self.work, "ornpe.log"), "wb")
        out = os.path.join(self.work, "ornpe.out")
        self.procs.append(subprocess.Popen(
            [os.path.join(self.build, "ornpe"), "--listen", "127.0.0.1:%d" % API,
             "--gateway", "127.0.0.1:%d" % GATEWAY, "--bbs-gateway", "127.0.0.1:%d" % BBS_GATEWAY,
             "--bbs", ORN, "--dial", "%s=127.0.0.1:%d,raw" % (FBB, self.fbb_port)],
            stdout=open(out, "wb"), stderr=log))
        wait("ornpe", lambda: b"ornpe ready" in open(out, "rb").read(), 10)

        os.makedirs(self.bbs)
        # The forwarding minute is the next one unless told: ornbbs calls within a minute.
        minute = time.localtime(time.time() + 60 * self.fwd_ahead).tm_min
        ini = ["[PERSONAL]", "MYCALL=" + ORN, "MYHIER=#TST.YY.EU", "FWDOK=1", "FWDMIN=%d" % minute,
               "BIDGENERATION=1", "[RADIO]", "PORTS=1", "ENGINEPORT=%d" % API, "[PORT0]", "CHANNELS=3",
               "BBSONLY=0", "LIMITED=0", "TIMEOUT=0", "[LOG]", "LOGOK=1", "LOGOTHER=1"]
        with open(os.path.join(self.bbs, "ORN.INI"), "w", newline="") as f:
            f.write("".join(line + "\r\n" for line in ini))
        # LinFBB's telnet login, as its partners log in: a dot before the call
        # for a transparent channel, then the password.
        subprocess.run([os.path.join(self.build, "test_partner"), self.bbs, FBB, "@%s|@WW" % FBB,
                        "%s;.%s;ornpw" % (FBB, ORN), ";Password :;"], check=True)
        self.bbs_out = os.path.join(self.work, "bbs.out")
        self.procs.append(subprocess.Popen([os.path.join(self.build, "ornbbs"), "--headless", "--echo-channels", "--dir", self.bbs],
                                           stdout=open(self.bbs_out, "wb"),
                                           stderr=open(os.path.join(self.work, "bbs.err"), "wb")))
        wait("ornbbs", lambda: os.path.exists(os.path.join(self.bbs, "BBS.LOG")) and
             b"UP" in open(os.path.join(self.bbs, "BBS.LOG"), "rb").read(), 20)

    def stop(self):
        for p in reversed(self.procs):
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        self.lin.stop()

    def station_sends(self, lines):
        """A station of ornbbs's enters messages: (send line, subject or None, text lines)."""
        if not self.registered:
            # A new station's first visit has the restricted commands: it
            # gives its name and comes back.
            with Station("127.0.0.1:%d" % API, "XX1ABC", timeout=20) as s:
                s.connect(ORN)
                s.expect(">\r")
                s.send("N Anna")
                s.expect(">\r")
                s.send("B")
                s.wait_disconnect()
            self.registered = True
        with Station("127.0.0.1:%d" % API, "XX1ABC", timeout=20) as s:
            s.connect(ORN)
            s.expect(">\r")
            for cmd, subject, text in lines:
                s.send(cmd)
                if subject is not None:
                    s.expect("Subject:")
                    s.send(subject)
                s.expect("Ctrl-Z:")
                for t in text:
                    s.send(t)
                s.send("/EX")
                s.expect("stored.")
            s.send("B")
            s.wait_disconnect()

    def links_released(self):
        # No link left on the air: ornpe's dialled and gateway links closed,
        # ornbbs's channels idle.
        def idle():
            lines = open(self.bbs_out, "rb").read().decode("latin-1").split("\n")
            channels = "\n".join(line for line in lines if not line.startswith("[0 "))  # not the monitor
            return channels.count("*** CONNECTED") == channels.count("*** DISCONNECTED")
        wait("the links to be released", idle, 60)

    def check_at_fbb(self, bid, to, title, text):
        m = wait("LinFBB to hold " + bid, lambda: by_bid(self.lin.messages(), bid), 120)[0]
        lines = m.lines()
        if m.to != to or m.title != title:
            raise Failure("LinFBB holds %r, expected to %s title %r" % (m, to, title))
        if not any(line.startswith("R:") and "@:%s" % ORN in line for line in lines):
            raise Failure("no routing line of ours in %r" % lines[:6])
        for t in text:
            if t not in lines:
                raise Failure("line %r missing at LinFBB: %r" % (t, lines))

    def check_at_orn(self, bid, to, title, text):
        m = wait("ornbbs to hold " + bid, lambda: by_bid(orn_messages(self.bbs), bid), 120)
        if len(m) != 1:
            raise Failure("ornbbs holds %d messages with BID %s" % (len(m), bid))
        m = m[0]
        lines = m["text"].split("\n")
        if m["to"] != to or m["subject"] != title:
            raise Failure("ornbbs holds %r, expected to %s title %r" % (m, to, title))
        if not any(line.startswith("R:") and "@:%s" % FBB in line for line in lines):
            raise Failure("no routing line of LinFBB's in %r" % lines[:8])
        for t in text:
            if t not in lines:
                raise Failure("line %r missing at ornbbs: %r" % (t, lines))

    def exchange(self, round_no, ornbbs_calls):
        tag = "%s%d" % (self.mode.upper(), round_no)
        ours = [("SP XX8ABC @ %s" % FBB, "Private %s" % tag, ["Hello from ornbbs %s." % tag, "73"]),
                ("SB ALL @ WW Bulletin %s" % tag, None, ["All hear ornbbs %s." % tag])]
        # A bulletin that stays here: LinFBB offers one with its BID later.
        local = ("SB ALL @ EU Local %s" % tag, None, ["Only here."])
        self.station_sends(ours + [local])
        stored = [m for m in orn_messages(self.bbs) if tag in m["subject"]]
        mine = [m for m in stored if not m["subject"].startswith("Local")]
        if len(stored) != 3 or not all(m["bid"] for m in stored):
            raise Failure("ornbbs did not store the station's messages: %r" % stored)
        known = [m for m in stored if m["subject"].startswith("Local")][0]["bid"]
        theirs_p = "P%s_%s" % (tag, FBB)  # a BID has at most 12 characters
        theirs_b = "B%s_%s" % (tag, FBB)
        self.lin.send("P", "XX9ABC", ORN, "Private %s from LinFBB" % tag, ["Hi from LinFBB %s." % tag, "73"],
                      bid=theirs_p)
        self.lin.send("B", "ALL", "WW", "Bulletin %s from LinFBB" % tag, ["LinFBB says %s." % tag],
                      bid=theirs_b)
        # One ornbbs already holds: refused.
        self.lin.send("B", "ALL", "WW", "Known %s" % tag, ["Seen before."], bid=known)
        if not ornbbs_calls:
            self.lin.forward_now()
        for m in mine:
            private = m["type"] == "P"
            self.check_at_fbb(m["bid"], "XX8ABC" if private else "ALL", m["subject"],
                              ours[0][2] if private else ours[1][2])
        self.check_at_orn(theirs_p, "XX9ABC", "Private %s from LinFBB" % tag, ["Hi from LinFBB %s." % tag])
        self.check_at_orn(theirs_b, "ALL", "Bulletin %s from LinFBB" % tag, ["LinFBB says %s." % tag])
        if len(by_bid(orn_messages(self.bbs), known)) != 1:
            raise Failure("the known BID %s was taken again" % known)
        self.links_released()


def main(argv):
    build, modes = os.path.abspath(argv[1]), argv[2:]
    failed = 0
    for mode in modes:
        work = tempfile.mkdtemp(prefix="orninterop-%s." % mode)
        run = Run(build, mode, work)
        try:
            run.start()
            run.exchange(1, ornbbs_calls=True)
            run.exchange(2, ornbbs_calls=False)
            print("%s: ok" % mode, flush=True)
            shutil.rmtree(work, ignore_errors=True)
        except Exception as e:  # noqa: BLE001 - every failure is reported with its logs
            failed += 1
            print("%s: FAIL: %s (files in %s)" % (mode, e, work), flush=True)
            for name in ("bbs.out", "bbs.err", "ornpe.log"):
                try:
                    print("--- %s (end)\n%s" % (name, open(os.path.join(work, name), "rb").read()[-3000:]
                                             .decode("latin-1")))
                except OSError:
                    pass
        finally:
            run.stop()
    print("%d passed, %d failed" % (len(modes) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
