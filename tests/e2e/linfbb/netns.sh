#!/usr/bin/env bash
# netns.sh CMD [ARG...]: runs CMD in a network namespace of its own with only
# lo, up. xfbbd listens on 0.0.0.0; in here that is 127.0.0.1 and nothing else,
# and whatever talks to it (a partner, ornbbs) must run inside too.
# Exit status 77 when no namespace can be had (not root, no unshare), so that
# ctest counts the test as skipped; otherwise the status of CMD.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: netns.sh CMD [ARG...]" >&2; exit 2; }
if [ "$(id -u)" != 0 ]; then
  echo "SKIP: a private network namespace needs root" >&2
  exit 77
fi
if ! command -v unshare >/dev/null || ! unshare --net true 2>/dev/null; then
  echo "SKIP: unshare --net is not available here" >&2
  exit 77
fi
# --kill-child: if this script is killed, CMD goes too (and xfbbd with it,
# which the harness ties to its parent).
exec unshare --net --fork --kill-child=SIGTERM -- bash -c 'ip link set lo up && exec "$@"' netns "$@"
