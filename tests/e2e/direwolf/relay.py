#!/usr/bin/env python3
"""One direction of the simulated radio channel between two Direwolf engines.

Direwolf transmits through ALSA only. The 'file' PCM of the lab's .asoundrc copies
every transmitted sample into this script's standard input, in a burst far faster
than real time (its 'null' slave takes the samples at once, so Direwolf's own PTT
timer decides the air time). We play them out at the real sample rate into the
named pipe that the other engine reads as its receive audio, with silence between
transmissions: a demodulator that is starved keeps the tail of a frame until the
next burst, and a burst delivered at once would not be paced like a radio.

    relay.py FIFO RATE
Input and output: signed 16-bit little-endian mono at RATE samples a second.
"""
import array
import os
import selectors
import sys
import time

CHUNK_S = 0.02       # one write every 20 ms
PREBUFFER_S = 0.06   # collect this much of a burst before it starts to play
GAIN = 0.25          # full scale reads as an audio level of ~200 in Direwolf; ~50 is comfortable


def main():
    fifo, rate = sys.argv[1], int(sys.argv[2])
    chunk = int(rate * CHUNK_S) * 2
    silence = bytes(chunk)
    out = os.open(fifo, os.O_WRONLY)   # the receiver holds the pipe open read-write
    inp = sys.stdin.fileno()
    os.set_blocking(inp, False)
    sel = selectors.DefaultSelector()
    sel.register(inp, selectors.EVENT_READ)
    buf, playing, first_seen, eof = bytearray(), False, 0.0, False
    next_tick = time.monotonic()
    while True:
        wait = max(0.0, next_tick - time.monotonic())
        if eof:
            if not buf:
                return 0
            time.sleep(wait)
        else:
            for _ in sel.select(wait):
                try:
                    data = os.read(inp, 1 << 16)
                except BlockingIOError:
                    continue
                if not data:
                    eof = True
                    sel.unregister(inp)
                    break
                if not buf and not playing:
                    first_seen = time.monotonic()
                buf += data
        now = time.monotonic()
        while next_tick <= now:     # never skip audio when we fall behind
            next_tick += CHUNK_S
            if not playing and buf and (len(buf) >= rate * PREBUFFER_S * 2 or eof
                                        or now - first_seen >= PREBUFFER_S):
                playing = True
            if playing:
                n = min(len(buf) & ~1, chunk)
                samples = array.array("h", bytes(buf[:n]) + silence[n:])
                for i in range(len(samples)):
                    samples[i] = int(samples[i] * GAIN)
                del buf[:n]
                playing = bool(buf)
                block = samples.tobytes()
            else:
                block = silence
            try:
                os.write(out, block)
            except BrokenPipeError:
                return 0      # the receiving engine has gone


if __name__ == "__main__":
    sys.exit(main())
