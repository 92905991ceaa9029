#!/usr/bin/env bash
# ornbbs and LinFBB exchange mail both ways through ornpe (tests/e2e/linfbb/
# interop.py): LinFBB dialled by ornpe --dial, LinFBB calling in through
# ornpe --bbs-gateway. Exit status 77 (skipped) without root or unshare.
set -euo pipefail
BUILD=$(cd "${1:?build directory}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
[ -x /usr/sbin/xfbbd ] || { echo "FAIL: /usr/sbin/xfbbd missing: run tools/install-deps" >&2; exit 1; }
exec timeout 280 "$here/linfbb/netns.sh" python3 -B "$here/linfbb/interop.py" "$BUILD" ${ORN_INTEROP_MODES:-b0}
