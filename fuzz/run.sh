#!/usr/bin/env bash
# Builds the fuzz targets with clang, replays the seed corpus and the saved
# crash inputs, then fuzzes each target for SECONDS (default 30) with a fixed
# seed. Usage: fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
targets=("$@")
build=${FUZZ_BUILD_DIR:-build-fuzz}
options=(-rss_limit_mb=2048 -timeout=10 -seed="${FUZZ_SEED:-1}")

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQF_FUZZ=ON -DQF_BUILD_UI=ON >/dev/null
cmake --build "$build" -j2 --target qf_fuzz
if [ ${#targets[@]} -eq 0 ]; then
  for binary in "$build"/fuzz/*_fuzz; do targets+=("$(basename "$binary")"); done
fi

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
  binary=$build/fuzz/$target
  replay=(fuzz/corpus/"$target")
  [ -d fuzz/crashes/"$target" ] && replay+=(fuzz/crashes/"$target")
  echo "--- $target: replaying ${replay[*]}"
  "$binary" "${options[@]}" -runs=0 "${replay[@]}"

  # New inputs go to a scratch corpus so the committed one stays small.
  work=$build/corpus/$target
  artifacts=$build/artifacts/$target/
  mkdir -p "$work" "$artifacts"
  echo "--- $target: fuzzing for $seconds s"
  "$binary" "${options[@]}" -max_total_time="$seconds" -artifact_prefix="$artifacts" \
    -print_final_stats=1 "$work" fuzz/corpus/"$target"
done
