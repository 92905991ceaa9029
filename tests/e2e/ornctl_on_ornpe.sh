#!/usr/bin/env bash
# ornctl against real BBSes on the virtual engine: every command on a running
# headless BBS; a partner set up with "user set" and a bulletin forwarded to
# a second BBS at "fwd now", without a restart; the same user commands on the
# stopped BBS; a BBS that starts while ornctl holds the directory waits for
# it however long it works; imports of what is no exchange file refused,
# a big one run while a station is served; a directory at the socket's
# name told; and bad requests (unknown call, field or command, bad value, malformed
# or huge socket requests, another uid) refused while stations are served.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
HERE=$(cd "$(dirname "$0")" && pwd)
CTL="$BUILD/ornctl"

start_ornpe
station() { python3 "$HERE/station.py" --engine 127.0.0.1:$api_port --timeout 20 --connect-timeout 10 "$@"; }

a="$WORK/a"; b="$WORK/b"; mkdir -p "$a" "$b"
# FWDMIN far from now: only "fwd now" starts a cycle during the test.
fwdmin=$(( ($(date +%-M) + 30) % 60 ))
write_ini "$a" "[PERSONAL]" "MYCALL=XX9ORN-1" "MYHIER=#ATH.GRC.EU" "FWDOK=1" "FWDMIN=$fwdmin" "BIDGENERATION=1" \
  "[RADIO]" "PORTS=1" "ENGINEPORT=$api_port" "[PORT0]" "CHANNELS=3" "BBSONLY=0" "LIMITED=0" "TIMEOUT=0" \
  "[LOG]" "LOGOK=1" "LOGOTHER=1"
write_ini "$b" "[PERSONAL]" "MYCALL=XX8ORN-1" "MYHIER=#SKG.GRC.EU" "[RADIO]" "PORTS=1" "ENGINEPORT=$api_port" \
  "[PORT0]" "CHANNELS=3" "BBSONLY=0" "LIMITED=0" "TIMEOUT=0" "[LOG]" "LOGOK=1" "LOGOTHER=1"

declare -A bbspid
start_bbs() {  # DIR
  local d=$1
  rm -f "$d/BBS.LOG"
  "$BUILD/ornbbs" --headless --echo-channels --dir "$d" >>"$d.out" 2>>"$d.err" &
  bbspid[$d]=$!
  pids+=($!)
  wait_for 15 grep -qs "UP" "$d/BBS.LOG" || fail "BBS in $d did not start: $(cat "$d.err")"
  wait_for 10 test -S "$d/ornbbs.sock" || fail "no socket in $d"
}
stop_bbs() {  # DIR
  kill -TERM ${bbspid[$1]}
  wait ${bbspid[$1]} || fail "BBS exit status $?"
  [ ! -e "$1/ornbbs.sock" ] || fail "socket left behind in $1"
}

# ctl RC DIR ARGS...: ornctl must end with RC; its output in $out, errors in $err.
ctl() {
  local want=$1 dir=$2; shift 2
  local rc=0
  "$CTL" --dir "$dir" "$@" >"$WORK/ctl.out" 2>"$WORK/ctl.err" </dev/null || rc=$?
  out=$(cat "$WORK/ctl.out"); err=$(cat "$WORK/ctl.err")
  [ "$rc" = "$want" ] || fail "ornctl $* ended $rc, not $want: $out $err"
}
# jq-like reading of the last output: python expression on `j`.
json() { python3 -c "import json,sys; j=json.load(open('$WORK/ctl.out')); print($1)"; }

start_bbs "$a"
start_bbs "$b"
[ "$(stat -c %a "$a/ornbbs.sock")" = 600 ] || fail "socket mode $(stat -c %a "$a/ornbbs.sock")"

# --- status, running ---
ctl 0 "$a" status --json
[ "$(json 'j["call"], j["running"], j["engine"]["connected"], j["engine"]["port"]')" = "XX9ORN-1 True True $api_port" ] ||
  fail "status: $out"
[ "$(json 'len(j["channels"]), j["channels"][0]["state"], j["channels"][0]["call"]')" = "3 idle None" ] ||
  fail "status channels: $out"
ctl 0 "$a" status
grep -q "^engine  *connected" <<<"$out" || fail "plain status: $out"

# A station on channel 1, seen by status while it is on.
station --call XX1ABC connect XX9ORN-1 expect ">\r" send "N Anna" expect ">\r" sleep 3 send "B" wait-disconnect \
  >"$WORK/s1.out" 2>&1 &
