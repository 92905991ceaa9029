#!/usr/bin/env bash
# The web console on a headless BBS on the virtual engine, seen as an
# attacker and as the sysop would see it, over plain HTTP (python3's
# http.client and raw sockets, no browser): nothing without a login, no
# change without the CSRF token, wrong passwords slowed and logged, huge and
# endless requests cut off, paths outside the compiled-in set refused, the
# connection count bounded; the sysop's login, status and SYSOP switch agree
# with ornctl, and a station's line arrives on the live stream. A BBS
# without [WEB] listens on no TCP port; a bad LISTEN is told and the BBS
# serves on.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
HERE=$(cd "$(dirname "$0")" && pwd)
CTL="$BUILD/ornctl"

start_ornpe
web_port=$(free_port)
a="$WORK/a"; b="$WORK/b"; c="$WORK/c"; mkdir -p "$a" "$b" "$c"
common=("[RADIO]" "PORTS=1" "ENGINEPORT=$api_port" "[PORT0]" "CHANNELS=2" "BBSONLY=0" "LIMITED=0" "TIMEOUT=0"
        "[LOG]" "LOGOK=1" "LOGOTHER=1")
write_ini "$a" "[PERSONAL]" "MYCALL=XX9ORN-1" "${common[@]}" "[WEB]" "LISTEN=127.0.0.1:$web_port" \
  "PROXIES=127.0.0.2" "HOSTS=bbs.example.org"
write_ini "$b" "[PERSONAL]" "MYCALL=XX8ORN-1" "${common[@]}"
write_ini "$c" "[PERSONAL]" "MYCALL=XX7ORN-1" "${common[@]}" "[WEB]" "LISTEN=127.0.0.1:notaport"

start_bbs() {  # DIR
  "$BUILD/ornbbs" --headless --dir "$1" >>"$1.out" 2>>"$1.err" &
  pids+=($!)
  eval "pid_$(basename "$1")=$!"
  wait_for 15 grep -qs "UP" "$1/BBS.LOG" || fail "BBS in $1 did not start: $(cat "$1.err")"
  wait_for 10 test -S "$1/ornbbs.sock" || fail "no socket in $1"
}

# Without a password every login is refused, and the start says so.
start_bbs "$a"
# The console starts after the ornctl socket.
wait_for 10 grep -q "web console on 127.0.0.1:$web_port (no password set" "$a.err" || fail "no start line: $(cat "$a.err")"
python3 - "$web_port" <<'PY' || fail "a login without a password set was not refused"
import http.client, json, sys
c = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]), timeout=10)
c.request("POST", "/api/login", body=json.dumps({"password": "anything"}), headers={"Content-Type": "application/json"})
r = c.getresponse()
assert r.status == 401 and "ornctl web password" in r.read().decode(), r.status
PY

# The password is set while the BBS runs; the next login finds it.
echo "correct horse battery" | "$CTL" --dir "$a" web password >/dev/null || fail "ornctl web password"
[ "$(stat -c %a "$a/WEB.PWD")" = 660 ] || fail "WEB.PWD mode $(stat -c %a "$a/WEB.PWD")"
grep -q '^\$argon2id\$' "$a/WEB.PWD" || fail "WEB.PWD holds no Argon2id hash"
! grep -q "correct horse" "$a/WEB.PWD" "$a/ORN.INI" || fail "the password itself was written down"
echo "short" | "$CTL" --dir "$a" web password >/dev/null 2>&1 && fail "a short password was taken"

start_bbs "$b"
start_bbs "$c"
wait_for 10 grep -q "no web console: \[WEB\] LISTEN=127.0.0.1:notaport is not HOST:PORT" "$c.err" ||
  fail "bad LISTEN not told: $(cat "$c.err")"
"$CTL" --dir "$c" status >/dev/null || fail "the BBS with a bad LISTEN does not serve"

python3 "$HERE/web_security.py" --port "$web_port" --ornctl "$CTL" --dir "$a" --engine "127.0.0.1:$api_port" \
  --station "$HERE/station.py" --no-web-pids "$pid_b,$pid_c" || fail "web security checks"

# Wrong passwords are in the activity log, with the address; so is every
# login, logout and change the console made.
grep -q "web console: wrong password.*127.0.0.1" "$a/BBS.LOG" || fail "wrong password not logged: $(tail -5 "$a/BBS.LOG")"
for line in "<Web> login from 127.0.0.1" "<Web> logout from 127.0.0.1" "<Web> sysop on from 127.0.0.1" \
            "<Web> msg import from 127.0.0.1" "<Web> msg export from 127.0.0.1" "<Web> talk start from 127.0.0.1" \
            "<Web> page decline 1-" "session(s) ended from -"; do
  grep -qF "$line" "$a/BBS.LOG" || fail "no audit line \"$line\": $(grep -F '<Web>' "$a/BBS.LOG" | tail -20)"
done
# A BBS stopped while a browser follows it ends cleanly.
python3 - "$web_port" <<'PY' &
import http.client, json, socket, sys, time
port = int(sys.argv[1])
c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
c.request("POST", "/api/login", body=json.dumps({"password": "correct horse battery"}),
          headers={"Content-Type": "application/json"})
r = c.getresponse()
r.read()
s = socket.create_connection(("127.0.0.1", port))
s.sendall(("GET /api/live HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: %s\r\n\r\n" % r.getheader("Set-Cookie").split(";")[0]).encode())
s.recv(4096)
print("streaming", flush=True)
s.settimeout(20)
while s.recv(4096):
    pass
PY
follower=$!
pids+=($follower)
sleep 3
kill -TERM "$pid_a"; wait "$pid_a" || fail "BBS exit status $? with a live stream open"
wait "$follower" || true
! ls "$a"/WEBIMP-* "$a"/WEBEXP-* 2>/dev/null || fail "temporary upload files left behind"
echo "web_security: ok"
