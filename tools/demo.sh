#!/usr/bin/env bash
# Shows ZEVA Rotator at work without hardware: builds everything, starts the
# daemon, two emulated controller boxes (a Yaesu and a Rotor-EZ) and the
# station server, the daemon's one client, which every other program
# shares. Everything it started is stopped on exit.
#
#   tools/demo.sh          zeva-ctl turns both rotators through the station
#                          while a tracker turns one through its rotctld port;
#                          the station tells who turned them
#   tools/demo.sh --web    the station's web page on http://127.0.0.1:8080/
#                          (zeva-ctl --station and rotctld beside it) until
#                          Ctrl-C
#
# Ctrl-C ends either cleanly (status 0): on a terminal the demo reads it as a
# key, so that make, which runs the demo, is not interrupted too.
set -euo pipefail

web=0
case "${1:-}" in
  "") ;;
  --web) web=1 ;;
  *) echo "usage: tools/demo.sh [--web]" >&2; exit 2 ;;
esac

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-demo"
port=13020
web_port=8080
rotctld_port=4533  # rotator 1's; rotator 2's is two above
speed=15

say() { printf '\n==> %s\n' "$*"; }

# Refuse to start when something already listens on a port the demo needs.
for needed in "$port" "$web_port" "$rotctld_port" "$((rotctld_port + 2))"; do
  if (exec 3<>"/dev/tcp/127.0.0.1/$needed") 2>/dev/null; then
    echo "demo: TCP port $needed is already in use (another zeva-rotator or station?); stop it and try again." >&2
    exit 1
  fi
done

pids=()
running=""  # the process run() waits for
work="$(mktemp -d "${TMPDIR:-/tmp}/zeva-demo.XXXXXX")"
terminal=""
if [[ -t 0 ]]; then
  terminal="$(stty -g)"
  # Ctrl-C becomes a key the demo reads (see while_running); a read waits
  # 0.2 s at most.
  stty -isig -icanon -echo min 0 time 2
fi
cleanup() {
  local pid left=()
  [[ -n "$terminal" ]] && stty "$terminal"
  if [[ -n "$running" ]]; then
    kill "$running" 2>/dev/null || true
    wait "$running" 2>/dev/null || true
  fi
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
stopped_by_user() {
  printf '\ndemo: stopped (Ctrl-C)\n'
  show_daemon_log
  exit 0
}
trap cleanup EXIT
trap stopped_by_user INT
trap 'exit 143' TERM

show_daemon_log() {
  if [[ -s "$work/daemon.log" ]]; then
    say "What the daemon logged"
    sed -n "/running/,\$p" "$work/daemon.log"
  fi
}

# Waits while process $1 runs; Ctrl-C (a key, on a terminal) stops the
# demo meanwhile.
while_running() {
  local key
  while kill -0 "$1" 2>/dev/null; do
    if [[ -n "$terminal" ]]; then
      # Not bash's read -n, which turns the terminal's signals back on.
      key="$(dd bs=1 count=1 2>/dev/null)" || true
      if [[ "$key" == $'\x03' ]]; then stopped_by_user; fi
    else
      sleep 0.2
    fi
  done
}

# Runs a command in the background and waits for it (Ctrl-C stops the
# demo meanwhile); returns the command's status.
run() {
  "$@" &
  running=$!
  while_running "$running"
  local status=0
  wait "$running" || status=$?
  running=""
  return "$status"
}

say "Building into $build (Release, tests off)"
run cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZEVA_BUILD_TESTS=OFF >"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log" >&2; exit 1; }
run cmake --build "$build" -j2 >"$work/build.log" 2>&1 || { tail -40 "$work/build.log" >&2; exit 1; }

daemon="$build/app/zeva-rotator"
boxsim="$build/tools/boxsim/zeva-boxsim"
ctl="$build/tools/ctl/zeva-ctl"
station="$build/tools/station/zeva-station"

say "Starting the daemon (its log is shown at the end)"
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

# Starts an emulated box that keeps a stable link to its device, as
# /dev/serial/by-id does for a real one: a box unplugged and plugged back in
# gets a new /dev/pts/N, which another program may have taken meanwhile.
start_box() {
  local model="$1" start="$2" link="$work/$1"
  "$boxsim" --model "$model" --speed "$speed" --start "$start" --link "$link" \
    >/dev/null 2>"$work/$model.log" &
  pids+=($!)
  for _ in $(seq 50); do
    if [[ -e "$link" ]]; then return 0; fi
    sleep 0.1
  done
  echo "demo: the $model emulator did not start:" >&2
  cat "$work/$model.log" >&2
  return 1
}

say "Starting two emulated boxes turning at $speed degrees per second"
start_box yaesu 0
start_box rotorez 300
echo "Yaesu GS-232 box at $work/yaesu (antenna at 000)"
echo "Rotor-EZ box at $work/rotorez (antenna at 300)"

say "Starting the station: the daemon's one client, shared by the page, trackers and zeva-ctl"
station_args=(--http "127.0.0.1:$web_port" --base-port "$rotctld_port"
  --rotator "1:$work/yaesu:yaesu:500" --rotator "2:$work/rotorez:rotorez:500")
if ((web)); then
  # Its log on the terminal: who turns what, as it happens.
  "$station" "${station_args[@]}" --preset EU:45 --preset JA:330 --preset VK:230 &
else
  "$station" "${station_args[@]}" 2>"$work/station.log" &
fi
pids+=($!)
station_pid=$!
# Ready once both rotators report a bearing.
for _ in $(seq 100); do
  if ! kill -0 "$station_pid" 2>/dev/null; then
    echo "demo: the station did not start:" >&2
    cat "$work/station.log" >&2 2>/dev/null || true
    exit 1
  fi
  if "$ctl" --station "$web_port" status 2>/dev/null | grep -q ' at 300$'; then break; fi
  sleep 0.1
done

ctl() {
  printf '$ zeva-ctl --station %s %s\n' "$web_port" "$*"
  run "$ctl" --station "$web_port" "$@"
}

if ((web)); then
  echo
  ctl status
  echo
  echo "Open http://127.0.0.1:$web_port/ in a browser. Beside it, in another terminal:"
  echo "  $ctl --station $web_port -i        (zeva-ctl's shell, through the station)"
  echo "  rotctl -m 2 -r 127.0.0.1:$rotctld_port P 90 0        (a tracker's way, with Hamlib's rotctl)"
  echo "Each card shows who turned its rotator last. Press Ctrl-C to stop."
  while_running "$station_pid"
  echo "demo: the station ended" >&2
  show_daemon_log
  exit 1
fi

say "zeva-ctl asks the station what it has"
ctl status
say "zeva-ctl turns rotator 1 to 090 and rotator 2 to 200, and waits for both"
ctl rotate 1 90 , rotate 2 200 , wait 1 90 --timeout 30 , wait 2 200 --timeout 30

say "A tracker turns rotator 2 to 250 through its rotctld port, as Gpredict would"
echo "$ printf 'P 250 0\\n' to 127.0.0.1:$((rotctld_port + 2))"
exec 3<>"/dev/tcp/127.0.0.1/$((rotctld_port + 2))"
printf 'P 250 0\n' >&3
IFS= read -r -t 5 reply <&3 || reply="(no answer)"
exec 3>&-
echo "rotctld answers: $reply"
ctl watch --for 5

say "Who turned them last, as the station knows"
ctl status

say "zeva-ctl turns rotator 1 to 180 and stops both after 3 seconds"
ctl rotate 1 180 , sleep 3 , stop all

say "What the station logged"
cat "$work/station.log"
show_daemon_log
say "Done; stopping the daemon, the station and the emulators"
