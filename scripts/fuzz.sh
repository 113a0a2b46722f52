#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a fixed time from a copy of
# its seed corpus; any finding fails the script. Usage: scripts/fuzz.sh [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -DQM_FUZZ=ON -DQM_WERROR=ON -DBUILD_TESTING=OFF \
  -DQM_BENCHMARKS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc 2>/dev/null || echo 2)"

# The targets create and remove files for every input: on tmpfs that is many times faster.
if [ -z "${TMPDIR:-}" ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
work=$(mktemp -d /tmp/qm-fuzz-run.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p out
failed=()
for target in fuzz/corpus/*/; do
  name=$(basename "$target")
  # New inputs go to the copy: the corpus in the tree stays as it was committed.
  cp -r "$target" "$work/$name"
  dict=()
  case $name in article | group_conversation | reply_lines) dict=(-dict=fuzz/nntp.dict) ;; esac
  echo "== $name (${seconds}s)"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "$dir/fuzz/${name}_fuzz" "$work/$name" "${dict[@]}" -max_total_time="$seconds" \
      -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$PWD/out/$name-" \
      >"$work/$name.log" 2>&1; then
    tail -n 40 "$work/$name.log"
    failed+=("$name")
  fi
  grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec)|DONE' "$work/$name.log" || true
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]} (inputs in out/)" >&2
  exit 1
fi
echo "fuzz: no findings"
