#!/usr/bin/env bash
# The reading verbs on 2 threads against 1, in one run, as medians of the
# ratios of alternating runs (1 thread, then 2, round after round):
#   vzr extract to RAM                      (goal: >= 1.8x)
#   vzr test                                (goal: >= 1.8x)
#   vzr cat of one 1 GiB entry to /dev/null (goal: >= 1.8x)
#   vzr grep                                (goal: stays >= 1.8x)
# on a level-6 archive of about 100 MiB of invented script text (CORPUS_MIB),
# then vzr extract against tar -xf and tar -I zstd -xf of the same tree, and
# the peak memory (maximum resident set) of extract and cat of one 1.5 GiB
# entry on 1, 2 and 8 threads.
#
#   bench/read_threads/run.sh [build folder] [work folder in RAM, default /dev/shm]
#
# Build first: cmake --build build --target vzr grep_bench_tool.
# RUNS (default 11) rounds per pair. SET=tree takes the grep benchmark's tree
# of FILES (10000) small files instead of the corpus of larger ones. The machine's cores and load are printed
# with the figures: on a shared machine the CPU columns say more.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build}"
root="${2:-/dev/shm}"
runs="${RUNS:-11}"
corpus_mib="${CORPUS_MIB:-100}"
vzr="$build/cli/vzr"
tool="$build/bench/grep/grep_bench_tool"

for p in "$vzr" "$tool"; do
  [[ -x "$p" ]] || { echo "build first: cmake --build build --target vzr grep_bench_tool ($p)" >&2; exit 2; }
done
command -v /usr/bin/time >/dev/null || { echo "needs /usr/bin/time (apt-get install -y time)" >&2; exit 2; }
if ! command -v zstd >/dev/null; then
  apt-get install -y -qq zstd >/dev/null 2>&1 || true
fi

# shellcheck source=../measure.sh
source "$here/../measure.sh"

w="$(mktemp -d "$root/vzr-read-bench.XXXXXX")"
trap 'rm -rf "$w"' EXIT
export LC_ALL=C
cp "$vzr" "$w/vzr"
vzr="$w/vzr"
echo "vzr reading on threads ($w), $runs alternating rounds, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"

# threads_row <what> <goal>: a = 1 thread, b = 2 threads.
threads_row() {
  printf "  %-30s 1 thread %7.3f s (cpu %5.2f) | 2 threads %7.3f s (cpu %5.2f) | median speed-up %5sx (%s..%s; goal %s)\n" \
    "$1" "$a_s" "$a_cpu" "$b_s" "$b_cpu" "$(ratio 1 "$pair_median")" "$(ratio 1 "$pair_high")" "$(ratio 1 "$pair_low")" "$2"
}

if [[ "${SET:-corpus}" == tree ]]; then "$tool" tree "$w/src" "${FILES:-10000}"; else "$tool" corpus "$w/src" "$corpus_mib"; fi
"$vzr" pack -q --compress=6 "$w/src" "$w/l6.vzr"
(cd "$w/src" && tar -cf "$w/tree.tar" .)
echo "  tree: $(($(du -sb "$w/src" | cut -f1) / 1048576)) MiB in $(find "$w/src" -type f | wc -l) files;" \
     "level-6 archive $(($(stat -c %s "$w/l6.vzr") / 1048576)) MiB"

k=0
fresh='k=$((k + 1)); mkdir "$w/x$k"'
measure_pair "$fresh" "'$vzr' extract -q --threads 1 -C \"\$w/x\$k\" '$w/l6.vzr'" \
             "$fresh" "'$vzr' extract -q --threads 2 -C \"\$w/x\$k\" '$w/l6.vzr'"
rm -rf "$w"/x*
threads_row "extract to RAM" ">= 1.8"
measure_pair ':' "'$vzr' test -q --threads 1 '$w/l6.vzr'" ':' "'$vzr' test -q --threads 2 '$w/l6.vzr'"
threads_row "test" ">= 1.8"
measure_pair ':' "'$vzr' grep -q -n --threads 1 'lantern_keeper' '$w/l6.vzr' > '$w/out'" \
             ':' "'$vzr' grep -q -n --threads 2 'lantern_keeper' '$w/l6.vzr' > '$w/out'"
threads_row "grep" ">= 1.8"

# extract against tar, each into a fresh folder.
extract_vs() {
  measure_pair "$fresh" "$2" "$fresh" "'$vzr' extract -q -C \"\$w/x\$k\" '$w/l6.vzr'"
  rm -rf "$w"/x*
  printf "  %-30s vzr (every core) %7.3f s (cpu %5.2f) | %-16s %7.3f s (cpu %5.2f) | vzr/tar time %5s (median %s)\n" \
    "extract vs $1" "$b_s" "$b_cpu" "$1" "$a_s" "$a_cpu" "$(ratio "$b_s" "$a_s")" "$pair_median"
}
extract_vs "tar -xf" "tar -xf '$w/tree.tar' -C \"\$w/x\$k\""
if command -v zstd >/dev/null; then
  zstd -q -T0 "$w/tree.tar" -o "$w/tree.tar.zst"
  extract_vs "tar -I zstd -xf" "tar -I zstd -xf '$w/tree.tar.zst' -C \"\$w/x\$k\""
else
  echo "  extract vs tar -I zstd -xf: skipped, zstd is not installed and could not be (apt-get install zstd)"
fi
rm -rf "$w/src" "$w/tree.tar" "$w/tree.tar.zst"

# One entry of `mib` MiB of script text: the corpus's files back to back.
one_entry() {
  local mib="$1" name="$2"
  mkdir -p "$w/one"
  "$tool" corpus "$w/part" 64
  : >"$w/one/$name"
  while (($(stat -c %s "$w/one/$name") < mib * 1048576)); do find "$w/part" -type f -exec cat {} + >>"$w/one/$name"; done
  truncate -s $((mib * 1048576)) "$w/one/$name"
  rm -rf "$w/part"
}

one_entry 1024 big.con
"$vzr" pack -q --compress=6 "$w/one" "$w/gib.vzr"
rm -rf "$w/one"
measure_pair ':' "'$vzr' cat --threads 1 '$w/gib.vzr' big.con > /dev/null" \
             ':' "'$vzr' cat --threads 2 '$w/gib.vzr' big.con > /dev/null"
threads_row "cat of a 1 GiB entry" ">= 1.8"
rm -f "$w/gib.vzr"

one_entry 1536 huge.con
"$vzr" pack -q --compress=1 "$w/one" "$w/huge.vzr"
rm -rf "$w/one"
echo "  peak memory (maximum resident set) for one 1.5 GiB entry:"
for n in 1 2 8; do
  time_once "'$vzr' cat --threads $n '$w/huge.vzr' huge.con > /dev/null"
  cat_kb="$once_kb" cat_s="$once_s"
  mkdir "$w/x"
  time_once "'$vzr' extract -q --threads $n -C '$w/x' '$w/huge.vzr'"
  rm -rf "$w/x"
  printf "    %d thread(s): cat %6d KiB (%5.2f s) | extract %6d KiB (%5.2f s)\n" "$n" "$cat_kb" "$cat_s" "$once_kb" "$once_s"
done
