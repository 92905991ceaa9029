#!/usr/bin/env bash
# The Debian package as a sysop meets it. tools/package builds it (lintian
# finds no error); it installs with its dependencies in a fresh Debian 12
# root; both units pass systemd-analyze verify; `ornctl init` makes the BBS;
# the units' ExecStart lines run as the units' user, in a network namespace
# of their own; the web console (init --web, ornctl web password) lets its
# sysop in; a station logs in through ornpe; root and a sysop in the
# group ornbbs use ornctl on the running and the stopped BBS, anyone else is
# refused; logrotate moves the
# activity log and the BBS goes on in a new one; SIGTERM ends the BBS with
# status 0; a purge leaves nothing behind.
# The root comes from debootstrap on the mirror apt uses. Its tarball and the
# packages downloaded are kept in /var/cache/ornbbs-e2e (ORN_E2E_CACHE), so
# that later runs are quicker; without them the test makes them again.
BUILD=$(cd "${1:?build directory}" && pwd)
. "$(dirname "$0")/lib.bash"
src=$(cd "$(dirname "$0")/../.." && pwd)
skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "installing in a Debian root needs root"
for t in debootstrap lintian dpkg-buildpackage unshare chroot ip; do
  command -v $t >/dev/null || skip "$t is missing (tools/install-deps installs it)"
done
unshare -m true 2>/dev/null && ip netns add ornpkg-probe-$$ 2>/dev/null && ip netns del ornpkg-probe-$$ ||
  skip "no mount or network namespaces here"
# Everything runs in a mount namespace of its own: no mount outlives the test.
[ -n "${ORN_PKG_NS:-}" ] || ORN_PKG_NS=1 exec unshare -m --propagation private bash "$0" "$@"

mirror=${ORN_DEBIAN_MIRROR:-$({ cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources \
  2>/dev/null || true; } | grep -oE '^(URIs:|deb) +https?://[^ ]+' | grep -v security | awk '{print $2}' | head -1 || true)}
mirror=${mirror:-http://deb.debian.org/debian}
python3 -c 'import sys, urllib.request; urllib.request.urlopen(sys.argv[1] + "/dists/bookworm/Release", timeout=20)' "$mirror" \
  2>/dev/null || skip "the Debian mirror $mirror does not answer"

WORK=$(mktemp -d /var/tmp/ornpkg.XXXXXX)
root="$WORK/root"
ns=ornpkg-$$
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  sleep 0.5
  ip netns del $ns 2>/dev/null || true
  for m in "$root/var/cache/apt/archives" "$root/proc"; do mountpoint -q "$m" && umount -l "$m"; done
  [ -n "${KEEP:-}" ] || rm -rf --one-file-system "$WORK"
}
trap cleanup EXIT
t0=$SECONDS
step() { echo "[$((SECONDS - t0)) s] $*"; }

step "building the package"
ORN_PACKAGE_BUILD="$BUILD" "$src/tools/package" "$WORK/dist" >"$WORK/package.out" 2>&1 ||
  fail "tools/package: $(tail -30 "$WORK/package.out")"
deb=$(tail -1 "$WORK/package.out")
[ -f "$deb" ] || fail "no package: $(tail -30 "$WORK/package.out")"
grep -E "^(E|W): " "$WORK/package.out" | grep -v "root privileges" && fail "lintian complains"

cache=${ORN_E2E_CACHE:-/var/cache/ornbbs-e2e}
mkdir -p "$cache/archives/partial"
base="$cache/bookworm-minbase.tar"
if [ ! -s "$base" ]; then
  step "debootstrap of Debian 12 from $mirror (kept in $cache)"
  debootstrap --variant=minbase bookworm "$WORK/boot" "$mirror" >"$WORK/debootstrap.log" 2>&1 ||
    fail "debootstrap: $(tail -20 "$WORK/debootstrap.log")"
  tar -C "$WORK/boot" -cf "$base.$$" . && mv "$base.$$" "$base"
  rm -rf --one-file-system "$WORK/boot"
fi
mkdir "$root"
tar -C "$root" -xf "$base"
mount -t proc proc "$root/proc"
mount --bind "$cache/archives" "$root/var/cache/apt/archives"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# Nothing starts services at installation (there is no systemd running here).
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive LC_ALL=C "$@"; }
in_ns() { ip netns exec $ns "$@"; }

step "the package's dependencies, systemd (for systemd-analyze) and a sysop"
deps=$(dpkg-deb -f "$deb" Depends Recommends | sed 's/^[A-Za-z]*: //' | tr ',' '\n' | sed 's/(.*)//; s/|.*//; s/ //g' | grep .)
in_root apt-get update -qq >"$WORK/apt.log" 2>&1 || fail "apt-get update: $(tail "$WORK/apt.log")"
in_root apt-get install -y -qq --no-install-recommends systemd $deps >>"$WORK/apt.log" 2>&1 ||
  fail "dependencies: $(tail -20 "$WORK/apt.log")"
