#!/usr/bin/env bash
# Configures and builds the programs, mp.exe and the window (between them
# all of tool/ and src/), in one build type, in a build folder of its own,
# with warnings as errors. Each optimisation level has GCC look at the code
# anew, and a warning that only -O3 or -O0 shows would otherwise be first
# met by someone building a release.
#
#   tests/build_types/build-type.sh SOURCE_DIR BUILD_DIR BUILD_TYPE CXX_COMPILER GENERATOR
set -euo pipefail

source=$1
build=$2
type=$3
cxx=$4
generator=$5

mkdir -p "$build"
log=$build/last-build.log
if ! { cmake -S "$source" -B "$build" -G "$generator" -DCMAKE_BUILD_TYPE="$type" -DCMAKE_CXX_COMPILER="$cxx" \
         -DTCDEMUX_WERROR=ON -DTCDEMUX_BUILD_TESTS=OFF &&
       cmake --build "$build" --parallel 2 --target mp tcdemux; } >"$log" 2>&1; then
  grep -E -A12 'error|warning' "$log" | head -n 120 || tail -n 60 "$log"
  echo "FAIL: the $type build of mp.exe and the window stopped (full log: $log)" >&2
  exit 1
fi
echo "$type build of mp.exe and the window: no error with -Werror"
