#!/usr/bin/env bash
# Installs a build into a scratch root (DESTDIR) and checks what lands where:
# the program, its desktop entry with the keys the menus read, its icons.
set -euo pipefail
build=${1:?usage: install_layout.sh BUILD_DIR}
fail() { echo "install_layout: $*" >&2; exit 1; }

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null

expected='etc/chromium/native-messaging-hosts/zipvane.json
usr/bin/zipvane
usr/lib/mozilla/native-messaging-hosts/zipvane.json
usr/lib/zipvane/zipvane-native-host
usr/share/applications/zipvane.desktop
usr/share/icons/hicolor/48x48/apps/zipvane.png
usr/share/icons/hicolor/scalable/apps/zipvane.svg
usr/share/zipvane/extension/background.js
usr/share/zipvane/extension/manifest.json
usr/share/zipvane/extension/options.html
usr/share/zipvane/extension/options.js
usr/share/zipvane/extension/send.js'
installed=$(cd "$root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$installed" = "$expected" ] || fail "installed files differ:"$'\n'"$installed"
[ -x "$root/usr/bin/zipvane" ] || fail "usr/bin/zipvane is not executable"
[ -x "$root/usr/lib/zipvane/zipvane-native-host" ] || fail "the native host is not executable"
# Each browser's host manifest is JSON naming the installed host by its absolute path.
for manifest in etc/chromium/native-messaging-hosts/zipvane.json \
                usr/lib/mozilla/native-messaging-hosts/zipvane.json; do
  python3 -c 'import json, sys; m = json.load(open(sys.argv[1]))
assert m["name"] == "zipvane" and m["path"] == "/usr/lib/zipvane/zipvane-native-host", m' \
    "$root/$manifest" || fail "$manifest does not name the installed host"
done

desktop=$root/usr/share/applications/zipvane.desktop
desktop-file-validate "$desktop" || fail "the desktop entry is not valid"
for line in 'Name=Zipvane' 'GenericName=Download Manager' 'GenericName[zh_CN]=下载管理器' \
            'Exec=zipvane %U' 'Icon=zipvane' 'Categories=Network;FileTransfer;'; do
  grep -qxF "$line" "$desktop" || fail "the desktop entry lacks '$line'"
done