in_root useradd -M sysop
# What the root holds before the package: a purge must bring it back to this.
snapshot() {
  (cd "$root" && find . \( -path ./proc -o -path ./dev -o -path ./tmp -o -path ./run -o -path ./var/cache \
    -o -path ./var/lib/apt -o -path ./var/lib/dpkg -o -path ./var/log -o -path ./etc/resolv.conf \) -prune \
    -o -print | grep -vE '^\./etc/(passwd|group|shadow|gshadow)-$' | sort)
}
snapshot >"$WORK/before.lst"

step "installing $(basename "$deb")"
cp "$deb" "$root/tmp/ornbbs.deb"
in_root apt-get install -y -qq /tmp/ornbbs.deb >>"$WORK/apt.log" 2>&1 || fail "install: $(tail -20 "$WORK/apt.log")"
in_root getent passwd ornbbs >/dev/null || fail "no user ornbbs"
[ "$(in_root stat -c '%U:%G %a' /var/lib/ornbbs)" = "ornbbs:ornbbs 2770" ] ||
  fail "/var/lib/ornbbs: $(in_root stat -c '%U:%G %a' /var/lib/ornbbs)"
[ -L "$root/etc/systemd/system/multi-user.target.wants/ornbbs.service" ] || fail "ornbbs.service not enabled"
[ ! -e "$root/etc/systemd/system/multi-user.target.wants/ornpe.service" ] || fail "ornpe.service enabled"
for page in ornbbs.8 ornctl.8 ornpe.8 ornlzhuf.1; do
  [ -s "$root/usr/share/man/man${page##*.}/$page.gz" ] || fail "no manual page $page"
done
in_root systemd-analyze verify --man=no /lib/systemd/system/ornbbs.service /lib/systemd/system/ornpe.service \
  >"$WORK/verify.out" 2>&1 || fail "systemd-analyze verify: $(cat "$WORK/verify.out")"

step "ornctl init"
in_root ornctl --dir /var/lib/ornbbs init --call XX9ORN-1 --name Anna --web 127.0.0.1:8088 >"$WORK/init.out" 2>&1 ||
  fail "init: $(cat "$WORK/init.out")"
# The web console's password, set by root, is the service's to read and nobody else's.
echo "package test password" | in_root ornctl --dir /var/lib/ornbbs web password >"$WORK/webpw.out" 2>&1 ||
  fail "web password: $(cat "$WORK/webpw.out")"
[ "$(in_root stat -c '%U %a' /var/lib/ornbbs/WEB.PWD)" = "ornbbs 660" ] ||
  fail "WEB.PWD: $(in_root stat -c '%U %G %a' /var/lib/ornbbs/WEB.PWD)"
[ "$(in_root stat -c %U /var/lib/ornbbs/ORN.INI /var/lib/ornbbs/english.lng | sort -u)" = ornbbs ] ||
  fail "the new files are not the BBS user's: $(ls -l "$root/var/lib/ornbbs")"
in_root ornctl --dir /var/lib/ornbbs init --call XX9ORN-2 >"$WORK/init2.out" 2>&1 && fail "a second init was not refused"
grep -q "already holds a BBS" "$WORK/init2.out" || fail "second init: $(cat "$WORK/init2.out")"

step "the units' ExecStart lines as their user"
ip netns add $ns
in_ns ip link set lo up
# The unit's user, umask, environment and command line, in the root.
run_unit() {
  local unit="$root/lib/systemd/system/$1" cmd env user umask
  cmd=$(sed -n 's/^ExecStart=//p' "$unit")
  env=$(sed -n 's/^Environment=//p' "$unit")
  user=$(sed -n 's/^User=//p' "$unit")
  umask=$(sed -n 's/^UMask=//p' "$unit")
  # Every step execs the next: the caller's $! is the program's own pid.
  exec ip netns exec $ns chroot --userspec="$user:$user" "$root" env -i PATH=/usr/bin:/bin LC_ALL=C \
    HOME=/var/lib/ornbbs $env sh -c "umask ${umask:-022}; exec $cmd"
}
run_unit ornpe.service >"$WORK/ornpe.out" 2>"$WORK/ornpe.err" &
pids+=($!)
wait_for 10 grep -qs "^ornpe ready" "$WORK/ornpe.out" || fail "ornpe: $(cat "$WORK/ornpe.err")"
run_unit ornbbs.service >"$WORK/bbs.out" 2>"$WORK/bbs.err" &
bbspid=$!
pids+=($bbspid)
wait_for 15 grep -qs "BBS SERVER UP" "$root/var/lib/ornbbs/BBS.LOG" || fail "BBS: $(cat "$WORK/bbs.err")"
wait_for 10 grep -q "^ornbbs: web console on 127.0.0.1:8088$" "$WORK/bbs.err" || fail "no web console: $(cat "$WORK/bbs.err")"
! grep -v "^ornbbs: web console on " "$WORK/bbs.err" || fail "the BBS complained: $(cat "$WORK/bbs.err")"

