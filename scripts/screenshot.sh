#!/usr/bin/env bash
# Takes the README's picture: Zipvane's main window on a virtual display with
# one download running (from a slow local server), one finished and one
# stopped, the block map of the running one in view.
#   scripts/screenshot.sh [PROGRAM [OUTPUT]]   (build/zipvane, docs/screenshot.png)
# Fails when the window or the download does not show; exits 77 (a skip for
# CTest) only when there is no Xvfb.
set -euo pipefail
script_name=screenshot
here=$(cd "$(dirname "$0")" && pwd)
source "$here/virtual-display.sh"

program=$(realpath "${1:-build/zipvane}")
output=${2:-docs/screenshot.png}
fail() { echo "$script_name: $*" >&2; exit 1; }
[ -x "$program" ] || fail "$program not found; build first (make build)"
command -v Xvfb >/dev/null 2>&1 || { echo "$script_name: no Xvfb, skipped" >&2; exit 77; }
for tool in xdotool import python3; do
  command -v "$tool" >/dev/null 2>&1 || fail "'$tool' is missing; run scripts/install-deps.sh"
done

# A short folder: the stored list keeps only 50 bytes of a local path.
work=$(mktemp -d /tmp/zvshot.XXXXXX)
xvfb_pid= app_pid= server_pid=
cleanup() {
  for pid in "$app_pid" "$server_pid" "$xvfb_pid"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

python3 "$here/trickle-server.py" >"$work/port" &
server_pid=$!
for _ in $(seq 1 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
[ -n "$port" ] || fail "the local server did not start"

# A copy of the program in a writable folder keeps its list beside itself.
cp "$program" "$work/zipvane"
head -c 307200 /dev/zero >"$work/photos.zip"
python3 - "$work" "$port" <<'PY'
import struct, sys
work, port = sys.argv[1], sys.argv[2]
def record(name, size, got):
    text = lambda s, n: s.encode().ljust(n, b" ")
    url = "http://127.0.0.1:%s/downloads/%s" % (port, name)
    return struct.pack("<h180s50siih50sh20s20s", 0, text(url, 180), text("%s/%s" % (work, name), 50),
                       size, got, 0, text("", 50), 0, text("", 20), text("", 20))
with open(work + "/Zipvane.zvt", "wb") as f:
    f.write(record("debian-12-netinst.iso", 0, 0))
    f.write(record("readme.txt", 5120, 5120))
    f.write(record("photos.zip", 1048576, 307200))
PY

start_virtual_display
QT_QPA_PLATFORM=xcb "$work/zipvane" >/dev/null 2>&1 &
app_pid=$!
window=$(wait_for_main_window "$app_pid")

# Without a window manager the window has no frame: these are client
# coordinates. The first task row, then the block map tab (下载情况).
xdotool mousemove --window "$window" 120 182 click --repeat 2 --delay 80 1
sleep 0.3
xdotool mousemove --window "$window" 95 352 click 1
for _ in $(seq 1 40); do
  [ -s "$work/debian-12-netinst.iso" ] && break
  sleep 0.25
done
[ -s "$work/debian-12-netinst.iso" ] || fail "double-clicking the first task started no download"
sleep 2   # a couple of timer ticks: speed, sizes and the block map fill in

mkdir -p "$(dirname "$output")"
import -display "$DISPLAY" -window "$window" "$output"
echo "$script_name: wrote $output"
