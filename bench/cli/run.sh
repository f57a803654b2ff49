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

# shellcheck source=../measure.sh
source "$here/../measure.sh"

# compare <baseline command> <vzr command> [prepare baseline] [prepare vzr]:
# both timed in alternation; sets b_s/b_cpu (baseline) and v_s/v_cpu (vzr).
compare() {
  measure_pair "${3:-:}" "$1" "${4:-:}" "$2"
  local bs="$a_s" bc="$a_cpu"
  v_s="$b_s"; v_cpu="$b_cpu"; b_s="$bs"; b_cpu="$bc"
}

# row <what> <baseline name> <goal>: vzr's figures (v_s, v_cpu) against the
# baseline's (b_s, b_cpu).
row() {
  printf "  %-8s vzr %8.3f s (cpu %6.2f s) | %-22s %8.3f s (cpu %6.2f s) | ratio %5s, cpu %5s (goal %s)\n" \
    "$1" "$v_s" "$v_cpu" "$2" "$b_s" "$b_cpu" "$(ratio "$v_s" "$b_s")" "$(ratio "$v_cpu" "$b_cpu")" "$3"
}

w="$(mktemp -d "$root/vzr-cli-bench.XXXXXX")"
trap 'rm -rf "$w"' EXIT
echo "vzr command line ($w), fastest of $runs runs"

"$tool" index "$w/many.vzr" "$entries"
compare "'$tool' loadindex '$w/many.vzr'" "'$vzr' list '$w/many.vzr'"
row list "LoadIndex" "<= 1.5"

"$ops" tree "$w/tree" "$small" "$large"
"$vzr" pack -q "$w/tree" "$w/tree.vzr"
tar -cf "$w/tree.tar" -C "$w/tree" .
rm -rf "$w/tree"
# A folder of its own for each run, none deleted until all have run (see
# bench/ops/run.sh).
k=0
compare 'tar -xf "$w/tree.tar" -C "$w/xt$k"' '"$vzr" extract -q -C "$w/xv$k" "$w/tree.vzr"' \
        'k=$((k + 1)); mkdir "$w/xt$k"' 'mkdir "$w/xv$k"'
if ! diff -rq "$w/xt$k" "$w/xv$k" >/dev/null; then echo "  WARNING: vzr extract and tar -xf wrote different trees" >&2; fi
rm -rf "$w"/xt* "$w"/xv* "$w/tree.tar" "$w/tree.vzr"
row extract "tar -xf" "<= 1.0 ($small files + $large MiB)"

"$tool" segmented "$w/seg.vzr" "$seg_mib" "$w" 2>/dev/null
seg_bytes="$(stat -c %s "$w/seg.vzr")"
compare "'$tool' decode '$w/seg.vzr'" "'$vzr' test -q '$w/seg.vzr'"
row test "read + Decompression" "<= 1.25 ($seg_mib MiB in $((seg_bytes / 1048576)) MiB)"
rm -f "$w/seg.vzr"

"$tool" archives "$w/mods" "$archives"
compare "'$tool' loadindexes '$w/mods'" "'$vzr' find '*.con' '$w/mods'"
row find "LoadIndex of each" "report ($archives archives)"
