#!/bin/sh
# Runs a command on the user's display, or on a private Xvfb server when
# there is none (CI, ssh sessions). The server picks its own free display
# number (-displayfd), so parallel runs never race for one, as they can
# with xvfb-run -a. -noreset: a server resetting after its last client left
# refuses the next one for a moment, and tests start one program after another.
# Accessibility bridges stay off and GTK keeps its settings (the file
# chooser's) in memory: there is no session bus to reach either.
export NO_AT_BRIDGE=1
export GSETTINGS_BACKEND="${GSETTINGS_BACKEND:-memory}"
if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi

scratch=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
  3>"$scratch/display" 2>"$scratch/log" &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM
# The number is written once the server accepts connections.
tries=0
until grep -q . "$scratch/display" 2>/dev/null; do
  tries=$((tries + 1))
  if [ $tries -gt 200 ] || ! kill -0 $server 2>/dev/null; then
    echo "with_display.sh: Xvfb did not start:" >&2
    cat "$scratch/log" >&2
    exit 1
  fi
  sleep 0.05
done
DISPLAY=:$(head -n 1 "$scratch/display")
export DISPLAY
"$@"
