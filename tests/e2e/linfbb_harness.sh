#!/usr/bin/env bash
# The LinFBB harness proves itself without ornbbs: LinFBB (xfbbd) runs in a
# private network namespace and forwards with the harness's scripted partner in
# MBL, plain FBB and B0 mode (tests/e2e/linfbb/README.md). The build directory
# ($1) is optional. Exit status 77 (skipped) without root or unshare.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ -x /usr/sbin/xfbbd ] || { echo "FAIL: /usr/sbin/xfbbd missing: run tools/install-deps" >&2; exit 1; }
# With the build's lzhuf at hand, the B0 blocks are expanded with it too.
lzhuf=()
[ -x "${1:-}/lzhuf" ] && lzhuf=(--lzhuf "$(cd "$1" && pwd)/lzhuf")
exec timeout 170 "$here/linfbb/netns.sh" python3 "$here/linfbb/selfcheck.py" "${lzhuf[@]}"
