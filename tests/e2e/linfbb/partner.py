"""A scripted partner BBS that forwards with LinFBB in the MBL and plain FBB modes.

It answers when xfbbd calls it (xfbbd sends, the partner receives) and calls
xfbbd's telnet port itself (the partner sends). In B0 mode it only takes
xfbbd's side, up to and including its compressed blocks, and keeps those
bytes. Every
session's bytes are kept for the transcripts (wire.py). Standard library only.

The partner behaves like a careful BBS, not like a lenient one: a proposal
with a wrong checksum, a line it does not expect, or a call from someone else
is an error that ends the test.
"""
import re
import socket

from wire import Wire, WireClosed

SIDS = {"mbl": "[ORN-1.0-HM$]", "fbb": "[ORN-1.0-FHM$]", "b0": "[ORN-1.0-BFHM$]"}
CTRL_Z = "\x1a"


class ProtocolError(Exception):
    pass


class Msg:
    """A message between the BBSes; TEXT is its lines after the title."""

    def __init__(self, kind, sender, to, at, bid, title, text):
        self.kind, self.sender, self.to, self.at = kind, sender, to, at
        self.bid, self.title, self.text = bid, title, list(text)

    def size(self):
        return len("".join(line + "\r" for line in self.text))

    def mbl_command(self):
        return "S%s %s @ %s < %s $%s" % (self.kind, self.to, self.at, self.sender, self.bid)

    def proposal(self, letter="B"):
        return "F%s %s %s %s %s %s %d" % (letter, self.kind, self.sender, self.at, self.to,
                                          self.bid, self.size())

    def __repr__(self):
        return "<%s %s -> %s@%s $%s %r %r>" % (self.kind, self.sender, self.to, self.at, self.bid,
                                             self.title, self.text)


def checksum(lines):
    """The F> checksum of proposal lines: the two's complement of their byte sum (CR included)."""
    total = sum(sum((line + "\r").encode("latin-1")) for line in lines)
    return "%02X" % (-total & 0xFF)


def parse_proposal(line):
    parts = line.split()
    if len(parts) != 7 or parts[0] not in ("FA", "FB"):
        raise ProtocolError("bad proposal %r" % line)
    _, kind, sender, at, to, bid, size = parts
    return Msg(kind, sender, to, at, bid, None, []), int(size)


def parse_b0(data):
    """Splits compressed transfers: [(title, offset, payload, checksum_ok)] and the bytes left over.

    Each message: SOH, length, title NUL offset NUL; then STX, length (0
    means 256), data, as often as needed; then EOT and the checksum, the
    two's complement of the data bytes' sum.
    """
    out = []
    i = 0
    while i < len(data) and data[i] == 0x01:
        n = data[i + 1]
        header = data[i + 2:i + 2 + n]
        if len(header) < n:
            break
        title, offset = header.split(b"\0")[:2]
        i += 2 + n
        payload = b""
        while i < len(data) and data[i] == 0x02:
            n = data[i + 1] or 256
            payload += data[i + 2:i + 2 + n]
            i += 2 + n
        if i + 1 >= len(data) or data[i] != 0x04:
            break
        ok = (sum(payload) + data[i + 1]) & 0xFF == 0
        out.append((title.decode("latin-1"), offset.decode("latin-1"), payload, ok))
        i += 2
    return out, data[i:]


MBL_SEND = re.compile(r"S([PBT]) (\S+)(?: @ (\S+))?(?: < (\S+))?(?: \$(\S+))?\s*$")


