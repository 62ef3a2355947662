#!/bin/sh
# Makes docs/station-page.png with the browser test, showing what a station
# shows: its two boxes on /dev/ttyUSB0 and /dev/ttyUSB1 and their rotators'
# rotctld ports 4533 and 4535, not a temporary folder and random ports.
#   tests/web/screenshot.sh [BUILD_DIR]      (default build/dev, built)
#
# The test runs in namespaces of its own: a network one (the ports and the
# daemon's 13020 are its alone) and a mount one whose /dev is a small copy
# of this machine's (the null, random and terminal devices, its
# pseudo-terminals, shared memory), where the boxes' emulators put their
# /dev/ttyUSB names; nothing of it reaches this machine's /dev. As root, or
# as a user where user namespaces are allowed.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$(dirname "$here")")
build=$(cd "${1:-$root/build/dev}" && pwd)
web="$build/tests/web"
out="$root/docs/station-page.png"
[ -x "$build/tools/station/zeva-station" ] || { echo "screenshot.sh: build $build first" >&2; exit 1; }
# PyEphem's python3, as the build found it (not another python3 first on the PATH).
python=$(sed -n 's/^ZEVA_PYTHON3:FILEPATH=//p' "$build/CMakeCache.txt")
# puppeteer-core, from npm (this needs the network, so before leaving it).
ctest --test-dir "$build" -R web_modules --output-on-failure >/dev/null

as_user=""
[ "$(id -u)" = 0 ] || as_user=--map-root-user
# shellcheck disable=SC2016
exec unshare --mount --propagation private --net $as_user sh -c '
  set -eu
  build=$1 web=$2 out=$3 python=$4
  ip link set lo up
  old=$(mktemp -d)
  mount --rbind /dev "$old"
  mount -t tmpfs -o mode=755 tmpfs /dev
  for node in null zero full random urandom tty; do
    touch "/dev/$node"
    mount --bind "$old/$node" "/dev/$node"
  done
  mkdir /dev/pts /dev/shm
  mount --rbind "$old/pts" /dev/pts
  ln -s pts/ptmx /dev/ptmx
  mount -t tmpfs -o mode=1777 tmpfs /dev/shm
  ln -s /proc/self/fd /dev/fd
  ZEVA_DAEMON=$build/app/zeva-rotator ZEVA_BOXSIM=$build/tools/boxsim/zeva-boxsim \
  ZEVA_STATION=$build/tools/station/zeva-station ZEVA_CTL=$build/tools/ctl/zeva-ctl ZEVA_CHROMIUM=$(command -v chromium || command -v chrome) \
  ZEVA_WEB_LINKS=/dev/ttyUSB0,/dev/ttyUSB1 ZEVA_WEB_ROTCTLD_PORTS=4533,4535 ZEVA_SCREENSHOT=$out ZEVA_PYTHON3=${python:-python3} \
    node "$web/page_test.mjs"
  echo "screenshot.sh: wrote $out"
' sh "$build" "$web" "$out" "$python"
