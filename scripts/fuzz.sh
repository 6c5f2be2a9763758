#!/usr/bin/env bash
# Builds the libFuzzer targets (build-fuzz: clang, configured when it is not yet) and runs
# every target, or the ones named, for a given time each, one after the other. A target
# works on a scratch copy of its corpus (fuzz/corpus/<target>/) together with seeds fuzz_seeds
# makes afresh, with its dictionary (fuzz/<target>.dict) when it has one.
#
#   scripts/fuzz.sh [--seconds N | --cpu-seconds N] [--jobs N] [--keep] [--write-seeds] [TARGET...]
#
#   --seconds N      run each target N seconds (default 60)
#   --cpu-seconds N  run each target until it has used N seconds of processor time, which on a
#                    busy machine takes longer than N seconds
#   --jobs N         build jobs (default: the number of processors)
#   --keep           merge the inputs that reached new coverage into fuzz/corpus/<target>/
#   --write-seeds    write the seeds into fuzz/corpus/ (as committed) and stop
#
# Prints one line per target: processor seconds, executions, executions per second, coverage
# (libFuzzer's cov and ft), corpus (inputs/size) and findings. A finding (crash-, leak-,
# timeout- or oom- file, kept in build-fuzz/findings/<target>/ with the run's log) makes the
# script exit 1.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
}

seconds=60
cpu_budget=0
jobs=$(nproc)
keep=0
write_seeds=0
wanted=()
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --cpu-seconds) cpu_budget=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --write-seeds) write_seeds=1; shift ;;
    -h | --help) usage; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) wanted+=("${1#fuzz_}"); shift ;;
  esac
done

all=()
for source in fuzz/fuzz_*.cpp; do
  name=${source#fuzz/fuzz_}
  all+=("${name%.cpp}")
done
if [ ${#wanted[@]} -eq 0 ]; then
  wanted=("${all[@]}")
fi
for target in "${wanted[@]}"; do
  if [ ! -f "fuzz/fuzz_$target.cpp" ]; then
    echo "fuzz.sh: no target $target (targets: ${all[*]})" >&2
    exit 2
  fi
done

build=build-fuzz
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "== $build: configure"
  cmake -S . -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DORVEX_FUZZ=ON -DORVEX_GUI=OFF >/dev/null
fi
echo "== $build: build"
cmake --build "$build" -j "$jobs" --target fuzzers

if [ $write_seeds -eq 1 ]; then
  "$build/fuzz/fuzz_seeds" fuzz/corpus "$PWD"
  echo "seeds written into fuzz/corpus/"
  exit 0
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/orvex-fuzz.XXXXXX")
# The files the targets write go to a tmpfs where there is one: their fsync calls are free.
files=$(mktemp -d "$([ -w /dev/shm ] && echo /dev/shm || echo "$scratch")/orvex-fuzz.XXXXXX")
trap 'rm -rf "$scratch" "$files"' EXIT
export ORVEX_FUZZ_SCRATCH=$files
"$build/fuzz/fuzz_seeds" "$scratch/seeds" "$PWD"

# Runs a target. With a processor-time budget it is interrupted once it has used the budget;
# libFuzzer then prints its statistics and exits with 72, which counts as a whole run here.
run_target() {
  "$@" &
  local pid=$! ticks used interrupted=0 status=0
  ticks=$(getconf CLK_TCK)
  while [ "$cpu_budget" -gt 0 ] && kill -0 "$pid" 2>/dev/null; do
    used=$(awk -v t="$ticks" '{ print int(($14 + $15) / t) }' "/proc/$pid/stat" 2>/dev/null)
    if [ "${used:-0}" -ge "$cpu_budget" ]; then
      kill -INT "$pid"
      interrupted=1
      break
    fi
    sleep 1
  done
  wait "$pid" || status=$?
  if [ $interrupted -eq 1 ] && [ $status -eq 72 ]; then
    status=0
  fi
  return $status
}

# The value after `key` in the last status line libFuzzer printed ("cov: 812").
status_value() {
  local log=$1 key=$2
  grep -E "^#[0-9]+.* $key: " "$log" | tail -n 1 | sed -E "s/.* $key: ([^ ]+).*/\\1/"
}

found=0
if [ "$cpu_budget" -gt 0 ]; then
  echo "== fuzzing ${wanted[*]}, ${cpu_budget} s of processor time each"
else
  echo "== fuzzing ${wanted[*]}, ${seconds} s each"
fi
for target in "${wanted[@]}"; do
  corpus=$scratch/corpus/$target
  seeds=$scratch/seeds/$target
  findings=$build/findings/$target
  mkdir -p "$corpus" "$seeds"
  rm -rf "$findings"
  mkdir -p "$findings"
  if [ -d "fuzz/corpus/$target" ]; then
    cp -r "fuzz/corpus/$target/." "$corpus/"
  fi
  limit=$([ "$cpu_budget" -gt 0 ] && echo $((cpu_budget * 20)) || echo "$seconds")
  args=(-max_total_time="$limit" -print_final_stats=1 -rss_limit_mb=2048
    -timeout=10 -close_fd_mask=1 -artifact_prefix="$findings/")
  if [ -f "fuzz/$target.dict" ]; then
    args+=(-dict="fuzz/$target.dict")
  fi
  log=$findings/fuzz.log
  status=0
  # The run's processor time (user + system), which a loaded machine makes less than its wall time.
  TIMEFORMAT='%U %S'
  { time run_target "$build/fuzz/fuzz_$target" "${args[@]}" "$corpus" "$seeds" >"$log" 2>&1 ||
    status=$?; } \
    2>"$findings/cpu"
  cpu=$(awk '{ printf "%.0f", $1 + $2 }' "$findings/cpu")

  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  artifacts=$(find "$findings" -maxdepth 1 -type f \
    \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | sort)
  if [ -n "$artifacts" ]; then
    result="FOUND $(echo "$artifacts" | tr '\n' ' ')(log $log)"
    found=1
  elif [ "$status" -ne 0 ]; then
    result="FAILED with status $status (log $log)"
    found=1
  else
    result="none"
  fi
  printf '%-16s cpu %-5s execs %-9s exec/s %-6s cov %-6s ft %-7s corpus %-12s findings %s\n' \
    "$target" "${cpu}s" "${execs:-?}" "${rate:-?}" "$(status_value "$log" cov)" \
    "$(status_value "$log" ft)" "$(status_value "$log" corp)" "$result"

  if [ $keep -eq 1 ] && [ "$status" -eq 0 ]; then
    mkdir -p "fuzz/corpus/$target"
    before=$(find "fuzz/corpus/$target" -type f | wc -l)
    if ! "$build/fuzz/fuzz_$target" -merge=1 -close_fd_mask=1 -rss_limit_mb=2048 -timeout=10 \
      "fuzz/corpus/$target" "$corpus" >"$findings/merge.log" 2>&1; then
      echo "                 merge failed (log $findings/merge.log)"
      found=1
    fi
    after=$(find "fuzz/corpus/$target" -type f | wc -l)
    echo "                 kept $((after - before)) new inputs in fuzz/corpus/$target/"
  fi
done
exit $found
