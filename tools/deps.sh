#!/bin/sh
# shellcheck disable=SC2086,SC2116  # the package lists are split into words
# What ZEVA Rotator needs from the system, in one place, and its installer.
# run.sh and test.sh call it before they build; .ci/run calls test.sh.
#
#   tools/deps.sh run     installs what building and running the daemon needs
#   tools/deps.sh test    installs what building and passing every test needs
#   tools/deps.sh list run|test   prints those Debian packages, installs nothing
#
# On Debian 12 and its derivatives it installs what is missing with apt-get:
# as root directly, otherwise through sudo; without either it names the
# packages and stops. On FreeBSD it prints the pkg command for what is
# missing. A machine that has everything is left alone (no apt-get at all).

# --- The Debian packages -------------------------------------------------
# To build and run: the compilers, make and CMake; GoogleTest (the dev
# build, which make run uses, configures the tests too); the libraries of
# the tools beside the daemon: libedit (zeva-ctl's line editing),
# libmicrohttpd (the station's web page), libcurl (zeva-ctl --station),
# nlohmann-json (JSON in zeva-ctl), expat (XML from contest loggers),
# GeographicLib and libnova (geodesy, the sun and the moon).
DEBIAN_BUILD="build-essential cmake pkg-config libgtest-dev libedit-dev
  libmicrohttpd-dev libcurl4-openssl-dev nlohmann-json3-dev libexpat1-dev
  libgeographiclib-dev libnova-dev"
# To test, besides: clang and its sanitizer and libFuzzer runtimes; Hamlib's
# rotctl/rotctld (the real client the station tests drive and the server
# they compare it with); dpkg-dev, lintian and systemd (systemd-analyze)
# make and check the Debian package; nc (the README's example client);
# PROJ's geod and PyEphem (independent references for geodesy and the sun
# and moon); hamradio-files (cty.dat); chromium (the browser test);
# debootstrap and slirp4netns (the fresh-system test: a minimal Debian and
# its network); the arm64 cross toolchain and qemu-user, which runs the
# arm64 build's tests.
DEBIAN_TEST="clang libclang-rt-14-dev libhamlib-utils dpkg-dev lintian systemd
  netcat-openbsd proj-bin python3-ephem hamradio-files chromium debootstrap
  slirp4netns crossbuild-essential-arm64 qemu-user qemu-user-binfmt"
# The arm64 libraries beside the machine's own (multiarch). Each must be
# "Multi-Arch: same", or apt would remove the machine's own package to make
# room: libgeographiclib-dev is not, so the arm64 build takes the headers of
# the machine's package and only the arm64 shared library.
DEBIAN_TEST_ARM64="libgtest-dev:arm64 libedit-dev:arm64 libstdc++6:arm64
  libmicrohttpd-dev:arm64 libcurl4-openssl-dev:arm64 libexpat1-dev:arm64
  libnova-dev:arm64 libgeographiclib23:arm64"
# Node.js and npm (for puppeteer-core, which drives chromium): Debian's,
# only where the machine has no node of its own.
DEBIAN_NODE="nodejs npm"

# --- The FreeBSD ports (origins, which pkg install accepts) ----------------
FREEBSD_BUILD="devel/cmake-core devel/pkgconf devel/googletest
  www/libmicrohttpd ftp/curl devel/nlohmann-json textproc/expat2
  astro/geographiclib astro/libnova"
FREEBSD_TEST="comms/hamlib graphics/proj astro/py-ephem www/chromium
  www/node www/npm"

set -eu
me="tools/deps.sh"
say() { echo "$me: $*" >&2; }

usage() {
  say "usage: $me run|test, or $me list run|test"
  exit 2
}

# Whether a Debian package is installed: NAME:ARCH as given; a bare NAME in
# the machine's own architecture or as an "all" package.
debian_installed() {
  case "$1" in
    *:*) dpkg-query -W -f='${db:Status-Status}\n' "$1" 2>/dev/null | grep -qx installed ;;
    *) dpkg-query -W -f='${Architecture} ${db:Status-Status}\n' "$1" 2>/dev/null |
         grep -Eqx "($native|all) installed" ;;
  esac
}

