#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time (default 20 s),
# starting from the kept corpus; new interesting inputs are added to it.
#   fuzz/run.sh            every target, 20 s each
#   fuzz/run.sh 600        every target, ten minutes each
#   fuzz/run.sh 3600 fuzz_replies
# A crash leaves its input as crash-* in the current folder: keep it in
# fuzz/corpus/<target>/ so the replay test guards the fix.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
shift || true
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  # Every target: each has its kept corpus in fuzz/corpus/<target>.
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for t in "${targets[@]}"; do
  echo "== $t for ${seconds}s"
  work=$(mktemp -d)
  # New finds go to a scratch folder first, then the corpus is merged, so
  # only inputs that add coverage are kept.
  ./build/fuzz/fuzz/"$t" -max_total_time="$seconds" -close_fd_mask=3 \
    -print_final_stats=1 "$work" "fuzz/corpus/$t" 2>&1 | tail -n 12
  ./build/fuzz/fuzz/"$t" -merge=1 -close_fd_mask=3 "fuzz/corpus/$t" "$work" >/dev/null 2>&1 || true
  rm -rf "$work"
done
