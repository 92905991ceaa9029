#!/usr/bin/env python3
"""A telnet user pastes megabytes through ornpe's station gateway; the BBS stays on the air.

    ornpe_paste.py BUILD

ornbbs runs on ornpe, and ornpe in front of a second ornpe that stands for a
radio engine (--engine): the BBS's port 0 is that engine's radio port, its
port 1 ornpe's own, with the station gateway. A telnet user pastes 8 MB into a
message as fast as TCP takes it. Meanwhile a second telnet user and a station
on the radio engine send commands, and each answer comes within a second or
two.
ornpe never drops the BBS (it is still registered: a user who comes after the
paste is connected to it), the paster stays connected and its message is
stored whole.
"""
import os
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.realpath(__file__))
sys.path.insert(0, HERE)
from ornpe_air import BBS, PASTE_LINE, Failure, Procs, Terminal, paste_while_serving, text_of, wait  # noqa: E402

SIZE = 8 << 20


def main(build):
    work = tempfile.mkdtemp(prefix="ornpaste.")
    procs = Procs(build, work)
    try:
        radio = procs.ornpe("radio")
        front = procs.ornpe("front", "--engine", radio["api"], "--bbs", BBS)
        if not front["ports"] == "0=%s/0,1=ornpe" % radio["api"]:
            raise Failure("ports: %s" % front)
        port = front["api"].rsplit(":", 1)[1]
        d = procs.bbs(["[RADIO]", "PORTS=2", "ENGINEPORT=" + port,
                       "[PORT0]", "PORTNUM=0", "CHANNELS=2", "BBSONLY=0", "LIMITED=0", "TIMEOUT=0", "BEACONOK=0",
                       "[PORT1]", "PORTNUM=1", "CHANNELS=3", "BBSONLY=0", "LIMITED=0", "TIMEOUT=0", "BEACONOK=0"])
        took, answers, paster = paste_while_serving(front["gateway"], radio["api"], SIZE)
        slowest = max(answers, key=lambda a: a[1])
        print("paste of %d MB in %.1f s; %d answers to the others, the slowest %.2f s (%s)"
              % (SIZE >> 20, took, len(answers), slowest[1], slowest[0]))
        # The goal is under a second (bench/e2e_bench.py's row); a machine busy with
        # other work gets some slack here. A BBS that ornpe dropped never answers.
        if slowest[1] > 2.0:
            raise Failure("an answer took %.2f s during the paste: %s" % (slowest[1], answers))
        # The paste ends its message; the BBS takes it as it took the rest.
        paster.line("/EX")
        paster.until(">\r\n", 120)
        paster.line("B")
        paster.close()
        log = text_of(os.path.join(work, "front.log"))
        if "closed: does not read" in log or "closed:" in log:
            raise Failure("ornpe dropped a client:\n" + log[-3000:])
        # Still registered: a user after the paste reaches the BBS.
        late = Terminal(front["gateway"], "XX4LAT")
        late.until(">\r\n", 30)
        late.line("B")
        late.close()
        subprocess.run([os.path.join(build, "ornctl"), "--dir", d, "msg", "list"],
                       stdout=open(os.path.join(work, "list.txt"), "wb"), stderr=subprocess.STDOUT)
        procs.alive()
        wait("the pasted message stored", lambda: os.path.getsize(os.path.join(work, "list.txt")) > 0, 5)
        print("ornpe paste: ok")
        return 0
    except (Failure, OSError) as e:
        print("FAIL: %s\n--- front.log (end)\n%s" % (e, text_of(os.path.join(work, "front.log"))[-3000:]))
        return 1
    finally:
        procs.stop()
        if not os.environ.get("KEEP"):
            subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1])))
