#!/usr/bin/env bash
# Times mp.exe against what a user would otherwise run to get the same two
# files (ffmpeg -c copy to AVI, then mkvextract timestamps_v2), and against
# a plain cp of the source as the floor for moving the bytes.
#
#   bench/run-bench.sh [path/to/mp.exe]
#
# Environment: BENCH_DIR (work folder, default build/bench-data), ROUNDS
# (default 5), COPIES (clip copies joined into the source, default 16,
# about 1.1 GB). The source is made once and reused.
# Needs ffmpeg with libx264, mkvmerge, mkvextract, ffprobe and GNU time.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
mp=${1:-$root/build/bin/mp.exe}
dir=${BENCH_DIR:-$root/build/bench-data}
rounds=${ROUNDS:-5}
copies=${COPIES:-16}

for tool in ffmpeg ffprobe mkvmerge mkvextract /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done
[[ -x $mp ]] || { echo "bench: $mp not found; build first (cmake --build build)" >&2; exit 1; }
mkdir -p "$dir"
src=$dir/source-vfr.mkv

# --- The source: H.264 with B-frames, irregular timestamps, > 1 GiB -------
if [[ ! -s $src ]]; then
  echo "bench: making the source (a few minutes)..."
  # A noisy picture keeps frames large, like real footage at a high bitrate.
  ffmpeg -hide_banner -loglevel error -nostdin -y \
    -f lavfi -i "testsrc2=s=1280x720:r=30,noise=alls=12:allf=t" -frames:v 300 \
    -c:v libx264 -preset veryfast -bf 3 -crf 18 -pix_fmt yuv420p "$dir/clip.mkv"
  # Irregular frame intervals: 33.367, 41.708, 20.02, 50 ms in turn.
  awk 'BEGIN { print "# timestamp format v2"; t = 0;
               split("33.3667 41.7083 20.02 50", d, " ");
               for (i = 0; i < 300; i++) { printf "%.4f\n", t; t += d[i % 4 + 1] } }' > "$dir/clip-tc.txt"
  mkvmerge -q -o "$dir/clip-vfr.mkv" --timestamps "0:$dir/clip-tc.txt" "$dir/clip.mkv"
  # Join copies end to end; mkvmerge shifts each copy's timestamps.
  args=("$dir/clip-vfr.mkv")
  for ((i = 1; i < copies; i++)); do args+=(+ "$dir/clip-vfr.mkv"); done
  mkvmerge -q -o "$src.tmp" "${args[@]}"
  mv "$src.tmp" "$src"
  rm -f "$dir/clip.mkv" "$dir/clip-vfr.mkv" "$dir/clip-tc.txt"
fi
size=$(stat -c %s "$src")
echo "bench: source $src, $size bytes"

# --- One timed run: prints "seconds max_rss_kb" ----------------------------
timed() {
  /usr/bin/time -f "%e %M" -o "$dir/time.txt" "$@" >/dev/null 2>"$dir/stderr.txt" || {
    echo "bench: failed: $*" >&2; cat "$dir/stderr.txt" >&2; exit 1; }
  cat "$dir/time.txt"
}

clean_outputs() { rm -f "$dir"/out.* "$dir"/copy.mkv; sync; }

run_cp() { timed cp "$src" "$dir/copy.mkv"; }
run_mp() { timed "$mp" "$src" "$dir/out.mp.avi" "$dir/out.mp.txt"; }
run_pair() {
  local a b
  a=$(timed ffmpeg -nostdin -y -i "$src" -map 0:v:0 -c copy -bsf:v h264_mp4toannexb "$dir/out.ff.avi")
  b=$(timed mkvextract "$src" timestamps_v2 "0:$dir/out.ff.txt")
  awk -v a="$a" -v b="$b" 'BEGIN { split(a, x, " "); split(b, y, " ");
    printf "%.2f %d\n", x[1] + y[1], (x[2] > y[2] ? x[2] : y[2]) }'
}

# Warm the page cache so every contender reads from memory alike.
cat "$src" >/dev/null

declare -A times rss
for ((r = 1; r <= rounds; r++)); do
  # Rotate the order each round so none always runs first.
  case $((r % 3)) in
    0) order=(cp mp pair) ;;
    1) order=(mp pair cp) ;;
    2) order=(pair cp mp) ;;
  esac
  for what in "${order[@]}"; do
    clean_outputs
    if [[ $what == mp ]]; then
      result=$(run_mp)
      # Check the result on the first round: whole AVI (OpenDML past 1 GiB)
      # and timecodes equal to mkvextract's.
      if ((r == 1)); then
        frames=$(ffprobe -v error -count_packets -select_streams v:0 \
                 -show_entries stream=nb_read_packets -of csv=p=0 "$dir/out.mp.avi")
        lines=$(($(wc -l < "$dir/out.mp.txt") - 2))
        mkvextract "$src" timestamps_v2 "0:$dir/out.ref.txt" >/dev/null
        if [[ $frames != "$lines" ]] || ! diff -q <(tail -n +2 "$dir/out.mp.txt") \
                                               <(tail -n +2 "$dir/out.ref.txt") >/dev/null; then
          echo "bench: mp.exe output check FAILED (AVI $frames frames, timecodes $lines)" >&2; exit 1
        fi
        echo "bench: mp.exe output checked: $frames frames in the AVI ($(stat -c %s "$dir/out.mp.avi") bytes), timecodes equal mkvextract's"
      fi
    else
      result=$(run_$what)
    fi
    times[$what]+="${result% *} "
    rss[$what]+="${result#* } "
    echo "bench: round $r $what: ${result% *} s, peak ${result#* } KB"
  done
  # The fixed cost of every mp.exe run: loading the FFmpeg libraries.
  result=$(timed "$mp" --version)
  times[start]+="${result% *} "
done
clean_outputs

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
maxof() { tr ' ' '\n' | grep . | sort -g | tail -1; }

m_cp=$(median <<< "${times[cp]}"); m_mp=$(median <<< "${times[mp]}"); m_pair=$(median <<< "${times[pair]}")
echo
echo "| Command | Median time (s) | MB/s | Peak RSS (MB) |"
echo "|---|---|---|---|"
for what in mp pair cp; do
  m=$(median <<< "${times[$what]}"); peak=$(maxof <<< "${rss[$what]}")
  case $what in
    mp) name="mp.exe" ;;
    pair) name="ffmpeg -c copy + mkvextract" ;;
    cp) name="cp (floor)" ;;
  esac
  awk -v n="$name" -v m="$m" -v s="$size" -v p="$peak" \
    'BEGIN { printf "| %s | %.2f | %.0f | %.1f |\n", n, m, (m > 0 ? s / 1e6 / m : 0), p / 1024 }'
done
m_start=$(median <<< "${times[start]}")
awk -v a="$m_mp" -v b="$m_pair" -v c="$m_cp" -v r="$rounds" -v s="$size" -v st="$m_start" 'BEGIN {
  printf "\nSource %.0f MB, %d rounds. mp.exe takes %.2fx the time of ffmpeg+mkvextract (%.2fx faster) and %.2fx the time of cp.\n",
         s / 1e6, r, a / b, b / a, a / c
  printf "mp.exe start-up alone (mp.exe --version): %.2f s.\n", st }'
