# Sourced by scripts/desktop-tests and scripts/screenshots: a real X server
# (Xvfb) on a free display with a real window manager on it.
#   start_desktop WM-COMMAND...   exports DISPLAY once the manager runs
#   stop_desktop                  ends both (also on exit)

desktop_xvfb_pid=""
desktop_wm_pid=""

stop_desktop() {
  if [ -n "$desktop_wm_pid" ]; then kill "$desktop_wm_pid" 2>/dev/null || true; wait "$desktop_wm_pid" 2>/dev/null || true; fi
  if [ -n "$desktop_xvfb_pid" ]; then kill "$desktop_xvfb_pid" 2>/dev/null || true; wait "$desktop_xvfb_pid" 2>/dev/null || true; fi
  desktop_wm_pid=""
  desktop_xvfb_pid=""
}
trap stop_desktop EXIT

start_desktop() {
  local fifo number tries=0
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  # Xvfb picks a free display itself and writes its number to descriptor 3.
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$fifo" >/dev/null 2>&1 &
  desktop_xvfb_pid=$!
  if ! read -r -t 20 number <"$fifo"; then
    rm -f "$fifo"
    echo "Xvfb did not start" >&2
    return 1
  fi
  rm -f "$fifo"
  export DISPLAY=":$number"
  # A desktop's tray over D-Bus would take the icon from the manager's X tray.
  unset DBUS_SESSION_BUS_ADDRESS
  "$@" >/dev/null 2>&1 &
  desktop_wm_pid=$!
  # Managing the screen once it answers as the window manager.
  until wmctrl -m >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ "$tries" -ge 400 ]; then
      echo "$1 did not start" >&2
      return 1
    fi
    sleep 0.05
  done
}
