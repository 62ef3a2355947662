#!/usr/bin/env bash
# The ZEVA Rotator benchmark in one command:
#   bench/run.sh [--scale X] [--only push,command,side,release,footprint]
# Installs what is missing (as root; otherwise says what to install),
# builds the daemon (Release) and the benchmark driver, runs every
# measurement on loopback and pseudo-terminals (a few minutes), and writes
# bench/results/results.md and bench/results/latency.png (a run of some
# parts only, --only or --push-rotators, writes build-bench-driver/results/).
# Extra arguments go to zeva-bench (see bench/README.md).
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

echo "run.sh: building the daemon (Release) in $daemon_build"
cmake -S "$root" -B "$daemon_build" -DCMAKE_BUILD_TYPE=Release \
  -DZEVA_BUILD_TESTS=OFF >/dev/null
cmake --build "$daemon_build" -j2 --target zeva-rotator >/dev/null
echo "run.sh: building the benchmark driver in $driver_build"
cmake -S "$here" -B "$driver_build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$driver_build" -j2 --target zeva-bench >/dev/null

# A partial run (some parts, some push rows) writes its report beside the
# driver's build, so it never replaces the full run's in bench/results.
for arg in "$@"; do
  case $arg in
    --only|--only=*|--push-rotators|--push-rotators=*) results="$driver_build/results" ;;
  esac
done
mkdir -p "$results" "$data"
rm -f "$data"/*.dat "$data"/*.log
"$driver_build/zeva-bench" \
  --daemon "$daemon_build/app/zeva-rotator" \
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
  echo "run.sh: wrote $results/results.md and $results/latency.png"
else
  echo "run.sh: wrote $results/results.md; no latency.png (it needs the push, command and side runs together)"
fi
