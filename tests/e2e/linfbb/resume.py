#!/usr/bin/env python3
"""B1 with LinFBB: a transfer cut in the middle goes on at the next session.

    resume.py BUILD [--transcripts DIR]      (inside netns.sh)
    resume.py BUILD --bench                  (tools/bench's rows)

ornbbs and LinFBB (forward.sys N 7) as in interop.py, with a relay on each
TCP path between them that cuts its first connection once the caller has sent
a chosen number of bytes. ornbbs sends a 20 KB message (its session cut,
then `ornctl fwd now` again); LinFBB sends one (its FW command, twice).
The second session must ask for the rest ("FS !offset"; LinFBB writes
"FS Aoffset"), send only the rest,
and deliver the message byte for byte. Both logs must say B1.
"""
import binascii
import glob
import os
import random
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.realpath(__file__))
sys.path.insert(0, HERE)
from interop import FBB, FBB_TELNET, BBS_GATEWAY, Failure, Run, by_bid, orn_messages, wait  # noqa: E402
from wire import write_transcript  # noqa: E402

RELAY_TO_FBB, RELAY_TO_ORN = 6303, 6304
CUT = 5000  # bytes from the caller: past the proposals, about half the message's stream


class CutRelay:
    """Relays TCP connections from a port to another; the first is cut once
    the caller has sent `cut` bytes. Every connection's bytes are kept."""

    # caller_is_fbb: whether LinFBB calls through this relay (for the
    # transcripts: '<' LinFBB's bytes, '>' its partner's).
    # cut: bytes after which the first connection goes, or {connection index: bytes}.
    def __init__(self, port, target, cut, caller_is_fbb):
        self.target = target
        self.cuts = cut if isinstance(cut, dict) else {0: cut}
        self.marks = "<>" if caller_is_fbb else "><"
        self.sessions = []  # [caller's bytes, answerer's bytes, cut?, [(mark, bytes)] in order]
        self.lock = threading.Lock()
        self.server = socket.socket()
        self.server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.server.bind(("127.0.0.1", port))
        self.server.listen(4)
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                caller, _ = self.server.accept()
            except OSError:
                return
            answerer = socket.create_connection(("127.0.0.1", self.target))
            with self.lock:
                session = [bytearray(), bytearray(), False, []]
                limit = self.cuts.get(len(self.sessions))
                self.sessions.append(session)
            threading.Thread(target=self._pump, args=(caller, answerer, session, 0, limit), daemon=True).start()
            threading.Thread(target=self._pump, args=(answerer, caller, session, 1, None), daemon=True).start()

    def _pump(self, src, dst, session, side, limit):
        try:
            while True:
                data = src.recv(4096)
                if not data:
                    break
                cut = limit is not None and len(session[side]) + len(data) >= limit
                if cut:
                    data = data[:limit - len(session[side])]
                with self.lock:
                    session[side] += data
                    session[3].append((self.marks[side], bytes(data)))
                dst.sendall(data)
                if cut:
                    session[2] = True
                    break
        except OSError:
            pass
        for s in (src, dst):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def count(self):
        with self.lock:
            return len(self.sessions)


def big_text(seed):
    """About 20 KB of lines that compress no better than text does."""
    rnd = random.Random(seed)
    words = ["".join(rnd.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9)))
             for _ in range(3000)]
    lines, line = [], []
    for w in words:
        line.append(w)
        if len(" ".join(line)) > 60:
            lines.append(" ".join(line))
            line = []
    return lines


def contains_run(lines, text):
    """The text's lines stand in `lines` one after another, unchanged."""
    for i in range(len(lines) - len(text) + 1):
        if lines[i:i + len(text)] == text:
            return True
    return False


def resumed_offset(answers):
    # ornbbs writes "!offset", LinFBB "Aoffset".
    m = re.search(rb"FS [!A](\d+)\r", bytes(answers))
    return int(m.group(1)) if m else None


def ornctl(run, *args):
    subprocess.run([os.path.join(run.build, "ornctl"), "--dir", run.bbs] + list(args), check=True,
                   stdout=subprocess.DEVNULL, timeout=60)


def packets(raw):
    """The binary packets after the proposals' "F> xx" line: (kind, bytes)."""
    at = raw.index(b"\x01", raw.index(b"F> "))
    out = []
    while at + 1 < len(raw):
        kind, n = raw[at], raw[at + 1]
        if kind == 4:
            out.append((4, bytes([n])))
            at += 2
            continue
        if kind == 2 and n == 0:
            n = 256
        if at + 2 + n > len(raw):
            break  # cut here
        out.append((kind, raw[at + 2:at + 2 + n]))
        at += 2 + n
    return out