spid=$!; pids+=($spid)
wait_for 10 bash -c "\"$CTL\" --dir \"$a\" status --json | grep -q '\"call\":\"XX1ABC\",\"state\":\"station\"'" ||
  fail "station not in status: $("$CTL" --dir "$a" status)"
wait $spid || fail "station: $(cat "$WORK/s1.out")"

# --- users ---
ctl 0 "$a" user list --json
[ "$(json '[u["Call"] for u in j]')" = "['XX1ABC']" ] || fail "user list: $out"
ctl 0 "$a" user add XX8ORN
ctl 1 "$a" user add XX8ORN
[[ "$err" == "ornctl: XX8ORN is already a user" ]] || fail "double add said: $err"
ctl 0 "$a" user set XX8ORN Type=B isfwdstation=y OkWithBids=Y FwdQueue=1 Name=Skg 'FwdDest=@WW\n>XX3CCC' \
  'Hcon[0].send=XX8ORN-1' 'Hcon[0].rcv=CONNECTED' 'Hcon[0].mlength=0' 'Hcon[0].daysago=0' 'Hcon[0].port=1' \
  'Hcon[0].hours=0023' 'Hcon[0].flag=n'
ctl 0 "$a" user show XX8ORN --json
[ "$(json 'j["Type"], j["isFwdStation"], j["FwdQueue"], repr(j["FwdDest"]), j["Hcon"][0]["send"], j["Hcon"][0]["flag"]')" = \
  "B Y 1 '@WW\r\n>XX3CCC\r\n' XX8ORN-1 N" ] || fail "user show: $out"
ctl 0 "$a" user list --partners
grep -q "^2  *XX8ORN  *Skg  *B  *Y  *1$" <<<"$out" || fail "partner list: $out"
ctl 0 "$a" user password XX1ABC
pw=$out
[ ${#pw} = 80 ] && [ "$(cat "$a/XX1ABC.pas")" = "$pw" ] || fail "password: $pw"
ctl 0 "$a" user show XX1ABC --json
[ "$(json 'j["Password"]')" = "$pw" ] || fail "password not stored"

# Bad values are refused with the field's name, and nothing is written.
for bad in "FwdQueue=51" "Type=Q" "Hcon[0].hours=2400" "Hcon[10].port=1" "Hcon[0].mlength=<x" "FwdKind=Z" \
           "Name=ABCDEFGHIJKLMNOP" "FwdDest=ALL" "MaxStayMinutes=-1" "PasswordOk=2"; do
  field=${bad%%=*}
  ctl 1 "$a" user set XX8ORN Name=Changed "$bad"
  case $field in
    Hcon\[10\]*) [[ "$err" == "ornctl: no such field: Hcon[10].port" ]] || fail "$bad said: $err" ;;
    *) [[ "$err" == "ornctl: $field: "* ]] || fail "$bad said: $err" ;;
  esac
  [ $(wc -l <"$WORK/ctl.err") = 1 ] || fail "more than one line for $bad: $err"
done
ctl 0 "$a" user show XX8ORN --json
[ "$(json 'j["Name"], j["FwdQueue"], j["Type"]')" = "Skg 1 B" ] || fail "a refused set wrote: $out"
ctl 1 "$a" user set XX8ORN Bogus=1
[ "$err" = "ornctl: no such field: Bogus" ] || fail "unknown field said: $err"
ctl 1 "$a" user show XX7NOPE
[ "$err" = "ornctl: no such user: XX7NOPE" ] || fail "unknown call said: $err"
ctl 2 "$a" frobnicate
[[ "$err" == "ornctl: unknown command frobnicate"* ]] || fail "unknown command said: $err"
ctl 2 "$a" user set XX8ORN
ctl 2 "$a" msg list --sideways
ctl 2 "$a" user

# The partner's side: XX9ORN is a BBS that may forward with BIDs.
ctl 0 "$b" user add XX9ORN
ctl 0 "$b" user set XX9ORN Type=B isFwdStation=Y OkWithBids=Y

# --- messages ---
printf 'Net on Sunday at 10.\n73\n' | "$CTL" --dir "$a" msg send --to ALL@WW --type B --subject "Weekend net" >"$WORK/send.out" ||
  fail "msg send: $(cat "$WORK/send.out")"
