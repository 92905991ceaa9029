#!/usr/bin/env bash
# ornpe (from --config) in front of a scripted engine that sends frames for
# ports it never listed, unknown kinds and garbage, and refuses a
# registration (tests/e2e/ornpe_engine_faults.py).
set -uo pipefail
BUILD=$(cd "${1:?build directory}" && pwd)
exec timeout 120 python3 -B "$(dirname "$0")/ornpe_engine_faults.py" "$BUILD"
