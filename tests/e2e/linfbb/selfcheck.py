#!/usr/bin/env python3
"""The harness proves itself against LinFBB: a private message and a bulletin
go each way in MBL and plain FBB mode, a known BID is refused each way, and in
B0 mode xfbbd's side is taken up to its compressed blocks.

    netns.sh selfcheck.py [--modes mbl,fbb,b0] [--transcripts DIR] [--lzhuf PATH] [--keep]

--transcripts DIR writes each session's bytes to DIR/<mode>_{from,to}_linfbb.txt
(that is how tests/data/linfbb was made). Exit status 0 when all holds, 1 with
the reason otherwise. Must run inside a private network namespace.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import traceback

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from linfbb import LinFbb, STATION  # noqa: E402
from partner import FakePartner, Msg, parse_b0  # noqa: E402
from wire import format_transcript, parse_transcript, turns, write_transcript  # noqa: E402

BBS, PARTNER = "XX8FBB", "XX9ORN"
PORTS = {"mbl": (6310, 6311), "fbb": (6320, 6321), "b0": (6330, 6331)}
ROUTING = re.compile(r"R:\d{6}/\d{4}Z @:XX8FBB\.#TST\.XX\.EU #:(\d+) \[Testville\] \$:(\S+)$")


class Failed(Exception):
    pass


def check(cond, what, *detail):
    if not cond:
        raise Failed(what + "".join("\n  " + repr(d) for d in detail))


def one(items, what):
    check(len(items) == 1, "expected exactly one " + what, items)
    return items[0]


def body(msg):
    """The text after xfbbd's header block (R: lines, From:/To: lines, blank lines)."""
    lines = list(msg.text)
    while lines and (lines[0].startswith(("R:", "From:", "To  :")) or lines[0] == ""):
        lines.pop(0)
    return lines


COMMENT = {
    "from": "xfbbd (%s) calls the partner %s over TCP and forwards to it." % (BBS, PARTNER),
    "to": "The partner %s calls xfbbd's telnet port (%s) and forwards to it." % (PARTNER, BBS),
}
LEGEND = ("'<' lines: bytes xfbbd sent; '>' lines: bytes the partner sent. "
          "Escapes: \\r \\n \\\\ \\xNN; see README.md.")


def save(outdir, mode, direction, log, notes):
    # The transcript must give back every byte, binary blocks included.
    check(parse_transcript(format_transcript(log)) == turns(log), "transcript round trip")
    if outdir:
        comments = ["LinFBB 7.0.11, forward.sys N %s (%s mode)." % ({"mbl": 0, "fbb": 1, "b0": 3}[mode], mode),
                    COMMENT[direction], LEGEND, ""] + notes
        write_transcript(os.path.join(outdir, "%s_%s_linfbb.txt" % (mode, direction)), log, comments)


