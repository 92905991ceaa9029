#!/usr/bin/env bash
# A partner that calls ornpe's BBS gateway over raw TCP, as LinBPQ's connect
# script does, forwards a B1 message whose stream holds 0xFF bytes; it
# arrives whole (tests/e2e/ornpe_raw_partner.py).
set -uo pipefail
BUILD=$(cd "${1:?build directory}" && pwd)
exec timeout 120 python3 -B "$(dirname "$0")/ornpe_raw_partner.py" "$BUILD"
