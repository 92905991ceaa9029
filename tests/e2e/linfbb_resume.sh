#!/usr/bin/env bash
# B1 with LinFBB: a 20 KB message cut in the middle of its transfer goes on
# from where it broke at the next session, both ways (tests/e2e/linfbb/resume.py).
# Exit status 77 (skipped) without root or unshare.
set -uo pipefail
BUILD=$(cd "${1:?build directory}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
[ -x /usr/sbin/xfbbd ] || { echo "FAIL: /usr/sbin/xfbbd missing: run tools/install-deps" >&2; exit 1; }
timeout 280 "$here/linfbb/netns.sh" python3 -B "$here/linfbb/resume.py" "$BUILD"