def linfbb_sends(bbs, partner, listener, mode, outdir):
    """xfbbd forwards a private message and a bulletin, and offers one the partner holds."""
    partner.known.add("SEEN_XX7OLD")
    priv_text = ["First line of the private message.", "Second line."]
    priv = bbs.send("P", "XX9ABC", PARTNER, "Private from LinFBB", priv_text)
    bul_bid = "LF%s_%s" % (mode.upper(), BBS)
    bull = bbs.send("B", "ALL", "WW", "Bulletin from LinFBB", ["A bulletin for all."], bid=bul_bid)
    seen = bbs.send("B", "ALL", "WW", "Bulletin the partner holds", ["Not wanted."], bid="SEEN_XX7OLD")
    bbs.forward_now()
    log = partner.answer(listener)
    save(outdir, mode, "from", log, [
        "Station %s entered #%d (SP XX9ABC @ %s), #%d (SB ALL @ WW $%s) and #%d (SB ALL @ WW "
        "$SEEN_XX7OLD); the partner already holds SEEN_XX7OLD and refuses it."
        % (STATION[0], priv, PARTNER, bull, bul_bid, seen)])

    check(partner.peer_sid.startswith("[FBB-7.0.11-") and partner.peer_sid.endswith("$]"),
          "xfbbd's SID", partner.peer_sid)
    flags = partner.peer_sid.split("-")[-1]
    check(("F" in flags) == (mode != "mbl"), "F in the SID in %s mode" % mode, partner.peer_sid)
    check(partner.refused == ["SEEN_XX7OLD"], "the known BID refused", partner.refused)

    got_priv = one([m for m in partner.inbox if m.kind == "P"], "private message received")
    check((got_priv.sender, got_priv.to, got_priv.at, got_priv.bid, got_priv.title)
          == (STATION[0], "XX9ABC", PARTNER, "%d_%s" % (priv, BBS), "Private from LinFBB"),
          "private message fields", got_priv)
    got_bull = one([m for m in partner.inbox if m.kind == "B"], "bulletin received")
    check((got_bull.sender, got_bull.to, got_bull.at, got_bull.bid, got_bull.title)
          == (STATION[0], "ALL", "WW", bul_bid, "Bulletin from LinFBB"), "bulletin fields", got_bull)
    for msg, number, text in ((got_priv, priv, priv_text), (got_bull, bull, ["A bulletin for all."])):
        m = ROUTING.match(msg.text[0])
        check(m and m.groups() == (str(number), msg.bid), "R: line of #%d" % number, msg.text)
        check(body(msg) == text, "text of #%d" % number, msg.text)

    held = {m.number: m for m in bbs.messages()}
    check(held[priv].status == "F", "private message marked forwarded", held[priv])
    check(held[bull].forwarded[0] & 1 and not held[bull].pending[0] & 1,
          "bulletin marked forwarded to the partner", held[bull], held[bull].forwarded)
    check(not held[seen].pending[0] & 1, "refused bulletin no longer queued", held[seen].pending)
    return bul_bid


def partner_sends(bbs, partner, mode, outdir, known_bid):
    """The partner forwards a private message and a bulletin, and offers one xfbbd has."""
    stamp = "R:261210/1200Z @:XX9ORN.#TST.XX.EU #:%d [Partnertown] $:%s"
    priv_bid, bul_bid = "2001_%s" % PARTNER, "PB%s_%s" % (mode.upper(), PARTNER)
    outbox = [
        Msg("P", PARTNER, STATION[0], BBS, priv_bid, "Private from the partner",
            [stamp % (2001, priv_bid), "", "Hello Alice,", "two lines for you."]),
        Msg("B", PARTNER, "ALL", "WW", bul_bid, "Bulletin from the partner",
            [stamp % (2002, bul_bid), "", "A bulletin from far away."]),
        Msg("B", PARTNER, "ALL", "WW", known_bid, "Bulletin xfbbd already has",
            [stamp % (2003, known_bid), "", "Not wanted."]),
    ]
    before = {m.number for m in bbs.messages()}
    log = partner.call_bbs(bbs.host, bbs.telnet_port, outbox)
    save(outdir, mode, "to", log, [
        "The partner logs in as .%s (a leading dot: transparent channel) and offers "
        "SP %s @ %s $%s, SB ALL @ WW $%s, and SB ALL @ WW $%s which xfbbd sent it before."
        % (PARTNER, STATION[0], BBS, priv_bid, bul_bid, known_bid)])

    answers = [a.strip() for a in partner.answers]
    expected = ["OK", "OK", "N - BID"] if mode == "mbl" else ["+", "+", "-"]
    check(answers == expected, "xfbbd's answers to the offers", partner.answers)
    new = [m for m in bbs.messages() if m.number not in before]
    check(len(new) == 2, "two messages stored", new)
    for sent in outbox[:2]:
        got = one([m for m in new if m.bid == sent.bid], "message $" + sent.bid)
        at = "" if sent.at == BBS else sent.at   # xfbbd drops its own call from @
        check((got.type, got.sender, got.to, got.at, got.title, got.from_bbs)
              == (sent.kind, PARTNER, sent.to, at, sent.title, PARTNER), "stored fields", got)
        check(got.lines()[:-1] == sent.text, "stored text", got.lines(), sent.text)
    check(sum(m.bid == known_bid for m in bbs.messages()) == 1, "known BID stored once")


