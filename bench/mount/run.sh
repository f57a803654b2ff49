#!/usr/bin/env bash
# vzr mount against its baselines and its peers, in one run:
#   ready   mounting a 100,000-entry archive  vs LoadIndex + mounting an empty archive (goal <= 1.5),
#                                             and vs the same with the loader LoadIndex replaced
#   find    over the 100,000 entries          vs archivemount (tar) and fuse-zip (zip -0) (goal: faster)
#   read    every file of the 10,000-file tree (tar -cf - . | cat)
#                                             vs both peers (goal: faster) and vs vzr extract
#                                                into a RAM-backed folder (goal <= 1.5)
#   random  10,000 reads of 4 KiB at random offsets of a 200 MB level-6 entry
#                                             vs the same reads of the extracted file (reported),
#                                                with the segments decoded per read
#   memory  peak resident size of the server while a 2 GB, 100,000-entry archive
#                                             is read whole (goal <= 64 MiB + the 64 MiB cache)
#
#   bench/mount/run.sh [build folder] [work folder]
#
# Build first: cmake --build build --target vzr cli_bench_tool ops_bench_tool.
# Needs FUSE (/dev/fuse, fusermount3); installs archivemount, fuse-zip, zip
# and time when missing. RUNS (default 3) timed runs per command, the fastest
# counts; ENTRIES (100000), SMALL (10000), LARGE_MIB (20,35,50), SEG_MIB (200),
# BIG_MIB (2048) size the data; a peer's read is stopped after PEER_TIMEOUT
# seconds (600) and reported as at least that. PARTS (default all: ready
# find read random memory) picks the measurements to run.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build}"
root="${2:-${TMPDIR:-/var/tmp}}"
ram="${RAM:-/dev/shm}"
runs="${RUNS:-3}"
entries="${ENTRIES:-100000}"
small="${SMALL:-10000}"
large="${LARGE_MIB:-20,35,50}"
seg_mib="${SEG_MIB:-200}"
big_mib="${BIG_MIB:-2048}"
peer_timeout="${PEER_TIMEOUT:-600}"
parts=" ${PARTS:-ready find read random memory} "
part() { [[ "${parts//,/ }" == *" $1 "* ]]; }
vzr="$build/cli/vzr"
tool="$build/bench/cli/cli_bench_tool"
ops="$build/bench/ops/ops_bench_tool"

for p in "$vzr" "$tool" "$ops"; do
  [[ -x "$p" ]] || { echo "build first: cmake --build build --target vzr cli_bench_tool ops_bench_tool ($p)" >&2; exit 2; }
done
[[ -w /dev/fuse ]] || { echo "needs a usable /dev/fuse" >&2; exit 2; }
missing=()
for pair in archivemount:archivemount fuse-zip:fuse-zip zip:zip time:/usr/bin/time python3:python3; do
  command -v "${pair#*:}" >/dev/null || missing+=("${pair%%:*}")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# shellcheck source=../measure.sh
source "$here/../measure.sh"

w="$(mktemp -d "$root/vzr-mount-bench.XXXXXX")"
r="$(mktemp -d "$ram/vzr-mount-bench.XXXXXX")"
mounts=()
unmount_all() {
  local m
  for m in "${mounts[@]}"; do mountpoint -q "$m" && fusermount3 -u "$m" 2>/dev/null; done
  return 0
}
trap 'unmount_all; rm -rf "$w" "$r"' EXIT
mkdir -p "$w/m"
mp() { mkdir -p "$w/m/$1"; mounts+=("$w/m/$1"); echo "$w/m/$1"; }
# down <mount point>: unmounts it if mounted (vzr's through vzr umount).
down() { if mountpoint -q "$1"; then "$vzr" umount "$1" 2>/dev/null || fusermount3 -u "$1"; fi; }

# best <prepare> <command>: fastest of $runs runs; sets best_s and best_cpu.
best() {
  best_s=""
  local i
  for ((i = 0; i < runs; i++)); do
    eval "$1"; sync
    time_once "$2"
    if faster "$once_s" "$best_s"; then best_s="$once_s"; best_cpu="$once_cpu"; fi
  done
}
line() { printf "  %-40s %9.3f s (cpu %6.2f s)%s\n" "$1" "$2" "$3" "${4:+  $4}"; }

echo "vzr mount ($w, $r), fastest of $runs runs; the machine may be shared: compare within a run"

