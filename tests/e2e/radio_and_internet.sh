#!/usr/bin/env bash
# The BBS on the air and on the Internet at once: ornpe in front of Direwolf,
# a radio station, a telnet user and LinFBB over telnet, and a Direwolf
# restart in the middle (tests/e2e/radio_and_internet.py). Runs in a private
# network namespace; exit status 77 (skipped) without root or unshare.
set -uo pipefail
BUILD=$(cd "${1:?build directory}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
[ -x /usr/sbin/xfbbd ] || { echo "FAIL: /usr/sbin/xfbbd missing: run tools/install-deps" >&2; exit 1; }
command -v direwolf >/dev/null || { echo "FAIL: direwolf missing: run tools/install-deps" >&2; exit 1; }
exec timeout 480 "$here/linfbb/netns.sh" python3 -B "$here/radio_and_internet.py" "$BUILD"
