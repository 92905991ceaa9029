"""Recorded TCP conversations with LinFBB and the transcript files made of them.

Every byte a Wire sends or receives is kept, in order, with its direction, so a
whole forwarding session can be written to a transcript file and read back.

Transcript files (tests/data/linfbb/*.txt) hold one line per line on the wire:

    # comment lines (what the exchange is)
    < bytes LinFBB sent\\r\\n
    > bytes sent to LinFBB\\r

Bytes outside printable ASCII are escaped: \\r \\n \\\\ and \\xNN (so a Ctrl-Z is
\\x1a); a space that ends a line is written \\x20 so that editors keep it. A
line on the wire ends after CR LF, a lone CR or a lone LF; the text after the
last line end of a turn (a prompt such as "Callsign : ") is a line of its own.
Joining the unescaped lines of one direction gives back exactly the bytes of
that direction, and their order says who spoke when; where TCP cut the bytes
into segments is not kept.
"""
import re
import socket
import time


class WireClosed(Exception):
    """The other side closed the connection."""


class Wire:
    """A connected socket whose traffic is recorded; line reads for the scripted side."""

    def __init__(self, sock, timeout=20.0):
        self.sock = sock
        self.timeout = timeout
        self.log = []          # (direction, bytes): '<' received, '>' sent
        self.buf = b""
        self.closed = False
        self._drop_lf = False  # the last line ended in CR: an LF that follows belongs to it

    @classmethod
    def connect(cls, host, port, timeout=20.0):
        return cls(socket.create_connection((host, port), timeout=timeout), timeout)

    def send(self, data):
        if isinstance(data, str):
            data = data.encode("latin-1")
        self.log.append((">", data))
        self.sock.sendall(data)

    def sendline(self, text, end="\r"):
        self.send(text + end)

    def _fill(self, deadline):
        left = deadline - time.monotonic()
        if left <= 0:
            raise TimeoutError("nothing more from the peer; had %r" % self.buf[-200:])
        self.sock.settimeout(left)
        try:
            data = self.sock.recv(4096)
        except socket.timeout:
            raise TimeoutError("nothing more from the peer; had %r" % self.buf[-200:]) from None
        except ConnectionResetError:
            data = b""
        if not data:
            self.closed = True
            raise WireClosed("peer closed; had %r" % self.buf[-200:])
        self.log.append(("<", data))
        self.buf += data

    def line(self, timeout=None):
        """The next line received, without its end (CR, LF or CR LF)."""
        deadline = time.monotonic() + (timeout or self.timeout)
        while True:
            if self._drop_lf and self.buf:
                if self.buf[:1] == b"\n":
                    self.buf = self.buf[1:]
                self._drop_lf = False
            m = re.search(b"[\r\n]", self.buf)
            if m:
                line, end = self.buf[:m.start()], self.buf[m.start():m.end()]
                self.buf = self.buf[m.end():]
                self._drop_lf = end == b"\r"
                return line.decode("latin-1")
            self._fill(deadline)

    def expect(self, text, timeout=None):
        """Waits until TEXT has been received; returns what came before it."""
        deadline = time.monotonic() + (timeout or self.timeout)
        data = text.encode("latin-1")
        while data not in self.buf:
            self._fill(deadline)
        before, _, self.buf = self.buf.partition(data)
        self._drop_lf = False
        return before.decode("latin-1")

    def raw(self, idle=2.0, limit=65536, timeout=None):
        """Everything received until the peer is quiet for IDLE seconds, closes, or LIMIT bytes."""
        deadline = time.monotonic() + (timeout or self.timeout)
        while len(self.buf) < limit and not self.closed:
            if self._drop_lf and self.buf:
                if self.buf[:1] == b"\n":
                    self.buf = self.buf[1:]
                self._drop_lf = False
            try:
                self._fill(min(deadline, time.monotonic() + idle))
            except (TimeoutError, WireClosed):
                break
        data, self.buf = self.buf, b""
        return data

    def wait_closed(self, timeout=None):
        """Waits for the peer to close; returns what it still sent."""
        deadline = time.monotonic() + (timeout or self.timeout)
        while True:
            try:
                self._fill(deadline)
            except WireClosed:
                data, self.buf = self.buf, b""
                return data

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


# --- transcript files -------------------------------------------------------

def _escape(data):
    out = []
    for i, b in enumerate(data):
        if b == 0x0D:
            out.append("\\r")
        elif b == 0x0A:
            out.append("\\n")
        elif b == 0x5C:
            out.append("\\\\")
        elif b == 0x20 and i == len(data) - 1:
            out.append("\\x20")
        elif 0x20 <= b < 0x7F:
            out.append(chr(b))
        else:
            out.append("\\x%02x" % b)
    return "".join(out)


def _unescape(text):
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out.append(ord(c))
            i += 1
            continue
        n = text[i + 1]
        if n == "r":
            out.append(0x0D)
            i += 2
        elif n == "n":
            out.append(0x0A)
            i += 2
        elif n == "\\":
            out.append(0x5C)
            i += 2
        elif n == "x":
            out.append(int(text[i + 2:i + 4], 16))
            i += 4
        else:
            raise ValueError("bad escape in %r" % text)
    return bytes(out)


def turns(log):
    """The log with consecutive chunks of one direction joined."""
    out = []
    for d, data in log:
        if out and out[-1][0] == d:
            out[-1] = (d, out[-1][1] + data)
        else:
            out.append((d, data))
    return out


def _split_lines(data):
    return [m.group(0) for m in re.finditer(b"[^\r\n]*(?:\r\n|\r|\n)|[^\r\n]+$", data)]


def format_transcript(log, comments=()):
    lines = ["# " + c if c else "#" for c in comments]
    for d, data in turns(log):
        lines.extend("%s %s" % (d, _escape(piece)) for piece in _split_lines(data))
    return "\n".join(lines) + "\n"


def write_transcript(path, log, comments=()):
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write(format_transcript(log, comments))


def parse_transcript(text, name="transcript"):
    """The turns of a transcript: [(direction, bytes)], directions alternating."""
    log = []
    for line in text.split("\n"):
        if not line or line.startswith("#"):
            continue
        if line[:2] not in ("< ", "> "):
            raise ValueError("%s: bad line %r" % (name, line))
        log.append((line[0], _unescape(line[2:])))
    return turns(log)


def read_transcript(path):
    with open(path, encoding="ascii") as f:
        return parse_transcript(f.read(), path)
