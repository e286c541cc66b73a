# Sourced by run.sh and screenshot.sh: a virtual X display, and waiting for
# Zipvane's main window to show on it. Messages start with $script_name.

# Starts Xvfb on a display it finds free itself (so several can run at
# once), exports DISPLAY and sets xvfb_pid. Xvfb writes the display number
# only once it accepts clients.
start_virtual_display() {
  local number_file number=
  number_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$number_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do
    number=$(tr -dc 0-9 <"$number_file")
    [ -n "$number" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$number_file"
  if [ -z "$number" ]; then
    echo "$script_name: Xvfb could not start a virtual display" >&2
    return 1
  fi
  export DISPLAY=":$number"
}

# Prints the id of the main window once it is visible; fails when the
# program (process $1) ends first or 15 seconds pass.
wait_for_main_window() {
  local app_pid=$1 window=
  for _ in $(seq 1 30); do
    if ! kill -0 "$app_pid" 2>/dev/null; then
      echo "$script_name: Zipvane ended before its main window appeared" >&2
      return 1
    fi
    window=$(xdotool search --onlyvisible --name "迅羽" 2>/dev/null | head -n 1 || true)
    if [ -n "$window" ]; then
      echo "$window"
      return 0
    fi
    sleep 0.5
  done
  echo "$script_name: the main window did not appear within 15 seconds on $DISPLAY" >&2
  return 1
}
