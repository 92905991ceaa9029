#!/usr/bin/env bash
# The headless host in a fresh directory: it creates its tree, stays up in
# idle mode, and shuts down in order on SIGTERM and SIGINT.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
trap 'kill -9 ${pid:-0} 2>/dev/null || true; rm -rf "$WORK"' EXIT
BBS="$BUILD/ornbbs"

run_until_signal() {  # DIR SIGNAL
  local dir=$1 sig=$2
  "$BBS" --headless --dir "$dir" >"$dir.out" 2>"$dir.err" &
  pid=$!
  wait_for 10 grep -q "UP" "$dir/BBS.LOG" || fail "no start line in $dir/BBS.LOG"
  kill -0 $pid || fail "ornbbs ended by itself"
  kill -"$sig" $pid
  local rc=0
  wait $pid || rc=$?
  [ $rc -eq 0 ] || fail "exit status $rc after SIG$sig"
}

for sig in TERM INT; do
  d="$WORK/bbs-$sig"
  mkdir -p "$d"
  write_ini "$d" "[LOG]" "LOGOK=1" "[RADIO]" "ENGINEPORT=$(free_port)"
  run_until_signal "$d" $sig
  for sub in MAIL FILES BIN HELP temp; do [ -d "$d/$sub" ] || fail "missing directory $sub"; done
  for f in USERS.ADB MSG.ADB USERS.IDX MSG.IDX MAIL.ADB; do
    [ -f "$d/$f" ] && [ ! -s "$d/$f" ] || fail "missing or non-empty $f"
  done
  grep -qx "BBSPATH=$d"$'\r' "$d/ORN.INI" || fail "BBSPATH not written: $(cat "$d/ORN.INI")"
  lines=$(sed 's/^[0-9]\{6\}:[0-9]\{4\}->//' "$d/BBS.LOG")
  [ "$lines" = $'BBS SERVER UP...\nBBS SERVER DOWN...' ] || fail "log holds: $(cat "$d/BBS.LOG")"
  [ ! -e "$XDG_DATA_HOME/mime/packages/ornbbs-files.xml" ] || fail "file types still declared"
done

# A second instance in the same directory is refused while the first runs.
d="$WORK/bbs-TERM"
"$BBS" --headless --dir "$d" >/dev/null 2>&1 &
pid=$!
wait_for 10 test -e "$XDG_DATA_HOME/mime/packages/ornbbs-files.xml" || fail "first instance not up"
rc=0
err=$("$BBS" --headless --dir "$d" 2>&1 >/dev/null) || rc=$?
[ $rc -ne 0 ] || fail "second instance was not refused"
[ "$err" = "ORNBBS: BBS SERVER Already started !!" ] || fail "second instance said: $err"
kill -TERM $pid; wait $pid

# No ports: refused with the message and a non-zero status.
d="$WORK/noports"; mkdir -p "$d"
write_ini "$d" "[RADIO]" "PORTS=0" "ENGINEPORT=$(free_port)"
rc=0
err=$("$BBS" --headless --dir "$d" 2>&1 >/dev/null) || rc=$?
[ $rc -ne 0 ] || fail "PORTS=0 started"
[ "$err" = "BBS Server: Invalid number of ports.Init failed." ] || fail "PORTS=0 said: $err"
echo "headless lifecycle: ok"
