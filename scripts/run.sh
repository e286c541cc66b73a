#!/usr/bin/env bash
# Starts Zipvane from a build folder. Without a display it starts a virtual
# one, takes a screenshot of the main window and keeps running until Ctrl+C.
set -euo pipefail

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

display_number=99
while [ -e "/tmp/.X${display_number}-lock" ] || [ -e "/tmp/.X11-unix/X${display_number}" ]; do
  display_number=$((display_number + 1))
done
display=":$display_number"

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

Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
for _ in $(seq 1 50); do
  [ -e "/tmp/.X11-unix/X${display_number}" ] && break
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "run: Xvfb could not start on $display" >&2
    exit 1
  fi
  sleep 0.1
done

QT_QPA_PLATFORM=xcb "$program" &
app_pid=$!

window=
for _ in $(seq 1 30); do
  if ! kill -0 "$app_pid" 2>/dev/null; then
    echo "run: Zipvane ended before its main window appeared" >&2
    exit 1
  fi
  window=$(xdotool search --onlyvisible --name "迅羽" 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.5
done
if [ -z "$window" ]; then
  echo "run: the main window did not appear within 15 seconds on $display" >&2
  exit 1
fi

sleep 1   # let the first paint finish before the picture is taken
screenshot="$build_dir/screenshot.png"
import -display "$display" -window "$window" "$screenshot"
echo "Zipvane is running on a virtual display ($display); screenshot: $screenshot — press Ctrl+C to stop."
wait "$app_pid"
