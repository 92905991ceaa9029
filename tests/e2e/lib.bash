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
}
