#!/usr/bin/env bash
# Makes the screenshots that the AppStream metainfo names, on a virtual display (Xvfb), from a
# fresh home so that no user's settings show. They are published beside the product page.
# Usage: scripts/make-screenshots.sh [program] [output folder] [display number]
# Without a display number, Xvfb takes a free one.
set -euo pipefail
source_dir=$(realpath "$(dirname "$0")/..")
program=$(realpath "${1:-$source_dir/build/bin/vantelo}")
output=$(realpath -m "${2:-$source_dir/packaging/screenshots}")

# A short home folder, since the output folder box shows the path.
work=$(mktemp -d /tmp/home.XXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb writes the number of the display it took to the descriptor given with -displayfd.
exec {numbers}<> <(:)
Xvfb ${3:+":$3"} -displayfd "$numbers" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
read -r -t 30 -u "$numbers" number
display=":$number"

export DISPLAY=$display HOME=$work XDG_CONFIG_HOME=$work/.config XDG_RUNTIME_DIR=$work/run
export QT_QPA_PLATFORM=xcb http_proxy=http://127.0.0.1:9 # the advertisement pane stays offline
mkdir -p "$XDG_RUNTIME_DIR" "$output"
chmod 700 "$XDG_RUNTIME_DIR"

"$program" >/dev/null 2>&1 &
pids+=($!)
main=$(xdotool search --sync --onlyvisible --name '^Vantelo ' | head -n 1)
sleep 2 # the pictures and the panes settle
import -window "$main" "$output/main-window.png"

# The Convert button, at its place in the window (1440, 3120 twips; 15 twips to a pixel).
xdotool mousemove --window "$main" 136 220 click 1
dialog=$(xdotool search --sync --onlyvisible --name '^Convert YouTube Video$' | head -n 1)
sleep 1
import -window "$dialog" "$output/convert-dialog.png"

echo "screenshots in $output:"
ls -l "$output"
