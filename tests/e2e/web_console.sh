#!/usr/bin/env bash
# The web console in a real browser (headless Chromium driven by Selenium)
# against a headless BBS on the virtual engine: log in, a station's line live
# in its channel, messages paged, read and sent, a forwarding partner set up
# in the editor (ornctl user show agrees), "Forward now" delivering to a
# second BBS, a page answered and chatted in the channel's view (the chat's
# controls back after a reload; another station's page while the sysop
# types leaves the keyboard in the chat; a chat whose station leaves frees
# its channel for the next station). Screenshots
# of every view at phone and desktop size stay in BUILD/screenshots/web-*.png.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
HERE=$(cd "$(dirname "$0")" && pwd)
CTL="$BUILD/ornctl"

[ -x /usr/bin/chromedriver ] && command -v chromium >/dev/null || { echo "SKIP: chromium and chromium-driver are not installed"; exit 77; }
# Debian's python3-selenium is for the system's python; another python3 first in PATH may lack it.
PY=
for p in python3 /usr/bin/python3; do
  if "$p" -c "import selenium" 2>/dev/null; then PY=$p; break; fi
done
[ -n "$PY" ] || { echo "SKIP: python3-selenium is not installed"; exit 77; }

make_workdir
pids=()
# Chromium may still be writing its desktop database into the work directory for a moment after it quits.
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
      [ -n "${KEEP:-}" ] || rm -rf "$WORK" 2>/dev/null || { sleep 1; rm -rf "$WORK"; }' EXIT
shots="$BUILD/screenshots"
mkdir -p "$shots"
rm -f "$shots"/web-*.png

start_ornpe
a="$WORK/a"; b="$WORK/b"; mkdir -p "$a" "$b"
web_port=$(free_port)
# FWDMIN far from now: only "Forward now" starts a cycle during the test.
fwdmin=$(( ($(date +%-M) + 30) % 60 ))
write_ini "$a" "[PERSONAL]" "MYCALL=XX9ORN-1" "MYNAME=Nikos" "MYHIER=#ATH.GRC.EU" "FWDOK=1" "FWDMIN=$fwdmin" \
  "BIDGENERATION=1" "SYSOP=0" "[RADIO]" "PORTS=1" "ENGINEPORT=$api_port" "[PORT0]" "CHANNELS=3" "BBSONLY=0" \
  "LIMITED=0" "TIMEOUT=0" "[LOG]" "LOGOK=1" "LOGOTHER=1" "[WEB]" "LISTEN=127.0.0.1:$web_port"
write_ini "$b" "[PERSONAL]" "MYCALL=XX8ORN-1" "MYHIER=#SKG.GRC.EU" "[RADIO]" "PORTS=1" "ENGINEPORT=$api_port" \
  "[PORT0]" "CHANNELS=3" "BBSONLY=0" "LIMITED=0" "TIMEOUT=0" "[LOG]" "LOGOK=1" "LOGOTHER=1"

start_bbs() {  # DIR
  "$BUILD/ornbbs" --headless --dir "$1" >>"$1.out" 2>>"$1.err" &
  pids+=($!)
  wait_for 15 grep -qs "UP" "$1/BBS.LOG" || fail "BBS in $1 did not start: $(cat "$1.err")"
  wait_for 10 test -S "$1/ornbbs.sock" || fail "no socket in $1"
}
start_bbs "$a"
start_bbs "$b"
password="web console $RANDOM$RANDOM"
printf '%s\n' "$password" | "$CTL" --dir "$a" web password >/dev/null || fail "ornctl web password"
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$web_port" 2>/dev/null || fail "console not listening: $(cat "$a.err")"

# The partner's side: XX9ORN may forward to it with BIDs.
"$CTL" --dir "$b" user add XX9ORN >/dev/null
"$CTL" --dir "$b" user set XX9ORN Type=B isFwdStation=Y OkWithBids=Y >/dev/null

# 251 messages: enough for three pages; one of them for Anna, one for the sysop.
"$PY" - "$WORK/many.txt" <<'MANY'
import sys
with open(sys.argv[1], "w") as f:
    for i in range(249):
        f.write("SB ALL @ WW < XX5DEF\nBulletin %d of the test\nLine one.\nLine two.\n/EX\n" % i)
    f.write("SP XX1ABC @ XX9ORN < XX9ORN\nFor Anna\nHello Anna, see you on Sunday.\n/EX\n")
    f.write("SP XX9ORN @ XX9ORN < XX5DEF\nQuestion for the sysop\nIs the net on Sunday?\n/EX\n")
MANY
"$CTL" --dir "$a" msg import "$WORK/many.txt" >/dev/null || fail "import"

"$PY" "$HERE/web_console.py" --url "http://127.0.0.1:$web_port/" --ornctl "$CTL" --bbs "$a" --peer "$b" \
  --engine "127.0.0.1:$api_port" --password "$password" --shots "$shots" ||
  fail "browser test (screenshots in $shots; BBS: $(tail -5 "$a.err"))"
ls "$shots"/web-*.png >/dev/null
echo "web console: ok ($(ls "$shots"/web-*.png | wc -l) screenshots in $shots)"
