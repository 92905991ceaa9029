#!/usr/bin/env python3
"""End-to-end measurements of ornbbs on the virtual engine ornpe, for tools/bench.

    e2e_bench.py BUILD_DIR WORK_DIR [--quick]

Prints one line per figure: "name<TAB>value<TAB>unit<TAB>note". Wall times are
taken on the station's side; CPU times and wake-ups come from /proc of the
processes measured. Standard library only; the stations are tests/e2e/station.py.
"""
import os
import re
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from station import PACLEN, Station  # noqa: E402

BBS = "XX9ORN"
PARTNER = "XX2BBB"
SID = b"[FBB-7.00-ABFHMR$]\r"
TICK = os.sysconf("SC_CLK_TCK")


def row(name, value, unit, note=""):
    print("%s\t%s\t%s\t%s" % (name, value, unit, note), flush=True)


class Procs:
    """The processes started, stopped in reverse order at the end."""

    def __init__(self):
        self.list = []

    def start(self, args, **kw):
        p = subprocess.Popen(args, **kw)
        self.list.append(p)
        return p

    def stop(self, p):
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()

    def stop_all(self):
        for p in reversed(self.list):
            self.stop(p)


def start_ornpe(procs, build, work):
    out = open(os.path.join(work, "ornpe.out"), "w+")
    p = procs.start([os.path.join(build, "ornpe"), "--listen", "127.0.0.1:0", "--gateway", "127.0.0.1:0",
                     "--bbs", BBS, "--log", os.path.join(work, "ornpe.log")], stdout=out,
                    stderr=subprocess.DEVNULL)
    for _ in range(200):
        out.seek(0)
        text = out.read()
        if text.startswith("ornpe ready"):
            api = text.split()[2].split("=", 1)[1]
            return p, api
        time.sleep(0.05)
    raise SystemExit("ornpe did not start")


def start_front(procs, build, work, engine_api, name="front"):
    """ornpe in front of the engine at engine_api (--engine); its API address."""
    out = open(os.path.join(work, name + ".out"), "w+")
    procs.start([os.path.join(build, "ornpe"), "--engine", engine_api, "--listen", "127.0.0.1:0", "--gateway",
                 "127.0.0.1:0", "--log", os.path.join(work, name + ".log")], stdout=out, stderr=subprocess.DEVNULL)
    for _ in range(400):
        out.seek(0)
        text = out.read()
        if text.startswith("ornpe ready"):
            return text.split()[2].split("=", 1)[1]
        time.sleep(0.05)
    raise SystemExit("ornpe in front of %s did not start" % engine_api)


ECHOES = 200


