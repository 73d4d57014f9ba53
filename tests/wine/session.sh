#!/usr/bin/env bash
# One Wine session for a whole test run: an Xvfb display, a throwaway Wine
# prefix and a persistent wineserver, so each test pays only for its own
# programs. `start` writes SESSION_DIR/env, which every test reads.
#
# Usage: session.sh start|stop PREFIX SESSION_DIR
set -euo pipefail

if [[ $# -ne 3 ]]; then
  echo "usage: $0 start|stop PREFIX SESSION_DIR" >&2
  exit 2
fi
action=$1 prefix=$2 session=$3

# No Mono or Gecko installer dialogs in the fresh prefix; a fixed locale so
# number formats and code pages do not follow the machine's.
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8

stop() {
  if [[ -d "$prefix" ]]; then
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
  fi
  if [[ -f "$session/xvfb.pid" ]]; then
    kill "$(cat "$session/xvfb.pid")" 2>/dev/null || true
    rm -f "$session/xvfb.pid"
  fi
}

start() {
  stop
  rm -rf "$prefix" "$session"
  mkdir -p "$session"

  # -displayfd picks a free display, so parallel runs on one machine do not
  # meet. Detached and with every stream redirected: ctest waits for the
  # test's output pipes to close, and Xvfb must outlive this script.
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
    3>"$session/display" </dev/null >"$session/xvfb.log" 2>&1 &
  echo $! >"$session/xvfb.pid"
  for _ in $(seq 100); do
    [[ -s "$session/display" ]] && break
    sleep 0.1
  done
  if [[ ! -s "$session/display" ]]; then
    echo "Xvfb did not start:" >&2
    cat "$session/xvfb.log" >&2
    exit 1
  fi
  export DISPLAY=":$(tr -d '\n' <"$session/display")"

  # A persistent server keeps the prefix warm between the tests' programs.
  # It needs the prefix folder; wineboot fills it in.
  mkdir -p "$prefix"
  wineserver -p </dev/null >"$session/wineserver.log" 2>&1
  wineboot -i </dev/null >"$session/wineboot.log" 2>&1 || {
    cat "$session/wineboot.log" >&2
    exit 1
  }
  # A crashing program must fail its test, not wait on a crash dialog.
  # Unmanaged windows: with no window manager on the display, Wine would
  # wait two seconds for one whenever a window is hidden or destroyed.
  cat >"$session/settings.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
REG
  wine reg import "$(winepath -w "$session/settings.reg")" </dev/null \
    >>"$session/wineboot.log" 2>&1
  # The program's fixed decoder path. Wine invents its own short names
  # ("C:\Program Files" is not PROGRA~1 there), so make a real folder of
  # that name; each test puts its decoder in it.
  mkdir -p "$prefix/drive_c/Progra~1/Lame"

  cat >"$session/env" <<EOF
DISPLAY=$DISPLAY
WINEPREFIX=$WINEPREFIX
WINEDEBUG=$WINEDEBUG
WINEDLLOVERRIDES=$WINEDLLOVERRIDES
LC_ALL=$LC_ALL
EOF
}

case $action in
  start) start ;;
  stop) stop ;;
  *)
    echo "unknown action: $action" >&2
    exit 2
    ;;
esac
