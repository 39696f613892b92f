#!/usr/bin/env bash
# Installs, with apt-get, only those of the given Debian packages that are
# missing. Runs apt-get update first, since a fresh machine has no package lists.
set -euo pipefail

missing=()
for pkg in "$@"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
if [[ $(id -u) -eq 0 ]]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "error: these packages are missing and neither root nor sudo is available:" >&2
  echo "  ${missing[*]}" >&2
  echo "Install them with: apt-get install ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! "${sudo[@]}" apt-get update || ! "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; then
  echo "error: apt-get could not install: ${missing[*]}" >&2
  exit 1
fi