grep -q "^stored as 1001 (BID XX9ORN_1001)" "$WORK/send.out" || fail "msg send said: $(cat "$WORK/send.out")"
printf 'Hello Anna\n' | "$CTL" --dir "$a" msg send --to XX1ABC --subject "For you" --json >"$WORK/ctl.out" || fail "msg send P"
[ "$(json 'j["MsgNo"], j["Type"], j["Status"], j["ToStation"]')" = "1002 P N XX1ABC" ] || fail "msg send json: $(cat "$WORK/ctl.out")"
ctl 0 "$a" fwd queue XX8ORN --json
[ "$(json '[q["FwdMsgNumbers"] for q in j["FwdMsgNo"]]')" = "[1001]" ] || fail "queue of XX8ORN: $out"
ctl 0 "$a" msg list --to XX1ABC --json
[ "$(json '[m["MsgNo"] for m in j]')" = "[1002]" ] || fail "msg list --to: $out"
ctl 0 "$a" msg list --type B --status N
grep -q "^1001  *BN .*Weekend net$" <<<"$out" || fail "msg list: $out"
ctl 0 "$a" msg read 1002
grep -q "^Hello Anna$" <<<"$out" && grep -q "^Subject  *For you$" <<<"$out" || fail "msg read: $out"
ctl 0 "$a" status --json
[ "$(json 'j["counters"]["lastmsg"], j["counters"]["activemsg"], j["mailbeacon"]')" = "1002 2 ['XX1ABC']" ] ||
  fail "counters and mail after send: $out"
ctl 0 "$a" msg hold 1002
ctl 0 "$a" msg list --status H --json
[ "$(json '[m["MsgNo"] for m in j]')" = "[1002]" ] || fail "held: $out"
ctl 1 "$a" msg release 1001
ctl 0 "$a" msg release 1002
ctl 0 "$a" msg export "$WORK/out.txt" 1001 1002
grep -q "^/EX" "$WORK/out.txt" && grep -q "Hello Anna" "$WORK/out.txt" || fail "export: $(cat "$WORK/out.txt")"
ctl 0 "$a" msg kill 1002
ctl 0 "$a" status --json
[ "$(json 'j["counters"]["activemsg"], j["mailbeacon"]')" = "1 []" ] || fail "counters after kill: $out"
ctl 1 "$a" msg kill 4711
[ "$err" = "ornctl: no such message: 4711" ] || fail "kill of nothing said: $err"
printf 'SP XX1ABC @ XX9ORN < XX5DEF\nImported\nFrom a file.\n/EX\n' >"$WORK/in.txt"
ctl 0 "$a" msg import "$WORK/in.txt"
[ "$out" = "imported 1: 1003, already here 0, skipped 0" ] || fail "import: $out"
ctl 0 "$a" msg import "$WORK/in.txt"
[ "$out" = "imported 0, already here 1, skipped 0" ] || fail "second import: $out"

# What is no exchange file is refused at once, and the BBS goes on answering.
rc=0
timeout 10 "$CTL" --dir "$a" msg import /dev/zero >/dev/null 2>"$WORK/ctl.err" || rc=$?
[ $rc = 1 ] && grep -q "^ornctl: /dev/zero is not a regular file" "$WORK/ctl.err" ||
  fail "import of /dev/zero: $rc $(cat "$WORK/ctl.err")"
ctl 1 "$a" msg import "$WORK"
[ "$err" = "ornctl: $WORK is a directory, not an exchange file" ] || fail "import of a directory: $err"
printf 'SP XX1ABC @ XX9ORN < XX5DEF\nCut\nno end\n' >"$WORK/cut.txt"
ctl 1 "$a" msg import "$WORK/cut.txt"
[[ "$err" == *"ends inside the message that begins at line 1"* ]] || fail "import of a cut file: $err"
ctl 0 "$a" status --json
[ "$(json 'j["counters"]["lastmsg"]')" = 1003 ] || fail "a refused import stored: $out"

# A bigger import runs while a station is served (every answer within 2 s),
# and the same file again stores nothing.
python3 - "$WORK/many.txt" <<'MANY'
import sys
body = "".join("Line %02d of an imported bulletin, long enough to be a line of text.\n" % i for i in range(20))
with open(sys.argv[1], "w") as f:
    for i in range(2000):
        f.write("SP XX6ZZZ @ XX9ORN < XX5DEF\nImported %d\n%s/EX\n" % (i, body))
