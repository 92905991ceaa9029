# Helpers shared by the end-to-end scripts. Source it; BUILD must be set.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

# wait_for SECONDS COMMAND...: polls until the command succeeds.
wait_for() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.1
  done
}

# A fresh directory removed when the script ends (the caller's trap may add to it).
make_workdir() {
  WORK=$(mktemp -d /tmp/orne2e.XXXXXX)
  export XDG_DATA_HOME="$WORK/xdg"
  # The desktop keeps the sysop's window layout here, not in the real home.
  export XDG_CONFIG_HOME="$WORK/config"
}

# A TCP port on 127.0.0.1 that nothing listens on right now, below the
# ephemeral range (Direwolf refuses API ports above 49151).
free_port() {
  python3 -c '
import random, socket
while True:
    p = random.randint(20000, 39999)
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", p)); print(p); break
    except OSError:
        pass
    finally:
        s.close()'
}

# write_ini DIR LINES...: an ORN.INI whose packet engine is at a port nobody
# serves unless the caller says otherwise.
write_ini() {
  local dir=$1; shift
  printf '%s\r\n' "$@" >"$dir/ORN.INI"
}

# start_ornpe [OPTIONS...]: the virtual engine on a free API port (api_port),
# its own station gateway on a port of the system's choosing; its pid goes to
# the caller's pids array, its output to $WORK/ornpe.out and ornpe.log.
start_ornpe() {
  api_port=$(free_port)
  "$BUILD/ornpe" --listen 127.0.0.1:$api_port --gateway 127.0.0.1:0 "$@" >"$WORK/ornpe.out" 2>"$WORK/ornpe.log" &
  pids+=($!)
  wait_for 10 grep -qs "^ornpe ready" "$WORK/ornpe.out" || fail "ornpe not ready: $(cat "$WORK/ornpe.log")"
}