def check_resumed_stream(first, second, offset):
    """What we sent before the cut and in the resumed session make the whole
    B1 stream: the resumed header names the offset, the CRC and length word
    come again in a packet of their own, the rest follows from the offset,
    the checksum closes it, and the CRC in front matches."""
    before = b"".join(d for k, d in packets(bytes(first)) if k == 2)
    after = packets(bytes(second))
    header = after[0][1]
    if after[0][0] != 1 or int(header.split(b"\0")[1]) != offset:
        raise Failure("resumed header %r for offset %d" % (header, offset))
    if after[1] != (2, before[:6]):
        raise Failure("the CRC and length word did not come again: %r" % (after[1],))
    rest = b"".join(d for k, d in after[2:] if k == 2)
    if after[-1][0] != 4 or (sum(after[1][1]) + sum(rest) + after[-1][1][0]) % 256:
        raise Failure("the resumed transfer's checksum is wrong")
    stream = before[:offset] + rest
    length = int.from_bytes(stream[2:6], "little")
    if binascii.crc_hqx(stream[2:], 0) != int.from_bytes(stream[:2], "little") or length < 19000:
        raise Failure("the joined stream fails its CRC")
    return len(rest)


def orn_sends(run, relay):
    text = big_text(1)
    run.station_sends([("SP XX8ABC @ %s" % FBB, "Long from ornbbs", text)])
    bid = [m for m in orn_messages(run.bbs) if m["subject"] == "Long from ornbbs"][0]["bid"]
    ornctl(run, "fwd", "now")
    wait("the first session to be cut", lambda: relay.count() >= 1 and relay.sessions[0][2], 120)
    run.links_released()
    if by_bid(run.lin.messages(), bid):
        raise Failure("LinFBB holds the message after a cut session")
    ornctl(run, "fwd", "now")
    wait("the second session", lambda: relay.count() >= 2, 60)
    run.links_released()
    offset = resumed_offset(relay.sessions[1][1])
    if not offset:
        raise Failure("LinFBB did not ask for the rest: %r" % bytes(relay.sessions[1][1])[:400])
    log = open(os.path.join(run.bbs, "BBS.LOG"), "rb").read().decode("latin-1")
    if "<FWD Send resumed %s> %d" % (bid, offset) not in log:
        raise Failure("our log does not tell the resumed sending: %s" % log[-2000:])
    resent = check_resumed_stream(relay.sessions[0][0], relay.sessions[1][0], offset)
    first = len(relay.sessions[0][0])
    print("ornbbs -> LinFBB: cut after %d bytes, LinFBB asked from %d, %d bytes sent again" % (first, offset, resent),
          flush=True)
    if not by_bid(run.lin.messages(), bid):
        # LinFBB 7.0.11 on 64 bits compares eight bytes for the four of the
        # length word when it takes up a transfer, and refuses it: then it
        # asks for the message whole at the next session.
        refusal = b"Binary file has been changed" in bytes(relay.sessions[1][1])
        print("ornbbs -> LinFBB: LinFBB refused the resumed transfer (%s); once more whole"
              % ("its check of the length word" if refusal else "?"), flush=True)
        if not refusal:
            raise Failure("LinFBB neither took nor refused the resumed transfer")
        ornctl(run, "fwd", "now")
    m = wait("LinFBB to hold " + bid, lambda: by_bid(run.lin.messages(), bid), 120)[0]
    if not contains_run(m.lines(), text):
        raise Failure("the text at LinFBB is not ours: %r" % m.lines()[:8])


def fbb_sends(run, relay):
    text = big_text(2)
    bid = "LONG_XX8FBB"
    run.lin.send("P", "XX9ABC", run.lin.partner, "Long from LinFBB", text, bid=bid)
    run.lin.forward_now()
    wait("the first session to be cut", lambda: relay.count() >= 1 and relay.sessions[0][2], 120)
    run.links_released()
    partial = glob.glob(os.path.join(run.bbs, "temp", "*.b1p")) + glob.glob(os.path.join(run.bbs, "TEMP", "*.b1p"))
    if by_bid(orn_messages(run.bbs), bid) or not partial:
        raise Failure("ornbbs kept no partial message (or stored it whole): %r" % partial)
    run.lin.forward_now()
    m = wait("ornbbs to hold " + bid, lambda: by_bid(orn_messages(run.bbs), bid), 120)[0]
    if not contains_run(m["text"].split("\n"), text):
        raise Failure("the text at ornbbs is not LinFBB's: %r" % m["text"][:400])
    offset = resumed_offset(relay.sessions[1][1])
    if not offset:
        raise Failure("ornbbs did not ask for the rest: %r" % bytes(relay.sessions[1][1])[:400])
    if glob.glob(os.path.join(run.bbs, "temp", "*.b1p")):
        raise Failure("the partial message outlived its delivery")
    first, second = len(relay.sessions[0][0]), len(relay.sessions[1][0])
    print("LinFBB -> ornbbs: cut after %d bytes, resumed from %d with %d bytes" % (first, offset, second),
          flush=True)
    return offset, second


