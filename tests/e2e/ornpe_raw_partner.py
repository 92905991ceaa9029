#!/usr/bin/env python3
"""A partner BBS calls ornpe's BBS gateway over raw TCP and forwards a B1 message with 0xFF bytes.

    ornpe_raw_partner.py BUILD

LinBPQ's connect script ("C host port") opens a plain TCP connection: no
telnet negotiation, and 0xFF is a byte like any other. The scripted partner
does the same: it answers "Callsign: " with its call and a CR, sends its SID,
one proposal and the compressed message in B1 packets, and the message's
stream holds 0xFF followed by a byte that telnet would read as a command.
ornpe sees from the first 0xFF and the byte after it that the caller does not
speak telnet and passes the bytes as they are: the BBS answers "FF" and
stores the text whole.
"""
import binascii
import os
import socket
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.realpath(__file__))
sys.path.insert(0, HERE)
from ornpe_air import BBS, Failure, Procs, host_port, text_of, wait  # noqa: E402

PARTNER = "XX2BBB"


def b1_message(build, work):
    """A message text whose B1 stream holds 0xFF and then a telnet command byte, and whose first
    0xFF is not doubled (IAC IAC, which a raw stream cannot be told by); (text, stream)."""
    src, dst = os.path.join(work, "m.txt"), os.path.join(work, "m.lzh")
    for n in range(2000):
        text = ("R:261209/0800Z @:%s.#X.Y [Town] #:%d\r\n\r\nFrom: XX1AAA\r\nTo: XX3CCC\r\n\r\n" % (PARTNER, n) +
                "".join("Line %d of a message with bytes that telnet would eat, %d.\r\n" % (i, n * i)
                        for i in range(12))).encode()
        open(src, "wb").write(text)
        subprocess.run([os.path.join(build, "lzhuf"), "e", src, dst], check=True)
        code = open(dst, "rb").read()
        crc = binascii.crc_hqx(code, 0)
        stream = bytes([crc & 0xFF, crc >> 8]) + code
        first = stream.find(b"\xff")
        if 0 <= first < len(stream) - 1 and stream[first + 1] != 0xFF and \
                any(stream[i] == 0xFF and 0xF0 <= stream[i + 1] <= 0xFE for i in range(len(stream) - 1)):
            return text, stream
    raise Failure("no text gives a stream with 0xFF and a command byte")


def main(build):
    work = tempfile.mkdtemp(prefix="ornraw.")
    procs = Procs(build, work)
    try:
        text, stream = b1_message(build, work)
        front = procs.ornpe("front", "--bbs", BBS, "--bbs-gateway", "127.0.0.1:0")
        d = os.path.join(work, "bbs")
        os.makedirs(d)
        subprocess.run([os.path.join(build, "test_partner"), d, PARTNER, "@" + PARTNER, PARTNER, ";"], check=True)
        port = front["api"].rsplit(":", 1)[1]
        procs.bbs(["[RADIO]", "PORTS=1", "ENGINEPORT=" + port,
                   "[PORT0]", "PORTNUM=0", "CHANNELS=2", "BBSONLY=0", "LIMITED=0", "TIMEOUT=0", "BEACONOK=0"])

        s = socket.create_connection(host_port(front["bbs-gateway"]), timeout=30)
        got = b""

        def until(what, seconds=30):
            nonlocal got
            end = time.monotonic() + seconds
            while what not in got:
                if time.monotonic() > end:
                    raise Failure("the partner waited for %r, got %r" % (what, got[-300:]))
                chunk = s.recv(4096)
                if not chunk:
                    raise Failure("closed while the partner waited for %r, got %r" % (what, got[-300:]))
                got += chunk
            at = got.index(what) + len(what)
            used, got = got[:at], got[at:]
            return used

        until(b"Callsign: ")
        s.sendall(PARTNER.encode() + b"\r")
        until(b">\r")
        line = b"FA P XX1AAA %s XX3CCC 41_XX1AAA %d\r" % (BBS.encode(), len(text))
        block = line + b"F> %02X\r" % ((256 - sum(line) % 256) % 256)
        s.sendall(b"[BPQ-6.0.24.1-B1FHMR$]\r" + block)
        until(b"FS +\r")
        title = b"With 0xFF"
        packets = b"\x01" + bytes([len(title) + 8]) + title + b"\0" * 6 + b"0\0"
        for at in range(0, len(stream), 250):
            part = stream[at:at + 250]
            packets += b"\x02" + bytes([len(part)]) + part
        packets += b"\x04" + bytes([(256 - sum(stream) % 256) % 256])
        s.sendall(packets)
        until(b"FF\r", 20)
        s.sendall(b"FQ\r")
        s.close()

        shown = subprocess.run([os.path.join(build, "ornctl"), "--dir", d, "msg", "read", "1001"],
                               capture_output=True).stdout.replace(b"\r\n", b"\n").replace(b"\r", b"\n")
        lines = text.split(b"\r\n\r\n", 2)[2].split(b"\r\n")
        if b"With 0xFF" not in shown or any(line not in shown for line in lines):
            raise Failure("the stored message is not whole:\n%r" % shown[-800:])
        if "raw TCP from here on" not in text_of(os.path.join(work, "front.log")):
            raise Failure("ornpe did not take the caller as raw")
        procs.alive()
        print("ornpe raw partner: ok")
        return 0
    except (Failure, OSError) as e:
        print("FAIL: %s\n--- front.log\n%s" % (e, text_of(os.path.join(work, "front.log"))[-3000:]))
        return 1
    finally:
        procs.stop()
        if not os.environ.get("KEEP"):
            subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1])))
