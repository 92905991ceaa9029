#!/usr/bin/env bash
# The lzhuf tool: the reference streams both ways, and a clean refusal of
# damaged input.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
make_workdir
trap 'rm -rf "$WORK"' EXIT
LZHUF="$BUILD/lzhuf"
VECTORS="$(cd "$(dirname "$0")/../data/lzhuf" && pwd)"

for f in "$VECTORS"/*.lzh; do
  name=$(basename "$f" .lzh)
  "$LZHUF" e "$VECTORS/$name" "$WORK/$name.lzh" || fail "e $name"
  cmp -s "$f" "$WORK/$name.lzh" || fail "e $name: not the reference stream"
  "$LZHUF" d "$f" "$WORK/$name" || fail "d $name"
  cmp -s "$VECTORS/$name" "$WORK/$name" || fail "d $name: not the reference text"
done

head -c 100 "$VECTORS/text-2049.txt.lzh" >"$WORK/cut.lzh"
rc=0
"$LZHUF" d "$WORK/cut.lzh" "$WORK/cut" 2>"$WORK/err" || rc=$?
[ $rc -eq 1 ] || fail "cut stream: exit status $rc"
grep -q "ends before" "$WORK/err" || fail "cut stream: no message"

rc=0
"$LZHUF" x a b 2>/dev/null || rc=$?
[ $rc -eq 2 ] || fail "bad usage: exit status $rc"
echo "lzhuf tool OK"
