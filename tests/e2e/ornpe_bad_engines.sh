#!/usr/bin/env bash
# ornbbs on ornpe in front of scripted engines that go quiet, flood, or list
# 1000 ports: the BBS stays on the air on every other port
# (tests/e2e/ornpe_bad_engines.py).
set -uo pipefail
BUILD=$(cd "${1:?build directory}" && pwd)
exec timeout 240 python3 -B "$(dirname "$0")/ornpe_bad_engines.py" "$BUILD"
