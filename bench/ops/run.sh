#!/usr/bin/env bash
# Compares the archive engine's pack, extract and replace with tar and cp on
# the same data, on disk and in a RAM-backed folder, and prints the ratios
# (engine time / tool time; at most 1.0 for pack and extract, 1.1 for replace
# against cp and sync of the copy is the aim) and each run's peak memory.
#
#   bench/ops/run.sh [tool] [disk folder] [ram folder]
#
# tool defaults to build/bench/ops/ops_bench_tool; set RUNS for
# the number of timed runs per command (default 5; each row gives the fastest
# run of each side and the median and spread of the paired runs' ratios), SMALL (10000)
# and LARGE_MIB (20,35,50) for the tree.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
tool="${1:-$here/../../build/bench/ops/ops_bench_tool}"
disk_root="${2:-${TMPDIR:-/var/tmp}}"
ram_root="${3:-/dev/shm}"
runs="${RUNS:-5}"
small="${SMALL:-10000}"
large="${LARGE_MIB:-20,35,50}"
replaced="bench/d0/e0/f0/file0.con"

[[ -x "$tool" ]] || { echo "build the helper first: cmake --build build --target ops_bench_tool" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time (apt-get install -y time)" >&2; exit 2; }

# shellcheck source=../measure.sh
source "$here/../measure.sh"
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# row <what> <tool name> <goal>: the engine's figures against the tool's,
# from e_s/e_cpu/e_kb and t_s/t_cpu/t_kb.
row() {
  printf "  %-8s engine %7.3f s (cpu %5.2f s) %6s MiB | %-7s %7.3f s (cpu %5.2f s) %6s MiB | fastest %5s, cpu %5s | median %5s (%s-%s, %d runs) (goal <= %s)\n" \
    "$1" "$e_s" "$e_cpu" "$(mib "$e_kb")" "$2" "$t_s" "$t_cpu" "$(mib "$t_kb")" \
    "$(ratio "$e_s" "$t_s")" "$(ratio "$e_cpu" "$t_cpu")" "$pair_median" "$pair_low" "$pair_high" "$runs" "$3"
}
# pair <prepare> <tool command> <prepare> <engine command>: both timed in
# alternation; the tool's figures go to t_*, the engine's to e_*.
pair() {
  measure_pair "$@"
  t_s="$a_s"; t_cpu="$a_cpu"; t_kb="$a_kb"
  e_s="$b_s"; e_cpu="$b_cpu"; e_kb="$b_kb"
}

bench_in() {
  local where="$1" label="$2"
  local w
  w="$(mktemp -d "$where/vzr-ops-bench.XXXXXX")"
  trap 'rm -rf "$w"' RETURN
  "$tool" tree "$w/tree" "$small" "$large"
  local bytes
  bytes="$(du -sb "$w/tree" | cut -f1)"
  echo "$label ($w): $small small files + ${large} MiB, $((bytes / 1048576)) MiB in all; $runs alternating runs"

  pair "rm -f '$w/t.tar'" "tar -cf '$w/t.tar' -C '$w/tree' ." \
       "rm -f '$w/t.vzr'" "'$tool' pack '$w/tree' '$w/t.vzr'"
  row pack "tar -cf" "1.0 (tar flushes nothing)"
  # A pack flushes the new archive before it takes its name, so tar with
  # the same guarantee is tar followed by sync of the archive.
  pair "rm -f '$w/t.tar'" "sh -c \"tar -cf '$w/t.tar' -C '$w/tree' . && sync '$w/t.tar'\"" \
       "rm -f '$w/t.vzr'" "'$tool' pack '$w/tree' '$w/t.vzr'"
  row pack tar+sync 1.0

  # Each run extracts into a folder of its own and none is deleted until
  # all have run: on a file system that avoids reusing inodes freed moments
  # ago, creating files just after deleting a tree costs far more, and which
  # tool met that would decide the ratio.
  local k=0
  pair 'k=$((k + 1)); mkdir "$w/xt$k"' 'tar -xf "$w/t.tar" -C "$w/xt$k"' \
       'mkdir "$w/xv$k"' '"$tool" extract "$w/t.vzr" "$w/xv$k"'
  row extract "tar -xf" 1.0
  if ! diff -rq "$w/tree" "$w/xv$k/bench" >/dev/null; then echo "  WARNING: extracted tree differs from the source" >&2; fi
  rm -rf "$w"/xt* "$w"/xv*

  # The replacement overwrites an existing archive, so cp overwrites an
  # existing copy too (freeing the old blocks is part of both).
  # A replacement flushes the new archive before the rename, so the tool
  # with the same guarantee is cp followed by sync of the copy; plain cp
  # (nothing flushed) is shown beside it.
  cp "$w/t.vzr" "$w/c.vzr"
  pair ":" "sh -c \"cp '$w/t.vzr' '$w/c.vzr' && sync '$w/c.vzr'\"" ":" "'$tool' replace '$w/t.vzr' '$replaced'"
  row replace cp+sync 1.1
  pair ":" "cp '$w/t.vzr' '$w/c.vzr'" ":" "'$tool' replace '$w/t.vzr' '$replaced'"
  row replace cp "(shown only)"
}

bench_in "$disk_root" "on disk"
if [[ -d "$ram_root" ]]; then bench_in "$ram_root" "RAM-backed"; else echo "no $ram_root: RAM-backed run skipped"; fi
