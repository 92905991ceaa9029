#!/usr/bin/env python3
"""Two real Direwolf engines that hear each other over a simulated radio channel.

    airlab.py start --state DIR --port-a N [--modem 1200|9600] [--call-a C] [--call-b C]
    airlab.py restart-a --state DIR
    airlab.py stop --state DIR

Engine A runs here with its packet-engine TCP API on 127.0.0.1:N; engine B runs in
a private network namespace of its own, with its API on 127.0.0.1:8000 there (reach
it with `nsenter --net=DIR/b.netns PROGRAM`). The audio each one transmits is played
in real time into the other's receive pipe by relay.py: pipes cross network
namespaces, TCP does not, which is why B can have a port 8000 of its own.

start prints "ready" once both engines answer on their API and exits 0, leaving them
running; restart-a ends engine A and starts it again (a sysop restarting Direwolf), and
prints "ready" once it answers again; it exits 77 when this machine cannot run the lab (not root, no network
namespaces), 1 on any other failure. stop ends whatever start started.
Needs root, Debian's direwolf, util-linux (unshare) and iproute2.
"""
import argparse
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.realpath(__file__))
RATES = {"1200": 44100, "9600": 48000}
B_PORT = 8000
SKIP = 77

CONF = """\
ADEVICE stdin {pcm}
ACHANNELS 1
ARATE {rate}
CHANNEL 0
MYCALL {call}
MODEM {modem}
AGWPORT {port}
KISSPORT 0
"""

# ALSA's 'file' PCM pipes a copy of the samples into a command; 'null' swallows them.
ASOUNDRC = """\
pcm.dwtxA {{ type file slave.pcm "null" format "raw" file "| exec {relay} {b_rx} {rate}" }}
pcm.dwtxB {{ type file slave.pcm "null" format "raw" file "| exec {relay} {a_rx} {rate}" }}
"""

HEADER = struct.Struct("<B3xBxBx10s10sII")


class LabError(Exception):
    pass


