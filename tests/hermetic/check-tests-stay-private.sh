#!/usr/bin/env bash
# Checks that the tests keep off the desktop of the person who runs them.
#
#   tests/hermetic/check-tests-stay-private.sh BUILD_DIR TEST_REGEX...
#
# Stands in for that person: a session bus of "theirs" (a throw-away
# dbus-daemon with dbus-monitor attached, its socket in "their" runtime
# folder and its address in DBUS_SESSION_BUS_ADDRESS), a home of "theirs"
# with empty settings, data, state and cache folders and none of the XDG_*
# variables that would move them, and TCDEMUX_NOTIFY=1, as if they had asked
# for mp.exe's reports in their shell. Runs the tests of BUILD_DIR that match
# the TEST_REGEXes (each must match at least one test) through CTest in that
# environment, and fails when any of them sent anything on that bus or
# changed anything in that home or runtime folder.
set -euo pipefail

build=$(cd "$1" && pwd)
shift
(($# > 0)) || { echo "usage: $0 BUILD_DIR TEST_REGEX..." >&2; exit 2; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tcdemux-private-check.XXXXXX")
started=()
cleanup() {
  for pid in "${started[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Waits (polling, at most 60 s) until the command succeeds.
wait_for() {
  for ((tenths = 0; tenths < 600; tenths++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

home=$scratch/home
runtime=$scratch/runtime
mkdir -p "$home/.config" "$home/.local/share" "$home/.local/state" "$home/.cache"
mkdir -m 700 "$runtime"

# "Their" bus: no services to start on demand, so a call that reaches it is
# seen and answered with an error, never carried out.
cat >"$scratch/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$runtime/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$scratch/bus.conf" --nofork --print-address >"$scratch/address" 2>"$scratch/daemon.log" &
started+=($!)
wait_for test -s "$scratch/address" || fail "dbus-daemon gave no address: $(cat "$scratch/daemon.log")"
address=$(head -n 1 "$scratch/address")

# The monitor sees every message on the bus. A marker signal (sent without
# registering on the bus, so it is the marker's only message) shows when it
# is listening, and a second one when all that came before has been written.
monitor_log=$scratch/monitor.log
dbus-monitor --address "$address" >"$monitor_log" 2>&1 &
started+=($!)
marker_seen() {
  dbus-send --address="$address" --type=signal /tcdemux/check "tcdemux.check.$1"
  grep -q "interface=tcdemux.check; member=$1\$" "$monitor_log"
}
wait_for marker_seen Begin || fail "dbus-monitor did not start: $(cat "$monitor_log")"

# Every entry of "their" folders with its type, mode, size and time, and
# every file's content: creating and removing a file changes its folder's
# time, so even a change undone shows.
snapshot() {
  local folder
  for folder in "$home" "$runtime"; do
    (cd "$folder" && find . -printf '%p %y %m %s %T@\n' | LC_ALL=C sort &&
      find . -type f -exec sha256sum {} + | LC_ALL=C sort)
  done
}
snapshot >"$scratch/before"

# CTest runs from a folder of its own, which includes the build's tests, so
# its records (Testing/) stay out of the build folder, where the suite that
# runs this check is keeping its own. The tool's test media are made in a
# private folder too, without the fixture steps, which would make and
# remove the build folder's set under the feet of that suite.
pattern=$(IFS='|'; echo "$*")
mkdir "$scratch/ctest"
printf 'subdirs("%s")\n' "$build" >"$scratch/ctest/CTestTestfile.cmake"
their_environment=(env)
for name in $(compgen -e); do
  [[ $name == XDG_* ]] && their_environment+=(-u "$name")
done
their_environment+=(HOME="$home" XDG_RUNTIME_DIR="$runtime" DBUS_SESSION_BUS_ADDRESS="$address" TCDEMUX_NOTIFY=1
                    MP_FIXTURE_DIR="$scratch/media")
cd "$scratch/ctest"
names=$(ctest -N -R "$pattern" -FA '.*' | sed -n 's/^ *Test *#[0-9]*: //p')
for regex in "$@"; do
  grep -Eq "$regex" <<<"$names" || fail "no test matches '$regex'"
done
echo "running $(wc -l <<<"$names") tests as the person who runs the suite"
tests_passed=true
"${their_environment[@]}" ctest --output-on-failure -R "$pattern" -FA '.*' -j 2 >"$scratch/ctest.log" 2>&1 ||
  tests_passed=false

wait_for marker_seen End || fail "dbus-monitor stopped: $(tail -n 20 "$monitor_log")"
problems=0
problem() { echo "FAIL: $*" >&2; problems=1; }

# Everything but the bus's own messages and the markers came from a test.
intruders=$(grep -E '^(method call|method return|error|signal) ' "$monitor_log" |
  grep -v ' sender=org\.freedesktop\.DBus ' | grep -v 'interface=tcdemux\.check;' || true)
[[ -z $intruders ]] || problem "the tests reached the user's session bus ($(grep -c 'member=Notify$' <<<"$intruders") Notify calls):
$intruders"

snapshot >"$scratch/after"
diff "$scratch/before" "$scratch/after" >"$scratch/changes" ||
  problem "the tests changed the user's home or runtime folder (< before, > after):
$(cat "$scratch/changes")"

# The tests must pass there too: one that stopped early may have skipped
# the very step that would have reached the bus or the home.
$tests_passed || problem "the tests did not pass in that person's environment:
$(tail -n 80 "$scratch/ctest.log")"
((problems == 0)) || exit 1
grep -E '^[0-9]+% tests passed' "$scratch/ctest.log"
echo "no message on the user's session bus, nothing changed in their home or runtime folder"
