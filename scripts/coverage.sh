#!/usr/bin/env bash
# Line and branch coverage of the library and the widget-free engines by the tests.
#
#   scripts/coverage.sh [--source DIR] [--build DIR]
#
# Builds DIR (default build-coverage) from the source tree DIR (default this checkout) with gcc's
# --coverage, runs every test but the desktop program's, and prints gcovr's summary of lib/ and
# the engines (cards/, dataservice/, pos/, platform/, cli/). The HTML report is written to
# BUILD/coverage/index.html. --source lets one measure an older commit's tests from a worktree.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
source_dir="$here"
build_dir=""
while [ $# -gt 0 ]; do
  case "$1" in
    --source) source_dir="$(cd "$2" && pwd)"; shift 2 ;;
    --build) build_dir="$2"; shift 2 ;;
    *) echo "usage: $0 [--source DIR] [--build DIR]" >&2; exit 2 ;;
  esac
done
build_dir="$(mkdir -p "${build_dir:-$source_dir/build-coverage}" && cd "${build_dir:-$source_dir/build-coverage}" && pwd)"

# The offload's workers run the same code side by side: their counters are updated atomically,
# or gcov may read a torn count (a branch "taken -1 times") and gcovr stops.
flags="--coverage -fprofile-update=atomic"
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVEX_GUI=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
find "$build_dir" -name '*.gcda' -delete
ctest --test-dir "$build_dir" -j "$(nproc)" --timeout 300 --repeat until-pass:2 >"$build_dir/coverage-tests.log" ||
  { tail -30 "$build_dir/coverage-tests.log"; exit 1; }
grep -E 'tests passed' "$build_dir/coverage-tests.log"

mkdir -p "$build_dir/coverage"
filters=()
for folder in lib cards dataservice pos platform cli; do
  filters+=(--filter "$source_dir/$folder/")
done
cd "$build_dir"
gcovr --root "$source_dir" "${filters[@]}" --exclude-unreachable-branches --exclude-throw-branches \
  --html-details coverage/index.html --print-summary --txt coverage/summary.txt . >/dev/null
gcovr --root "$source_dir" "${filters[@]}" --exclude-unreachable-branches --exclude-throw-branches \
  --print-summary --txt /dev/null . | tail -3
