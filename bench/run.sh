#!/usr/bin/env bash
# The ZEVA Rotator benchmark in one command:
#   bench/run.sh [--scale X] [--only push,command,side,release,footprint,logger,web]
# Installs what is missing (as root; otherwise says what to install),
# builds the daemon and the station server (Release) and the benchmark
# driver, runs every measurement on loopback and pseudo-terminals (a few
# minutes), and writes bench/results/results.md and latency.png (the
# daemon's parts), bench/results/logger.md (the logger's path through the
# station) and bench/results/web-load.md (the station's web page); a run of
# some of the daemon's parts only (--only, --push-rotators) writes
# build-bench-driver/results/ instead. Extra
# arguments go to zeva-bench (see bench/README.md).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
daemon_build="$root/build-bench"
driver_build="$root/build-bench-driver"
results="$here/results"
data="$driver_build/data"

# Debian packages for what is missing: the toolchain, Hamlib's rotctld (for
# the side-by-side run) and gnuplot (for the plot).
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v c++ >/dev/null || missing+=(g++)
command -v make >/dev/null || missing+=(make)
command -v rotctld >/dev/null || missing+=(libhamlib-utils)
command -v gnuplot >/dev/null || missing+=(gnuplot-nox)
[ -e /usr/include/microhttpd.h ] || missing+=(libmicrohttpd-dev)
if ((${#missing[@]})); then
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
    echo "run.sh: installing ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "run.sh: missing ${missing[*]}; install them first, e.g." >&2
    echo "    sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
fi

echo "run.sh: building the daemon and the station (Release) in $daemon_build"
cmake -S "$root" -B "$daemon_build" -DCMAKE_BUILD_TYPE=Release \
  -DZEVA_BUILD_TESTS=OFF >/dev/null
cmake --build "$daemon_build" -j2 --target zeva-rotator zeva-station >/dev/null
echo "run.sh: building the benchmark driver in $driver_build"
cmake -S "$here" -B "$driver_build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$driver_build" -j2 --target zeva-bench >/dev/null

# A run of some of the daemon's parts, or some push rows, writes its reports
# beside the driver's build, so a partial results.md never replaces the full
# run's in bench/results (--only logger writes logger.md alone: it stays).
only=""
previous=""
for arg in "$@"; do
  case $previous in --only) only=$arg ;; esac
  case $arg in
    --only=*) only=${arg#--only=} ;;
    --push-rotators|--push-rotators=*) results="$driver_build/results" ;;
  esac
  previous=$arg
done
if [ -n "$only" ]; then
  parts=0
  for part in push command side release footprint; do
    case ",$only," in *",$part,"*) parts=$((parts + 1)) ;; esac
  done
  if [ "$parts" -gt 0 ] && [ "$parts" -lt 5 ]; then results="$driver_build/results"; fi
fi
mkdir -p "$results" "$data"
rm -f "$data"/*.dat "$data"/*.log
"$driver_build/zeva-bench" \
  --daemon "$daemon_build/app/zeva-rotator" \
  --station "$daemon_build/tools/station/zeva-station" \
  --rotctld "$(command -v rotctld)" \
  --results "$results" --data "$data" "$@"
# The plot shows the push, command and side-by-side runs together: drawn
# only when this run made all of them (not with --only footprint, say).
plotted=yes
for name in push-1 push-8 push-64 floor-1 floor-8 floor-64 unpolled-64 \
            command-zeva-beside-floor command-floor command-zeva \
            command-rotctld-nowait command-rotctld-default; do
  [ -s "$data/$name.dat" ] || plotted=""
done
if [ -n "$plotted" ]; then
  gnuplot -e "data='$data'; out='$results/latency.png'" "$here/latency.gp"
  echo "run.sh: results in $results, and $results/latency.png"
else
  echo "run.sh: results in $results; no latency.png (it needs the push, command and side runs together)"
fi