step "the web console of the installed BBS"
in_ns python3 - <<'PY' || fail "the web console did not serve its sysop"
import http.client, json
c = http.client.HTTPConnection("127.0.0.1", 8088, timeout=20)
c.request("POST", "/api/login", body=json.dumps({"password": "package test password"}), headers={"Content-Type": "application/json"})
r = c.getresponse()
r.read()
assert r.status == 200, r.status
c.request("GET", "/api/status", headers={"Cookie": r.getheader("Set-Cookie").split(";")[0]})
r = c.getresponse()
assert r.status == 200 and json.loads(r.read())["call"] == "XX9ORN-1", r.status
PY

station() {
  in_ns python3 "$src/tests/e2e/station.py" --engine 127.0.0.1:8000 --call "$1" --timeout 10 --connect-timeout 10 \
    connect XX9ORN-1 expect ">\r" send "N $2" expect ">\r" send "B" wait-disconnect
}
step "a station through ornpe"
station XX1ABC Bob >"$WORK/s1.out" 2>&1 || fail "station: $(cat "$WORK/s1.out"); BBS: $(cat "$WORK/bbs.out")"
# The unit's output is the system journal: no station's text goes there.
! grep -q "N Bob" "$WORK/bbs.out" "$WORK/bbs.err" || fail "a station's text reached the journal: $(cat "$WORK/bbs.out")"

step "ornctl as root, as a sysop in the group, as anyone else"
in_ns chroot "$root" ornctl --dir /var/lib/ornbbs user show XX1ABC >"$WORK/ctl-root.out" 2>&1 ||
  fail "root's ornctl: $(cat "$WORK/ctl-root.out")"
grep -qi "Bob" "$WORK/ctl-root.out" || fail "root's ornctl: $(cat "$WORK/ctl-root.out")"
in_root adduser --quiet sysop ornbbs
in_ns chroot --userspec=sysop:sysop --groups=ornbbs "$root" ornctl --dir /var/lib/ornbbs status \
  >"$WORK/ctl-sysop.out" 2>&1 || fail "the sysop's ornctl: $(cat "$WORK/ctl-sysop.out")"
in_ns chroot --userspec=nobody:nogroup "$root" ornctl --dir /var/lib/ornbbs status >"$WORK/ctl-nobody.out" 2>&1 &&
  fail "ornctl answered a stranger: $(cat "$WORK/ctl-nobody.out")"

step "logrotate while the BBS runs"
in_root logrotate -f -s /tmp/logrotate.state /etc/logrotate.d/ornbbs >"$WORK/logrotate.out" 2>&1 ||
  fail "logrotate: $(cat "$WORK/logrotate.out")"
grep -q "<Connect> XX1ABC" "$root/var/lib/ornbbs/BBS.LOG.1" || fail "nothing rotated: $(ls -l "$root/var/lib/ornbbs")"
station XX2ABC Eve >"$WORK/s2.out" 2>&1 || fail "second station: $(cat "$WORK/s2.out")"
grep -q "<Connect> XX2ABC" "$root/var/lib/ornbbs/BBS.LOG" || fail "the BBS did not go on in a new log"

step "SIGTERM"
kill -TERM $bbspid
wait $bbspid || fail "the BBS ended with status $?"
grep -q "BBS SERVER DOWN" "$root/var/lib/ornbbs/BBS.LOG" || fail "no orderly end in the log"
# The stopped BBS's files are the group's too: the sysop works on them.
in_root chroot --userspec=sysop:sysop --groups=ornbbs / ornctl --dir /var/lib/ornbbs user set XX2ABC Type=X \
  >"$WORK/ctl-offline.out" 2>&1 || fail "the sysop's ornctl on the stopped BBS: $(cat "$WORK/ctl-offline.out")"
echo "Net on Sunday." | in_root chroot --userspec=sysop:sysop --groups=ornbbs / ornctl --dir /var/lib/ornbbs \
  msg send --to ALL@WW --type B --subject "Weekend net" >>"$WORK/ctl-offline.out" 2>&1 ||
  fail "the sysop's message on the stopped BBS: $(cat "$WORK/ctl-offline.out")"

step "purge"
for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
wait 2>/dev/null || true
pids=()
in_root apt-get purge -y -qq ornbbs >>"$WORK/apt.log" 2>&1 || fail "purge: $(tail -20 "$WORK/apt.log")"
snapshot >"$WORK/after.lst"
diff "$WORK/before.lst" "$WORK/after.lst" >"$WORK/left.diff" || fail "left behind or lost: $(head -30 "$WORK/left.diff")"
! grep -q "^ornbbs:" "$root/etc/passwd" "$root/etc/group" || fail "the user or group ornbbs is still there"
step "package install: ok"