def save_transcripts(outdir, to_orn):
    """LinFBB's B1 sending to ornbbs, cut and resumed, for the unit tests."""
    common = ["LinFBB 7.0.11, forward.sys N 7 (b1 mode). xfbbd (XX8FBB) calls XX9ORN (ornbbs on ornpe's BBS",
              "gateway) over TCP, a telnet stream: 0xFF in the blocks comes doubled, text lines end in CR LF.",
              "'<' lines: bytes xfbbd sent; '>' lines: ornbbs's. Written by tests/e2e/linfbb/resume.py."]
    notes = {"b1_from_linfbb_cut.txt": "The link is cut after xfbbd has sent %d bytes: ornbbs keeps what arrived."
             % CUT,
             "b1_from_linfbb_resumed.txt": "The next session: ornbbs asks for the rest (FS !offset), xfbbd sends "
             "the header with the offset, the CRC and length word, and the rest."}
    for (name, note), session in zip(notes.items(), to_orn.sessions):
        write_transcript(os.path.join(outdir, name), session[3], common + [note])


def after_answer(session):
    """LinFBB's bytes after ornbbs's FS answer: the blocks of the message."""
    raw = bytes(session[0])
    return len(raw) - raw.index(b"\x01", raw.index(b"F> "))


def bench(build):
    """tools/bench rows: the bytes a 20 KB message costs again after a cut at
    90 % of its transfer, with B1 (the rest) and B0 (all of it again)."""
    work = tempfile.mkdtemp(prefix="ornresume.")
    to_orn = CutRelay(RELAY_TO_ORN, BBS_GATEWAY, {}, caller_is_fbb=True)
    run = Run(build, "b1", work, orn_port=RELAY_TO_ORN, fwd_ahead=30)
    try:
        run.start()
        # A first message goes whole: what a B0 partner sends again.
        run.lin.send("P", "XX9ABC", run.lin.partner, "Whole", big_text(3), bid="WHOLE_XX8FBB")
        run.lin.forward_now()
        wait("the whole message", lambda: by_bid(orn_messages(run.bbs), "WHOLE_XX8FBB"), 120)
        run.links_released()
        whole = after_answer(to_orn.sessions[0])
        login = len(to_orn.sessions[0][0]) - whole
        to_orn.cuts[1] = login + whole * 9 // 10
        run.lin.send("P", "XX9ABC", run.lin.partner, "Cut", big_text(4), bid="CUT_XX8FBB")
        run.lin.forward_now()
        wait("the cut session", lambda: to_orn.count() >= 2 and to_orn.sessions[1][2], 120)
        run.links_released()
        run.lin.forward_now()
        wait("the resumed message", lambda: by_bid(orn_messages(run.bbs), "CUT_XX8FBB"), 120)
        again = after_answer(to_orn.sessions[2])
        note = "LinFBB to ornbbs, 20 KB text, %d bytes of blocks" % whole
        print("B1 resume: bytes sent again after a cut at 90 %%\t%d\tbytes\t%s" % (again, note), flush=True)
        print("B0: bytes sent again after a cut at 90 %%\t%d\tbytes\tthe whole message" % whole, flush=True)
        shutil.rmtree(work, ignore_errors=True)
        return 0
    except Exception as e:  # noqa: BLE001
        print("B1 resume\tfailed\t\t%s (files in %s)" % (e, work), flush=True)
        return 1
    finally:
        run.stop()


def main(argv):
    if "--bench" in argv:
        return bench(os.path.abspath(argv[1]))
    transcripts = None
    if "--transcripts" in argv:
        i = argv.index("--transcripts")
        transcripts = os.path.abspath(argv[i + 1])
        del argv[i:i + 2]
    build = os.path.abspath(argv[1])
    work = tempfile.mkdtemp(prefix="ornresume.")
    to_fbb = CutRelay(RELAY_TO_FBB, FBB_TELNET, CUT, caller_is_fbb=False)
    to_orn = CutRelay(RELAY_TO_ORN, BBS_GATEWAY, CUT, caller_is_fbb=True)
    run = Run(build, "b1", work, fbb_port=RELAY_TO_FBB, orn_port=RELAY_TO_ORN, fwd_ahead=30)
    try:
        run.start()
        fbb_sends(run, to_orn)
        orn_sends(run, to_fbb)
        log = open(os.path.join(run.bbs, "BBS.LOG"), "rb").read().decode("latin-1")
        if "<FWD B1>" not in log:
            raise Failure("our log does not say B1")
        # LinFBB answers in B1's letters ("Y", "A" with an offset) only in B1.
        if not re.search(rb"FS [YA]", bytes(to_fbb.sessions[0][1])):
            raise Failure("LinFBB's answer is not B1's: %r" % bytes(to_fbb.sessions[0][1])[:300])
        if transcripts:
            save_transcripts(transcripts, to_orn)
        print("resume: ok", flush=True)
        shutil.rmtree(work, ignore_errors=True)
        return 0
    except Exception as e:  # noqa: BLE001 - every failure is reported with its logs
        print("resume: FAIL: %s (files in %s)" % (e, work), flush=True)
        for name in ("bbs.out", "bbs.err", "ornpe.log", "orn/BBS.LOG"):
            try:
                print("--- %s (end)\n%s" % (name, open(os.path.join(work, name), "rb").read()[-3000:]
                                         .decode("latin-1")))
            except OSError:
                pass
        return 1
    finally:
        run.stop()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
