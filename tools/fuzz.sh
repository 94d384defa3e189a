#!/usr/bin/env bash
# Runs every fuzz target of the sanitizer build for SECONDS each (default 30), starting from its
# checked-in seed corpus with its dictionary, as many at once as there are cores. Fails when a
# target finds an input that crashes it, trips a sanitizer or that its subject reads against the
# rules. New corpus entries and crash files go to the build tree, never to the checked-in corpus.
# Usage: bash tools/fuzz.sh [SECONDS]; SANITIZE_BUILD_DIR names the build (default build-sanitize).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${SANITIZE_BUILD_DIR:-$ROOT/build-sanitize}
seconds=${1:-30}
work=$BUILD_DIR/fuzz-work

if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "Usage: bash tools/fuzz.sh [SECONDS]" >&2
  exit 2
fi
# The sanitizer settings the build's tests run with.
if [ -f "$BUILD_DIR/sanitizer.env" ]; then
  while IFS= read -r setting; do
    [ -n "$setting" ] && export "${setting?}"
  done <"$BUILD_DIR/sanitizer.env"
fi

# Runs one target; its output goes to a log beside its corpus and crash files.
run_target() {
  local name=$1
  local dir=$work/$name
  mkdir -p "$dir/corpus" "$dir/crashes" "$dir/tmp"
  touch "$dir/started"
  local status=0
  TMPDIR=$dir/tmp "$BUILD_DIR/tests/fuzz/fuzz_$name" \
    -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
    -dict="$ROOT/tests/fuzz/$name.dict" -artifact_prefix="$dir/crashes/" \
    "$dir/corpus" "$ROOT/tests/fuzz/corpus/$name" >"$dir/log" 2>&1 || status=$?
  echo "$status" >"$dir/status"
}

names=()
for corpus in "$ROOT"/tests/fuzz/corpus/*/; do
  name=$(basename "$corpus")
  if [ ! -x "$BUILD_DIR/tests/fuzz/fuzz_$name" ]; then
    echo "fuzz_$name is not built in $BUILD_DIR; bash tools/test.sh builds it (with clang)." >&2
    exit 1
  fi
  names+=("$name")
done

echo "Fuzzing ${names[*]} for $seconds s each"
pids=()
for name in "${names[@]}"; do
  # At most one target per core at a time.
  if [ "${#pids[@]}" -ge "$(nproc)" ]; then
    wait "${pids[0]}"
    pids=("${pids[@]:1}")
  fi
  run_target "$name" &
  pids+=($!)
done
wait

failed=0
passed=0
for name in "${names[@]}"; do
  dir=$work/$name
  crashes=$(find "$dir/crashes" -type f -newer "$dir/started")
  runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$dir/log")
  if [ "$(cat "$dir/status")" = 0 ] && [ -z "$crashes" ]; then
    echo "fuzz_$name: $runs inputs, all read by the rules"
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "fuzz_$name: FAILED; the end of $dir/log:"
    tail -n 40 "$dir/log"
    for crash in $crashes; do
      echo "Input kept in $crash; replay it with: $BUILD_DIR/tests/fuzz/fuzz_$name $crash"
    done
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" = 0 ]
