#!/usr/bin/env bash
# Installs the Debian packages Zipvane needs to build, run and test, and any
# further packages named as arguments (make bench names the tools it measures
# against). With everything there it does nothing: no root, no apt-get.
# Without root it names what is missing and how to install it, and fails.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-wqy-microhei
  xvfb xauth xdotool imagemagick
  dpkg-dev desktop-file-utils
  nginx-light tinyproxy
  python3 openssl ca-certificates qt6-translations-l10n
  clang libclang-rt-14-dev
  chromium chromium-driver python3-selenium
)

# Every name an installed package answers to: its own, and the names it
# provides (so a name asked for as a virtual package counts as there).
# dpkg-query lists Provides as "a (= 1), b".
installed=$(dpkg-query -W -f='${db:Status-Abbrev}|${Package}|${Provides}\n' 2>/dev/null \
  | awk -F'|' '$1 ~ /^ii/ {
      print $2
      n = split($3, provided, ",")
      for (i = 1; i <= n; i++) { split(provided[i], word, " "); if (word[1] != "") print word[1] }
    }' | sort -u)

missing=()
for p in "${packages[@]}" "$@"; do
  grep -qxF -- "$p" <<<"$installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: install them as root with: apt-get install ${missing[*]}" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# nginx and tinyproxy are started by the tests themselves, never as services.
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
