#!/usr/bin/env bash
# Runs the fuzz targets and prints, for each, the executions, the coverage
# reached and the findings.
#
#   scripts/fuzz.sh [--smoke] [--time SECONDS] [--runs N] [--workers W] [target...]
#
#   --smoke        a short run of every target (about a minute in all), as CI does
#   --time S       run each target for S seconds (default 60)
#   --runs N       stop each target after N executions instead (with --time too:
#                  whichever comes first)
#   --workers W    run W processes of each target side by side on its shared
#                  corpus (each picks up what the others find); --runs N is then
#                  the total, N/W per process (default 1)
#   target         fuzz_load_extract, fuzz_decompression, fuzz_extract_all, fuzz_compress (default: all)
#
# The targets are built with clang into build-asan/ (or $ASAN_BUILD_DIR) if they
# are not there yet. Each target keeps a growing corpus in
# <build>/fuzz-corpus/<target>, starting from seeds our own generator writes;
# inputs that crash, leak or time out land in <build>/fuzz-findings/<target>.
# Exit status 1 when any target found anything.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${ASAN_BUILD_DIR:-build-asan}
all_targets=(fuzz_load_extract fuzz_decompression fuzz_extract_all fuzz_compress)
seconds=60
runs=""
workers=1
time_given=""
targets=()
while (($#)); do
  case "$1" in
    --smoke) seconds=20 ;;
    --time) seconds=$2; time_given=1; shift ;;
    --runs) runs=$2; shift ;;
    --workers) workers=$2; shift ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    *) targets+=("$1") ;;
  esac
  shift
done
((${#targets[@]})) || targets=("${all_targets[@]}")

if [ ! -x "$BUILD_DIR/fuzz/fuzz_make_seeds" ]; then
  CC=${SANITIZE_CC:-clang} CXX=${SANITIZE_CXX:-clang++} \
    cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVZR_SANITIZE=ON -DVZR_FUZZ=ON -DVZR_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$BUILD_DIR" -j"$(nproc)" --target fuzz_make_seeds "${targets[@]}" >/dev/null

# Fuzzing's scratch files go to a folder of this run, removed at the end.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vzrfuzz-run.XXXXXX")
[ -w /dev/shm ] && scratch=$(mktemp -d /dev/shm/vzrfuzz-run.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
export VZR_FUZZ_SCRATCH=$scratch
export ASAN_OPTIONS="detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"

[[ "$workers" =~ ^[1-9][0-9]*$ ]] || { echo "--workers needs a positive number" >&2; exit 2; }
limit=(-max_total_time="$seconds")
[ -n "$runs" ] && limit=(-runs="$(((runs + workers - 1) / workers))")
[ -n "$runs" ] && [ -n "$time_given" ] && limit+=(-max_total_time="$seconds")

summary=()
failed=0
# Ctrl-C reaches the fuzzers themselves, which stop and print their figures
# (exit status 72); the script carries on to the summary.
trap '' INT
for target in "${targets[@]}"; do
  corpus="$BUILD_DIR/fuzz-corpus/$target"
  seeds="$BUILD_DIR/fuzz-seeds/$target"
  findings="$BUILD_DIR/fuzz-findings/$target"
  log="$BUILD_DIR/fuzz-findings/$target.log"
  rm -rf "$seeds"
  mkdir -p "$corpus" "$seeds" "$findings"
  "$BUILD_DIR/fuzz/fuzz_make_seeds" "$target" "$seeds" >/dev/null
  before=$(find "$findings" -type f | wc -l)
  echo "== $target: ${limit[*]}$( ((workers > 1)) && echo " in each of $workers processes")"
  started=$SECONDS
  # -malloc_limit_mb: no single allocation of more than 512 MiB, however
  # large the sizes an archive claims.
  pids=()
  logs=()
  for ((worker = 1; worker <= workers; worker++)); do
    log="$BUILD_DIR/fuzz-findings/$target.log"
    ((worker > 1)) && log="$BUILD_DIR/fuzz-findings/$target.worker$worker.log"
    logs+=("$log")
    "$BUILD_DIR/fuzz/$target" "${limit[@]}" -print_final_stats=1 -malloc_limit_mb=512 -rss_limit_mb=2048 \
      -timeout=20 -artifact_prefix="$findings/" "$corpus" "$seeds" >"$log" 2>&1 &
    pids+=($!)
  done
  # The worst exit status counts: a finding (1 and up, other than 72) wins
  # over an interruption (72), which wins over a clean end (0).
  status=0
  for pid in "${pids[@]}"; do
    worker_status=0
    wait "$pid" || worker_status=$?
    if ((worker_status != 0 && (status == 0 || status == 72))); then status=$worker_status; fi
  done
  elapsed=$((SECONDS - started))
  executions=0
  for worker_log in "${logs[@]}"; do
    ran=$(sed -n 's/^stat::number_of_executed_units: *//p' "$worker_log" | tail -1)
    executions=$((executions + ${ran:-0}))
  done
  coverage=$(grep -Eho 'cov: [0-9]+ ft: [0-9]+' "${logs[@]}" | sort -t' ' -k2,2n | tail -1 || true)
  corpus_size=$(find "$corpus" -type f | wc -l)
  new_findings=$(($(find "$findings" -type f | wc -l) - before))
  if ((status == 72 && new_findings == 0)); then
    echo "   interrupted"  # libFuzzer's exit status after a Ctrl-C or SIGINT
  elif ((status != 0 || new_findings > 0)); then
    failed=1
    echo "   FINDING (exit $status): see ${logs[*]} and $findings/"
    grep -hE 'ERROR|FUZZ CHECK FAILED|SUMMARY|runtime error' "${logs[@]}" | head -20 || true
  fi
  summary+=("$(printf '%-20s %12s executions  %-22s corpus %6d  %5d s  findings %d' \
    "$target" "$executions" "${coverage:-cov: ?}" "$corpus_size" "$elapsed" "$new_findings")")
done
echo "== fuzz summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
