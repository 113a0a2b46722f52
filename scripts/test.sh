#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once plainly, once under AddressSanitizer
# with UndefinedBehaviorSanitizer, once under ThreadSanitizer; runs each fuzz target briefly; then
# checks the formatting and clang-tidy.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
bash scripts/install-deps.sh

build() {  # build DIR [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" -DQM_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}

run_tests() {  # run_tests DIR [ctest options...]
  local dir=$1; shift
  (cd "$dir" && ctest --output-on-failure --timeout 600 "$@")
}

echo "== plain build and tests"
build build-ci -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_tests build-ci

echo "== the Debian package"
bash scripts/package-check.sh build-ci

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build build-asan -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=address -DQM_BENCHMARKS=OFF
# GLib keeps what it sets up once (its types, the session bus connection) for the life of the
# process; the keyring's tests and the runner they start use it.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS="suppressions=$PWD/scripts/lsan-glib.supp:print_suppressions=0" run_tests build-asan

echo "== ThreadSanitizer"
build build-tsan -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=thread -DQM_BENCHMARKS=OFF
TSAN_OPTIONS=halt_on_error=1 run_tests build-tsan

echo "== fuzzing (each target 30 s from its seed corpus)"
bash scripts/fuzz.sh 30

echo "== clang-format"
files=$(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp' 'fuzz/*.h' 2>/dev/null || true)
if [ -n "$files" ]; then
  clang-format --dry-run --Werror $files
fi
echo "== clang-tidy"
# One file per process, as many at once as there are processors: the window code pulls in Qt's
# headers and is slow to analyse one after another.
git ls-files 'src/*.cpp' | xargs -P "$jobs" -n 1 \
  clang-tidy -p build-ci --quiet --warnings-as-errors='*' --extra-arg=-Wno-unknown-warning-option \
  2>/dev/null

echo "All tests passed."