MANY
"$CTL" --dir "$a" msg import "$WORK/many.txt" >"$WORK/many.out" 2>&1 &
imp=$!; pids+=($imp)
steps=(connect XX9ORN-1 expect ">\r")
for i in 1 2 3 4 5 6 7 8; do steps+=(send "N Anna" expect ">\r" sleep 0.2); done
python3 "$HERE/station.py" --engine 127.0.0.1:$api_port --timeout 2 --connect-timeout 10 --call XX1ABC \
  "${steps[@]}" send B wait-disconnect >"$WORK/s4.out" 2>&1 || fail "station during the import: $(cat "$WORK/s4.out")"
kill -0 $imp 2>/dev/null || echo "(the import ended before the station did)"
wait $imp || fail "big import: $(cat "$WORK/many.out")"
[ "$(cat "$WORK/many.out")" = "imported 2000: 1004-3003, already here 0, skipped 0" ] ||
  fail "big import said: $(cat "$WORK/many.out")"
ctl 0 "$a" msg import "$WORK/many.txt"
[ "$out" = "imported 0, already here 2000, skipped 0" ] || fail "big import again: $out"

# --- forwarding: the partner made above takes the bulletin now ---
ctl 0 "$a" fwd now
wait_for 30 bash -c "\"$CTL\" --dir \"$b\" msg list | grep -q 'Weekend net'" ||
  fail "bulletin not at the partner: $(tail -20 "$a.out")"
ctl 0 "$b" msg list --json
[ "$(json '[(m["Bid"], m["FromStation"].split(".")[0]) for m in j]')" = "[('XX9ORN_1001', 'XX9ORN')]" ] ||
  fail "at the partner: $out"
wait_for 30 bash -c "\"$CTL\" --dir \"$a\" fwd queue XX8ORN | grep -q ': 0 waiting'" || fail "queue not emptied"
ctl 0 "$a" optimize now
[ "$out" = "repair started" ] || fail "optimize: $out"
wait_for 30 bash -c "\"$CTL\" --dir \"$a\" status --json | grep -q '\"repair\":{\"running\":false'" || fail "repair did not end"

# --- the monitor ---
"$CTL" --dir "$a" monitor >"$WORK/monitor.out" 2>&1 &
mon=$!; pids+=($mon)
sleep 0.5
station --call XX1ABC connect XX9ORN-1 expect ">\r" send "B" wait-disconnect >"$WORK/s2.out" 2>&1 ||
  fail "station: $(cat "$WORK/s2.out")"
wait_for 10 grep -q "XX1ABC" "$WORK/monitor.out" || fail "monitor: $(cat "$WORK/monitor.out")"
kill $mon; wait $mon 2>/dev/null || true

# --- bad requests on the socket; stations are still served ---
python3 - "$a/ornbbs.sock" <<'PY' || fail "socket requests"
import json, socket, sys
def ask(data):
    s = socket.socket(socket.AF_UNIX)
    s.connect(sys.argv[1])
    try:
        s.sendall(data)
    except (BrokenPipeError, ConnectionResetError):
        pass
    got = b""
    try:
        while True:
            piece = s.recv(65536)
            if not piece:
                break
            got += piece
    except ConnectionResetError:
        pass
    s.close()
    return got
for bad in (b"garbage\n", b'{"args":"status"}\n', b'{"args":[1]}\n', b"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]\n",
            b'{"args":["status"],"input":"\\ud800"}\n'):
    a = json.loads(ask(bad))
    assert a["status"] == 1 and a["error"].startswith("malformed request"), (bad, a)
huge = ask(b"x" * (300 * 1024))
assert huge == b"" or json.loads(huge)["error"] == "request too long", huge
a = json.loads(ask(b'{"args":["status","--json"]}\n'))
assert a["status"] == 0 and json.loads(a["out"])["running"], a
PY
station --call XX1ABC connect XX9ORN-1 expect ">\r" send "B" wait-disconnect >"$WORK/s3.out" 2>&1 ||
  fail "station after bad requests: $(cat "$WORK/s3.out")"

# --- a request from another uid is refused by the BBS itself ---
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  install -m 755 "$CTL" "$WORK/ornctl-copy"
  chmod 755 "$WORK" "$a"
  rc=0
  setpriv --reuid=65534 --regid=65534 --clear-groups "$WORK/ornctl-copy" --dir "$a" status >/dev/null 2>"$WORK/uid.err" || rc=$?
  [ $rc = 1 ] && grep -q "permission denied" "$WORK/uid.err" || fail "other uid, socket 0600: $rc $(cat "$WORK/uid.err")"
  chmod 666 "$a/ornbbs.sock"  # past the file mode: the peer's uid is checked on its own
  rc=0
  setpriv --reuid=65534 --regid=65534 --clear-groups "$WORK/ornctl-copy" --dir "$a" user list >/dev/null 2>"$WORK/uid.err" || rc=$?
  [ $rc = 1 ] && grep -q "only the BBS's own user or root" "$WORK/uid.err" || fail "other uid: $rc $(cat "$WORK/uid.err")"
  chmod 600 "$a/ornbbs.sock"
  uid_checked=1
