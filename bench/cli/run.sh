#!/usr/bin/env bash
# The vzr command line against the engine calls and tools it is built on, in
# one run, with ratios (vzr time / baseline time):
#   list    of a 100,000-entry archive   vs LoadIndex alone            (goal <= 1.5)
#   extract of the bench/ops tree        vs tar -xf of the same tree   (goal <= 1.0)
#   test    of a 200 MiB segmented archive of real streams
#                                        vs reading and decoding its entries (goal <= 1.25, i.e. >= 0.8x speed)
#   find    over 1,000 archives          vs LoadIndex of each (reads indexes only; the time is reported)
#
#   bench/cli/run.sh [build folder] [work folder]
#
# Build first: cmake --build build --target vzr cli_bench_tool ops_bench_tool.
# RUNS (default 3) timed runs per command, the fastest counts; ENTRIES
# (100000), SMALL (10000) and LARGE_MIB (20,35,50) for the trees, SEG_MIB
# (200), ARCHIVES (1000).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build}"
root="${2:-${TMPDIR:-/var/tmp}}"
runs="${RUNS:-3}"
entries="${ENTRIES:-100000}"
small="${SMALL:-10000}"
large="${LARGE_MIB:-20,35,50}"
seg_mib="${SEG_MIB:-200}"
archives="${ARCHIVES:-1000}"
vzr="$build/cli/vzr"
tool="$build/bench/cli/cli_bench_tool"
ops="$build/bench/ops/ops_bench_tool"

for p in "$vzr" "$tool" "$ops"; do
  [[ -x "$p" ]] || { echo "build first: cmake --build build --target vzr cli_bench_tool ops_bench_tool ($p)" >&2; exit 2; }
done
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time (apt-get install -y time)" >&2; exit 2; }

# measure <prepare command> <command...>: the fastest of $runs runs; sets
# best_s (wall seconds) and best_cpu (user + system seconds of that run).
measure() {
  local prepare="$1"; shift
  best_s=""; best_cpu=""
  local i out t0 t1 s user sys
  out="$(mktemp)"
  for ((i = 0; i < runs; i++)); do
    eval "$prepare"
    sync
    t0="$(date +%s.%N)"
    /usr/bin/time -f "%U %S" -o "$out" "$@" >/dev/null 2>"$out.err" || { echo "failed: $*" >&2; cat "$out.err" >&2; exit 1; }
    t1="$(date +%s.%N)"
    read -r user sys <"$out"
    s="$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }')"
    if [[ -z "$best_s" ]] || awk -v a="$s" -v b="$best_s" 'BEGIN { exit !(a < b) }'; then
      best_s="$s"; best_cpu="$(awk -v u="$user" -v k="$sys" 'BEGIN { printf "%.2f", u + k }')"
    fi
  done
  rm -f "$out" "$out.err"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

# row <what> <baseline name> <goal>: vzr's figures (v_s, v_cpu) against the
# baseline's (b_s, b_cpu).
row() {
  printf "  %-8s vzr %8.3f s (cpu %6.2f s) | %-22s %8.3f s (cpu %6.2f s) | ratio %5s, cpu %5s (goal %s)\n" \
    "$1" "$v_s" "$v_cpu" "$2" "$b_s" "$b_cpu" "$(ratio "$v_s" "$b_s")" "$(ratio "$v_cpu" "$b_cpu")" "$3"
}
baseline() { b_s="$best_s"; b_cpu="$best_cpu"; }
measured() { v_s="$best_s"; v_cpu="$best_cpu"; }

w="$(mktemp -d "$root/vzr-cli-bench.XXXXXX")"
trap 'rm -rf "$w"' EXIT
echo "vzr command line ($w), fastest of $runs runs"

"$tool" index "$w/many.vzr" "$entries"
measure ":" "$tool" loadindex "$w/many.vzr"; baseline
measure ":" "$vzr" list "$w/many.vzr"; measured
row list "LoadIndex" "<= 1.5"

"$ops" tree "$w/tree" "$small" "$large"
"$vzr" pack -q "$w/tree" "$w/tree.vzr"
tar -cf "$w/tree.tar" -C "$w/tree" .
rm -rf "$w/tree"
measure "rm -rf '$w/xt'; mkdir '$w/xt'" tar -xf "$w/tree.tar" -C "$w/xt"; baseline
measure "rm -rf '$w/xv'; mkdir '$w/xv'" "$vzr" extract -q -C "$w/xv" "$w/tree.vzr"; measured
if ! diff -rq "$w/xt" "$w/xv" >/dev/null; then echo "  WARNING: vzr extract and tar -xf wrote different trees" >&2; fi
rm -rf "$w/xt" "$w/xv" "$w/tree.tar" "$w/tree.vzr"
row extract "tar -xf" "<= 1.0 ($small files + $large MiB)"

"$tool" segmented "$w/seg.vzr" "$seg_mib" "$w" 2>/dev/null
seg_bytes="$(stat -c %s "$w/seg.vzr")"
measure ":" "$tool" decode "$w/seg.vzr"; baseline
measure ":" "$vzr" test -q "$w/seg.vzr"; measured
row test "read + Decompression" "<= 1.25 ($seg_mib MiB in $((seg_bytes / 1048576)) MiB)"
rm -f "$w/seg.vzr"

"$tool" archives "$w/mods" "$archives"
measure ":" "$tool" loadindexes "$w/mods"; baseline
measure ":" "$vzr" find '*.con' "$w/mods"; measured
row find "LoadIndex of each" "report ($archives archives)"
