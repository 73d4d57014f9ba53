#!/bin/sh
# Runs a command on the user's display, or on a private Xvfb server when
# there is none (CI, ssh sessions). Accessibility bridges stay off: with no
# session bus they only print warnings.
export NO_AT_BRIDGE=1
# No session bus either: GTK keeps its settings (the file chooser's) in memory.
export GSETTINGS_BACKEND="${GSETTINGS_BACKEND:-memory}"
if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$@"
