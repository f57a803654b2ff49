#!/usr/bin/env bash
# vzr grep against the ways of searching archived content without it, in one
# run, with ratios (vzr time / baseline time):
#   vzr grep                 vs vzr extract into /dev/shm + grep -rn      (goal: >= 3x faster, ratio <= 0.33)
#   vzr grep                 vs grep -rn over the tree extracted in /dev/shm (goal: ratio <= 1.5)
#   vzr grep                 vs ugrep -z over a zip of the same tree      (reported)
#   vzr grep --threads 1     vs vzr grep --threads 2                       (goal: >= 1.8x)
# for a literal word and a regular expression with alternation, on the
# 10,000-file tree (invented script text, 100 to 20,000 bytes a file) and on
# a corpus of larger script files (CORPUS_MIB, default 32), each packed raw
# and at level 6. grep runs with LC_ALL=C (bytes, as vzr grep matches).
# Every command writes its output to a file in /dev/shm (grep stops at the
# first match when its output is /dev/null). Wall and CPU ratios are both
# printed: on a shared machine the CPU ratio says more about the work done.
#
#   bench/grep/run.sh [build folder] [work folder in RAM, default /dev/shm]
#
# Build first: cmake --build build --target vzr grep_bench_tool.
# RUNS (default 3) timed runs per command, the fastest counts; FILES (10000).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build}"
root="${2:-/dev/shm}"
runs="${RUNS:-3}"
files="${FILES:-10000}"
corpus_mib="${CORPUS_MIB:-32}"
vzr="$build/cli/vzr"
tool="$build/bench/grep/grep_bench_tool"

for p in "$vzr" "$tool"; do
  [[ -x "$p" ]] || { echo "build first: cmake --build build --target vzr grep_bench_tool ($p)" >&2; exit 2; }
done
for p in /usr/bin/time ugrep zip; do
  command -v "$p" >/dev/null || { echo "needs $p (apt-get install -y time ugrep zip)" >&2; exit 2; }
done

# shellcheck source=../measure.sh
source "$here/../measure.sh"

w="$(mktemp -d "$root/vzr-grep-bench.XXXXXX")"
trap 'rm -rf "$w"' EXIT
export LC_ALL=C
# A copy, so that a rebuild during the run changes nothing.
cp "$vzr" "$w/vzr"
vzr="$w/vzr"
echo "vzr grep ($w), fastest of $runs runs, $(nproc) cores, load average $(cut -d' ' -f1 /proc/loadavg)"

# row <what> <baseline name> <goal>: a (baseline) against b (vzr).
row() {
  printf "    %-34s vzr %7.3f s (cpu %5.2f) | %-22s %7.3f s (cpu %5.2f) | ratio %5s, cpu %5s (goal %s)\n" \
    "$1" "$b_s" "$b_cpu" "$2" "$a_s" "$a_cpu" "$(ratio "$b_s" "$a_s")" "$(ratio "$b_cpu" "$a_cpu")" "$3"
}

# bench_set <name>: the tree in $w/src is packed raw and at level 6 and searched.
bench_set() {
  local name="$1" bytes
  bytes="$(du -sb "$w/src" | cut -f1)"
  "$vzr" pack -q "$w/src" "$w/raw.vzr"
  "$vzr" pack -q --compress=6 "$w/src" "$w/l6.vzr"
  (cd "$w/src" && zip -q -r "$w/set.zip" .)
  mkdir "$w/x" && "$vzr" extract -q -C "$w/x" "$w/raw.vzr"
  rm -rf "$w/src"
  echo "  $name: $((bytes / 1048576)) MiB; raw archive $(($(stat -c %s "$w/raw.vzr") / 1048576)) MiB," \
       "level 6 $(($(stat -c %s "$w/l6.vzr") / 1048576)) MiB, zip $(($(stat -c %s "$w/set.zip") / 1048576)) MiB"
  local label pattern form
  for label in literal alternation; do
    if [[ $label == literal ]]; then pattern='lantern_keeper'; else pattern='spawn (cart_03|door_7)|glimmer_gate'; fi
    echo "   $label: '$pattern'"
    for form in raw l6; do
      local a="$w/$form.vzr" k=0
      v="'$vzr' grep -q -n '$pattern' '$a' > '$w/out'"
      # A fresh folder for each run, none deleted until all have run.
      measure_pair 'k=$((k + 1)); mkdir "$w/e$k"' "sh '$w/xg.sh' '$a' \"\$w/e\$k\" '$pattern'" ':' "$v"
      rm -rf "$w"/e*
      row "$form: vs extract + grep -rn" "extract + grep -rn" ">= 3x faster: <= 0.33"
      measure_pair ':' "sh -c \"cd '$w/x' && grep -rnE '$pattern' . > '$w/out'\"" ':' "$v"
      row "$form: vs grep -rn (extracted)" "grep -rn, extracted" "<= 1.5"
      measure_pair ':' "ugrep -z -rn '$pattern' '$w/set.zip' > '$w/out'" ':' "$v"
      row "$form: vs ugrep -z (zip)" "ugrep -z, zip" "reported"
      measure_pair ':' "'$vzr' grep -q -n --threads 1 '$pattern' '$a' > '$w/out'" \
                   ':' "'$vzr' grep -q -n --threads 2 '$pattern' '$a' > '$w/out'"
      printf "    %-34s 2 threads %7.3f s | 1 thread %7.3f s | speed-up %5sx (goal >= 1.8)\n" \
        "$form: threads" "$b_s" "$a_s" "$(ratio "$a_s" "$b_s")"
    done
  done
  rm -rf "$w/x" "$w"/*.vzr "$w/set.zip" "$w/out"
}

# extract + grep: ARCHIVE FOLDER PATTERN
cat >"$w/xg.sh" <<SCRIPT
'$vzr' extract -q -C "\$2" "\$1" && cd "\$2" && grep -rnE "\$3" . > '$w/out'
SCRIPT

"$tool" tree "$w/src" "$files"
bench_set "tree of $files files"
"$tool" corpus "$w/src" "$corpus_mib"
bench_set "script corpus"
