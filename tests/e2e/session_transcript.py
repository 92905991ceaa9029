#!/usr/bin/env python3
"""A station's first two visits to the BBS, checked text for text against the
shipped English texts: register with N, leave, come back, switch to expert
mode, ask for help, page the sysop, say goodbye.

usage: session_transcript.py ENGINE SOURCE_DIR SYSOP_NAME
"""
import os
import re
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from station import Station  # noqa: E402

engine, source, sysop = sys.argv[1], sys.argv[2], sys.argv[3]
BBS, ME = "XX9ORN-1", "XX1ABC"
RESTRICTED = "(B,H,F,G,G?,KM,LM,RM,S,SP,T,V)>\r"
FULL = "(A,B,C,D,F,G,G?,H,I,J,K,L,M,N,R,S,T,U,V,W,X,Y,Z)>\r"
EXPERT = ">\r"


def shipped_texts():
    """The 58 texts of english.lng in file order, each line ending in CR."""
    lines = open(os.path.join(source, "data/lang/english.lng"), "rb").read().decode("cp1252").split("\r\n")
    texts, i = [], 0
    for _ in range(8):
        block = ""
        while not lines[i].startswith("-"):
            block += lines[i] + "\r"
            i += 1
        i += 1
        texts.append(block)
    while len(texts) < 58:
        if not lines[i].startswith(";"):
            texts.append(lines[i] + "\r")
        i += 1
    return texts


T = shipped_texts()
newuser, regularuser, xpertuser, bye, sysoppage = T[0], T[1], T[2], T[3], T[4]
registered, toexpert = T[32], T[33]

# What the tokens become for this station: exact where the test knows the
# value, a pattern where it depends on the clock or the store.
KNOWN = {"$U": ME, "$V": "XX9ORN", "$S": sysop, "$N": "John", "$L": "0"}
PATTERN = {"$A": r"\d+", "$C": r"\d+", "$t": r"\d\d:\d\d", "$d": r"\d\d/\d\d/\d\d"}


def expected(text):
    """A regular expression for a shipped text after token expansion."""
    out, i = "", 0
    while i < len(text):
        tok = text[i:i + 2]
        if tok in KNOWN:
            out += re.escape(KNOWN[tok])
        elif tok in PATTERN:
            out += PATTERN[tok]
        else:
            out += re.escape(text[i])
            i += 1
            continue
        i += 2
    return out


def check(what, got, pattern):
    text = got.decode("cp437")
    if not re.fullmatch(pattern, text, re.S):
        sys.exit("%s: got %r\nwanted /%s/" % (what, text, pattern))
    print("ok:", what)


help_text = open(os.path.join(source, "data/help/english"), "rb").read().decode("cp1252")
help_text = help_text.replace("\r\n", "\r").replace("\n", "\r")

with Station(engine, ME, timeout=15, connect_timeout=15) as s:
    s.connect(BBS)
    check("first greeting", s.expect(RESTRICTED),
          re.escape("[ORN-7.10-AB1FHMR$]\r") + expected(newuser) + re.escape(RESTRICTED))
    s.send("N John")
    check("registration", s.expect(RESTRICTED),
          re.escape("Tnx, John.\r") + expected(registered) + re.escape(RESTRICTED))
    s.send("B")
    check("goodbye", s.expect(RESTRICTED), expected(bye) + re.escape(RESTRICTED))
    s.wait_disconnect()

with Station(engine, ME, timeout=15, connect_timeout=15) as s:
    s.connect(BBS)
    check("second greeting", s.expect(FULL), re.escape("[ORN-7.10-AB1FHMR$]\r") + expected(regularuser) + re.escape(FULL))
    s.send("X")
    check("expert mode", s.expect(toexpert + EXPERT), expected(toexpert) + re.escape(EXPERT))
    s.send("H")
    check("help", s.expect("\r" + EXPERT), re.escape(help_text + "\r" + EXPERT))
    s.send("T")
    check("page", s.expect(EXPERT), expected(sysoppage) + re.escape(EXPERT))
    s.send("B")
    check("goodbye", s.expect(EXPERT), expected(bye) + re.escape(EXPERT))
    s.wait_disconnect()
print("transcript: ok")
