#!/usr/bin/env python3
"""A YAPP terminal for tests: a station that logs in to the BBS through ornpe's
telnet station gateway, with telnet BINARY agreed both ways, and moves files
with YAPP or YAPP-C. Written from the protocol as published (packets of a
type byte, a second byte and perhaps a body), not from the BBS's code.

Standard library only. As a module:

    from yapp_peer import Terminal
    with Terminal("127.0.0.1:6300", "XX1ABC") as t:
        data, header = t.download("FILE.BIN", yappc=True)
        t.upload("NEW.BIN", b"...", yappc=False)

From the command line:

    yapp_peer.py --gateway HOST:PORT --call CALL download NAME OUTFILE [--yappc]
    yapp_peer.py --gateway HOST:PORT --call CALL upload INFILE NAME [--yappc] [--eager]
    yapp_peer.py --gateway HOST:PORT --bbs DIR suite

`suite` is the end-to-end test: downloads (and resumed downloads) and
uploads of files of 0 to 70 000 bytes with every byte value, plain and
YAPP-C, an upload started right after the command, cancels from the peer's side, and peers that fall silent; several
stations at once, each on its own channel. Exit status 0 when everything
holds, 1 otherwise.
"""
import argparse
import os
import socket
import sys
import threading
import time

# Packet types.
SOH, STX, ETX, EOT, ENQ, ACK, DLE, NAK, CAN = 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x10, 0x15, 0x18
SI = bytes([ENQ, 1])  # send init
RR = bytes([ACK, 1])  # receive ready
RF = bytes([ACK, 2])  # receive file
AF = bytes([ACK, 3])  # end of file acknowledged
AT = bytes([ACK, 4])  # end of transfer acknowledged
CA = bytes([ACK, 5])  # cancel acknowledged
RT = bytes([ACK, 6])  # receive file, with checksums (YAPP-C)
EF = bytes([ETX, 1])  # end of file
ET = bytes([EOT, 1])  # end of transfer
WITH_BODY = (SOH, STX, DLE, NAK, CAN)

# Telnet.
IAC, DONT, DO, WONT, WILL, SB, SE, BINARY = 255, 254, 253, 252, 251, 250, 240, 0

PROMPT = b">\r"
ANSWER_SECONDS = 120  # how long the BBS waits for a silent station
# A terminal whose upload starts at once (ax25-apps' call) gives the BBS this
# long to answer YU before its send-init; what comes after that must be YAPP.
EAGER_SECONDS = 0.5


class PeerError(Exception):
    pass


def checksum(data):
    return sum(data) & 0xFF


def with_length(kind, body):
    return bytes([kind, len(body) & 0xFF]) + body


def data_packet(block, yappc):
    p = bytes([STX, len(block) & 0xFF]) + block  # 256 bytes travel as length 0
    return p + bytes([checksum(block)]) if yappc else p


