#!/usr/bin/env python3
"""The BBS on the air and on the Internet at once, with ornpe in front of Direwolf.

    radio_and_internet.py BUILD      (inside linfbb/netns.sh)

Direwolf A and B share a simulated radio channel (direwolf/airlab.py); ornpe
passes A's radio port on as its port 0 (--engine) and has its own port 1 with
the station gateway, the BBS gateway and LinFBB (XX8FBB) as a --dial target;
ornbbs runs on ornpe. A station on B connects over the air and leaves a
private message for XX8ABC at LinFBB and one for XX3CCC; XX3CCC logs in over
telnet through the station gateway and reads it; ornbbs forwards to LinFBB
over telnet; LinFBB's reply comes back over telnet and the radio station
reads it. The beacon goes out on the radio port only. Direwolf A restarts in
the middle: the radio link ends at once, the telnet user goes on, and the
radio station connects again once ornpe has A back.
"""
import ctypes
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.realpath(__file__))
sys.path.insert(0, os.path.join(HERE, "linfbb"))
sys.path.insert(0, HERE)
from interop import Failure, by_bid, orn_messages, wait  # noqa: E402
from linfbb import LinFbb  # noqa: E402
from station import Station  # noqa: E402

ORN, FBB = "XX9ORN", "XX8FBB"
RADIO, TELNET_USER = "XX2BBB", "XX3CCC"
A_PORT, API, GATEWAY, BBS_GATEWAY, FBB_TELNET = 8001, 8000, 6301, 6302, 6300
AIRLAB = os.path.join(HERE, "direwolf", "airlab.py")
CLONE_NEWNET = 0x40000000
SKIP = 77


def in_netns(path, make):
    """Runs make() in the network namespace at `path`: a socket it opens stays there."""
    libc = ctypes.CDLL(None, use_errno=True)
    own = os.open("/proc/self/ns/net", os.O_RDONLY)
    target = os.open(path, os.O_RDONLY)
    try:
        if libc.setns(target, CLONE_NEWNET) != 0:
            raise Failure("setns: %s" % os.strerror(ctypes.get_errno()))
        try:
            return make()
        finally:
            libc.setns(own, CLONE_NEWNET)
    finally:
        os.close(own)
        os.close(target)


class Terminal:
    """A user at a telnet terminal on ornpe's station gateway."""

    def __init__(self, port, call):
        self.s = socket.create_connection(("127.0.0.1", port), timeout=60)
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
                chunk = self.s.recv(4096)
            except socket.timeout:
                continue
            if not chunk:
                raise Failure("telnet closed while waiting for %r, got %r" % (text, self.got[-400:]))
            self.got += chunk
        used, self.got = self.got[:self.got.index(text) + len(text)], self.got[self.got.index(text) + len(text):]
        return used

    def close(self):
        self.s.close()


