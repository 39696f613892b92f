#!/usr/bin/env bash
# Installs the build into a temporary staging folder (DESTDIR, prefix /usr)
# and checks what a desktop and a person get from it: every file in its
# place and nothing else, relative links on PATH, valid desktop entry and
# AppStream data, icons of the sizes their folders name, --help/--version
# without a display, and the installed window finding its tool.
#
#   tests/install/check-install.sh BUILD_DIR
set -euo pipefail

build=$1
stage=$(mktemp -d "${TMPDIR:-/tmp}/tcdemux-install.XXXXXX")
window_pid=
cleanup() {
  if [[ -n $window_pid ]]; then
    kill "$window_pid" 2>/dev/null || true
    wait "$window_pid" 2>/dev/null || true
  fi
  rm -rf "$stage"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The validators and the installed window run in a home of their own with
# no session bus: they read none of the user's settings, and write neither
# into the user's home nor onto the user's desktop.
export HOME=$stage/home XDG_RUNTIME_DIR=$stage/runtime
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_STATE_HOME=$HOME/.local/state \
  XDG_CACHE_HOME=$HOME/.cache
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS DBUS_STARTER_ADDRESS DBUS_STARTER_BUS_TYPE TCDEMUX_NOTIFY

DESTDIR=$stage/root cmake --install "$build" --prefix /usr >/dev/null
usr=$stage/root/usr

# Every file and link, and nothing else (no test program, no library).
expected="bin/tcdemux l
bin/tcdemux-mp l
lib/tcdemux/mp.exe f
lib/tcdemux/tcdemux f
share/applications/tcdemux.desktop f
share/icons/hicolor/128x128/apps/tcdemux.png f
share/icons/hicolor/16x16/apps/tcdemux.png f
share/icons/hicolor/22x22/apps/tcdemux.png f
share/icons/hicolor/24x24/apps/tcdemux.png f
share/icons/hicolor/256x256/apps/tcdemux.png f
share/icons/hicolor/32x32/apps/tcdemux.png f
share/icons/hicolor/48x48/apps/tcdemux.png f
share/icons/hicolor/64x64/apps/tcdemux.png f
share/icons/hicolor/scalable/apps/tcdemux.svg f
share/man/man1/tcdemux-mp.1.gz f
share/man/man1/tcdemux.1.gz f
share/metainfo/io.github.tcdemux.tcdemux.metainfo.xml f"
actual=$(cd "$usr" && find . -mindepth 1 \( -type f -o -type l \) -printf '%P %y\n' | LC_ALL=C sort)
[[ $actual == "$(LC_ALL=C sort <<<"$expected")" ]] || fail "installed files differ:
$(diff <(LC_ALL=C sort <<<"$expected") <(echo "$actual") || true)"
for program in lib/tcdemux/tcdemux lib/tcdemux/mp.exe; do
  [[ -x $usr/$program ]] || fail "$program is not executable"
done

# The links are relative, so they hold wherever the tree is unpacked.
[[ $(readlink "$usr/bin/tcdemux") == ../lib/tcdemux/tcdemux ]] || fail "bin/tcdemux -> $(readlink "$usr/bin/tcdemux")"
[[ $(readlink "$usr/bin/tcdemux-mp") == ../lib/tcdemux/mp.exe ]] || fail "bin/tcdemux-mp -> $(readlink "$usr/bin/tcdemux-mp")"

desktop-file-validate "$usr/share/applications/tcdemux.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$usr/share/metainfo/io.github.tcdemux.tcdemux.metainfo.xml" >/dev/null ||
  fail "appstreamcli validate: $(appstreamcli validate --no-net "$usr/share/metainfo/"*.xml)"
grep -qx 'Exec=tcdemux %f' "$usr/share/applications/tcdemux.desktop" || fail "desktop entry: Exec"
grep -qx 'MimeType=video/x-matroska;video/webm;video/mp4;video/x-m4v;video/quicktime;video/3gpp;video/3gpp2;video/mp2t;video/x-flv;video/x-msvideo;video/vnd.avi;' "$usr/share/applications/tcdemux.desktop" || fail "desktop entry: MimeType"
grep -qx 'Icon=tcdemux' "$usr/share/applications/tcdemux.desktop" || fail "desktop entry: Icon"

# Each PNG is as large as its folder says: width and height from its header.
for png in "$usr"/share/icons/hicolor/*x*/apps/tcdemux.png; do
  size=$(basename "$(dirname "$(dirname "$png")")")
  read -r width height < <(od -An -tu1 -j16 -N8 "$png" |
    awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
  [[ "${width}x${height}" == "$size" ]] || fail "$png is ${width}x${height}"
done

for page in tcdemux tcdemux-mp; do
  gzip -t "$usr/share/man/man1/$page.1.gz" || fail "$page.1.gz"
done

# --help and --version answer without any display, in the version that
# the AppStream data gives.
version=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$usr/share/metainfo/io.github.tcdemux.tcdemux.metainfo.xml")
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
[[ $("${no_display[@]}" "$usr/bin/tcdemux" --version) == "tcdemux $version" ]] || fail "tcdemux --version"
"${no_display[@]}" "$usr/bin/tcdemux" --help | grep -q '^Usage: tcdemux \[FILE\]' || fail "tcdemux --help"
if "${no_display[@]}" "$usr/bin/tcdemux" --no-such-option >/dev/null 2>"$stage/err"; then
  fail "an unknown option succeeded"
fi
grep -q "unknown option '--no-such-option'" "$stage/err" || fail "unknown option message: $(cat "$stage/err")"
[[ $("$usr/bin/tcdemux-mp" --version) == "mp.exe $version" ]] || fail "tcdemux-mp --version"

# The installed window, started through its link on PATH, finds its tool:
# only then does it take a file named on the command line, and taking it
# writes the file's folder into the user's settings (kept in the staging
# folder here). Without the tool it would stop at its start-up message.
mkdir -p "$stage/videos" "$stage/config"
: >"$stage/videos/clip.mkv"
(
  cd "$stage"
  exec env QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 XDG_CONFIG_HOME="$stage/config" PATH="$usr/bin:$PATH" \
    tcdemux videos/clip.mkv
) >"$stage/window.log" 2>&1 &
window_pid=$!
settings=$stage/config/tcdemux/tcdemux.conf
for ((tenths = 0; tenths < 600; tenths++)); do
  grep -qxF "lastSourceFolder=$stage/videos/" "$settings" 2>/dev/null && break
  kill -0 "$window_pid" 2>/dev/null || fail "the installed window ended early: $(cat "$stage/window.log")"
  sleep 0.1
done
grep -qxF "lastSourceFolder=$stage/videos/" "$settings" 2>/dev/null ||
  fail "the installed window took no file within 60 s (tool not found?): $(cat "$stage/window.log")"
echo "install layout, validators and installed window: all good"