fi

# --- the stopped BBS ---
stop_bbs "$a"
ctl 0 "$a" status --json
[ "$(json 'j["running"], j["counters"]["lastmsg"]')" = "False 3003" ] || fail "stopped status: $out"
ctl 0 "$a" user show XX8ORN --json
[ "$(json 'j["Name"], j["FwdQueue"]')" = "Skg 1" ] || fail "stopped user show: $out"
ctl 0 "$a" user set XX8ORN Name=Thessaloniki 'Hcon[1].hours=0506'
ctl 1 "$a" user set XX8ORN FwdQueue=x
ctl 1 "$a" fwd now
[[ "$err" == *"not running"* ]] || fail "fwd now on a stopped BBS said: $err"
printf 'While stopped\n' | "$CTL" --dir "$a" msg send --to ALL@WW --type B --subject "Stopped" >/dev/null ||
  fail "msg send on a stopped BBS"
ctl 0 "$a" fwd queue XX8ORN --json
[ "$(json '[q["FwdMsgNumbers"] for q in j["FwdMsgNo"]]')" = "[3004]" ] || fail "stopped send not queued: $out"

# A BBS that starts while ornctl holds the directory says so and waits for
# it, however long it works (longer than the ten seconds it once waited).
python3 - "$a" >"$WORK/hold.out" 2>&1 <<'PY' &
import fcntl, os, sys, time
d = sys.argv[1]
brief = open(os.path.join(d, "ornctl.lock"), "a")
fcntl.flock(brief, fcntl.LOCK_SH)
lock = open(os.path.join(d, "ornbbs.lock"), "a")
fcntl.flock(lock, fcntl.LOCK_EX)
print("held", flush=True)
time.sleep(12)
PY
holder=$!
wait_for 5 grep -qs held "$WORK/hold.out" || fail "lock holder"
rm -f "$a/BBS.LOG"
"$BUILD/ornbbs" --headless --echo-channels --dir "$a" >>"$a.out" 2>"$a.err" &
bbspid[$a]=$!
pids+=($!)
wait_for 5 grep -qs "ornctl is working on the BBS's files" "$a.err" || fail "no word of the wait: $(cat "$a.err")"
wait $holder
wait_for 15 grep -qs "UP" "$a/BBS.LOG" || fail "BBS did not start after the wait: $(cat "$a.err")"
wait_for 10 test -S "$a/ornbbs.sock" || fail "no socket in $a"
! grep -q "Already started" "$a.err" || fail "said it was started already: $(cat "$a.err")"
ctl 0 "$a" user show XX8ORN --json
[ "$(json 'j["Name"], j["Hcon"][1]["hours"]')" = "Thessaloniki 0506" ] || fail "after restart: $out"
ctl 0 "$a" status --json
[ "$(json 'j["running"]')" = True ] || fail "not running after the wait: $out"
stop_bbs "$a"

# A directory where the socket belongs: the BBS serves on and names it, and
# ornctl names it at once instead of waiting for an answer.
mkdir "$a/ornbbs.sock"
"$BUILD/ornbbs" --headless --echo-channels --dir "$a" >>"$a.out" 2>"$a.err" &
bbspid[$a]=$!
pids+=($!)
wait_for 15 grep -qs "no ornctl socket" "$a.err" || fail "socket directory not told: $(cat "$a.err")"
grep -q "cannot listen on $a/ornbbs.sock: a directory of that name is in the way" "$a.err" ||
  fail "socket directory: $(cat "$a.err")"
start=$SECONDS
ctl 1 "$a" status
[ "$err" = "ornctl: the BBS is running, but $a/ornbbs.sock is a directory, not its socket: remove it and restart the BBS" ] ||
  fail "ornctl on a socket directory: $err"
[ $((SECONDS - start)) -lt 3 ] || fail "ornctl waited $((SECONDS - start)) s for a directory"
kill -TERM ${bbspid[$a]}
wait ${bbspid[$a]} || fail "BBS exit status $?"
rmdir "$a/ornbbs.sock"
stop_bbs "$b"
[ -n "${uid_checked:-}" ] || echo "(another uid not tried: not root)"
echo "ornctl on ornpe: ok"
