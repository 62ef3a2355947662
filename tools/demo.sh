#!/usr/bin/env bash
# Shows zeva-rotator at work without hardware: builds everything, starts the
# daemon and two emulated controller boxes (a Yaesu and a Rotor-EZ), then
# configures and turns both rotators through one zeva-ctl connection while
# the bearings arrive. Everything it started is stopped on exit.
#
#   tools/demo.sh          the zeva-ctl walk-through above
#   tools/demo.sh --web    the same boxes behind the station server and its
#                          web page on http://127.0.0.1:8080/ until Ctrl-C
set -euo pipefail

web=0
case "${1:-}" in
  "") ;;
  --web) web=1 ;;
  *) echo "usage: tools/demo.sh [--web]" >&2; exit 2 ;;
esac
web_port=8080

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-demo"
port=13020
speed=15

say() { printf '\n==> %s\n' "$*"; }

# Refuse to start when something already listens on the daemon's port.
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "demo: TCP port $port is already in use (another zeva-rotator?); stop it and try again." >&2
  exit 1
fi

pids=()
work="$(mktemp -d "${TMPDIR:-/tmp}/zeva-demo.XXXXXX")"
cleanup() {
  local pid left=()
  for pid in "${pids[@]+"${pids[@]}"}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]+"${pids[@]}"}"; do
    wait "$pid" 2>/dev/null || true
  done
  # The demo checks its own promise: nothing it started is left running.
  for pid in "${pids[@]+"${pids[@]}"}"; do
    kill -0 "$pid" 2>/dev/null && left+=("$pid")
  done
  rm -rf "$work"
  if ((${#left[@]})); then
    echo "demo: still running after the demo: ${left[*]}" >&2
    exit 1
  fi
  if ((${#pids[@]})); then echo "demo: all ${#pids[@]} programs it started are stopped"; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

say "Building into $build (Release, tests off)"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZEVA_BUILD_TESTS=OFF >"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log" >&2; exit 1; }
cmake --build "$build" -j2 >"$work/build.log" 2>&1 || { tail -40 "$work/build.log" >&2; exit 1; }

daemon="$build/app/zeva-rotator"
boxsim="$build/tools/boxsim/zeva-boxsim"
ctl="$build/tools/ctl/zeva-ctl"
station="$build/tools/station/zeva-station"

if ((web)) && (exec 3<>"/dev/tcp/127.0.0.1/$web_port") 2>/dev/null; then
  echo "demo: TCP port $web_port is already in use; stop what uses it and try again." >&2
  exit 1
fi

say "Starting the daemon (log: daemon output is shown at the end)"
"$daemon" >"$work/daemon.log" 2>&1 &
pids+=($!)
daemon_pid=$!
for _ in $(seq 50); do
  if ! kill -0 "$daemon_pid" 2>/dev/null; then
    echo "demo: the daemon did not start:" >&2
    cat "$work/daemon.log" >&2
    exit 1
  fi
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then break; fi
  sleep 0.1
done
"$ctl" version

# Starts an emulated box and sets box_path to its device path. Runs in this
# shell, never in a $(...) subshell, so that its process id reaches pids and
# the clean-up stops it.
start_box() {
  local model="$1" start="$2" file="$work/$1.path"
  "$boxsim" --model "$model" --speed "$speed" --start "$start" --path-file "$file" \
    >/dev/null 2>"$work/$model.log" &
  pids+=($!)
  for _ in $(seq 50); do
    if [[ -s "$file" ]]; then
      box_path="$(cat "$file")"
      return 0
    fi
    sleep 0.1
  done
  echo "demo: the $model emulator did not start:" >&2
  cat "$work/$model.log" >&2
  return 1
}

say "Starting two emulated boxes turning at $speed degrees per second"
start_box yaesu 0
yaesu="$box_path"
start_box rotorez 300
rotorez="$box_path"
echo "Yaesu GS-232 box on $yaesu (antenna at 000)"
echo "Rotor-EZ box on $rotorez (antenna at 300)"

if ((web)); then
  say "The station server and its web page"
  "$station" --http "127.0.0.1:$web_port" --preset EU:45 --preset JA:330 --preset VK:230 \
    --rotator "1:$yaesu:yaesu:500" --rotator "2:$rotorez:rotorez:500" 2>&1 &
  pids+=($!)
  sleep 1
  echo
  echo "Open http://127.0.0.1:$web_port/ in a browser (rotctld: rotctl -m 2 -r 127.0.0.1:4533)."
  echo "Press Ctrl-C to stop."
  wait "${pids[-1]}" || true
  exit 0
fi

say "One zeva-ctl connection: configure, turn, watch the bearings, stop"
"$ctl" \
  echo "configure rotator 1 (Yaesu) and rotator 2 (Rotor-EZ), polled every 500 ms" , \
  configure 1 "$yaesu" yaesu 500 , configure 2 "$rotorez" rotorez 500 , \
  sleep 1 , \
  echo "turn rotator 1 to 090 and rotator 2 to 200" , \
  rotate 1 90 , rotate 2 200 , \
  wait 1 90 --timeout 30 , wait 2 200 --timeout 30 , \
  echo "turn rotator 1 to 180 and stop both after 3 seconds" , \
  rotate 1 180 , rotate 2 300 , sleep 3 , stop 1 , stop 2 , \
  echo "stopped; two more seconds of listening" , \
  sleep 2

say "What the daemon logged"
sed -n "/running/,\$p" "$work/daemon.log"
say "Done; stopping the daemon and the emulators"
