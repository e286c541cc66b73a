#!/usr/bin/env bash
# Installs what `make bench` needs beyond the build: the tools it measures
# Zipvane against. Idempotent and quiet when everything is already there.
set -euo pipefail

packages=(curl wget aria2 time nginx-light python3)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || { echo "install-bench-deps: need root to install: ${missing[*]}" >&2; exit 1; }
  SUDO=sudo
fi
echo "install-bench-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