def dos_datetime(t):
    """Seconds since 1970 as DOS keeps a file's time: local date in the high
    16 bits (years from 1980, month, day), time of day in the low 16 (hours,
    minutes, seconds / 2)."""
    lt = time.localtime(t)
    return ((lt.tm_year - 1980) << 25 | lt.tm_mon << 21 | lt.tm_mday << 16 |
            lt.tm_hour << 11 | lt.tm_min << 5 | lt.tm_sec // 2)


def from_dos_datetime(v):
    return int(time.mktime((1980 + (v >> 25), v >> 21 & 15, v >> 16 & 31,
                            v >> 11 & 31, v >> 5 & 63, (v & 31) * 2, 0, 0, -1)))


def header_packet(name, size, date=None):
    body = name.encode("ascii") + b"\0" + str(size).encode("ascii") + b"\0"
    if date is not None:
        body += b"%08X\0" % date
    return with_length(SOH, body)


def parse_header(body):
    fields = body.split(b"\0")
    if len(fields) < 2 or not fields[0]:
        raise PeerError("damaged header %r" % body)
    out = {"name": fields[0].decode("latin-1"), "size": fields[1].decode("latin-1"), "date": None}
    if len(fields) > 2 and len(fields[2]) == 8:
        out["date"] = int(fields[2], 16)
    return out


class Terminal:
    """A telnet terminal on the station gateway, logged in as CALL."""

    def __init__(self, gateway, call, timeout=30.0, log=None):
        host, port = gateway.rsplit(":", 1)
        self.call = call
        self.timeout = timeout
        self.log = log
        self.sock = socket.create_connection((host, int(port)), timeout=timeout)
        self.data = bytearray()     # received data not yet used
        self._cmd = bytearray()     # a telnet command being read
        self.binary_in = self.binary_out = False
        self.closed = False
        self._login()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass

    def say(self, text):
        if self.log:
            self.log("%s: %s" % (self.call, text))

    # ---- telnet ------------------------------------------------------------

    def _telnet(self, raw):
        for b in raw:
            if not self._cmd:
                if b == IAC:
                    self._cmd.append(b)
                else:
                    self.data.append(b)
                continue
            self._cmd.append(b)
            c = self._cmd
            if len(c) == 2:
                if c[1] == IAC:
                    self.data.append(IAC)
                    self._cmd = bytearray()
                elif c[1] not in (WILL, WONT, DO, DONT, SB):
                    self._cmd = bytearray()
            elif c[1] == SB:
                if c[-2:] == bytes([IAC, SE]):
                    self._cmd = bytearray()
            else:
                verb, option = c[1], c[2]
                self._cmd = bytearray()
                if option == BINARY and verb in (WILL, WONT):
                    self.binary_in = verb == WILL
                elif option == BINARY and verb in (DO, DONT):
                    self.binary_out = verb == DO
                elif verb == WILL:
                    self.sock.sendall(bytes([IAC, DONT, option]))
                elif verb == DO:
                    self.sock.sendall(bytes([IAC, WONT, option]))

    def _fill(self, deadline):
        left = deadline - time.monotonic()
        if left <= 0:
            raise PeerError("timed out; received so far: %r" % bytes(self.data[-200:]))
        self.sock.settimeout(left)
        try:
            raw = self.sock.recv(4096)
        except socket.timeout:
            raise PeerError("timed out; received so far: %r" % bytes(self.data[-200:]))
        if not raw:
            self.closed = True
            raise PeerError("the gateway closed the connection; received: %r" % bytes(self.data[-200:]))
        self._telnet(raw)

    def send(self, data):
        self.sock.sendall(bytes(data).replace(b"\xff", b"\xff\xff"))

    def read_exact(self, n, timeout=None):
        deadline = time.monotonic() + (timeout or self.timeout)
        while len(self.data) < n:
            self._fill(deadline)
        out = bytes(self.data[:n])
        del self.data[:n]
        return out

    def settle(self, seconds):
        """Everything that arrives within SECONDS, taken from the input."""
        deadline = time.monotonic() + seconds
        try:
            while True:
                self._fill(deadline)
        except PeerError:
            if self.closed:
                raise
        out = bytes(self.data)
        self.data.clear()
        return out

    def read_until(self, marker, timeout=None):
        """Everything up to and including MARKER."""
        deadline = time.monotonic() + (timeout or self.timeout)
        while True:
            i = self.data.find(marker)
            if i >= 0:
                out = bytes(self.data[:i + len(marker)])
                del self.data[:i + len(marker)]
                return out
            self._fill(deadline)

    def _login(self):
        self.sock.sendall(bytes([IAC, WILL, BINARY, IAC, DO, BINARY]))
        self.read_until(b"Callsign: ")
        deadline = time.monotonic() + self.timeout
        while not (self.binary_in and self.binary_out):
            self._fill(deadline)
        self.send(self.call.encode("ascii") + b"\r")
        self.read_until(b"*** CONNECTED")
        self.greeting = self.read_until(PROMPT)

    def register(self):
        """A new station has the restricted commands until it has given its
        name and come back: it registers and leaves."""
        self.command("N Peer")
        self.send(b"B\r")
        try:
            while True:
                self._fill(time.monotonic() + self.timeout)
        except PeerError:
            if not self.closed:
                raise

    def command(self, line, timeout=None):
        """Sends a command line; what comes back up to the next prompt."""
        self.send(line.encode("latin-1") + b"\r")
        return self.read_until(PROMPT, timeout)

    # ---- packets -----------------------------------------------------------

    def packet(self, checksums=False, timeout=None):
        """The next packet: (type, second byte, body); a YAPP-C data packet's
        checksum is checked and left out of the body."""
        kind, second = self.read_exact(2, timeout)
        if kind not in WITH_BODY:
            return kind, second, b""
        n = 256 if kind == STX and second == 0 else second
        body = self.read_exact(n + (1 if kind == STX and checksums else 0), timeout)
        if kind == STX and checksums:
            if checksum(body[:-1]) != body[-1]:
                raise PeerError("bad checksum in a data packet of %d bytes" % n)
            body = body[:-1]
        return kind, second, body

    def expect(self, packet, timeout=None):
        kind, second, body = self.packet(timeout=timeout)
        got = bytes([kind, second]) + body
        if got != packet:
            raise PeerError("expected %r, got %r" % (packet, got))

    def expect_text(self, text, timeout=None):
        """The BBS's answer ending in the prompt must hold TEXT."""
        got = self.read_until(PROMPT, timeout)
        if text not in got:
            raise PeerError("expected %r before the prompt, got %r" % (text, got))
        return got

    # ---- transfers ---------------------------------------------------------

    def start_download(self, name):
        self.send(b"YD " + name.encode("ascii") + b"\r")
        before = self.read_until(SI)
        if b"Sending with YAPP" not in before:
            raise PeerError("no download announced before send-init: %r" % before)
        self.send(RR)
        kind, _, body = self.packet()
        if kind != SOH:
            raise PeerError("expected a header, got type %#x" % kind)
        return parse_header(body)

    def download(self, name, yappc=False, have=b""):
        """Receives NAME; returns its bytes and its header's fields. With
        HAVE, the file's beginning from an earlier try, only the rest is
        asked for (a resume)."""
        header = self.start_download(name)
        if have:
            self.send(with_length(NAK, b"R\0%d\0" % len(have) + (b"C\0" if yappc else b"")))
        else:
            self.send(RT if yappc else RF)
        data = bytearray(have)
        while True:
            kind, second, body = self.packet(checksums=yappc)
            if kind == STX:
                data += body
            elif bytes([kind, second]) == EF:
                break
            else:
                raise PeerError("unexpected packet %#x %#x %r in the data" % (kind, second, body))
        self.send(AF)
        self.expect(ET)
        self.send(AT)
        self.read_until(PROMPT)
        return bytes(data), header

    def start_upload(self, name, size, date=None, eager=False):
        """Up to the receiver's answer to the header, which is returned.
        EAGER: the send-init follows the command without waiting for the
        BBS's text, which must be there by then, not inside the exchange."""
        self.send(b"YU " + name.encode("ascii") + b"\r")
        if eager:
            shown = self.settle(EAGER_SECONDS)
            if b"start your YAPP upload now.\r" not in shown:
                raise PeerError("no answer to YU within %.1f s: %r" % (EAGER_SECONDS, shown))
        else:
            self.read_until(b"start your YAPP upload now.\r")
        self.send(SI)
        self.expect(RR)
        self.send(header_packet(name, size, date))
        kind, second, body = self.packet()
        answer = bytes([kind, second]) + body
        if answer not in (RF, RT):
            raise PeerError("header answered with %r" % answer)
        return answer

    def upload(self, name, data, date=None, eager=False):
        """Sends DATA as NAME, with the file's date (a YAPP-C sender) or
        without (a plain one); returns whether the BBS asked for checksums."""
        answer = self.start_upload(name, len(data), date, eager)
        yappc = answer == RT
        for at in range(0, len(data), 256):
            self.send(data_packet(data[at:at + 256], yappc))
        self.send(EF)
        self.expect(AF)
        self.send(ET)
        self.expect(AT)
        self.expect_text(b"stored")
        return yappc


# ---- the end-to-end suite ------------------------------------------------------

SIZES = [0, 1, 127, 128, 129, 3000, 70000]
UPLOAD_DATE = int(time.mktime((2021, 6, 15, 10, 20, 30, 0, 0, -1)))   # an even second
AREA_DATE = int(time.mktime((2020, 2, 29, 23, 58, 58, 0, 0, -1)))


def body_of(n):
    """Every byte value, NUL, CR, LF and the telnet escape 0xFF among them."""
    return bytes((i * 7 + (i >> 8)) & 0xFF for i in range(n))


class Suite:
    def __init__(self, gateway, bbs):
        self.gateway = gateway
        self.area = os.path.join(bbs, "BIN")
        self.temp = os.path.join(bbs, "temp")
        self.failures = []
        self.lock = threading.Lock()
        self.start = time.monotonic()

    def log(self, text):
        with self.lock:
            print("[%4.0fs] %s" % (time.monotonic() - self.start, text), flush=True)

    def check(self, ok, what):
        if not ok:
            raise PeerError(what)

    def run_station(self, call, work):
        try:
            with Terminal(self.gateway, call, log=self.log) as t:
                if b"Y," not in t.greeting:
                    t.register()
            with Terminal(self.gateway, call, log=self.log) as t:
                work(t)
        except Exception as e:  # noqa: BLE001 - every failure is reported with its station
            with self.lock:
                self.failures.append("%s: %s" % (call, e))
            self.log("%s: FAILED: %s" % (call, e))

    def downloads(self, sizes, yappc):
        def work(t):
            for n in sizes:
                name = "D%d.BIN" % n
                start = time.monotonic()
                data, header = t.download(name, yappc)
                self.check(data == body_of(n), "%s: %d bytes received, not the file's %d" % (name, len(data), n))
                self.check(header["name"] == name and header["size"] == str(n), "header %r" % header)
                self.check(header["date"] == dos_datetime(AREA_DATE),
                           "%s: header date %r, the file's is %08X" % (name, header["date"], dos_datetime(AREA_DATE)))
                t.say("download %s %s ok in %.0fs" % (name, "YAPP-C" if yappc else "plain", time.monotonic() - start))
        return work

    def resume(self, t):
        for yappc in (False, True):
            data, _ = t.download("D3000.BIN", yappc, have=body_of(1000))
            self.check(data == body_of(3000), "resumed download: %d bytes, not the file" % len(data))
            t.say("download D3000.BIN resumed after 1000 bytes, %s, ok" % ("YAPP-C" if yappc else "plain"))

    def uploads(self, t):
        for yappc in (False, True):
            for n in SIZES:
                name = "%s%d.BIN" % ("UC" if yappc else "UP", n)
                asked = t.upload(name, body_of(n), dos_datetime(UPLOAD_DATE) if yappc else None)
                self.check(asked == yappc, "%s: the BBS %s checksums" % (name, "asked for" if asked else "did not ask for"))
                path = os.path.join(self.area, name)
                with open(path, "rb") as f:
                    self.check(f.read() == body_of(n), "%s: stored file differs" % name)
                if yappc:
                    self.check(int(os.stat(path).st_mtime) == UPLOAD_DATE, "%s: the date was not kept" % name)
                t.say("upload %s ok" % name)
        # A terminal that starts its upload right after the command.
        t.upload("EAGER.BIN", body_of(3000), eager=True)
        with open(os.path.join(self.area, "EAGER.BIN"), "rb") as f:
            self.check(f.read() == body_of(3000), "EAGER.BIN: stored file differs")
        t.say("upload EAGER.BIN started at once ok")

    def cancels(self, t):
        # The peer cancels an upload in the middle of the data.
        t.start_upload("CANCEL.BIN", 3000)
        t.send(data_packet(body_of(256), False) + data_packet(body_of(256), False))
        t.send(with_length(CAN, b"Cancelled by user"))
        t.expect(CA)
        t.expect_text(b"Aborted")
        self.check(not os.path.exists(os.path.join(self.area, "CANCEL.BIN")), "a cancelled upload left its file")
        t.say("upload cancelled ok")
        # And a download, once data flows: what was under way is passed over.
        t.start_download("D3000.BIN")
        t.send(RT)
        for _ in range(2):
            kind, _, _ = t.packet(checksums=True)
            self.check(kind == STX, "expected data, got type %#x" % kind)
        t.send(with_length(CAN, b"Cancelled by user"))
        while True:
            kind, second, _ = t.packet(checksums=True)
            if bytes([kind, second]) == CA:
                break
            self.check(kind == STX or bytes([kind, second]) == EF, "unexpected packet %#x after the cancel" % kind)
        t.expect_text(b"Aborted")
        t.say("download cancelled ok")

    def silent_upload(self, t):
        t.start_upload("SILENT.BIN", 3000)
        t.send(data_packet(body_of(256), False))
        quiet = time.monotonic()
        # The peer says nothing more: not even the answer to the cancel.
        t.expect(with_length(CAN, b"Timeout"), timeout=ANSWER_SECONDS + 30)
        waited = time.monotonic() - quiet
        self.check(ANSWER_SECONDS - 2 <= waited <= ANSWER_SECONDS + 15, "cancelled after %.0f s of silence" % waited)
        t.expect_text(b"Aborted", timeout=30)
        self.check(time.monotonic() - quiet <= ANSWER_SECONDS + 30, "the channel stayed held")
        self.check(not os.path.exists(os.path.join(self.area, "SILENT.BIN")), "a given-up upload left its file")
        self.no_part_files("after a silent upload")
        # The session is the station's again.
        listing = t.command("YW")
        self.check(b"D3000.BIN" in listing, "no listing after the time-out: %r" % listing)
        t.say("silent upload given up after %.0f s, channel free" % waited)

    def silent_download(self, t):
        t.start_download("D3000.BIN")
        quiet = time.monotonic()
        t.expect(with_length(CAN, b"Timeout"), timeout=ANSWER_SECONDS + 30)
        waited = time.monotonic() - quiet
        self.check(ANSWER_SECONDS - 2 <= waited <= ANSWER_SECONDS + 15, "cancelled after %.0f s of silence" % waited)
        t.expect_text(b"Aborted", timeout=30)
        t.command("YW")
        t.say("silent receiver given up after %.0f s, channel free" % waited)

    def no_part_files(self, when):
        """Uploads grow in temp/*.yap; once none runs, none may be left."""
        left = [f for f in os.listdir(self.temp) if f.lower().endswith(".yap")] if os.path.isdir(self.temp) else []
        self.check(not left, "%s: part files left: %r" % (when, left))

    def run(self):
        os.makedirs(self.area, exist_ok=True)
        for n in SIZES:
            path = os.path.join(self.area, "D%d.BIN" % n)
            with open(path, "wb") as f:
                f.write(body_of(n))
            os.utime(path, (AREA_DATE, AREA_DATE))
        small = [n for n in SIZES if n < 70000]
        stations = [
            ("XX1AA", self.downloads([70000], False)),
            ("XX1AB", self.downloads([70000], True)),
            ("XX1AC", lambda t: (self.downloads(small, False)(t), self.resume(t))),
            ("XX1AD", self.downloads(small, True)),
            ("XX1AE", lambda t: (self.uploads(t), self.cancels(t))),
            ("XX1AF", self.silent_upload),
            ("XX1AG", self.silent_download),
        ]
        threads = [threading.Thread(target=self.run_station, args=s) for s in stations]
        for th in threads:
            th.start()
        for th in threads:
            th.join()
        try:
            self.no_part_files("at the end")
        except PeerError as e:
            self.failures.append(str(e))
        for f in self.failures:
            print("FAIL:", f, file=sys.stderr)
        self.log("%s" % ("yapp suite: ok" if not self.failures else "yapp suite: %d failures" % len(self.failures)))
        return 0 if not self.failures else 1


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--gateway", required=True, help="HOST:PORT of ornpe's station gateway")
    ap.add_argument("--call", default="XX1ABC")
    ap.add_argument("--bbs", help="the BBS's directory (suite)")
    ap.add_argument("--yappc", action="store_true", help="YAPP-C: ask for / offer checksums")
    ap.add_argument("--eager", action="store_true",
                    help="upload: send-init %.1f s after YU, without looking for the BBS's text" % EAGER_SECONDS)
    ap.add_argument("action", choices=["download", "upload", "suite"])
    ap.add_argument("args", nargs="*")
    a = ap.parse_args(argv)
    try:
        if a.action == "suite":
            if not a.bbs:
                ap.error("suite needs --bbs")
            return Suite(a.gateway, a.bbs).run()
        if len(a.args) != 2:
            ap.error("%s needs two arguments" % a.action)
        with Terminal(a.gateway, a.call) as t:
            if a.action == "download":
                data, header = t.download(a.args[0], a.yappc)
                with open(a.args[1], "wb") as f:
                    f.write(data)
                print("received %d bytes, header %r" % (len(data), header))
            else:
                with open(a.args[0], "rb") as f:
                    data = f.read()
                date = dos_datetime(os.stat(a.args[0]).st_mtime) if a.yappc else None
                yappc = t.upload(a.args[1], data, date, a.eager)
                print("sent %d bytes%s" % (len(data), " with checksums" if yappc else ""))
    except PeerError as e:
        print("yapp_peer: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
