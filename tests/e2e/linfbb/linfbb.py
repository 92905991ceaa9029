#!/usr/bin/env python3
"""LinFBB (xfbbd, Debian package fbb) as a forwarding peer, run entirely inside one directory.

    bbs = LinFbb(root, telnet_port=6300, partner_addr=("127.0.0.1", 6401), mode="fbb")
    bbs.start()                       # writes the configuration, starts xfbbd
    bbs.send("P", "XX9ABC", "XX9ORN", "Title", ["text"])
    bbs.forward_now()                 # xfbbd calls the partner
    ...
    bbs.messages()                    # what xfbbd holds (received and own)
    bbs.stop()

xfbbd binds 0.0.0.0: run it only inside a private network namespace
(unshare --net, with lo up), together with everything that talks to it.
Everything xfbbd reads and writes is under ROOT; its configuration file is
ROOT/conf/fbb.conf, handed over in the FBBCONF environment variable.
See README.md beside this file for the why of every setting.
"""
import ctypes
import os
import re
import signal
import socket
import struct
import subprocess
import sys
import time

sys.dont_write_bytecode = True   # it runs from the source tree: no __pycache__ there
from wire import Wire  # noqa: E402

XFBBD = "/usr/sbin/xfbbd"
HERE = os.path.dirname(os.path.abspath(__file__))

# Protocol mask of the partner's forward block (the N line): 0 leaves only
# the MBL dialogue, 1 allows plain FBB, 3 adds compressed (B0) blocks, 7 B1
# (blocks with a CRC; broken transfers resume).
MODES = {"mbl": 0, "fbb": 1, "b0": 3, "b1": 7}

# Users xfbbd knows from the start (inf.sys): callsign, password, flags.
F_EXP, F_SYS, F_BBS, F_MOD = 0x04, 0x08, 0x10, 0x80
SYSOP = ("XX8SYS", "syspw")
STATION = ("XX1ABC", "abcpw")

# inf.sys: one 380-byte record per user (LinFBB's struct info on x86-64).
INFO_SIZE = 380
# dirmes.sys: record 0 is the BBS's own, then one 222-byte record per message.
DIR_SIZE = 222


def private_netns():
    """True in a network namespace whose only interface is lo (as netns.sh makes)."""
    return [name for _, name in socket.if_nameindex()] == ["lo"]


def _die_with_parent():
    # xfbbd must not outlive a test that is killed: SIGTERM when the parent dies.
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class Message:
    """A message as xfbbd stores it: its dirmes.sys record and its text file."""

    def __init__(self, rec, text):
        def s(a, b):
            return rec[a:b].split(b"\0")[0].decode("latin-1")
        self.type = chr(rec[0])            # P, B, T, A
        self.status = chr(rec[1])          # N new, Y read, F forwarded, $ bulletin, K killed...
        self.number, self.size = struct.unpack_from("<qq", rec, 2)
        self.from_bbs = s(26, 33)          # the BBS it came from ("" when entered here)
        self.at = s(33, 74)
        self.sender = s(74, 81)
        self.to = s(81, 88)
        self.bid = s(88, 101)
        self.title = s(101, 162)
        self.pending = rec[202:212]        # one bit per bbs.sys line still to forward to
        self.forwarded = rec[212:222]      # one bit per bbs.sys line it went to (or came from)
        self.text = text                   # bytes of the text file (CR LF line ends)

    def lines(self):
        return self.text.decode("latin-1").replace("\r\n", "\n").split("\n")

    def __repr__(self):
        return "<%d %s%s %s -> %s@%s $%s %r>" % (self.number, self.type, self.status, self.sender,
                                                  self.to, self.at, self.bid, self.title)


class Session:
    """A telnet login on xfbbd's telnet port."""

    def __init__(self, host, port, call, password, dot=False, timeout=20.0):
        self.wire = Wire.connect(host, port, timeout)
        self.wire.expect("Callsign : ")
        # A leading dot asks for a transparent channel: no telnet options, CR
        # passes as it is (a BBS partner's way in); without it CR goes out as CR LF.
        self.wire.sendline(("." if dot else "") + call)
        self.wire.expect("Password : ")
        self.wire.sendline(password)
        self.wire.expect("Logon Ok.")

    def prompt(self, timeout=None):
        """Waits for the command prompt; returns the text before it."""
        return self.wire.expect("BBS>", timeout)

    def command(self, text, timeout=None):
        self.wire.sendline(text)
        return self.prompt(timeout)

    def close(self):
        try:
            self.wire.sendline("B")
            self.wire.wait_closed(5)
        except Exception:
            pass
        self.wire.close()