# --- ready ------------------------------------------------------------------
if part ready; then
"$tool" index "$w/many.vzr" "$entries"
python3 - "$w/empty.vzr" <<'EOF'
import struct, sys
open(sys.argv[1], "wb").write(struct.pack("<II", 156, 0) + b"\0" * 148 + struct.pack("<II", 0, 0))
EOF
m_many="$(mp many)"; m_empty="$(mp empty)"
# The three in turn, run for run (the fastest of each counts), so that a
# busy moment of the machine weighs on all of them alike.
li_s=""; ol_s=""; em_s=""; rd_s=""
for ((i = 0; i < runs; i++)); do
  sync; time_once "'$tool' loadindex '$w/many.vzr'"
  if faster "$once_s" "$li_s"; then li_s="$once_s"; li_cpu="$once_cpu"; fi
  sync; time_once "'$tool' oldloadindex '$w/many.vzr'"
  if faster "$once_s" "$ol_s"; then ol_s="$once_s"; ol_cpu="$once_cpu"; fi
  down "$m_empty"; sync; time_once "'$vzr' mount '$w/empty.vzr' '$m_empty'"
  if faster "$once_s" "$em_s"; then em_s="$once_s"; em_cpu="$once_cpu"; fi
  down "$m_empty"
  down "$m_many"; sync; time_once "'$vzr' mount '$w/many.vzr' '$m_many'"
  if faster "$once_s" "$rd_s"; then rd_s="$once_s"; rd_cpu="$once_cpu"; fi
  down "$m_many"
done
base_s="$(awk -v a="$li_s" -v b="$em_s" 'BEGIN { printf "%.4f", a + b }')"
old_s="$(awk -v a="$ol_s" -v b="$em_s" 'BEGIN { printf "%.4f", a + b }')"
echo "ready: $entries entries"
line "vzr mount" "$rd_s" "$rd_cpu"
line "LoadIndex" "$li_s" "$li_cpu"
line "the old LoadIndex" "$ol_s" "$ol_cpu"
line "mount of an empty archive" "$em_s" "$em_cpu"
echo "  ratio $(ratio "$rd_s" "$base_s") (goal <= 1.5)"
echo "  ratio against the old LoadIndex + the empty mount $(ratio "$rd_s" "$old_s")"
fi

# --- find over the 100,000 entries ------------------------------------------
if part find; then
[[ -f "$w/many.vzr" ]] || "$tool" index "$w/many.vzr" "$entries"
m_many="$(mp many)"
"$vzr" extract -q -C "$r" "$w/many.vzr" 2>/dev/null || true
tar -cf "$w/many.tar" -C "$r" . && (cd "$r" && zip -q -0 -r "$w/many.zip" .)
find "$r" -mindepth 1 -delete
m_am="$(mp am)"; m_fz="$(mp fz)"
best "down '$m_many'; '$vzr' mount '$w/many.vzr' '$m_many'" "find '$m_many'"; f_v="$best_s"; f_vc="$best_cpu"
best "down '$m_am'; archivemount -o ro '$w/many.tar' '$m_am'" "find '$m_am'"; f_a="$best_s"; f_ac="$best_cpu"
best "down '$m_fz'; fuse-zip -r '$w/many.zip' '$m_fz'" "find '$m_fz'"; f_z="$best_s"; f_zc="$best_cpu"
down "$m_many"; down "$m_am"; down "$m_fz"
echo "find: $entries entries"
line "vzr mount" "$f_v" "$f_vc"
line "archivemount (tar)" "$f_a" "$f_ac" "vzr/archivemount $(ratio "$f_v" "$f_a") (goal < 1)"
line "fuse-zip (zip -0)" "$f_z" "$f_zc" "vzr/fuse-zip $(ratio "$f_v" "$f_z") (goal < 1)"
rm -f "$w/many.tar" "$w/many.zip"
fi

# --- reading every file of the tree ------------------------------------------
if part read; then
"$ops" tree "$w/tree" "$small" "$large"
"$vzr" pack -q "$w/tree" "$w/tree.vzr"
tar -cf "$w/tree.tar" -C "$w/tree" . && (cd "$w/tree" && zip -q -0 -r "$w/tree.zip" .)
rm -rf "$w/tree"
m_tree="$(mp tree)"; m_am="$(mp am)"; m_fz="$(mp fz)"
readall='tar -cf - -C "$0" . | cat >/dev/null'
best "down '$m_tree'; '$vzr' mount '$w/tree.vzr' '$m_tree'" "sh -c '$readall' '$m_tree'"; t_v="$best_s"; t_vc="$best_cpu"
peer="timeout $peer_timeout sh -c '$readall'"
best "down '$m_am'; archivemount -o ro '$w/tree.tar' '$m_am'" "$peer '$m_am' || true"; t_a="$best_s"; t_ac="$best_cpu"
best "down '$m_fz'; fuse-zip -r '$w/tree.zip' '$m_fz'" "$peer '$m_fz' || true"; t_z="$best_s"; t_zc="$best_cpu"
stopped() { awk -v s="$1" -v t="$peer_timeout" 'BEGIN { if (s >= t) print "stopped after the time limit: at least" }'; }
down "$m_tree"; down "$m_am"; down "$m_fz"
best "rm -rf '$r/x'; mkdir '$r/x'" "'$vzr' extract -q -C '$r/x' '$w/tree.vzr'"; t_x="$best_s"; t_xc="$best_cpu"
rm -rf "$r/x" "$w/tree.tar" "$w/tree.zip" "$w/tree.vzr"
echo "read every file: $small files + $large MiB (tar -cf - . | cat)"
line "vzr mount" "$t_v" "$t_vc"
line "archivemount (tar)" "$t_a" "$t_ac" "vzr/archivemount $(ratio "$t_v" "$t_a") (goal < 1) $(stopped "$t_a")"
line "fuse-zip (zip -0)" "$t_z" "$t_zc" "vzr/fuse-zip $(ratio "$t_v" "$t_z") (goal < 1) $(stopped "$t_z")"
line "vzr extract into $ram" "$t_x" "$t_xc" "vzr mount/extract $(ratio "$t_v" "$t_x") (goal <= 1.5)"
fi

