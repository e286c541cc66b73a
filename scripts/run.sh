#!/usr/bin/env bash
# Starts Zipvane from a build folder. Without a display it starts a virtual
# one, takes a screenshot of the main window and keeps running until Ctrl+C.
set -euo pipefail
script_name=run
source "$(dirname "$0")/virtual-display.sh"

build_dir=${1:-build}
program="$build_dir/zipvane"
if [ ! -x "$program" ]; then
  echo "run: $program not found; build first (make build)" >&2
  exit 1
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$program"
fi

for tool in Xvfb xdotool import; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "run: no display and '$tool' is missing; run scripts/install-deps.sh" >&2
    exit 1
  fi
done

xvfb_pid=
app_pid=
cleanup() {
  trap - INT TERM EXIT
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_virtual_display

QT_QPA_PLATFORM=xcb "$program" &
app_pid=$!

window=$(wait_for_main_window "$app_pid")

sleep 1   # let the first paint finish before the picture is taken
screenshot="$build_dir/screenshot.png"
import -display "$DISPLAY" -window "$window" "$screenshot"
echo "Zipvane is running on a virtual display ($DISPLAY); screenshot: $screenshot — press Ctrl+C to stop."
wait "$app_pid"
