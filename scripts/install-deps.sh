#!/usr/bin/env bash
# Installs the Debian packages Zipvane needs to build, run and test, and any
# further packages named as arguments (make bench names the tools it measures
# against). Idempotent and quiet when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6core5compat6-dev libgl-dev
  fonts-wqy-microhei
  xvfb xauth xdotool imagemagick
  dpkg-dev desktop-file-utils
  nginx-light tinyproxy
  python3 openssl ca-certificates qt6-translations-l10n
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}" "$@"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO=sudo; else
    echo "install-deps: need root to install: ${missing[*]}" >&2; exit 1
  fi
else
  SUDO=
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# nginx and tinyproxy are started by the tests themselves, never as services.
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
