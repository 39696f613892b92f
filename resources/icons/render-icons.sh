#!/usr/bin/env bash
# Renders the application icon's PNG images for the hicolor theme (and the
# window's own icon set) from the drawings beside this script. The images
# are committed; run this again after changing a drawing.
#   resources/icons/render-icons.sh      (needs rsvg-convert, from librsvg2-bin)
set -euo pipefail
cd "$(dirname "$0")"
command -v rsvg-convert >/dev/null || { echo "render-icons: rsvg-convert is missing (librsvg2-bin)" >&2; exit 1; }

for size in 16 22 24 32 48 64 128 256; do
  # The smallest image has a drawing of its own on the pixel grid.
  drawing=tcdemux.svg
  [[ $size -eq 16 ]] && drawing=tcdemux-16.svg
  rsvg-convert --width "$size" --height "$size" "$drawing" --output "tcdemux-$size.png"
  echo "tcdemux-$size.png from $drawing"
done