class Run:
    def __init__(self, build, work):
        self.build, self.work = build, work
        self.lab = os.path.join(work, "lab")
        self.bbs = os.path.join(work, "orn")
        self.procs = []
        self.lin = LinFbb(os.path.join(work, "fbb"), call=FBB, telnet_port=FBB_TELNET, partner=ORN,
                          partner_password="ornpw", partner_addr=("127.0.0.1", BBS_GATEWAY), mode="b0")

    def path(self, name):
        return os.path.join(self.work, name)

    def text(self, name):
        try:
            return open(self.path(name), "rb").read().decode("latin-1")
        except OSError:
            return ""

    def on_b(self, call, **kw):
        return in_netns(os.path.join(self.lab, "b.netns"),
                        lambda: Station("127.0.0.1:8000", call, timeout=90, connect_timeout=150, **kw))

    def start(self):
        rc = subprocess.run([sys.executable, "-B", AIRLAB, "start", "--state", self.lab, "--port-a", str(A_PORT)],
                            stdout=open(self.path("lab.out"), "wb"), stderr=subprocess.STDOUT).returncode
        if rc == SKIP:
            raise SystemExit(SKIP)
        if rc != 0:
            raise Failure("the Direwolf lab did not start: " + self.text("lab.out"))
        self.lin.configure()
        self.lin.start()
        self.procs.append(subprocess.Popen(
            [os.path.join(self.build, "ornpe"), "--engine", "127.0.0.1:%d" % A_PORT, "--listen", "127.0.0.1:%d" % API,
             "--gateway", "127.0.0.1:%d" % GATEWAY, "--bbs-gateway", "127.0.0.1:%d" % BBS_GATEWAY, "--bbs", ORN,
             "--dial", "%s=127.0.0.1:%d,raw" % (FBB, FBB_TELNET)],
            stdout=open(self.path("ornpe.out"), "wb"), stderr=open(self.path("ornpe.log"), "wb")))
        wait("ornpe", lambda: "ornpe ready" in self.text("ornpe.out"), 20)
        # The sysop reads the port numbers for ORN.INI off the ready line and the log.
        if not self.text("ornpe.out").rstrip().endswith(" ports=0=127.0.0.1:%d/0,1=ornpe" % A_PORT):
            raise Failure("ready line: " + self.text("ornpe.out"))
        if "port 0: engine 127.0.0.1:%d port 0 (first soundcard mono)" % A_PORT not in self.text("ornpe.log"):
            raise Failure("ornpe's log does not name port 0: " + self.text("ornpe.log"))

        os.makedirs(self.bbs)
        with open(os.path.join(self.bbs, "beacon.txt"), "wb") as f:
            f.write(b"XX9ORN BBS on the air\r\n")
        ini = ["[PERSONAL]", "MYCALL=" + ORN, "MYHIER=#TST.YY.EU", "FWDOK=1", "BIDGENERATION=1",
               "[RADIO]", "PORTS=2", "ENGINEPORT=%d" % API,
               # ornpe's own port first: the partner's connect entry names port 1.
               "[PORT0]", "PORTNUM=1", "CHANNELS=3", "BBSONLY=0", "LIMITED=0", "TIMEOUT=0", "BEACONOK=0",
               "MAILBEACONOK=0",
               "[PORT1]", "PORTNUM=0", "CHANNELS=2", "BBSONLY=0", "LIMITED=0", "TIMEOUT=0", "PACLEN=256",
               "MAXFRAME=7", "BEACONOK=1", "BTEXT=beacon.txt", "MAILBEACONOK=0",
               "[LOG]", "LOGOK=1", "LOGOTHER=1"]
        with open(os.path.join(self.bbs, "ORN.INI"), "w", newline="") as f:
            f.write("".join(line + "\r\n" for line in ini))
        # LinFBB is reached over telnet, on ornpe's own port.
        subprocess.run([os.path.join(self.build, "test_partner"), self.bbs, FBB, "@%s|@WW" % FBB,
                        "%s;.%s;ornpw" % (FBB, ORN), ";Password :;"], check=True)
        # A listener on B hears what goes out on the air from the start.
        self.listener = self.on_b("XX2MON")
        self.listener.monitor()
        self.procs.append(subprocess.Popen([os.path.join(self.build, "ornbbs"), "--headless", "--echo-channels", "--dir", self.bbs],
                                           stdout=open(self.path("bbs.out"), "wb"),
                                           stderr=open(self.path("bbs.err"), "wb")))
        wait("ornbbs", lambda: os.path.exists(os.path.join(self.bbs, "BBS.LOG")) and
             b"UP" in open(os.path.join(self.bbs, "BBS.LOG"), "rb").read(), 30)

    def stop(self):
        for p in reversed(self.procs):
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        self.lin.stop()
        subprocess.run([sys.executable, "-B", AIRLAB, "stop", "--state", self.lab])

    def beacon_on_radio_only(self):
        self.listener.expect_monitor("Fm %s To BEACON" % ORN, 90)
        self.listener.close()
        monitor = self.text("bbs.out")
        if not re.search(r" 1:Fm %s To BEACON" % ORN, monitor):
            raise Failure("the BBS's monitor does not show the beacon on port 1: " + monitor[-2000:])
        if re.search(r" 2:Fm %s To BEACON" % ORN, monitor):
            raise Failure("a beacon went out on ornpe's own port")

    def radio_visits(self):
        s = self.on_b(RADIO)
        s.connect(ORN)
        s.expect(">\r")
        s.send("N Bob")
        s.expect(">\r")
        s.send("B")
        s.wait_disconnect()
        s.close()
        s = self.on_b(RADIO)
        s.connect(ORN)
        s.expect(">\r")
        for cmd, subject, lines in (("SP XX8ABC @ %s" % FBB, "Radio to LinFBB", ["Hello LinFBB from the air."]),
                                    ("SP %s" % TELNET_USER, "Radio to telnet", ["Hello Carl from the air."])):
            s.send(cmd)
            s.expect("Subject:")
            s.send(subject)
            s.expect("Ctrl-Z:")
            for line in lines:
                s.send(line)
            s.send("/EX")
            s.expect("stored.")
        s.send("B")
        s.wait_disconnect()
        s.close()

    def number(self, subject):
        m = wait("ornbbs to hold %r" % subject,
                 lambda: [x for x in orn_messages(self.bbs) if x["subject"] == subject], 120)
        return m[0]["number"]

    def run(self):
        self.start()
        self.beacon_on_radio_only()
        self.radio_visits()
        # The telnet user's first visit gives the name; the second one reads.
        t = Terminal(GATEWAY, TELNET_USER)
        t.until(">\r\n")
        t.line("N Carl")
        t.until(">\r\n")
        t.line("B")
        t.until("*** DISCONNECTED")
        t.close()
        t = Terminal(GATEWAY, TELNET_USER)
        t.until(">\r\n")
        t.line("R %d" % self.number("Radio to telnet"))
        t.until("Hello Carl from the air.")
        t.until(">\r\n")

        # The radio station is on when Direwolf A restarts.
        s = self.on_b(RADIO)
        s.connect(ORN)
        s.expect(">\r")
        ended_before = self.text("bbs.out").count("*** DISCONNECTED From Station %s" % RADIO)
        restart = subprocess.Popen([sys.executable, "-B", AIRLAB, "restart-a", "--state", self.lab],
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        began = time.monotonic()
        # At once: the link ends when Direwolf goes, not when it is back.
        wait("the radio link to end at the BBS",
             lambda: self.text("bbs.out").count("*** DISCONNECTED From Station %s" % RADIO) > ended_before, 10)
        ended = time.monotonic() - began
        if restart.wait(60) != 0:
            raise Failure("Direwolf A did not restart: %s" % restart.stdout.read())
        print("radio link ended at the BBS %.1f s after the restart began; Direwolf A back after %.1f s"
              % (ended, time.monotonic() - began), flush=True)
        if not re.search(r"engine 127.0.0.1:%d lost for client \d+ \(.*\): 1 link\(s\) ended" % A_PORT,
                         self.text("ornpe.log")):
            raise Failure("ornpe's log does not tell of the loss: " + self.text("ornpe.log")[-2000:])
        t.line("L")
        t.until("Radio to telnet")
        t.until(">\r\n")
        s.close()
        wait("ornpe to register the BBS on A again", lambda: "registering again: %s" % ORN in self.text("ornpe.log"),
             40)
        if self.procs[0].poll() is not None or self.procs[1].poll() is not None:
            raise Failure("ornpe or ornbbs ended with Direwolf")

        # Forwarding over telnet: out at the sysop's word, the reply when LinFBB calls.
        sent = [m for m in orn_messages(self.bbs) if m["subject"] == "Radio to LinFBB"][0]
        subprocess.run([os.path.join(self.build, "ornctl"), "--dir", self.bbs, "fwd", "now"], check=True,
                       stdout=subprocess.DEVNULL)
        held = wait("LinFBB to hold the radio station's message", lambda: by_bid(self.lin.messages(), sent["bid"]), 120)
        if "Hello LinFBB from the air." not in held[0].lines():
            raise Failure("LinFBB holds %r" % held[0].lines())
        self.lin.send("P", RADIO, ORN, "Re: Radio to LinFBB", ["Reply from LinFBB over telnet."], bid="RPLY_XX8FBB")
        self.lin.forward_now()
        reply = self.number("Re: Radio to LinFBB")

        s = self.on_b(RADIO)
        s.connect(ORN)
        s.expect(">\r")
        s.send("R %d" % reply)
        s.expect("Reply from LinFBB over telnet.")
        s.expect(">\r")
        s.send("B")
        s.wait_disconnect()
        s.close()
        t.line("B")
        t.until("*** DISCONNECTED")
        t.close()


def main(argv):
    build = os.path.abspath(argv[1])
    work = tempfile.mkdtemp(prefix="ornradionet.")
    run = Run(build, work)
    try:
        run.run()
        print("radio and internet: ok", flush=True)
        shutil.rmtree(work, ignore_errors=True)
        return 0
    except SystemExit as e:
        return e.code
    except Exception as e:  # noqa: BLE001 - every failure is reported with its logs
        print("FAIL: %s (files in %s)" % (e, work), flush=True)
        for name in ("bbs.out", "bbs.err", "ornpe.log", "lab/dw-a.log"):
            print("--- %s (end)\n%s" % (name, run.text(name)[-3000:]))
        return 1
    finally:
        run.stop()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
