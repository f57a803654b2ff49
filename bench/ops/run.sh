#!/usr/bin/env bash
# Compares the archive engine's pack, extract and replace with tar and cp on
# the same data, on disk and in a RAM-backed folder, and prints the ratios
# (engine time / tool time; at most 1.0 for pack and extract, 1.1 for replace
# against cp and sync of the copy is the aim) and each run's peak memory.
#
#   bench/ops/run.sh [tool] [disk folder] [ram folder]
#
# tool defaults to build/bench/ops/ops_bench_tool; set RUNS (default 3) for
# the number of timed runs per command (the fastest counts), SMALL (10000)
# and LARGE_MIB (20,35,50) for the tree.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
tool="${1:-$here/../../build/bench/ops/ops_bench_tool}"
disk_root="${2:-${TMPDIR:-/var/tmp}}"
ram_root="${3:-/dev/shm}"
runs="${RUNS:-3}"
small="${SMALL:-10000}"
large="${LARGE_MIB:-20,35,50}"
replaced="bench/d0/e0/f0/file0.con"

[[ -x "$tool" ]] || { echo "build the helper first: cmake --build build --target ops_bench_tool" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time (apt-get install -y time)" >&2; exit 2; }

# measure <prepare command> <command...>: the fastest of $runs runs.
# Sets best_s (wall seconds), best_cpu (user + system seconds of that run)
# and best_kb (its peak resident memory, in KiB). The machine may be shared:
# the CPU figure is the steadier one when others are busy.
measure() {
  local prepare="$1"; shift
  best_s=""; best_kb=""; best_cpu=""
  local i out
  out="$(mktemp)"
  for ((i = 0; i < runs; i++)); do
    eval "$prepare"
    sync
    local t0 t1
    t0="$(date +%s.%N)"
    /usr/bin/time -f "%M %U %S" -o "$out" "$@" >/dev/null 2>"$out.err" || { cat "$out.err" >&2; exit 1; }
    t1="$(date +%s.%N)"
    read -r kb user sys <"$out"
    s="$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }')"
    if [[ -z "$best_s" ]] || awk -v a="$s" -v b="$best_s" 'BEGIN { exit !(a < b) }'; then
      best_s="$s"; best_kb="$kb"; best_cpu="$(awk -v u="$user" -v k="$sys" 'BEGIN { printf "%.2f", u + k }')"
    fi
  done
  rm -f "$out" "$out.err"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# row <what> <tool name> <goal>: the engine's figures against the tool's,
# from e_s/e_cpu/e_kb and t_s/t_cpu/t_kb.
row() {
  printf "  %-8s engine %7.3f s (cpu %5.2f s) %6s MiB | %-7s %7.3f s (cpu %5.2f s) %6s MiB | ratio %5s, cpu %5s (goal <= %s)\n" \
    "$1" "$e_s" "$e_cpu" "$(mib "$e_kb")" "$2" "$t_s" "$t_cpu" "$(mib "$t_kb")" \
    "$(ratio "$e_s" "$t_s")" "$(ratio "$e_cpu" "$t_cpu")" "$3"
}
tool_result() { t_s="$best_s"; t_cpu="$best_cpu"; t_kb="$best_kb"; }
engine_result() { e_s="$best_s"; e_cpu="$best_cpu"; e_kb="$best_kb"; }

bench_in() {
  local where="$1" label="$2"
  local w
  w="$(mktemp -d "$where/vzr-ops-bench.XXXXXX")"
  trap 'rm -rf "$w"' RETURN
  "$tool" tree "$w/tree" "$small" "$large"
  local bytes
  bytes="$(du -sb "$w/tree" | cut -f1)"
  echo "$label ($w): $small small files + ${large} MiB, $((bytes / 1048576)) MiB in all; fastest of $runs runs"

  measure "rm -f '$w/t.tar'" tar -cf "$w/t.tar" -C "$w/tree" .
  tool_result
  measure "rm -f '$w/t.vzr'" "$tool" pack "$w/tree" "$w/t.vzr"
  engine_result
  row pack "tar -cf" 1.0

  measure "rm -rf '$w/xt'; mkdir '$w/xt'" tar -xf "$w/t.tar" -C "$w/xt"
  tool_result
  measure "rm -rf '$w/xv'; mkdir '$w/xv'" "$tool" extract "$w/t.vzr" "$w/xv"
  engine_result
  row extract "tar -xf" 1.0
  if ! diff -rq "$w/tree" "$w/xv/bench" >/dev/null; then echo "  WARNING: extracted tree differs from the source" >&2; fi

  # The replacement overwrites an existing archive, so cp overwrites an
  # existing copy too (freeing the old blocks is part of both).
  # A replacement flushes the new archive before the rename, so the tool
  # with the same guarantee is cp followed by sync of the copy; plain cp
  # (nothing flushed) is shown beside it.
  cp "$w/t.vzr" "$w/c.vzr"
  measure ":" sh -c "cp '$w/t.vzr' '$w/c.vzr' && sync '$w/c.vzr'"
  tool_result
  measure ":" "$tool" replace "$w/t.vzr" "$replaced"
  engine_result
  row replace cp+sync 1.1
  measure ":" cp "$w/t.vzr" "$w/c.vzr"
  tool_result
  row replace cp "(shown only)"
}

bench_in "$disk_root" "on disk"
if [[ -d "$ram_root" ]]; then bench_in "$ram_root" "RAM-backed"; else echo "no $ram_root: RAM-backed run skipped"; fi