def answers(port):
    """True if an engine on 127.0.0.1:port answers the version query 'R'."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1.0) as s:
            s.settimeout(1.0)
            s.sendall(HEADER.pack(0, ord("R"), 0, b"", b"", 0, 0))
            head = s.recv(HEADER.size, socket.MSG_WAITALL)
            return len(head) == HEADER.size and head[4:5] == b"R"
    except OSError:
        return False


def answers_in(netns, port):
    probe = "import sys; sys.path.insert(0, %r); import airlab; sys.exit(0 if airlab.answers(%d) else 1)" % (
        HERE, port)
    return subprocess.run(["nsenter", "--net=" + netns, sys.executable, "-B", "-c", probe],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def start(a):
    if os.geteuid() != 0:
        raise SystemExit(SKIP)
    if subprocess.run(["unshare", "--net", "true"], stderr=subprocess.DEVNULL).returncode != 0:
        raise SystemExit(SKIP)
    dw = shutil.which("direwolf")
    if not dw:
        raise LabError("direwolf is not installed (tools/install-deps installs it)")
    state = os.path.abspath(a.state)
    os.makedirs(os.path.join(state, "home"), exist_ok=True)
    p = lambda name: os.path.join(state, name)  # noqa: E731
    rate = RATES[a.modem]
    for name in ("a.rx", "b.rx"):
        if os.path.lexists(p(name)):
            os.unlink(p(name))
        os.mkfifo(p(name), 0o600)
    relay = "%s -B %s" % (sys.executable, os.path.join(HERE, "relay.py"))
    write(p("home/.asoundrc"), ASOUNDRC.format(relay=relay, a_rx=p("a.rx"), b_rx=p("b.rx"), rate=rate))
    write(p("a.conf"), CONF.format(pcm="dwtxA", rate=rate, call=a.call_a, modem=a.modem, port=a.port_a))
    write(p("b.conf"), CONF.format(pcm="dwtxB", rate=rate, call=a.call_b, modem=a.modem, port=B_PORT))
    commands = {
        "a": [dw, "-c", p("a.conf")] + OPTS,
        # B gets a network namespace of its own, with its loopback up.
        "b": ["unshare", "--net", "sh", "-c", 'ip link set lo up && exec "$@"', "sh",
              dw, "-c", p("b.conf")] + OPTS,
    }
    procs = {role: launch(state, role, argv) for role, argv in commands.items()}
    write(p("pids"), "".join("%d\n" % pr.pid for pr in procs.values()))
    b_netns = "/proc/%d/ns/net" % procs["b"].pid
    deadline = time.monotonic() + 30
    ready = {"a": False, "b": False}
    own_ns = os.stat("/proc/self/ns/net").st_ino
    while not all(ready.values()):
        for role, pr in procs.items():
            if pr.poll() is not None:
                raise LabError("engine %s ended while starting:\n%s" % (role.upper(), tail(p("dw-%s.log" % role))))
        ready["a"] = ready["a"] or answers(a.port_a)
        if not ready["b"] and os.stat(b_netns).st_ino != own_ns:
            ready["b"] = answers_in(b_netns, B_PORT)
        if time.monotonic() > deadline:
            raise LabError("engines not ready after 30 s: %s" % ready)
        time.sleep(0.2)
    if os.path.lexists(p("b.netns")):
        os.unlink(p("b.netns"))
    os.symlink(b_netns, p("b.netns"))
    print("ready a=127.0.0.1:%d b-netns=%s" % (a.port_a, p("b.netns")), flush=True)


OPTS = ["-t", "0", "-q", "hd"]


def launch(state, role, argv, mode="wb"):
    p = lambda name: os.path.join(state, name)  # noqa: E731
    env = dict(os.environ, HOME=p("home"))
    env.pop("XDG_CONFIG_HOME", None)
    # The receive pipe is opened read-write: no open waits for the relay, and the
    # engine never reads an end of file between transmissions.
    rx = os.open(p(role + ".rx"), os.O_RDWR)
    with open(p("dw-%s.log" % role), mode) as log:
        # A session of its own: stop ends the engine and the relay ALSA started for it.
        proc = subprocess.Popen(argv, stdin=rx, stdout=log, stderr=subprocess.STDOUT,
                                cwd=state, env=env, start_new_session=True)
    os.close(rx)
    return proc


def end_group(group):
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(group, sig)
        except ProcessLookupError:
            return
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline and alive(group):
            time.sleep(0.05)


def restart_a(state):
    p = lambda name: os.path.join(state, name)  # noqa: E731
    with open(p("pids")) as f:
        groups = [int(line) for line in f if line.strip().isdigit()]
    with open(p("a.conf")) as f:
        port = int(next(line.split()[1] for line in f if line.startswith("AGWPORT")))
    # B's relay keeps writing into A's receive pipe: a pipe without a reader would
    # end it (and B's transmitter with it), so this end holds the pipe meanwhile.
    hold = os.open(p("a.rx"), os.O_RDWR)
    try:
        end_group(groups[0])
        proc = launch(state, "a", [shutil.which("direwolf"), "-c", p("a.conf")] + OPTS, mode="ab")
    finally:
        os.close(hold)
    groups[0] = proc.pid
    write(p("pids"), "".join("%d\n" % g for g in groups))
    deadline = time.monotonic() + 30
    while not answers(port):
        if proc.poll() is not None or time.monotonic() > deadline:
            raise LabError("engine A did not come back:\n%s" % tail(p("dw-a.log")))
        time.sleep(0.2)
    print("ready a=127.0.0.1:%d" % port, flush=True)


def tail(path, n=15):
    try:
        with open(path, errors="replace") as f:
            return "".join(f.readlines()[-n:])
    except OSError:
        return "(no log)"


def stop(state):
    try:
        with open(os.path.join(state, "pids")) as f:
            groups = [int(line) for line in f if line.strip().isdigit()]
    except FileNotFoundError:
        return
    for sig in (signal.SIGTERM, signal.SIGKILL):
        for g in groups:
            try:
                os.killpg(g, sig)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline and any(alive(g) for g in groups):
            time.sleep(0.05)
    for name in ("pids", "a.rx", "b.rx", "b.netns"):
        try:
            os.unlink(os.path.join(state, name))
        except FileNotFoundError:
            pass


def alive(group):
    try:
        os.killpg(group, 0)
        return True
    except ProcessLookupError:
        return False


def main(argv):
    ap = argparse.ArgumentParser(prog="airlab.py")
    ap.add_argument("command", choices=("start", "restart-a", "stop"))
    ap.add_argument("--state", required=True)
    ap.add_argument("--port-a", type=int, default=8000)
    ap.add_argument("--modem", choices=sorted(RATES), default="1200")
    ap.add_argument("--call-a", default="XX1AAA")
    ap.add_argument("--call-b", default="XX2BBB")
    a = ap.parse_args(argv)
    if a.command == "stop":
        stop(os.path.abspath(a.state))
        return 0
    if a.command == "restart-a":
        try:
            restart_a(os.path.abspath(a.state))
        except LabError as e:
            print("airlab: %s" % e, file=sys.stderr)
            return 1
        return 0
    try:
        start(a)
    except LabError as e:
        print("airlab: %s" % e, file=sys.stderr)
        stop(os.path.abspath(a.state))
        return 1
    except SystemExit:
        stop(os.path.abspath(a.state))
        raise
    return 0


if __name__ == "__main__":
    sys.dont_write_bytecode = True
    sys.exit(main(sys.argv[1:]))
