#!/usr/bin/env bash
# The README's two commands on a fresh machine: a minimal Debian 12 (made by
# debootstrap, no make, no compiler) gets a copy of this source and, as its
# root user, runs ./run.sh until the daemon's banner and running line
# appear, stops it with SIGINT (Ctrl+C: it must end with status 0), then
# runs ./test.sh with the plain build's tests (./test.sh test-dev: it
# installs everything every test needs, the arm64 and qemu packages
# included, and passes the plain suite).
#
#   tests/fresh/fresh_test.sh            (as root; from make test)
#   tests/fresh/fresh_test.sh SCRIPT     runs SCRIPT there instead, as root
#                                        in /root/zeva-rotator (to try
#                                        something on a fresh system)
#
# The system runs in namespaces of its own: mount (every mount it needs
# disappears with it, whatever happens), PID (no process outlives it) and
# network (its TCP port 13020 is its own; slirp4netns gives it the
# internet, for apt and npm, and nothing of this host's loopback).
# Cached between runs in $ZEVA_CACHE (default /var/cache/zeva-rotator-ci):
# the debootstrap tarball (made again after a week) and the downloaded
# .deb files; the system itself is made anew each time and removed.
#
# Exits 77 (skipped) when it cannot run here: not root, or no debootstrap,
# unshare or slirp4netns. `make test` then runs the plain tests on this host.
set -euo pipefail
session_script=""
if [ $# -gt 0 ]; then session_script=$(realpath "$1"); fi
cd "$(dirname "$0")/../.."
source_dir=$PWD
cache=${ZEVA_CACHE:-/var/cache/zeva-rotator-ci}
mirror=${ZEVA_DEBIAN_MIRROR:-http://deb.debian.org/debian}
say() { echo "fresh_test: $*"; }
skip() { say "skipped: $*"; exit 77; }
fail() { say "FAILED: $*" >&2; exit 1; }
stamp() { date +%s; }

[ "$(id -u)" = 0 ] || skip "needs root (debootstrap, chroot, namespaces)"
for tool in debootstrap unshare slirp4netns chroot ip; do
  command -v "$tool" >/dev/null || skip "needs $tool (tools/deps.sh test installs it)"
done

t_start=$(stamp)
mkdir -p "$cache/apt-archives/partial" "$cache/npm"

# --- The minimal Debian 12, as debootstrap makes it (cached a week) -------
base="$cache/debian12-minbase.tar"
if [ ! -s "$base" ] || [ -n "$(find "$base" -mtime +6)" ]; then
  say "making a minimal Debian 12 with debootstrap ($mirror)"
  made=$(mktemp -d /var/tmp/zeva-debootstrap.XXXXXX)
  if debootstrap --variant=minbase bookworm "$made" "$mirror" >"$made.log" 2>&1; then
    chmod 755 "$made"  # mktemp's 0700 would be the system's /
    tar -C "$made" --numeric-owner -cf "$base.new" . && mv "$base.new" "$base"
  else
    tail -n 20 "$made.log" >&2
    [ -s "$base" ] || { rm -rf --one-file-system "$made" "$made.log"; fail "debootstrap"; }
    say "debootstrap failed: using the cached system from $(date -r "$base" +%F)"
  fi
  rm -rf --one-file-system "$made" "$made.log"
fi
t_base=$(stamp)

work=$(mktemp -d /var/tmp/zeva-fresh.XXXXXX)
root="$work/root"
ns_pid=""
slirp_pid=""
cleanup() {
  status=$?
  [ -z "$slirp_pid" ] || kill "$slirp_pid" 2>/dev/null || true
  if [ -n "$ns_pid" ] && kill -0 "$ns_pid" 2>/dev/null; then
    kill -KILL "$ns_pid" 2>/dev/null || true  # --kill-child ends the rest
    wait "$ns_pid" 2>/dev/null || true
  fi
  # The mounts lived in the system's own mount namespace, gone with it;
  # never remove a tree that still has something mounted in it.
  if grep -q " $root" /proc/self/mountinfo; then
    say "something is still mounted under $root: left in place" >&2
  else
    rm -rf --one-file-system "$work"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir "$root"
tar -C "$root" --numeric-owner -xf "$base"
chmod 755 "$root"  # its /, which users other than root (apt's _apt) cross
# What the Debian installer would have set up: the updates and the security
# archive beside the release. dpkg without fsync (a throw-away system).
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/zeva-ci-unsafe-io"
echo "nameserver 10.0.2.3" >"$root/etc/resolv.conf"  # slirp4netns's DNS
echo zeva-fresh >"$root/etc/hostname"

# The source as a clean clone has it: what git tracks, uncommitted changes
# included (git stash create), nothing untracked, no build trees.
mkdir "$root/root/zeva-rotator"
if git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1; then
  tree=$(git -C "$source_dir" stash create)
  git -C "$source_dir" archive "${tree:-HEAD}" | tar -C "$root/root/zeva-rotator" -xf -
else
  tar -C "$source_dir" --exclude='./build*' --exclude=node_modules -cf - . |
    tar -C "$root/root/zeva-rotator" -xf -
fi
t_copy=$(stamp)

# --- What runs inside: the newcomer's session ----------------------------
cat >"$root/root/fresh-session.sh" <<'EOF'
#!/bin/sh
# Run by fresh_test.sh as root of the fresh system, from /root/zeva-rotator.
set -u
cd /root/zeva-rotator
now() { date +%s; }

echo "fresh: ./run.sh"
t0=$(now)
./run.sh >/root/run.log 2>&1 &
run=$!
up=""
while kill -0 "$run" 2>/dev/null; do
  if grep -qs "ZEVA Rotator CLI running" /root/run.log; then up=yes; break; fi
  sleep 0.2
done
t1=$(now)
if [ -z "$up" ]; then
  wait "$run"; status=$?
  tail -n 60 /root/run.log
  echo "fresh: ./run.sh ended with status $status before the daemon ran"
  exit 1
fi
kill -INT "$run"   # the daemon (run.sh ends in exec): Ctrl+C
wait "$run"; status=$?
sed -n '/^ _____/,$p' /root/run.log
if [ "$status" != 0 ]; then
  echo "fresh: the daemon ended with status $status on SIGINT"
  exit 1
fi
echo "fresh: ./run.sh: the daemon ran after $((t1 - t0)) s and stopped on SIGINT with status 0"

echo "fresh: ./test.sh test-dev"
t2=$(now)
./test.sh test-dev
status=$?
t3=$(now)
echo "fresh: ./test.sh test-dev: status $status after $((t3 - t2)) s"
echo "fresh-times: run=$((t1 - t0)) test=$((t3 - t2))"
exit "$status"
EOF
if [ -n "$session_script" ]; then
  cp "$session_script" "$root/root/fresh-session.sh"
fi
chmod +x "$root/root/fresh-session.sh"

# --- The namespaces ----------------------------------------------------------
# Runs as PID 1 of the new PID namespace, in the new mount and network
# namespaces, with this host's file system still in view: mounts what the
# system needs under $root, waits for slirp4netns's interface, then enters
# the system. Mount propagation is private, so none of it reaches the host.
cat >"$work/enter.sh" <<'EOF'
#!/bin/sh
set -eu
root=$1
cache=$2
mount -t proc proc "$root/proc"
mount -t sysfs -o ro sysfs "$root/sys"
# /dev: a few nodes of the host's, a pseudo-terminal instance of its own
# (the tests' pty numbers are this system's alone), shared memory.
mount -t tmpfs -o mode=755,nosuid tmpfs "$root/dev"
for node in null zero full random urandom tty; do
  touch "$root/dev/$node"
  mount --bind "/dev/$node" "$root/dev/$node"
done
mkdir "$root/dev/pts" "$root/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666,mode=620,gid=5 devpts "$root/dev/pts"
ln -s pts/ptmx "$root/dev/ptmx"
mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"
ln -s /proc/self/fd "$root/dev/fd"
ln -s /proc/self/fd/0 "$root/dev/stdin"
ln -s /proc/self/fd/1 "$root/dev/stdout"
ln -s /proc/self/fd/2 "$root/dev/stderr"
mount --bind "$cache/apt-archives" "$root/var/cache/apt/archives"
chroot "$root" chown _apt:root /var/cache/apt/archives/partial  # apt downloads as _apt
mkdir -p "$root/root/.npm"
mount --bind "$cache/npm" "$root/root/.npm"
# The host's certificate authorities, for Node.js only (npm's registry is
# https): where this host reaches the internet through a proxy that
# inspects TLS, the system must trust what its host trusts to reach it too.
# Elsewhere it only repeats the public ones. The system's own store is
# left as Debian made it.
touch "$root/run/host-ca.crt"
if [ -s /etc/ssl/certs/ca-certificates.crt ]; then
  mount --bind -o ro /etc/ssl/certs/ca-certificates.crt "$root/run/host-ca.crt"
fi

ip link set lo up
i=0
until ip -4 addr show tap0 2>/dev/null | grep -q inet; do
  i=$((i + 1))
  [ "$i" -lt 100 ] || { echo "fresh: no network from slirp4netns" >&2; exit 1; }
  sleep 0.1
done
exec chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb NODE_EXTRA_CA_CERTS=/run/host-ca.crt \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  /root/fresh-session.sh
EOF
chmod +x "$work/enter.sh"

say "entering the fresh system (namespaces: mount, PID, network)"
unshare --mount --propagation private --net --pid --fork --kill-child \
  "$work/enter.sh" "$root" "$cache" >"$work/session.log" 2>&1 &
ns_pid=$!
# slirp4netns joins the network namespace of unshare's process: only once
# it is a new one (before that it is this host's).
i=0
while [ "$(readlink "/proc/$ns_pid/ns/net" 2>/dev/null)" = "$(readlink /proc/self/ns/net)" ]; do
  i=$((i + 1))
  [ "$i" -lt 100 ] || fail "unshare made no network namespace"
  sleep 0.05
done
kill -0 "$ns_pid" 2>/dev/null || { cat "$work/session.log" >&2; fail "unshare"; }
slirp4netns --configure --mtu=65520 --disable-host-loopback "$ns_pid" tap0 \
  >"$work/slirp.log" 2>&1 &
slirp_pid=$!
tail -n +1 -f --pid="$ns_pid" "$work/session.log"
status=0
wait "$ns_pid" || status=$?
ns_pid=""
t_end=$(stamp)

times=$(sed -n 's/^fresh-times: //p' "$work/session.log")
run_s=$(echo "$times" | sed -n 's/.*run=\([0-9]*\).*/\1/p')
test_s=$(echo "$times" | sed -n 's/.*test=\([0-9]*\).*/\1/p')
say "times: system ready $((t_copy - t_start)) s (debootstrap or cache $((t_base - t_start)) s)," \
    "./run.sh to the running daemon ${run_s:-?} s, ./test.sh test-dev ${test_s:-?} s," \
    "in all $((t_end - t_start)) s"
if [ -n "$session_script" ]; then
  say "$1 ended with status $status"
  exit "$status"
fi
if [ "$status" != 0 ] || ! grep -q "^fresh: ./test.sh test-dev: status 0 " "$work/session.log"; then
  fail "the fresh system's session (see above)"
fi
say "1 passed, 0 failed"