# --- random reads of a big level-6 entry -----------------------------------
if part random; then
mkdir -p "$w/seg"
# Text of random letters: about 3/4 of its size after compression.
head -c "$((seg_mib * 1048576 * 3 / 4 * 100 / 101))" /dev/urandom | base64 -w 100 >"$w/seg/big.bin"
"$vzr" pack -q --compress=6 "$w/seg" "$w/seg.vzr"
cp "$w/seg/big.bin" "$r/big.bin" && rm -rf "$w/seg"
m_seg="$(mp seg)"
"$vzr" mount -o stats "$w/seg.vzr" "$m_seg"
randomreads='import os, random, sys, time
fd = os.open(sys.argv[1], os.O_RDONLY)
os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_RANDOM)
size = os.fstat(fd).st_size
rng = random.Random(7)
offsets = [rng.randrange(0, size - 4096) for _ in range(10000)]
t = time.perf_counter()
for o in offsets:
    os.pread(fd, 4096, o)
print("%.0f" % (10000 / (time.perf_counter() - t)))'
rr_v="$(python3 -c "$randomreads" "$m_seg/big.bin")"
stats="$("$vzr" umount "$m_seg" 2>&1)"
rr_x="$(python3 -c "$randomreads" "$r/big.bin")"
rm -f "$r/big.bin" "$w/seg.vzr"
reads="$(sed -n 's/.*statistics: \([0-9]*\) reads, \([0-9]*\) segments decoded, \([0-9]*\).*/\1 \2 \3/p' <<<"$stats")"
read -r n_reads n_decoded n_hits <<<"${reads:-0 0 0}"
echo "random reads: 10,000 x 4 KiB of a $seg_mib MB level-6 entry"
printf "  %-40s %9s reads/s\n" "vzr mount" "$rr_v" "extracted file in $ram" "$rr_x"
echo "  ratio $(ratio "$rr_v" "$rr_x") of the file's rate; $n_reads read requests, $n_decoded segments decoded ($(ratio "$n_decoded" "$n_reads") per request), $n_hits from the cache"
fi

# --- memory with a 2 GB archive read whole ------------------------------------
if part memory; then
python3 - "$w/big.vzr" "$entries" "$big_mib" <<'EOF'
# A segmented archive of literal-only segments: entries of equal size, 2 GB in all.
import os, struct, sys
path, count, mib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
size = mib * 1048576 // count
def literal(chunk):
    n = len(chunk)
    if n == 0: head = b""
    elif n <= 238: head = bytes([n + 17])
    else:
        rest = n - 18; zeros = 0
        while rest > 255: rest -= 255; zeros += 1
        head = b"\0" + b"\0" * zeros + bytes([rest])
    return head + chunk + b"\x11\0\0"
block = os.urandom(1 << 20)
index = []
with open(path, "wb") as f:
    f.write(struct.pack("<II", 0, 1) + b"\0" * 148)
    for i in range(count):
        start = (i * 7919) % (len(block) - size)
        content = block[start:start + size]
        segs = [literal(content[k:k + 32768]) for k in range(0, max(len(content), 1), 32768)]
        table, off = b"", 0
        for k, s in enumerate(segs):
            table += struct.pack("<III", len(s), min(32768, len(content) - 32768 * k), off); off += len(s)
        stored = struct.pack("<I", len(segs)) + table + b"".join(segs)
        index.append(("d%d/e%d.bin" % (i % 100, i), len(stored), len(content), f.tell()))
        f.write(stored)
    at = f.tell()
    f.write(struct.pack("<I", count))
    for name, comp, fsize, off in index:
        b = name.encode(); f.write(struct.pack("<I", len(b)) + b + struct.pack("<IIIIII", comp, fsize, off, 1253856, 0, 0))
    f.write(struct.pack("<I", 0)); f.seek(0); f.write(struct.pack("<I", at))
EOF
m_big="$(mp big)"
"$vzr" mount "$w/big.vzr" "$m_big"
server="$(pgrep -n -f "vzr mount $w/big.vzr")"
tar -cf - -C "$m_big" . | cat >/dev/null
hwm="$(awk '/VmHWM/ { print $2 }' "/proc/$server/status")"
down "$m_big"
echo "memory: $(($(stat -c %s "$w/big.vzr") / 1048576)) MiB, $entries entries, read whole"
printf "  %-40s %9.1f MiB (goal <= 64 MiB + 64 MiB cache)\n" "server peak resident size" "$(awk -v k="$hwm" 'BEGIN { print k / 1024 }')"
fi