def echo_times(ping_api, echo_api):
    """Median and 90th percentile round trip, in seconds, of ECHOES lines from a station on
    ping_api to one registered on echo_api that sends each line back."""
    with Station(echo_api, "XX4ECH", timeout=30, connect_timeout=30) as e:
        e.register()
        echo = threading.Thread(target=echo_pings, args=(e,), daemon=True)
        echo.start()
        with Station(ping_api, "XX3PNG", timeout=30, connect_timeout=30) as s:
            s.connect("XX4ECH")
            turns = []
            for i in range(ECHOES):
                t0 = time.monotonic()
                s.send("PING %d" % i)
                s.expect("PING %d\r" % i)
                turns.append(time.monotonic() - t0)
            s.send("GO")
            echo.join(10)
            s.send_frame("d", s.call, s.remote)
            s.wait_disconnect()
    turns.sort()
    return turns[len(turns) // 2], turns[len(turns) * 9 // 10]


def bench_front(procs, build, work):
    """The time ornpe in front of an engine adds to an answer: a station answers lines over
    ornpe's virtual engine, once on it directly and once through a second ornpe (--engine)."""
    name = "the time ornpe in front of an engine adds to an answer"
    try:
        _, engine = start_ornpe(procs, build, work)
        front = start_front(procs, build, work, engine)
        direct, direct90 = echo_times(engine, engine)
        relayed, relayed90 = echo_times(engine, front)
        row(name, "%.2f" % ((relayed - direct) * 1000), "ms",
            "median of %d round trips, %.2f ms through ornpe against %.2f ms directly (90th percentile %.2f "
            "against %.2f); goal < 5" % (ECHOES, relayed * 1000, direct * 1000, relayed90 * 1000, direct90 * 1000))
    except Exception as e:  # noqa: BLE001 - every failure is reported
        row(name, "failed", "", str(e)[:120])


def bench_paste(build, work):
    """Another station's answer while a telnet user pastes 8 MB into a message through
    ornpe's station gateway (tests/e2e/ornpe_paste.py): the slowest of the answers a second
    telnet user and a station on a radio engine behind ornpe get meanwhile."""
    from ornpe_air import Procs as AirProcs, paste_while_serving
    name = "answer to a station while a telnet user pastes 8 MB"
    d = os.path.join(work, "paste")
    os.makedirs(d, exist_ok=True)
    procs = AirProcs(build, d)
    try:
        radio = procs.ornpe("radio")
        front = procs.ornpe("front", "--engine", radio["api"], "--bbs", BBS)
        port = front["api"].rsplit(":", 1)[1]
        procs.bbs(["[RADIO]", "PORTS=2", "ENGINEPORT=" + port,
                   "[PORT0]", "PORTNUM=0", "CHANNELS=2", "BBSONLY=0", "LIMITED=0", "TIMEOUT=0", "BEACONOK=0",
                   "[PORT1]", "PORTNUM=1", "CHANNELS=3", "BBSONLY=0", "LIMITED=0", "TIMEOUT=0", "BEACONOK=0"])
        took, answers, paster = paste_while_serving(front["gateway"], radio["api"])
        paster.close()
        row(name, "%.2f" % max(a[1] for a in answers), "s",
            "slowest of %d answers to a telnet user and a radio station during the paste (%.1f s); goal < 1"
            % (len(answers), took))
    except Exception as e:  # noqa: BLE001 - every failure is reported
        row(name, "failed", "", str(e)[:120])
    finally:
        procs.stop()


def make_bbs(build, d, api, channels, more=(), call=BBS, personal=(), port=()):
    os.makedirs(d, exist_ok=True)
    lines = ["[PERSONAL]", "MYCALL=" + call, "MYHIER=#TST.XX.EU"] + list(personal) + ["[RADIO]", "PORTS=1",
             "ENGINEPORT=" + api.rsplit(":", 1)[1], "[PORT0]", "CHANNELS=%d" % channels, "BBSONLY=0",
             "LIMITED=0", "TIMEOUT=0"] + list(port) + ["[LOG]", "LOGOK=1", "LOGOTHER=1"] + list(more)
    with open(os.path.join(d, "ORN.INI"), "w") as f:
        f.write("\r\n".join(lines) + "\r\n")


def start_bbs(procs, build, d, wrap=()):
    p = procs.start(list(wrap) + [os.path.join(build, "ornbbs"), "--headless", "--dir", d], stdout=subprocess.DEVNULL,
                    stderr=open(os.path.join(d, "bbs.err"), "w"))
    log = os.path.join(d, "BBS.LOG")
    for _ in range(400):
        if os.path.exists(log) and "UP" in open(log, errors="replace").read():
            return p
        time.sleep(0.05)
    raise SystemExit("the BBS did not start: " + open(os.path.join(d, "bbs.err")).read())


def cpu_seconds(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def switches(pid):
    n = 0
    for t in os.listdir("/proc/%d/task" % pid):
        for line in open("/proc/%d/task/%s/status" % (pid, t)):
            if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                n += int(line.split()[1])
    return n


def rss_kb(pid):
    for line in open("/proc/%d/status" % pid):
        if line.startswith("VmRSS"):
            return int(line.split()[1])
    return 0


def session(api, call, post, results, errors):
    """One station: login, SP, L, B; the wall time of the whole and of each answer."""
    try:
        with Station(api, call, timeout=60, connect_timeout=30) as s:
            t0 = time.monotonic()
            s.connect(BBS)
            s.expect(">\r")
            answers = []
            # A new station gives its name first.
            t = time.monotonic()
            s.send("N Al")
            s.expect(">\r")
            answers.append(time.monotonic() - t)
            t = time.monotonic()
            s.send("SP XX1ZZZ" + post)
            s.expect("ubject")
            answers.append(time.monotonic() - t)
            s.send("Hello")
            s.send("A line of text.")
            t = time.monotonic()
            s.send("/EX")
            s.expect(">\r")
            answers.append(time.monotonic() - t)
            t = time.monotonic()
            s.send("L")
            s.expect(">\r")
            answers.append(time.monotonic() - t)
            s.send("B")
            s.wait_disconnect()
            results.append((time.monotonic() - t0, answers))
    except Exception as e:  # noqa: BLE001 - every failure is reported
        errors.append("%s: %s" % (call, e))


def stations(api, n, post=""):
    results, errors, threads = [], [], []
    t0 = time.monotonic()
    for i in range(n):
        call = "XX%dS%s" % (i % 10, chr(ord("A") + i // 10))
        th = threading.Thread(target=session, args=(api, call, post, results, errors))
        th.start()
        threads.append(th)
    for th in threads:
        th.join()
    return time.monotonic() - t0, results, errors


def bench_sessions(procs, build, work):
    ornpe, api = start_ornpe(procs, build, work)
    d = os.path.join(work, "sessions")
    make_bbs(build, d, api, 49)
    bbs = start_bbs(procs, build, d)
    # One station alone: how long its answers take.
    _, results, errors = stations(api, 1)
    if errors:
        row("answer latency", "failed", "", errors[0])
    else:
        worst = max(results[0][1])
        row("answer to a command (1 station, empty queue)", "%.0f" % (worst * 1000), "ms",
            "slowest of N, SP, /EX, L; goal < 100")
    cpu0 = cpu_seconds(bbs.pid)
    wall, results, errors = stations(api, 49)
    cpu = cpu_seconds(bbs.pid) - cpu0
    note = "goal < 5 s" + ("; %d failed: %s" % (len(errors), errors[0]) if errors else "")
    row("49 stations in parallel: login, SP, L, B", "%.2f" % wall, "s", note)
    if results:
        row("  slowest station of the 49", "%.2f" % max(r[0] for r in results), "s", "")
    row("  BBS CPU for the 49 sessions", "%.0f" % (cpu * 1000), "ms", "")

    # Idle with 49 channels: wake-ups, CPU and memory of both processes.
    time.sleep(2)
    s0 = {p.pid: (switches(p.pid), cpu_seconds(p.pid)) for p in (bbs, ornpe)}
    span = 20
    time.sleep(span)
    for name, p in (("ornbbs --headless", bbs), ("ornpe", ornpe)):
        w = (switches(p.pid) - s0[p.pid][0]) / span
        c = (cpu_seconds(p.pid) - s0[p.pid][1]) / span * 100
        row("idle, 49 channels: %s wake-ups" % name, "%.2f" % w, "/s", "goal < 2; context switches")
        row("idle, 49 channels: %s CPU" % name, "%.3f" % c, "%", "")
        row("idle, 49 channels: %s RSS" % name, "%.1f" % (rss_kb(p.pid) / 1024), "MB", "")
    procs.stop(bbs)
    procs.stop(ornpe)


def store_cost(procs, build, work, messages, count):
    """CPU of the BBS per message stored by a station, on a store of `messages`."""
    ornpe, api = start_ornpe(procs, build, work)
    d = os.path.join(work, "store%d" % messages)
    subprocess.run([os.path.join(build, "genstore"), d, "--messages", str(messages), "--texts"], check=True,
                   stdout=subprocess.DEVNULL)
    make_bbs(build, d, api, 2)
    bbs = start_bbs(procs, build, d)
    with Station(api, "XX1AAA", timeout=60, connect_timeout=30) as s:
        s.connect(BBS)
        s.expect(">\r")
        s.send("N Al")
        s.expect(">\r")
        cpu0 = cpu_seconds(bbs.pid)
        for i in range(count):
            s.send("SP XX1ZZZ")
            s.expect("ubject")
            s.send("Message %d" % i)
            s.send("Some text.")
            s.send("/EX")
            s.expect(">\r")
        cpu = cpu_seconds(bbs.pid) - cpu0
        s.send("B")
        s.wait_disconnect()
    procs.stop(bbs)
    procs.stop(ornpe)
    return cpu / count


def prose():
    """Running English text, as compressible as real mail: the project's own documents."""
    text = b""
    for name in ("README.md", os.path.join("docs", "manual.md")):
        with open(os.path.join(HERE, "..", name), "rb") as f:
            text += f.read()
    text = re.sub(rb"[\x80-\xff]+", b"-", text.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))
    return text.decode("ascii")


def fwd_messages(build, work, n, text_of=None):
    """Compressed blocks for n messages of about 2 KB, as a partner sends them. The bodies
    are one line repeated with its number (compresses about 7 to 1) unless text_of(i)
    gives another."""
    msgs = []
    body = "".join("Line %02d of a forwarded message, long enough to be a line of text.\r\n" % i
                   for i in range(28))
    for i in range(n):
        text = ("R:261209/0800Z @:%s.#X.Y [Town] #:%d\r\n\r\nFrom: XX1AAA\r\nTo: XX3CCC\r\n\r\n" % (PARTNER, i)
                + (text_of(i) if text_of else body)).encode()
        src, dst = os.path.join(work, "m.txt"), os.path.join(work, "m.lzh")
        open(src, "wb").write(text)
        subprocess.run([os.path.join(build, "lzhuf"), "e", src, dst], check=True)
        code = open(dst, "rb").read()
        title = b"Message %d" % i
        packets = b"\x01" + bytes([len(title) + 8]) + title + b"\0" * 6 + b"0\0"
        for at in range(0, len(code), 250):
            part = code[at:at + 250]
            packets += b"\x02" + bytes([len(part) & 0xFF]) + part
        packets += b"\x04" + bytes([(256 - sum(code) % 256) % 256])
        line = b"FB P XX1AAA %s XX3CCC %d_XX1AAA %d\r" % (BBS.encode(), i + 1, len(text))
        msgs.append((line, packets, len(text)))
    return msgs


def read_bytes(s, n, timeout=60):
    while len(s.rx) < n:
        f = s.wait_for("Dd", s._link_frame, timeout)
        if f is None or f.kind == "d":
            raise RuntimeError("link ended or silent while %d bytes were awaited" % n)
        s.rx += f.data
    out, s.rx = s.rx[:n], s.rx[n:]
    return out


def receive_message(s):
    """One compressed message from the BBS: header, data packets, end; its data bytes."""
    got = 0
    kind = read_bytes(s, 1)[0]
    if kind != 1:
        raise RuntimeError("no header packet: %r" % kind)
    read_bytes(s, read_bytes(s, 1)[0])
    while True:
        kind = read_bytes(s, 1)[0]
        if kind == 4:
            read_bytes(s, 1)
            return got
        if kind != 2:
            raise RuntimeError("unexpected packet %r" % kind)
        n = read_bytes(s, 1)[0] or 256
        read_bytes(s, n)
        got += n


def bench_forwarding(procs, build, work, count):
    ornpe, api = start_ornpe(procs, build, work)
    d = os.path.join(work, "fwd")
    make_bbs(build, d, api, 2)
    subprocess.run([os.path.join(build, "test_partner"), d, PARTNER, "@" + PARTNER, "", ""], check=True)
    msgs = fwd_messages(build, work, count)
    bbs = start_bbs(procs, build, d)

    # The partner sends: blocks of five proposals, the BBS answers and takes them.
    wall, _, text = partner_in(api, msgs, timeout=60)
    row("forwarding in: %d x 2 KB, partner to ornbbs on ornpe" % count, "%.0f" % (text / wall), "B/s",
        "text bytes; %.1f s; goal >= 7090" % wall)

    # The BBS sends: a station's messages for the partner, queued by the routing.
    with Station(api, "XX1AAA", timeout=60, connect_timeout=30) as s:
        s.connect(BBS)
        s.expect(">\r")
        s.send("N Al")
        s.expect(">\r")
        body = "".join("Line %02d of a forwarded message, long enough to be a line of text.\r" % i
                       for i in range(28))
        for i in range(count):
            s.send("SP XX1ZZZ @ " + PARTNER)
            s.expect("ubject")
            s.send("Out %d" % i)
            s.send(body + "/EX")
            s.expect(">\r")
        s.send("B")
        s.wait_disconnect()
    sent = 0
    with Station(api, PARTNER, timeout=60, connect_timeout=30) as s:
        s.connect(BBS)
        s.expect(">\r")
        t0 = time.monotonic()
        s.send(SID + b"FF\r", end=b"")
        while True:
            turn = s.expect("\r")
            if turn.startswith(b"FQ"):
                break
            if not turn.startswith((b"FA", b"FB")):
                continue
            n = 1
            while True:
                line = s.expect("\r")
                if line.startswith(b"F>"):
                    break
                n += 1
            s.send("FS " + "+" * n)
            for _ in range(n):
                sent += receive_message(s)
            s.send("FF")
        wall = time.monotonic() - t0
        s.wait_disconnect()
    row("forwarding out: %d x 2 KB, ornbbs to partner on ornpe" % count, "%.0f" % (count * len(body) / wall),
        "B/s", "text bytes (%d compressed); %.1f s; goal >= 7090" % (sent, wall))
    procs.stop(bbs)
    procs.stop(ornpe)


def ornctl(build, d, *args, text=None):
    r = subprocess.run([os.path.join(build, "ornctl"), "--dir", d] + list(args), input=text, capture_output=True,
                       text=True, timeout=60)
    if r.returncode != 0:
        raise RuntimeError("ornctl %s: %s" % (" ".join(args), r.stderr.strip()))
    return r.stdout


def bench_two_bbs(procs, build, work, count):
    """Forwarding between two ornbbs on ornpe: the first calls the second and
    sends it `count` messages of about 2 KB, queued by its routing."""
    ornpe, api = start_ornpe(procs, build, work)
    body = "".join("Line %02d of a forwarded message, long enough to be a line of text.\n" % i for i in range(28))
    result = two_bbs(procs, build, os.path.join(work, "two_a"), os.path.join(work, "two_b"), api, api,
                     [body] * count, limit=600)
    name = "forwarding between two ornbbs: %d x 2 KB on ornpe" % count
    if isinstance(result, str):
        row(name, "failed", "", result)
    else:
        wall, text = result
        row(name, "%.0f" % (text / wall), "B/s", "text bytes; %.1f s; goal >= 7090" % wall)
    procs.stop(ornpe)


def bench_import(procs, build, work, count):
    """A station's answers while ornctl imports `count` BID-less messages of about 2 KB into
    the running BBS: the slowest of them, the import's time, and what a second import of the
    same file stores (nothing)."""
    ornpe, api = start_ornpe(procs, build, work)
    d = os.path.join(work, "import")
    make_bbs(build, d, api, 4)
    bbs = start_bbs(procs, build, d)
    path = os.path.join(work, "import.txt")
    body = "".join("Line %02d of an imported message, long enough to be a line of text.\n" % i for i in range(28))
    with open(path, "w") as f:
        for i in range(count):
            f.write("SB ALL @ WW < XX1ABC\nImported bulletin %d\n%s/EX\n" % (i, body))
    name = "answer to a station during a %s-message import" % format(count, ",").replace(",", " ")
    ctl = [os.path.join(build, "ornctl"), "--dir", d, "msg", "import", path]
    try:
        with Station(api, "XX3IMP", timeout=60, connect_timeout=30) as s:
            s.connect(BBS)
            s.expect(">\r")
            s.send("N Al")
            s.expect(">\r")
            t0 = time.monotonic()
            imp = subprocess.Popen(ctl, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            worst, answers = 0.0, 0
            while imp.poll() is None:
                t = time.monotonic()
                s.send("N Al")
                s.expect(">\r")
                worst = max(worst, time.monotonic() - t)
                answers += 1
                time.sleep(0.05)
            wall = time.monotonic() - t0
            out, err = imp.communicate()
            s.send("B")
            s.wait_disconnect()
        if imp.returncode != 0 or not out.startswith("imported %d:" % count):
            row(name, "failed", "", "ornctl: %s %s" % (out.strip()[:80], err.strip()[:120]))
        else:
            row(name, "%.0f" % (worst * 1000), "ms", "slowest of %d answers; the import took %.1f s; goal < 1000"
                % (answers, wall))
            again = subprocess.run(ctl, capture_output=True, text=True, timeout=600)
            stored = re.match(r"imported (\d+)", again.stdout)
            row("  the same file imported again: messages stored", stored.group(1) if stored else "failed", "",
                "goal 0; " + (again.stdout.strip() or again.stderr.strip())[:60])
    except Exception as e:  # noqa: BLE001 - every failure is reported
        row(name, "failed", "", str(e)[:120])
    procs.stop(bbs)
    procs.stop(ornpe)


def two_bbs(procs, build, a, b, api_a, api_b, bodies, limit, port=(), wrap_b=()):
    """BBS a, with the bodies queued for BBS b by its routing, calls b at `ornctl fwd now`:
    (seconds until b holds them all, text bytes), or why not."""
    import json
    make_bbs(build, a, api_a, 2, call=BBS, personal=["FWDOK=1", "FWDMIN=-1"], port=port)
    make_bbs(build, b, api_b, 2, call=PARTNER, personal=["FWDOK=0"], port=port)
    subprocess.run([os.path.join(build, "test_partner"), a, PARTNER, "@" + PARTNER, PARTNER, ""], check=True)
    subprocess.run([os.path.join(build, "test_partner"), b, BBS, "@" + BBS, BBS, ""], check=True)
    bbs_a, bbs_b = start_bbs(procs, build, a), start_bbs(procs, build, b, wrap=wrap_b)
    try:
        for i, body in enumerate(bodies):
            ornctl(build, a, "msg", "send", "--to", "XX3CCC@" + PARTNER, "--type", "P", "--from", "XX1AAA",
                   "--subject", "Two %d" % i, text=body.replace("\r\n", "\n"))
        t0 = time.monotonic()
        ornctl(build, a, "fwd", "now")
        total = 0
        while time.monotonic() - t0 < limit:
            total = json.loads(ornctl(build, b, "status", "--json"))["counters"]["totalmsg"]
            if total >= len(bodies):
                break
            time.sleep(0.1)
        wall = time.monotonic() - t0
        if total < len(bodies):
            return "%d of %d messages arrived in %.0f s" % (total, len(bodies), wall)
        return wall, sum(len(body) for body in bodies)
    except RuntimeError as e:
        return str(e)
    finally:
        procs.stop(bbs_a)
        procs.stop(bbs_b)


def partner_in(api, msgs, call=PARTNER, timeout=120):
    """The partner sends `msgs` to the BBS in blocks of five; (seconds, bytes it sent, text bytes)."""
    text = sent = 0
    with Station(api, call, timeout=timeout, connect_timeout=120) as s:
        s.connect(BBS)
        s.expect(">\r")
        s.send(SID, end=b"")
        t0 = time.monotonic()
        for at in range(0, len(msgs), 5):
            block = b"".join(m[0] for m in msgs[at:at + 5])
            block += b"F> %02X\r" % ((256 - sum(block) % 256) % 256)
            s.send(block, end=b"")
            s.expect("FS " + "+" * len(msgs[at:at + 5]) + "\r")
            data = b"".join(m[1] for m in msgs[at:at + 5])
            s.send(data, end=b"")
            sent += len(block) + len(data)
            text += sum(m[2] for m in msgs[at:at + 5])
            s.expect("FF\r")
        wall = time.monotonic() - t0
        s.send("FQ")
        s.wait_disconnect()
    return wall, sent, text


PINGS = 8


def plain_send(api, call, to, n):
    """The link's turnaround (median of PINGS lines echoed by the other side), then a plain
    connected transfer of n bytes in full frames until the last is acknowledged; both in
    seconds."""
    with Station(api, call, timeout=600, connect_timeout=120) as s:
        s.connect(to)
        turns = []
        for i in range(PINGS):
            t0 = time.monotonic()
            s.send("PING %d" % i)
            s.expect("PING %d\r" % i)
            turns.append(time.monotonic() - t0)
        s.send("GO")
        t0 = time.monotonic()
        chunk = bytes(range(32, 127)) * 3
        left = n
        while left > 0:
            part = chunk[:min(left, PACLEN)]
            s.send(part, end=b"")
            left -= len(part)
        while s.outstanding() != 0:
            time.sleep(0.05)
        wall = time.monotonic() - t0
        s.send_frame("d", s.call, s.remote)
        s.wait_disconnect()
    return wall, sorted(turns)[len(turns) // 2]


def echo_pings(s):
    """The far end of plain_send: echoes its lines until "GO", then takes what comes."""
    s.accept()
    while True:
        f = s.wait_for("Dd", s._link_frame, 600)
        if f is None or f.kind == "d":
            return
        s.rx += f.data
        while b"\r" in s.rx:
            line, s.rx = s.rx.split(b"\r", 1)
            if line == b"GO":
                s.rx = b""
                return
            s.send(line)


def bench_direwolf(procs, build, work, modem, count, with_front=False):
    """Forwarding over two Direwolf engines, from a scripted partner and between two ornbbs,
    against the link's own turnaround and a plain transfer of the same bytes."""
    lab = os.path.join(HERE, "..", "tests", "e2e", "direwolf", "airlab.py")
    state = os.path.join(work, "lab" + modem)
    with socket_free() as port:
        pass
    r = subprocess.run([sys.executable, "-B", lab, "start", "--state", state, "--port-a", str(port), "--modem", modem,
                        "--call-a", "XX8AAA", "--call-b", "XX8BBB"], capture_output=True, text=True)
    names = ("forwarding in through the Direwolf lab at %s baud" % modem,
             "forwarding between two ornbbs through the Direwolf lab at %s baud" % modem)
    front_name = "forwarding in through the Direwolf lab at %s baud, ornpe in between" % modem
    if r.returncode != 0:
        why = ("the lab needs root and network namespaces" if r.returncode == 77 else
               "the lab did not start: " + (r.stdout + r.stderr).strip().splitlines()[-1:][0])
        for name in names + ((front_name,) if with_front else ()):
            row(name, "not run", "", why)
        return
    netns = os.path.join(state, "b.netns")
    api_a = "127.0.0.1:%d" % port
    try:
        # Bodies of running text, 2 KB each from a different place: real mail compresses to
        # about half, and the block's size on the link is what the exchange's turnarounds
        # are set against.
        text = prose()
        bodies = [text[(i * 977) % (len(text) - 2048):][:2048] for i in range(count)]
        msgs = fwd_messages(build, work, count, lambda i: bodies[i])
        runs = [dw_partner_in(procs, build, work, modem, api_a, netns, msgs),
                dw_two_bbs(procs, build, work, modem, api_a, netns, bodies)]
        # The same partner and messages, the BBS on ornpe in front of engine A.
        through = (dw_partner_in(procs, build, work, modem, start_front(procs, build, work, api_a, "front" + modem),
                                 netns, msgs, suffix="front") if with_front else None)
        # Both put about the same bytes on the link: those of the partner's blocks.
        blocks = (count + 4) // 5
        sent = sum(len(m[0]) + len(m[1]) for m in msgs) + len(b"F> 00\r") * blocks
        plain, turn = dw_plain(api_a, netns, sent)
        # Beyond a plain transfer, each block of five costs one more turnaround (proposals
        # out, FS back): the most of the plain rate the bytes on the link can reach.
        for name, result in zip(names, runs):
            if isinstance(result, str):
                row(name, "failed", "", result)
            elif plain is None:
                row(name, "%.0f" % (result[1] / result[0]), "B/s", "plain transfer failed: " + turn)
            else:
                wall, text_bytes = result
                row(name, "%.0f" % (text_bytes / wall), "B/s",
                    "text of %d msgs, %.2f x the plain transfer's %.0f B/s (goal >= 0.80 at 9600); on the "
                    "link %.0f B/s, %.2f of it; turnaround %.2f s, so %d blocks allow at most %.2f"
                    % (count, plain / wall * text_bytes / sent, sent / plain, sent / wall, plain / wall, turn,
                       blocks, plain / (plain + blocks * turn)))
        if with_front:
            direct = runs[0]
            if isinstance(through, str) or isinstance(direct, str):
                row(front_name, "failed", "", through if isinstance(through, str) else "the direct run failed")
            else:
                row(front_name, "%.0f" % (through[1] / through[0]), "B/s",
                    "%.2f of the BBS on Direwolf directly (%.0f B/s) in the same run; goal >= 0.95"
                    % (direct[0] / through[0], direct[1] / direct[0]))
    finally:
        subprocess.run([sys.executable, "-B", lab, "stop", "--state", state], capture_output=True)


# Frames and window as Direwolf's own for a v2.2 link (the README's advice for such a port).
DIREWOLF_PORT = ["PACLEN=256", "MAXFRAME=32"]


def dw_partner_in(procs, build, work, modem, api_a, netns, msgs, suffix=""):
    """The partner on engine B sends msgs to the BBS on engine A: (seconds, text bytes)."""
    d = os.path.join(work, "dw" + modem + suffix)
    make_bbs(build, d, api_a, 2, port=DIREWOLF_PORT)
    subprocess.run([os.path.join(build, "test_partner"), d, PARTNER, "@" + PARTNER, "", ""], check=True)
    import pickle
    mfile = os.path.join(work, "dwmsgs%s.pickle" % modem)
    pickle.dump(msgs, open(mfile, "wb"))
    bbs = start_bbs(procs, build, d)
    out = subprocess.run(["nsenter", "--net=" + netns, sys.executable, "-B", os.path.abspath(__file__),
                          "--partner-in", "127.0.0.1:8000", mfile], capture_output=True, text=True, timeout=900)
    procs.stop(bbs)
    if out.returncode != 0:
        return out.stderr.strip().splitlines()[-1] if out.stderr.strip() else "partner failed"
    wall, _, text = (float(x) for x in out.stdout.split())
    return wall, text


def dw_two_bbs(procs, build, work, modem, api_a, netns, bodies):
    """The BBS on engine A forwards the bodies to the one on engine B."""
    return two_bbs(procs, build, os.path.join(work, "dwa" + modem), os.path.join(work, "dwb" + modem), api_a,
                   "127.0.0.1:8000", bodies, limit=900, port=DIREWOLF_PORT, wrap_b=["nsenter", "--net=" + netns])


def dw_plain(api_a, netns, n):
    """(seconds of a plain transfer of n bytes from engine B to A, the link's turnaround),
    or (None, why)."""
    with Station(api_a, "XX4DDD", timeout=600, connect_timeout=120) as rx:
        rx.register()
        echo = threading.Thread(target=echo_pings, args=(rx,), daemon=True)
        echo.start()
        out = subprocess.run(["nsenter", "--net=" + netns, sys.executable, "-B", os.path.abspath(__file__),
                              "--plain-send", "127.0.0.1:8000", "XX3CCC", "XX4DDD", str(int(n))],
                             capture_output=True, text=True, timeout=900)
    if out.returncode != 0:
        return None, out.stderr.strip()[-200:]
    plain, turn = (float(x) for x in out.stdout.split())
    return plain, turn


class socket_free:
    """A free TCP port on the loopback."""

    def __enter__(self):
        # Below the ephemeral range: Direwolf refuses API ports above 49151.
        import random
        import socket
        while True:
            port = random.randint(20000, 39999)
            s = socket.socket()
            try:
                s.bind(("127.0.0.1", port))
                return port
            except OSError:
                pass
            finally:
                s.close()

    def __exit__(self, *exc):
        return False


def free_port():
    import socket
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def bench_web(procs, build, work, messages):
    """The web console: a page of 100 messages from a big store through the
    HTTP API, and the BBS's wake-ups while one live stream is open and nothing
    happens."""
    import http.client
    import json
    import socket
    name = "web console: a page of 100 messages, %s-message store" % ("10 000" if messages < 100000 else "100 000")
    try:
        ornpe, api = start_ornpe(procs, build, work)
        d = os.path.join(work, "web")
        subprocess.run([os.path.join(build, "genstore"), d, "--messages", str(messages)], check=True,
                       stdout=subprocess.DEVNULL)
        port = free_port()
        make_bbs(build, d, api, 4, more=["[WEB]", "LISTEN=127.0.0.1:%d" % port])
        subprocess.run([os.path.join(build, "ornctl"), "--dir", d, "web", "password"], input="bench password\n",
                       text=True, check=True, stdout=subprocess.DEVNULL)
        bbs = start_bbs(procs, build, d)
        # The console comes up after the BBS has written "UP".
        for _ in range(300):
            try:
                socket.create_connection(("127.0.0.1", port)).close()
                break
            except OSError:
                time.sleep(0.1)
        c = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        c.request("POST", "/api/login", body=json.dumps({"password": "bench password"}),
                  headers={"Content-Type": "application/json"})
        r = c.getresponse()
        r.read()
        cookie = {"Cookie": r.getheader("Set-Cookie").split(";")[0]}
        times = {}
        for query in ("offset=0&limit=100", "offset=50000&limit=100", "sort=MsgDate&desc=true&limit=100",
                      "sort=FromStation&offset=1000&limit=100", "to=XX1&limit=100"):
            took = []
            for _ in range(5):
                t0 = time.monotonic()
                c.request("GET", "/api/msg/list?" + query, headers=cookie)
                r = c.getresponse()
                body = r.read()
                took.append(time.monotonic() - t0)
                if r.status != 200:
                    raise RuntimeError("%s: %d %s" % (query, r.status, body[:80]))
            times[query] = sorted(took)[len(took) // 2]
        total = json.loads(body)["total"]
        worst = max(times.values())
        row(name, "%.1f" % (worst * 1000), "ms",
            "slowest median of 5 over offsets, sorts and a filter (%s); %d matched the filter; goal < 50" %
            (", ".join("%s %.0f" % (q.split("&")[0], t * 1000) for q, t in times.items()), total))
        # Idle without, then with one browser's live stream open.
        span = 10
        time.sleep(2)
        w0 = switches(bbs.pid)
        time.sleep(span)
        without = (switches(bbs.pid) - w0) / span
        live = socket.create_connection(("127.0.0.1", port))
        live.sendall(("GET /api/live HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: %s\r\n\r\n" % cookie["Cookie"]).encode())
        live.recv(4096)
        time.sleep(2)
        w0, c0 = switches(bbs.pid), cpu_seconds(bbs.pid)
        time.sleep(span)
        row("web console: idle wake-ups with one live stream open", "%.2f" % ((switches(bbs.pid) - w0) / span), "/s",
            "context switches of every thread over %d s, nothing happening (%.2f/s without the stream); "
            "CPU %.3f %%; goal < 2" % (span, without, (cpu_seconds(bbs.pid) - c0) / span * 100))
        live.close()
        procs.stop(bbs)
        procs.stop(ornpe)
    except Exception as e:  # noqa: BLE001 - every failure is reported
        row(name, "failed", "", str(e)[:120])


def bench_web_logins(procs, build, work):
    """Logins flooding the web console, from 20 addresses at once: how long a
    station waits for its answers meanwhile, and how many logins the console
    hashes before its budget answers 429."""
    import http.client
    import json
    import socket
    name = "web console: a station's answer while 20 addresses flood logins"
    try:
        ornpe, api = start_ornpe(procs, build, work)
        d = os.path.join(work, "weblogin")
        os.makedirs(d, exist_ok=True)
        port = free_port()
        make_bbs(build, d, api, 4, more=["[WEB]", "LISTEN=127.0.0.1:%d" % port])
        subprocess.run([os.path.join(build, "ornctl"), "--dir", d, "web", "password"], input="bench password\n",
                       text=True, check=True, stdout=subprocess.DEVNULL)
        bbs = start_bbs(procs, build, d)
        for _ in range(300):
            try:
                socket.create_connection(("127.0.0.1", port)).close()
                break
            except OSError:
                time.sleep(0.1)
        answers = {}
        stop = threading.Event()

        def flood(i):
            while not stop.is_set():
                try:
                    c = http.client.HTTPConnection("127.0.0.1", port, timeout=60,
                                                   source_address=("127.0.3.%d" % (i + 1), 0))
                    c.request("POST", "/api/login", body=json.dumps({"password": "guess"}),
                              headers={"Content-Type": "application/json"})
                    r = c.getresponse()
                    r.read()
                    c.close()
                    answers[r.status] = answers.get(r.status, 0) + 1
                except OSError:
                    answers["error"] = answers.get("error", 0) + 1

        with Station(api, "XX1WEB", timeout=30, connect_timeout=30) as st:
            st.connect(BBS)
            st.expect(">\r")
            st.send("N Al")
            st.expect(">\r")
            t_flood = time.monotonic()
            threads = [threading.Thread(target=flood, args=(i,), daemon=True) for i in range(20)]
            for t in threads:
                t.start()
            took = []
            while time.monotonic() - t_flood < 15:
                t0 = time.monotonic()
                st.send("L")
                st.expect(">\r")
                took.append(time.monotonic() - t0)
                time.sleep(0.1)
            stop.set()
            hashed_in = time.monotonic() - t_flood
            st.send("B")
            st.wait_disconnect()
        took.sort()
        row(name, "%.0f" % (took[len(took) // 2] * 1000), "ms",
            "median of %d L answers over 15 s, max %.0f ms; goal < 100" % (len(took), took[-1] * 1000))
        hashed = answers.get(401, 0)
        row("web console: logins hashed before the budget answers 429", "%d" % hashed, "logins",
            "in %.0f s from 20 addresses (%d answered 429); %.1f/s; budget 60 a minute, 4 at once" %
            (hashed_in, answers.get(429, 0), hashed / hashed_in))
        procs.stop(bbs)
        procs.stop(ornpe)
    except Exception as e:  # noqa: BLE001 - every failure is reported
        row(name, "failed", "", str(e)[:120])


def main():
    if sys.argv[1] == "--partner-in":
        import pickle
        wall, sent, text = partner_in(sys.argv[2], pickle.load(open(sys.argv[3], "rb")))
        print(wall, sent, text)
        return
    if sys.argv[1] == "--plain-send":
        print("%f %f" % plain_send(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])))
        return
    build, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    quick = "--quick" in sys.argv
    os.makedirs(work, exist_ok=True)
    procs = Procs()
    try:
        bench_sessions(procs, build, work)
        bench_front(procs, build, work)
        bench_paste(build, work)
        bench_forwarding(procs, build, work, 50 if quick else 200)
        bench_two_bbs(procs, build, work, 50 if quick else 200)
        bench_import(procs, build, work, 5000 if quick else 20000)
        bench_web(procs, build, work, 10000 if quick else 100000)
        bench_web_logins(procs, build, work)
        small = store_cost(procs, build, work, 100, 100)
        big = store_cost(procs, build, work, 10000 if quick else 100000, 100)
        row("storing a message, 100-message store", "%.2f" % (small * 1000), "ms CPU", "")
        row("storing a message, %s-message store" % ("10 000" if quick else "100 000"), "%.2f" % (big * 1000),
            "ms CPU", "ratio %.2f; goal <= 2" % (big / small if small else 0))
        if "--direwolf" in sys.argv:
            for modem, count in (("9600", 10 if quick else 40), ("1200", 5 if quick else 10)):
                bench_direwolf(procs, build, work, modem, count, with_front=modem == "9600")
    finally:
        procs.stop_all()


if __name__ == "__main__":
    main()