class FakePartner:
    def __init__(self, call="XX9ORN", password="ornpw", bbs="XX8FBB", mode="fbb", timeout=20.0):
        if mode not in SIDS:
            raise ValueError(mode)
        self.call, self.password, self.bbs, self.mode = call, password, bbs, mode
        self.timeout = timeout
        self.known = set()        # BIDs held: a proposal of one of them is refused
        self.inbox = []           # messages received
        self.refused = []         # BIDs refused
        self.peer_sid = None      # xfbbd's SID in the last session
        self.answers = []         # what xfbbd answered to each message offered (MBL / FS letters)
        self.b0_proposals = []    # B0: the FA lines as received
        self.b0_data = b""        # B0: the bytes after the FS answer
        self.last_log = []        # the bytes of the last session, also when it failed

    def prompt(self):
        return "%s BBS>\r" % self.call

    # --- xfbbd calls the partner -------------------------------------------

    def listen(self, port, host="127.0.0.1"):
        sock = socket.socket()
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind((host, port))
        sock.listen(1)
        return sock

    def answer(self, listener, timeout=30.0):
        """Takes one call from xfbbd on LISTENER and plays the receiving BBS; returns the log."""
        listener.settimeout(timeout)
        sock, _ = listener.accept()
        w = Wire(sock, self.timeout)
        self.last_log = w.log
        try:
            # The login a telnet partner expects; xfbbd answers it with its V line.
            w.send("Callsign : ")
            call = w.line().strip()
            if call != self.bbs:
                raise ProtocolError("call from %r, not %s" % (call, self.bbs))
            # The line end closes the prompt line: xfbbd takes a SID only at the
            # start of a line.
            w.send("\r%s\rWelcome %s, this is the test partner.\r%s" % (SIDS[self.mode], call, self.prompt()))
            {"mbl": self._receive_mbl, "fbb": self._receive_fbb, "b0": self._receive_b0}[self.mode](w)
        finally:
            w.close()
        return w.log

    def _read_text(self, w):
        """Lines up to the one that ends the text (Ctrl-Z or /EX)."""
        lines = []
        while True:
            line = w.line()
            if line.upper() == "/EX":
                return lines
            if line.endswith(CTRL_Z):
                if line[:-1]:
                    lines.append(line[:-1])
                return lines
            lines.append(line)

    def _receive_mbl(self, w):
        while True:
            try:
                line = w.line()
            except WireClosed:
                return
            if line.startswith("["):
                self.peer_sid = line
                w.send(self.prompt())
                continue
            if line == "F>":
                # xfbbd is done and asks for the partner's mail: there is none,
                # and the partner hangs up.
                return
            m = MBL_SEND.match(line)
            if not m:
                raise ProtocolError("unexpected line %r" % line)
            kind, to, at, sender, bid = m.groups()
            if bid in self.known:
                self.refused.append(bid)
                w.send("NO\r" + self.prompt())
                continue
            w.send("OK\r")
            title = w.line()
            msg = Msg(kind, sender, to, at, bid, title, self._read_text(w))
            self.inbox.append(msg)
            self.known.add(bid)
            w.send(self.prompt())

    def _proposals(self, w, letter):
        """Proposal lines up to F>; None when xfbbd has nothing (FF) or ends (FQ)."""
        lines = []
        while True:
            line = w.line()
            if line in ("FF", "FQ") and not lines:
                return line
            if line.startswith("F>"):
                sent = line[2:].strip()
                if sent and sent != checksum(lines):
                    raise ProtocolError("checksum %s, expected %s" % (sent, checksum(lines)))
                return lines
            if not line.startswith("F" + letter + " "):
                raise ProtocolError("unexpected line %r" % line)
            lines.append(line)

    def _receive_fbb(self, w):
        self.peer_sid = w.line()
        if not self.peer_sid.startswith("["):
            raise ProtocolError("no SID: %r" % self.peer_sid)
        while True:
            got = self._proposals(w, "B")
            if got == "FQ":
                w.wait_closed()
                return
            if got == "FF":
                # Nothing either way: the partner ends the session.
                w.sendline("FQ")
                w.wait_closed()
                return
            offered = [parse_proposal(line)[0] for line in got]
            letters = "".join("-" if m.bid in self.known else "+" for m in offered)
            w.sendline("FS " + letters)
            for msg, letter in zip(offered, letters):
                if letter == "-":
                    self.refused.append(msg.bid)
                    continue
                msg.title = w.line()
                msg.text = self._read_text(w)
                self.inbox.append(msg)
                self.known.add(msg.bid)
            # The partner has nothing to send back.
            w.sendline("FF")

    def _receive_b0(self, w):
        self.peer_sid = w.line()
        got = self._proposals(w, "A")
        if not isinstance(got, list):
            raise ProtocolError("no compressed proposal: %r" % got)
        self.b0_proposals = got
        w.sendline("FS " + "+" * len(got))
        # The first block and whatever follows it until xfbbd waits.
        self.b0_data = w.raw(idle=3.0)

    # --- the partner calls xfbbd -------------------------------------------

    def call_bbs(self, host, port, outbox):
        """Calls xfbbd's telnet port as a BBS and offers OUTBOX; returns the log."""
        w = Wire.connect(host, port, self.timeout)
        self.last_log = w.log
        try:
            w.expect("Callsign : ")
            w.sendline("." + self.call)
            w.expect("Password : ")
            w.sendline(self.password)
            w.expect("Logon Ok.")
            while True:
                line = w.line()
                if line.startswith("["):
                    self.peer_sid = line
                if line.endswith(">"):
                    break
            w.sendline(SIDS[self.mode])
            if self.mode == "mbl":
                self._send_mbl(w, outbox)
            elif self.mode == "fbb":
                self._send_fbb(w, outbox)
            else:
                raise ValueError("the partner sends in MBL and FBB mode only")
        finally:
            w.close()
        return w.log

    def _wait_prompt(self, w):
        while not w.line().endswith(">"):
            pass

    def _send_mbl(self, w, outbox):
        # xfbbd answers an MBL SID with a bare prompt.
        self._wait_prompt(w)
        for msg in outbox:
            w.sendline(msg.mbl_command())
            answer = w.line()
            self.answers.append(answer)
            if answer.upper().startswith("OK"):
                w.sendline(msg.title)
                for line in msg.text:
                    w.sendline(line)
                w.sendline("/EX")
            self._wait_prompt(w)
        # Done: the partner asks for xfbbd's mail in turn (reverse forward).
        w.sendline("F>")
        w.wait_closed()

    def _send_fbb(self, w, outbox):
        lines = [m.proposal() for m in outbox]
        for line in lines:
            w.sendline(line)
        w.sendline("F> " + checksum(lines))
        answer = w.line()
        if not answer.startswith("FS ") or len(answer) != 3 + len(outbox):
            raise ProtocolError("bad answer %r" % answer)
        self.answers = list(answer[3:])
        for msg, letter in zip(outbox, answer[3:]):
            if letter not in "+Y":
                continue
            w.sendline(msg.title)
            for line in msg.text:
                w.sendline(line)
            w.sendline(CTRL_Z)
        got = self._proposals(w, "B")
        if got != "FF":
            raise ProtocolError("xfbbd offered %r" % got)
        # Nothing either way: FQ, and the one who sends it hangs up.
        w.sendline("FQ")
        w.raw(idle=1.0)
