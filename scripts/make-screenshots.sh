#!/usr/bin/env bash
# Makes the screenshots that the AppStream metainfo names, on a virtual display (Xvfb), from a
# fresh home so that no user's settings show: the main window downloading a video from a page
# served on loopback as news.example (a paced server that is also the proxy, so that speed and
# time left show), then the conversion dialog converting that video in ~/Videos. The package
# installs them beside its other documents; the maker's site publishes the same files under
# the names the metainfo gives.
# Usage: scripts/make-screenshots.sh [program] [output folder] [display number]
# Without a display number, Xvfb takes a free one. As root, the home is /home/ana on a private
# mount, so that the folder boxes show a user's path rather than a scratch one.
set -euo pipefail
source_dir=$(realpath "$(dirname "$0")/..")
program=$(realpath "${1:-$source_dir/build/bin/vantelo}")
output=$(realpath -m "${2:-$source_dir/packaging/screenshots}")

private_home() {
    [[ $(id -u) -eq 0 && $program != /home/* && $output != /home/* ]] &&
        unshare --mount --propagation private true 2>/dev/null
}
if [[ -z ${VANTELO_SHOTS_PRIVATE:-} ]] && private_home; then
    exec env VANTELO_SHOTS_PRIVATE=1 unshare --mount --propagation private \
        "$0" "$program" "$output" "${3:-}"
fi

work=$(mktemp -d /tmp/vantelo-shots.XXXX)
if [[ -n ${VANTELO_SHOTS_PRIVATE:-} ]]; then
    mount -t tmpfs -o mode=755 vantelo-shots /home
    home=/home/ana
else
    home=$work/home
fi
mkdir -p "$home/Videos" "$work/site/watch"

# A window by its title, within 20 s; a picture of the screen tells what came instead.
window_named() {
    local found
    if ! found=$(timeout 20 xdotool search --sync --onlyvisible --name "$1"); then
        import -window root "$output/failed.png"
        echo "make-screenshots: no window \"$1\" (see $output/failed.png)" >&2
        exit 1
    fi
    grep -v -x -F "${2:-}" <<<"$found" | head -n 1
}

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

echo "== the video and its page"
ffmpeg -v error -f lavfi \
    -i "gradients=s=1280x720:r=30:c0=0xff8c3a:c1=0x4b2a7b:c2=0xffd27a:n=3:speed=0.015" \
    -f lavfi -i "sine=f=220:r=48000" -t 60 -c:v libx264 -preset veryfast -b:v 4M \
    -pix_fmt yuv420p -c:a aac -b:a 128k -movflags +faststart "$work/site/sunset.mp4"
ffmpeg -v error -ss 5 -i "$work/site/sunset.mp4" -frames:v 1 -vf scale=480:-2 \
    "$work/site/sunset.jpg"
cat >"$work/site/watch/sunset.html" <<'EOF'
<!DOCTYPE html>
<html><head>
<title>Sunset over the harbour</title>
<meta property="og:title" content="Sunset over the harbour">
<meta property="og:description" content="A minute of evening light over the old harbour.">
<meta property="og:image" content="/sunset.jpg">
<meta property="og:video" content="/sunset.mp4">
<meta property="og:video:type" content="video/mp4">
<meta property="og:video:width" content="1280">
<meta property="og:video:height" content="720">
</head><body><video src="/sunset.mp4" controls></video></body></html>
EOF

# A server paced at 1 MB/s, so that the download is seen under way. It is the program's proxy
# too, so that the address box shows a site's name rather than a loopback port: it serves the
# site's host alone and leaves every other request unanswered, as a proxy that is down would.
site=news.example
python3 - "$work/site" 1000000 "$work/port" "$site" >/dev/null 2>&1 <<'EOF' &
import http.server, os, sys, time, urllib.parse
root, rate, port_file, site = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
class Paced(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=root, **kwargs)
    def for_the_site(self):
        # Through a proxy the request names the whole address ("GET http://host/path").
        host = urllib.parse.urlsplit(self.path).hostname
        if host is None:
            host = self.headers.get("Host", "").rsplit(":", 1)[0]
        self.close_connection = host != site
        return host == site
    def do_GET(self):
        if self.for_the_site():
            super().do_GET()
    def do_HEAD(self):
        if self.for_the_site():
            super().do_HEAD()
    def translate_path(self, path):
        return super().translate_path(urllib.parse.urlsplit(path).path)
    def copyfile(self, source, destination):
        while chunk := source.read(rate // 20):
            destination.write(chunk)
            time.sleep(0.05)
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Paced)
with open(port_file + ".new", "w") as f:
    f.write("%d\n" % server.server_address[1])
os.rename(port_file + ".new", port_file)
server.serve_forever()
EOF
pids+=($!)
for _ in $(seq 100); do [[ -s $work/port ]] && break; sleep 0.1; done
port=$(cat "$work/port")
page="http://$site/watch/sunset.html"

# Xvfb writes the number of the display it took to the descriptor given with -displayfd.
exec {numbers}<> <(:)
Xvfb ${3:+":$3"} -displayfd "$numbers" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
read -r -t 30 -u "$numbers" number
display=":$number"

export DISPLAY=$display HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$work/run
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8
# Everything goes through the paced server: the page is read from loopback, and the
# advertisement pane, whose host it does not serve, stays offline.
export http_proxy=http://127.0.0.1:$port
unset no_proxy NO_PROXY HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY
mkdir -p "$XDG_RUNTIME_DIR" "$output" "$XDG_CONFIG_HOME/Morvane"
chmod 700 "$XDG_RUNTIME_DIR"
# A user who chose ~/Videos as the output folder before.
printf '[General]\nYoutube%%20Video%%20output%%20path=%s/Videos\n' "$home" \
    >"$XDG_CONFIG_HOME/Morvane/Vantelo.conf"

"$program" >/dev/null 2>&1 &
pids+=($!)
main=$(window_named '^Vantelo ')
sleep 1

echo "== downloading $page into ~/Videos"
xdotool windowfocus --sync "$main"
# The address box has the focus at start and holds "http://".
xdotool key ctrl+a
xdotool type --delay 20 "$page"
xdotool key Return
sleep 7 # the bar's text shows speed and time left after a few seconds
import -window "$main" "$output/main-window.png"

# The download ends in ~/Videos.
for _ in $(seq 120); do
    video=$(find "$home/Videos" -maxdepth 1 -type f -name 'Sunset*' ! -name '*.part' | head -n 1)
    [[ -n $video ]] && break
    sleep 0.5
done
[[ -n $video ]] || { echo "make-screenshots: the download did not finish" >&2; exit 1; }
echo "== converting $video"
sleep 1
xdotool key Return # "Download Complete"

# The Convert button, at its place in the window (1440, 3120 twips; 15 twips to a pixel).
xdotool mousemove --window "$main" 136 220 click 1
dialog=$(window_named '^Convert YouTube Video$')
sleep 1
# "Open source file" (5520, 480 twips in the dialog), then the file's name in the file box.
xdotool mousemove --window "$dialog" 404 42 click 1
picker=$(window_named '^Open$' "$dialog")
xdotool windowfocus --sync "$picker"
xdotool type --delay 20 "$video"
xdotool key Return
sleep 1
# The target format list (240, 1440 twips): opened, its item found by typing its start.
xdotool windowfocus --sync "$dialog"
xdotool mousemove --window "$dialog" 228 106 click 1
sleep 0.5
xdotool type --delay 30 "WebM V"
xdotool key Return
sleep 1
# Convert (5760, 5640 twips).
xdotool mousemove --window "$dialog" 416 386 click 1
sleep 8 # the share and the time left show
import -window "$dialog" "$output/convert-dialog.png"

echo "screenshots in $output:"
ls -l "$output"
