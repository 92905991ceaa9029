#!/usr/bin/env bash
# ornbbs and LinFBB exchange mail both ways through ornpe (tests/e2e/linfbb/
# interop.py): LinFBB dialled by ornpe --dial, LinFBB calling in through
# ornpe --bbs-gateway. Each mode runs in a network namespace of its own, side
# by side (each waits up to a minute for ornbbs's forwarding minute).
# Exit status 77 (skipped) without root or unshare.
set -uo pipefail
BUILD=$(cd "${1:?build directory}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
[ -x /usr/sbin/xfbbd ] || { echo "FAIL: /usr/sbin/xfbbd missing: run tools/install-deps" >&2; exit 1; }
out=$(mktemp -d /tmp/orninterop.XXXXXX)
trap 'rm -rf "$out"' EXIT
pids=()
modes=(${ORN_INTEROP_MODES:-b1 b0 fbb mbl})
for mode in "${modes[@]}"; do
  timeout 280 "$here/linfbb/netns.sh" python3 -B "$here/linfbb/interop.py" "$BUILD" "$mode" >"$out/$mode" 2>&1 &
  pids+=($!)
done
rc=0
for i in "${!modes[@]}"; do
  wait "${pids[$i]}"
  status=$?
  cat "$out/${modes[$i]}"
  [ $status -eq 77 ] && { echo "SKIP: no private network namespace here"; exit 77; }
  [ $status -eq 0 ] || rc=1
done
exit $rc
