#!/usr/bin/env bash
# Starts Vantelo; when there is no display, on a virtual one (Xvfb).
set -euo pipefail
program=${1:-build/bin/vantelo}
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$program"
fi
echo "No display found: starting Vantelo on a virtual display (xvfb-run)." >&2
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$program"