# Runs a command as root: directly, or through sudo. Fails (127) with
# neither.
as_root() {
  if [ "$(id -u)" = 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    return 127
  fi
}

debian_missing() {
  for p in "$@"; do
    debian_installed "$p" || printf '%s ' "$p"
  done
}

# Node.js: Debian's nodejs and npm where there is no node. A node without
# npm beside it gets Debian's npm, which apt refuses when that node is not
# Debian's (its npm must come from where it came from).
node_missing() {
  if ! command -v node >/dev/null 2>&1; then
    debian_missing $DEBIAN_NODE
  elif ! command -v npm >/dev/null 2>&1; then
    say "there is a node ($(command -v node)) but no npm: trying Debian's (if this node is not Debian's, install the npm that comes with it instead)"
    debian_missing npm
  fi
}

apt_install() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
    --no-install-recommends --no-remove "$@"
}

debian() {
  group=$1
  native=$(dpkg --print-architecture)
  build=$(debian_missing $DEBIAN_BUILD)
  tests=""
  arm64=""
  if [ "$group" = test ]; then
    tests="$(debian_missing $DEBIAN_TEST)$(node_missing)"
    arm64=$(debian_missing $DEBIAN_TEST_ARM64)
  fi
  all=$(echo $build $tests $arm64)
  [ -n "$all" ] || return 0

  if [ "$(id -u)" != 0 ] && ! command -v sudo >/dev/null 2>&1; then
    say "missing Debian packages: $all"
    say "install them as root (there is no sudo here), then run this again:"
    [ -z "$arm64" ] || say "    dpkg --add-architecture arm64"
    say "    apt-get update && apt-get install --no-install-recommends $all"
    exit 1
  fi
  say "installing $all"
  if [ -n "$arm64" ] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
    as_root dpkg --add-architecture arm64
  fi
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
  # The machine's own packages first, then the arm64 ones: an arm64 library
  # needs its twin in the same version, which the first step has brought up
  # to date. --no-remove: never make room by removing what is installed.
  [ -z "$build$tests" ] || apt_install $build $tests
  [ -z "$arm64" ] || apt_install $arm64
  still=$(debian_missing $DEBIAN_BUILD)
  [ "$group" = run ] || still="$still$(debian_missing $DEBIAN_TEST $DEBIAN_TEST_ARM64)"
  if [ -n "$still" ]; then
    say "still missing after apt-get: $(echo $still)"
    exit 1
  fi
}

# The arm64 tests' programs start other arm64 programs through the kernel's
# binfmt_misc and qemu-user; qemu-user-binfmt registers it where a service
# manager runs, and this does where none does (a container, a chroot).
binfmt() {
  dir=/proc/sys/fs/binfmt_misc
  conf=/usr/lib/binfmt.d/qemu-aarch64.conf
  [ ! -e "$dir/qemu-aarch64" ] || return 0
  [ -r "$conf" ] || return 0
  # shellcheck disable=SC2016
  as_root sh -c '
    [ -e "$1/register" ] || mount -t binfmt_misc binfmt_misc "$1"
    [ -e "$1/qemu-aarch64" ] || cat "$2" >"$1/register"' sh "$dir" "$conf" || {
    say "cannot register qemu-aarch64 with binfmt_misc (as root: mount -t binfmt_misc binfmt_misc $dir; cat $conf >$dir/register)"
    exit 1
  }
}

freebsd() {
  missing=""
  list=$FREEBSD_BUILD
  [ "$1" = run ] || list="$list $FREEBSD_TEST"
  for origin in $list; do
    pkg info -e -O "$origin" >/dev/null 2>&1 || missing="$missing $origin"
  done
  [ -n "$missing" ] || return 0
  say "missing FreeBSD packages; install them as root, then run this again:"
  say "    pkg install$missing"
  exit 1
}

[ $# -ge 1 ] || usage
if [ "$1" = list ]; then
  [ $# = 2 ] || usage
  case $2 in
    run) echo $DEBIAN_BUILD ;;
    test) echo $DEBIAN_BUILD $DEBIAN_TEST $DEBIAN_TEST_ARM64 $DEBIAN_NODE ;;
    *) usage ;;
  esac
  exit 0
fi
case $1 in run|test) ;; *) usage ;; esac

case $(uname -s) in
  FreeBSD) freebsd "$1" ;;
  *)
    if command -v dpkg >/dev/null 2>&1 && command -v apt-get >/dev/null 2>&1; then
      debian "$1"
      [ "$1" = run ] || binfmt
    else
      say "neither Debian nor FreeBSD: install the equivalents of these Debian packages yourself:"
      say "    $(echo $DEBIAN_BUILD)"
      [ "$1" = run ] || say "    $(echo $DEBIAN_TEST $DEBIAN_TEST_ARM64)"
    fi
    ;;
esac