class LinFbb:
    def __init__(self, root, *, call="XX8FBB", telnet_port=6300, partner="XX9ORN",
                 partner_password="ornpw", partner_addr=("127.0.0.1", 6301), mode="fbb",
                 host="127.0.0.1"):
        if mode not in MODES:
            raise ValueError("mode must be one of %s" % ", ".join(MODES))
        self.root = os.path.abspath(root)
        self.call = call
        self.host = host
        self.telnet_port = telnet_port
        self.partner = partner
        self.partner_password = partner_password
        self.partner_addr = partner_addr
        self.mode = mode
        self.proc = None
        self.conf = os.path.join(self.root, "conf")
        self.data = os.path.join(self.root, "data")

    # --- configuration ------------------------------------------------------

    def _write(self, rel, text):
        path = os.path.join(self.root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="latin-1", newline="\n") as f:
            f.write(text)

    def configure(self):
        d = self.data
        for sub in ("mail", "binmail"):
            for i in range(10):
                os.makedirs(os.path.join(d, sub, "mail%d" % i), exist_ok=True)
        for sub in ("fbbdos/yapp", "docs", "oldmail", "wp", "log", "sat"):
            os.makedirs(os.path.join(d, sub), exist_ok=True)
        for sub in ("pg", "filter", "server", "tool"):
            os.makedirs(os.path.join(self.root, sub), exist_ok=True)
        r = self.root
        # Housekeeping shuts the BBS down for a while at that hour: keep it far away.
        cleanup_hour = (time.localtime().tm_hour + 12) % 24
        self._write("conf/fbb.conf", f"""\
# Written by the LinFBB test harness.
version = FBB7.0.11
callsign = {self.call}.#TST.XX.EU
ssid = 0
qraloc = JN00AA
city = Testville
name = Tester
sysop = {SYSOP[0]}
data = {d}
config = {self.conf}
messages = {d}/mail
compressed = {d}/binmail
fbbdos = *,*,{d}/fbbdos,*,*,*,*,*
yapp = {d}/fbbdos/yapp
docs = {d}/docs
pg = {r}/pg
fdir = {r}/filter
sdir = {r}/server
tdir = {r}/tool
import = {d}/mail/mail.in
logs = OK
test = NO
fbbfwd = OK 160
fbbcomp = OK 1
askinfo = NO
mask = 3616
security = 0 59 59
warning = 0
housekeeping = {cleanup_hour}
timeout = 10 20
maxdownload = 0 0
localtime = 0
beacon = 8
scroll = 100 100 100
fwdheader = [$c] $$:$R
maxbids = 3000
lifetime = 30
zipcode = 00000
unprotoes = 500 5 P
""")
        # The forwarding minute is half an hour away: nothing forwards on its
        # own during a test; forward_now() starts a session.
        minute = (time.localtime().tm_min + 30) % 60
        self._write("conf/port.sys", f"""\
# Written by the LinFBB test harness: one telnet port, address in hex.
#Ports TNCs
 1 1
#Com Interface Address Baud
 1 9 {self.telnet_port:X} 0
#TNC NbCh Com MultCh Pacln Maxfr NbFwd MxBloc M/P-Fwd Mode Freq
 1 4 1 0 250 2 1 10 {minute:02d}/60 TUY Telnet
""")
        self._write("conf/bbs.sys", f"01 {self.partner}\n")
        host, port = self.partner_addr
        self._write("conf/forward.sys", f"""\
# Written by the LinFBB test harness.
A {self.partner}
  P A
  C C {self.partner} {host} {port}
  V {self.call}$W
  N {MODES[self.mode]}
  B {self.partner}
  F {self.partner}
  G ALL
  G WW
--------
""")
        self._write("conf/langue.sys", "1 1 1\nENGLISH\n")
        self._write("conf/passwd.sys", "not-used-by-the-tests\n")
        with open(os.path.join(HERE, "english.txt"), encoding="latin-1") as f:
            self._write("conf/lang/english.txt", f.read())
        with open(os.path.join(d, "inf.sys"), "wb") as f:
            f.write(self._user(SYSOP[0], SYSOP[1], F_MOD | F_SYS | F_EXP, "Sysop", self.call))
            f.write(self._user(STATION[0], STATION[1], F_MOD | F_EXP, "Alice", self.call))
            # Without the B flag the partner is an ordinary user and its SID an unknown command.
            f.write(self._user(self.partner, self.partner_password, F_MOD | F_BBS | F_EXP, "Partner",
                               self.partner))

    @staticmethod
    def _user(call, password, flags, name, home):
        rec = bytearray(INFO_SIZE)

        def put(offset, size, text):
            raw = text.encode("latin-1")[:size - 1]
            rec[offset:offset + len(raw)] = raw
        put(0, 7, call)                         # indic.call (SSID byte 7 stays 0)
        struct.pack_into("<H", rec, 104, flags)
        rec[108] = 20                           # lines per page
        put(159, 13, name)                      # first name
        put(233, 31, "Testville")               # QTH
        put(290, 41, home)                      # home BBS
        put(358, 13, password)
        put(371, 9, "00000")                    # zip
        return bytes(rec)

    # --- running ------------------------------------------------------------

    def start(self, timeout=30.0):
        if not private_netns():
            raise RuntimeError("xfbbd listens on 0.0.0.0: start it only inside a private network "
                               "namespace (tests/e2e/linfbb/netns.sh)")
        if not os.path.exists(self.conf):
            self.configure()
        env = dict(os.environ, FBBCONF=os.path.join(self.conf, "fbb.conf"))
        # On a first start xfbbd asks on standard input before it creates each of
        # its files ("Creating file ... (Y/N) ?", one read(0, buf, 256) each) and
        # loops on end of file: feed a "Y" per read.
        yes = os.path.join(self.root, "yes.in")
        with open(yes, "wb") as f:
            f.write(b"Y\n".ljust(256, b"\n") * 64)
        self.out = open(os.path.join(self.root, "xfbbd.out"), "wb")
        with open(yes, "rb") as stdin:
            self.proc = subprocess.Popen([XFBBD, "-n", "-v"], cwd=self.root, env=env, stdin=stdin,
                                         stdout=self.out, stderr=subprocess.STDOUT,
                                         start_new_session=True, preexec_fn=_die_with_parent)
        deadline = time.monotonic() + timeout
        while True:
            if self.proc.poll() is not None:
                raise RuntimeError("xfbbd exited with %s: %s" % (self.proc.returncode, self.output()[-2000:]))
            try:
                socket.create_connection((self.host, self.telnet_port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline:
                    self.stop()
                    raise RuntimeError("xfbbd did not open its telnet port: %s" % self.output()[-2000:])
                time.sleep(0.2)
        # That probe connection shows up as a telnet channel; let xfbbd drop it.
        time.sleep(0.5)

    def output(self):
        try:
            with open(os.path.join(self.root, "xfbbd.out"), "rb") as f:
                return f.read().decode("latin-1")
        except OSError:
            return ""

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def stop(self, timeout=15.0):
        """SIGTERM (xfbbd closes its files and logs "BBS Quit"), SIGKILL if it hangs."""
        if self.proc is None:
            return
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        # Whatever it started (filters, servers) shares its process group.
        pgid = self.proc.pid
        self.proc = None
        self.out.close()
        deadline = time.monotonic() + 5
        while True:
            try:
                os.killpg(pgid, signal.SIGKILL)
            except ProcessLookupError:
                return
            if time.monotonic() > deadline:
                raise RuntimeError("processes of xfbbd's group %d outlive it" % pgid)
            time.sleep(0.1)

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    # --- talking to it ------------------------------------------------------

    def session(self, call, password, dot=False):
        s = Session(self.host, self.telnet_port, call, password, dot)
        s.prompt()
        return s

    def send(self, kind, to, at, title, text, bid=None, user=STATION):
        """Enters a message as a station would (SP/SB); returns its number."""
        s = self.session(*user)
        try:
            cmd = "S%s %s @ %s" % (kind, to, at) + (" $%s" % bid if bid else "")
            s.wire.sendline(cmd)
            s.wire.expect("Enter the title")
            s.wire.line()
            s.wire.sendline(title)
            s.wire.expect("Enter the text")
            s.wire.line()
            for line in text:
                s.wire.sendline(line)
            s.wire.sendline("/EX")
            answer = s.prompt()
            m = re.search(r"Message # (\d+) is sent", answer)
            if not m:
                raise RuntimeError("%s refused: %r" % (cmd, answer))
            return int(m.group(1))
        finally:
            s.close()

    def import_mail(self, messages):
        """Writes mail.in; xfbbd reads it at start and at every minute tick, then deletes it.

        MESSAGES: (command line, title, [text lines]), the command line as a
        BBS would send it, e.g. "SP XX9ABC @ XX9ORN < XX1ABC $BID1".
        """
        with open(os.path.join(self.data, "mail", "mail.in"), "w", encoding="latin-1",
                  newline="\n") as f:
            for cmd, title, text in messages:
                f.write("%s\n%s\n%s\n/EX\n" % (cmd, title, "\n".join(text)))

    def forward_now(self):
        """The sysop's FW command: xfbbd calls the partner at once."""
        s = self.session(*SYSOP)
        try:
            answer = s.command("FW %s" % self.partner)
            if "Forwarding %s" % self.partner not in answer:
                raise RuntimeError("FW refused: %r" % answer)
        finally:
            s.close()

    def messages(self):
        try:
            with open(os.path.join(self.data, "dirmes.sys"), "rb") as f:
                d = f.read()
        except FileNotFoundError:
            return []
        out = []
        for i in range(1, len(d) // DIR_SIZE):
            rec = d[i * DIR_SIZE:(i + 1) * DIR_SIZE]
            number = struct.unpack_from("<q", rec, 2)[0]
            path = os.path.join(self.data, "mail", "mail%d" % (number % 10), "m_%06d.mes" % number)
            try:
                with open(path, "rb") as f:
                    text = f.read()
            except FileNotFoundError:
                text = b""
            out.append(Message(rec, text))
        return out

    def log(self):
        """xfbbd's own log: one line per event (connections, messages in and out)."""
        logdir = os.path.join(self.data, "log")
        lines = []
        for name in sorted(os.listdir(logdir)):
            with open(os.path.join(logdir, name), "rb") as f:
                lines += f.read().decode("latin-1").splitlines()
        return lines


# --- command line -------------------------------------------------------------

USAGE = """\
linfbb.py --dir DIR [options] STEP...   (inside netns.sh)

Runs xfbbd in DIR for as long as the steps take, then stops it. Steps:
    start                       configure (first time) and start xfbbd
    send P|B TO AT TITLE TEXT [BID]
                                a station enters a message (TEXT: lines split at |)
    import CMD TITLE TEXT       queue a message in mail.in (read at start and each minute)
    forward                     the sysop's FW: xfbbd calls the partner now
    expect-message BID [SECONDS]
                                wait until xfbbd holds a message with BID (default 60 s)
    messages                    print what xfbbd holds, one JSON object per line
    sleep SECONDS
    stop                        stop xfbbd (also done at the end)
"""


def _main(argv):
    import argparse
    import json
    ap = argparse.ArgumentParser(usage=USAGE)
    ap.add_argument("--dir", required=True)
    ap.add_argument("--call", default="XX8FBB")
    ap.add_argument("--telnet-port", type=int, default=6300)
    ap.add_argument("--partner", default="XX9ORN")
    ap.add_argument("--partner-password", default="ornpw")
    ap.add_argument("--partner-addr", default="127.0.0.1:6301")
    ap.add_argument("--mode", choices=sorted(MODES), default="fbb")
    ap.add_argument("steps", nargs="+")
    args = ap.parse_args(argv)
    host, _, port = args.partner_addr.rpartition(":")
    bbs = LinFbb(args.dir, call=args.call, telnet_port=args.telnet_port, partner=args.partner,
                 partner_password=args.partner_password, partner_addr=(host, int(port)),
                 mode=args.mode)
    steps = list(args.steps)

    def take(n):
        if len(steps) < n:
            raise SystemExit("missing arguments after %s" % step)
        out = steps[:n]
        del steps[:n]
        return out
    try:
        while steps:
            step = steps.pop(0)
            if step == "start":
                bbs.start()
            elif step == "send":
                kind, to, at, title, text = take(5)
                bid = steps.pop(0) if steps and steps[0] not in STEPS else None
                print("sent #%d" % bbs.send(kind, to, at, title, text.split("|"), bid=bid))
            elif step == "import":
                cmd, title, text = take(3)
                if not os.path.exists(bbs.conf):
                    bbs.configure()
                bbs.import_mail([(cmd, title, text.split("|"))])
            elif step == "forward":
                bbs.forward_now()
            elif step == "expect-message":
                bid = take(1)[0]
                limit = float(steps.pop(0)) if steps and steps[0] not in STEPS else 60.0
                deadline = time.monotonic() + limit
                while not any(m.bid == bid for m in bbs.messages()):
                    if time.monotonic() > deadline:
                        raise SystemExit("no message $%s after %g s" % (bid, limit))
                    time.sleep(0.5)
                print("holds $%s" % bid)
            elif step == "messages":
                for m in bbs.messages():
                    print(json.dumps({"number": m.number, "type": m.type, "status": m.status,
                                      "from": m.sender, "to": m.to, "at": m.at, "bid": m.bid,
                                      "title": m.title, "from_bbs": m.from_bbs,
                                      "text": m.text.decode("latin-1")}))
            elif step == "sleep":
                time.sleep(float(take(1)[0]))
            elif step == "stop":
                bbs.stop()
            else:
                raise SystemExit("unknown step %r" % step)
            sys.stdout.flush()
    finally:
        bbs.stop()


STEPS = {"start", "send", "import", "forward", "expect-message", "messages", "sleep", "stop"}

if __name__ == "__main__":
    _main(sys.argv[1:])
