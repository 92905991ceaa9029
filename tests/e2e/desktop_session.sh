#!/usr/bin/env bash
# The desktop host on the virtual engine: a station connects and registers
# while the sysop's window shows it; the screenshot goes to
# BUILD/screenshots/desktop-session.png. The desktop serves the web console
# as the headless BBS does.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
command -v xvfb-run >/dev/null || fail "xvfb-run is not installed (tools/install-deps)"
STATION="python3 $(dirname "$0")/station.py"
mkdir -p "$BUILD/screenshots" "$WORK/bbs"
shot="$BUILD/screenshots/desktop-session.png"
rm -f "$shot"

api_port=$(free_port)
"$BUILD/ornpe" --listen 127.0.0.1:$api_port --gateway 127.0.0.1:0 >"$WORK/ornpe.out" 2>"$WORK/ornpe.log" &
pids+=($!)
wait_for 10 grep -qs "^ornpe ready" "$WORK/ornpe.out" || fail "ornpe not ready: $(cat "$WORK/ornpe.log")"
web_port=$(free_port)
write_ini "$WORK/bbs" "[PERSONAL]" "MYCALL=XX9ORN-1" "[RADIO]" "ENGINEPORT=$api_port" \
  "[PORT0]" "CHANNELS=2" "BBSONLY=0" "[LOG]" "LOGOK=1" "[WEB]" "LISTEN=127.0.0.1:$web_port"
echo "desktop web password" | "$BUILD/ornctl" --dir "$WORK/bbs" web password >/dev/null || fail "web password"
export BBS="$BUILD/ornbbs" DIR="$WORK/bbs" SHOT="$shot" API=127.0.0.1:$api_port STATION WEB_PORT=$web_port
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -e
  QT_QPA_PLATFORM=xcb "$BBS" --dir "$DIR" >"$DIR/../out" 2>&1 &
  pid=$!
  for i in $(seq 1 100); do grep -qs UP "$DIR/BBS.LOG" && break; sleep 0.1; done
  $STATION --engine "$API" --call XX1ABC --timeout 15 connect XX9ORN-1 expect ">\r" \
    send "N John" expect "Tnx, John." sleep 1 >"$DIR/../station.out" 2>&1
  python3 -c "
import http.client, json, sys
c = http.client.HTTPConnection(\"127.0.0.1\", int(sys.argv[1]), timeout=10)
c.request(\"POST\", \"/api/login\", body=json.dumps({\"password\": \"desktop web password\"}), headers={\"Content-Type\": \"application/json\"})
r = c.getresponse(); r.read()
c.request(\"GET\", \"/api/status\", headers={\"Cookie\": r.getheader(\"Set-Cookie\").split(\";\")[0]})
r = c.getresponse()
assert r.status == 200 and json.loads(r.read())[\"call\"] == \"XX9ORN-1\"
" "$WEB_PORT" >"$DIR/../web.out" 2>&1
  sleep 1
  scrot "$SHOT"
  kill -TERM $pid
  wait $pid
' || fail "desktop run failed: $(cat "$WORK/out" "$WORK/station.out" 2>/dev/null)"
[ -s "$shot" ] || fail "no screenshot"
[ ! -s "$WORK/web.out" ] || fail "web console of the desktop: $(cat "$WORK/web.out")"
grep -q "expect ok" "$WORK/station.out" || fail "station: $(cat "$WORK/station.out")"
echo "desktop session: $shot"
