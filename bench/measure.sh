# measure.sh - timing helpers the benchmark scripts source.
#
# The machine may be shared and a file system's state drifts as trees are
# made and deleted (a fresh inode is slower to find after many deletions),
# so a tool and its baseline are timed in alternation, run for run, and the
# fastest run of each counts. Needs /usr/bin/time and $runs set.

# time_once <command string>: runs it once (output discarded); sets once_s
# (wall seconds), once_cpu (user + system seconds), once_kb (peak KiB).
time_once() {
  local out t0 t1 user sys
  out="$(mktemp)"
  t0="$(date +%s.%N)"
  eval "/usr/bin/time -f '%M %U %S' -o '$out' $1" >/dev/null 2>"$out.err" || { echo "failed: $1" >&2; cat "$out.err" >&2; rm -f "$out" "$out.err"; exit 1; }
  t1="$(date +%s.%N)"
  read -r once_kb user sys <"$out"
  rm -f "$out" "$out.err"
  once_s="$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }')"
  once_cpu="$(awk -v u="$user" -v k="$sys" 'BEGIN { printf "%.2f", u + k }')"
}

# faster <a> <b>: true when a < b or b is empty.
faster() { [[ -z "$2" ]] || awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

# measure_pair <prepare A> <command A> <prepare B> <command B>: $runs
# rounds of A then B (each prepared, then the caches written out). Sets
# a_s/a_cpu/a_kb and b_s/b_cpu/b_kb from the fastest run of each, and
# pair_median/pair_low/pair_high from the ratios B / A of the rounds (wall
# time; each round's two runs are close in time). Commands are strings,
# quoted as for eval.
measure_pair() {
  a_s=""; b_s=""
  local i ratios=""
  for ((i = 0; i < runs; i++)); do
    eval "$1"; sync
    time_once "$2"
    local round_a="$once_s"
    if faster "$once_s" "$a_s"; then a_s="$once_s"; a_cpu="$once_cpu"; a_kb="$once_kb"; fi
    eval "$3"; sync
    time_once "$4"
    if faster "$once_s" "$b_s"; then b_s="$once_s"; b_cpu="$once_cpu"; b_kb="$once_kb"; fi
    ratios="$ratios $(ratio "$once_s" "$round_a")"
  done
  read -r pair_median pair_low pair_high < <(echo "$ratios" | tr ' ' '\n' | grep -v '^$' | sort -g |
    awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.2f %.2f %.2f\n", m, v[1], v[NR] }')
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
