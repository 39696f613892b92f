#!/usr/bin/env bash
# Makes a small variable-frame-rate MKV (H.264 with B-frames, 10 s, irregular
# frame intervals) to try the window and mp.exe on.
#   tool/make-vfr-sample.sh OUTPUT.mkv
set -euo pipefail
out=${1:?usage: make-vfr-sample.sh OUTPUT.mkv}
for tool in ffmpeg mkvmerge; do
  command -v "$tool" >/dev/null || { echo "make-vfr-sample: $tool is missing" >&2; exit 1; }
done
mkdir -p "$(dirname "$out")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -hide_banner -loglevel error -nostdin -y \
  -f lavfi -i "testsrc2=s=320x240:r=30" -frames:v 300 \
  -c:v libx264 -preset veryfast -bf 3 -pix_fmt yuv420p "$work/clip.mkv"
# 30 fps and 24 fps passages with a slow 10 fps stretch in the middle.
awk 'BEGIN { print "# timestamp format v2"; t = 0;
             for (i = 0; i < 300; i++) { printf "%.4f\n", t;
               t += (i < 100) ? 33.3667 : (i < 150) ? 100 : 41.7083 } }' > "$work/tc.txt"
mkvmerge -q -o "$work/sample.mkv" --timestamps "0:$work/tc.txt" "$work/clip.mkv"
mv "$work/sample.mkv" "$out"
echo "made $out"
