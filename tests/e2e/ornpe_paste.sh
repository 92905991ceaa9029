#!/usr/bin/env bash
# A telnet user pastes 8 MB through ornpe's station gateway while another
# telnet user and a radio station (on an engine ornpe is in front of) are
# served within a second or two, and the BBS stays on the air
# (tests/e2e/ornpe_paste.py).
set -uo pipefail
BUILD=$(cd "${1:?build directory}" && pwd)
exec timeout 240 python3 -B "$(dirname "$0")/ornpe_paste.py" "$BUILD"