def b0_session(bbs, partner, listener, outdir, lzhuf):
    priv = bbs.send("P", "XX9ABC", PARTNER, "Private from LinFBB", ["Compressed text, line one.",
                                                                   "Line two."])
    bull = bbs.send("B", "ALL", "WW", "Bulletin from LinFBB", ["A bulletin for all."], bid="LFB0_XX8FBB")
    bbs.forward_now()
    log = partner.answer(listener)
    save(outdir, "b0", "from", log, [
        "Station %s entered #%d (SP XX9ABC @ %s) and #%d (SB ALL @ WW $LFB0_XX8FBB); the partner "
        "accepts both and hangs up once xfbbd waits after its compressed blocks." % (STATION[0], priv, PARTNER, bull),
        "xfbbd's outgoing TCP connection is a telnet stream: each 0xFF byte of the blocks",
        "comes doubled (0xFF 0xFF); CR is not expanded inside the blocks."])
    flags = partner.peer_sid.split("-")[-1]
    check("B" in flags and "F" in flags, "B and F in xfbbd's SID", partner.peer_sid)
    check([p.split()[:6] for p in partner.b0_proposals]
          == [["FA", "P", STATION[0], PARTNER, "XX9ABC", "%d_%s" % (priv, BBS)],
              ["FA", "B", STATION[0], "WW", "ALL", "LFB0_XX8FBB"]], "FA proposals", partner.b0_proposals)
    blocks, rest = parse_b0(partner.b0_data.replace(b"\xff\xff", b"\xff"))
    check([(t, o, ok) for t, o, _, ok in blocks]
          == [("Private from LinFBB", "     0", True), ("Bulletin from LinFBB", "     0", True)],
          "compressed blocks (title, offset, checksum)", blocks, rest)
    for _, _, payload, _ in blocks:
        check(int.from_bytes(payload[:4], "little") > len("Line two."), "length before the data", payload[:8])
    if lzhuf:
        # ornbbs's own expander must read xfbbd's blocks.
        for (title, _, payload, _), last in zip(blocks, ("Line two.", "A bulletin for all.")):
            text = expand(lzhuf, payload).decode("latin-1").split("\r\n")
            check(ROUTING.match(text[0]) and text[-2:] == [last, ""], "expanded " + title, text)


def expand(lzhuf, payload):
    with tempfile.TemporaryDirectory() as d:
        src, dst = os.path.join(d, "in"), os.path.join(d, "out")
        with open(src, "wb") as f:
            f.write(payload)
        subprocess.run([lzhuf, "d", src, dst], check=True, capture_output=True)
        with open(dst, "rb") as f:
            return f.read()


def run_mode(mode, workdir, outdir, lzhuf=None):
    tport, pport = PORTS[mode]
    partner = FakePartner(call=PARTNER, bbs=BBS, mode=mode)
    listener = partner.listen(pport)
    bbs = LinFbb(os.path.join(workdir, mode), call=BBS, telnet_port=tport, partner=PARTNER,
                 partner_addr=("127.0.0.1", pport), mode=mode)
    try:
        bbs.start()
        if mode == "b0":
            b0_session(bbs, partner, listener, outdir, lzhuf)
        else:
            known = linfbb_sends(bbs, partner, listener, mode, outdir)
            partner_sends(bbs, partner, mode, outdir, known)
    except Exception:
        print("--- %s: last session's bytes:" % mode, file=sys.stderr)
        for d, data in partner.last_log:
            print(d, repr(data), file=sys.stderr)
        print("--- xfbbd's output (end):\n" + bbs.output()[-1500:], file=sys.stderr)
        raise
    finally:
        bbs.stop()
        listener.close()
    print("%s: ok" % mode)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--modes", default="mbl,fbb,b0")
    ap.add_argument("--transcripts", metavar="DIR")
    ap.add_argument("--keep", action="store_true", help="keep xfbbd's directories")
    ap.add_argument("--lzhuf", metavar="PATH", help="ornbbs's lzhuf tool: expand the B0 blocks with it")
    args = ap.parse_args()
    if args.transcripts:
        os.makedirs(args.transcripts, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="linfbb.")
    try:
        for mode in args.modes.split(","):
            run_mode(mode, workdir, args.transcripts, args.lzhuf)
    except Exception as e:
        if not isinstance(e, Failed):
            traceback.print_exc()
        print("FAIL: %s" % e, file=sys.stderr)
        return 1
    finally:
        if args.keep:
            print("kept in", workdir)
        else:
            shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
