#!/usr/bin/env bash
# Compiles the plain C++ parts (the window's logic and the demux tool) as
# Windows code with a MinGW cross compiler, checking syntax and types only:
# their Windows branches are never built on Linux otherwise. The Qt parts
# are not checked (there is no Qt for Windows here).
#
#   scripts/check-windows-compile.sh CXX SOURCE_DIR FFMPEG_INCLUDE_DIR
#   scripts/check-windows-compile.sh --cannot-run REASON
#
# The second form stands in for the check where it cannot run: it fails
# under CI=true and is skipped (exit 77, which CTest shows) otherwise.
set -euo pipefail

if [[ ${1:-} == --cannot-run ]]; then
  echo "the Windows code is not compile-checked: ${2:-}" >&2
  if [[ ${CI:-} == true ]]; then
    echo "CI=true: a check that cannot run is a failure (make test installs the cross compiler)" >&2
    exit 1
  fi
  exit 77
fi

cxx=$1
root=$2
ffmpeg_include=$3

# Only FFmpeg's own headers: the Linux include folder also holds glibc's
# architecture headers, which must not shadow the Windows ones.
headers=$(mktemp -d)
trap 'rm -rf "$headers"' EXIT
for lib in libavformat libavcodec libavutil; do
  [[ -d $ffmpeg_include/$lib ]] || { echo "no $lib headers in $ffmpeg_include" >&2; exit 1; }
  ln -s "$ffmpeg_include/$lib" "$headers/$lib"
done

failed=0
check() {
  if ! "$cxx" -std=c++20 -fsyntax-only -Wall -Wextra -Werror "$@"; then
    failed=1
  fi
}
for file in "$root"/src/text/*.cpp "$root"/src/main_window/*.cpp; do
  echo "windows: $file"
  check -I"$root/src" -I"$root/src/text" -I"$root/src/main_window" -I"$root/src/platform" "$file"
done
for file in "$root"/tool/*.cpp "$root"/tool/*/*.cpp; do
  # The GLib parts (*_gdbus.cpp, *_glib.cpp) are never built for Windows:
  # tool/CMakeLists.txt builds the *_none.cpp files there instead,
  # which is checked here.
  if [[ $(basename "$file") == *_gdbus.cpp || $(basename "$file") == *_glib.cpp ]]; then
    echo "windows: $file is not part of the Windows build"
    continue
  fi
  echo "windows: $file"
  check -I"$root/tool" -I"$headers" -DMP_VERSION='"1.00"' "$file"
done
exit $failed
