#!/usr/bin/env bash
# Seeds faults into the library and the engines one at a time and runs the tests against each:
# a fault the tests notice is killed, one they miss survives. It shows what the tests would let
# through, and that making them leaner lost nothing.
#
#   scripts/mutants.sh [--source DIR] [--build DIR] [--list FILE] [--only N]
#
# The faults are listed in scripts/mutants.txt ("file :: original :: mutant"; the original text
# must occur exactly once). Each is applied to the source tree DIR (default this checkout; give
# a worktree to measure an older commit's tests), built in BUILD (default build-mutants, without
# the desktop program), and the tests run: the unit tests first, then the rest, stopping at the
# first failure. The source file is restored after every fault, also when the script is stopped.
# Prints one line per fault and the count killed; exits 0 unless the unmutated tests fail.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
source_dir="$here"
build_dir=""
list="$here/scripts/mutants.txt"
only=""
while [ $# -gt 0 ]; do
  case "$1" in
    --source) source_dir="$(cd "$2" && pwd)"; shift 2 ;;
    --build) build_dir="$2"; shift 2 ;;
    --list) list="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"; shift 2 ;;
    --only) only="$2"; shift 2 ;;
    *) echo "usage: $0 [--source DIR] [--build DIR] [--list FILE] [--only N]" >&2; exit 2 ;;
  esac
done
build_dir="${build_dir:-$source_dir/build-mutants}"
mkdir -p "$build_dir"
build_dir="$(cd "$build_dir" && pwd)"
jobs=$(nproc)
log="$build_dir/mutants.log"

# Restores the file under mutation, with a new time stamp so that the build sees the change.
backup="$build_dir/mutant-backup"
mutated=""
restore() {
  if [ -n "$mutated" ]; then
    cat "$backup" >"$mutated"
    touch "$mutated"
    mutated=""
  fi
}
trap restore EXIT INT TERM

build() {
  cmake --build "$build_dir" -j "$jobs" >>"$log" 2>&1
}

# Runs the unit tests, then the others; prints the first failing test's name, if any. A test
# that fails is run once more, as scripts/test.sh does: a few tests under heavy simulated loss
# fail now and then on a loaded machine, and such a failure is no catch.
run_tests() {
  local stage out
  for stage in "-L unit" "-LE unit"; do
    # shellcheck disable=SC2086
    if ! out=$(ctest --test-dir "$build_dir" $stage -j "$jobs" --timeout 300 --stop-on-failure \
      --repeat until-pass:2 2>&1); then
      echo "$out" >>"$log"
      echo "$out" | sed -n '/The following tests FAILED/{n;p;q}' | sed -E 's/^[[:space:]]*[0-9]+ - //; s/ \(.*//'
      return 0
    fi
  done
}

echo "== configure and build $build_dir"
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DORVEX_GUI=OFF -DORVEX_WERROR=OFF >/dev/null
: >"$log"
build
echo "== the tests without a fault"
failed=$(run_tests)
if [ -n "$failed" ]; then
  echo "the tests fail without any fault ($failed); see $log" >&2
  exit 1
fi

total=0
killed=0
stillborn=0
number=0
while IFS= read -r line; do
  case "$line" in '#'* | '') continue ;; esac
  number=$((number + 1))
  if [ -n "$only" ] && [ "$only" != "$number" ]; then
    continue
  fi
  file="${line%% :: *}"
  rest="${line#* :: }"
  original="${rest%% :: *}"
  mutant="${rest#* :: }"
  path="$source_dir/$file"
  if [ "$(grep -cF -- "$original" "$path" || true)" != 1 ]; then
    echo "$number NOT FOUND $file: $original"
    continue
  fi
  cp "$path" "$backup"
  mutated="$path"
  ORIGINAL="$original" MUTANT="$mutant" perl -0pi -e \
    'my $at = index($_, $ENV{ORIGINAL}); substr($_, $at, length $ENV{ORIGINAL}) = $ENV{MUTANT};' "$path"
  echo "== mutant $number: $file: $original => $mutant" >>"$log"
  if ! build; then
    echo "$number DID NOT BUILD $file: $mutant"
    stillborn=$((stillborn + 1))
    restore
    continue
  fi
  total=$((total + 1))
  failed=$(run_tests)
  restore
  if [ -n "$failed" ]; then
    killed=$((killed + 1))
    echo "$number KILLED   $file: $original => $mutant  (by $failed)"
  else
    echo "$number SURVIVED $file: $original => $mutant"
  fi
done <"$list"
build
echo "== $killed of $total mutants killed ($stillborn did not build)"
