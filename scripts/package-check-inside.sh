#!/usr/bin/env bash
# Runs inside the fresh root of package-check.sh: install, use, remove.
set -euo pipefail
deb=$1
export DEBIAN_FRONTEND=noninteractive

echo "== apt install ./vantelo.deb"
apt-get install -y -q --no-install-recommends "$deb" >/tmp/apt-install.log ||
    { cat /tmp/apt-install.log; exit 1; }
dpkg -L vantelo | sort >/tmp/vantelo-files
test -x /usr/libexec/vantelo/avformat.dll
test -f /usr/lib/x86_64-linux-gnu/vantelo/vantelo-network.so
! test -e /usr/bin/avformat.dll

echo "== vantelo --version and --help, with no display"
env -u DISPLAY -u WAYLAND_DISPLAY vantelo --version | tee /tmp/version
grep -qx 'Vantelo [0-9.]*' /tmp/version
env -u DISPLAY -u WAYLAND_DISPLAY vantelo --help | grep -q -- '--version'

echo "== the installed program starts and loads its network module"
mkdir -p /tmp/home /tmp/run && chmod 700 /tmp/run
# Once the window has been drawn the program loads the module and listens for later starts.
HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/run QT_QPA_PLATFORM=offscreen http_proxy=http://127.0.0.1:9 \
    vantelo 2>/tmp/run.log &
program=$!
listening=no
for _ in $(seq 100); do
    if [[ -S /tmp/run/Morvane-Vantelo.socket ]]; then
        listening=yes
        break
    fi
    sleep 0.1
done
kill "$program"
wait "$program" || true
if [[ $listening != yes ]] || grep -q 'network module' /tmp/run.log; then
    cat /tmp/run.log
    exit 1
fi

echo "== a conversion with the installed converter"
ffmpeg -v error -f lavfi -i testsrc=duration=1:size=176x144:rate=15 \
    -f lavfi -i sine=duration=1 -shortest -c:v flv -c:a mp3 -ar 44100 /tmp/clip.flv
HOME=/tmp/home /usr/libexec/vantelo/avformat.dll -i /tmp/clip.flv -y -s 160x120 \
    -vcodec mpeg4 -acodec mp3 /tmp/clip.avi >/tmp/convert.log 2>&1 ||
    { cat /tmp/convert.log; exit 1; }
ffprobe -v error -show_entries stream=codec_type,width -of csv=p=0 /tmp/clip.avi | tee /tmp/streams
grep -qx 'video,160' /tmp/streams
grep -qx 'audio' /tmp/streams

echo "== apt remove vantelo"
apt-get remove -y -q vantelo >/dev/null
left=$(while read -r path; do
    if [[ -e $path && ! -d $path ]] || [[ $path == *vantelo* && -e $path ]]; then
        echo "$path"
    fi
done </tmp/vantelo-files)
left+=$(find /usr \( -iname '*vantelo*' -o -name 'avformat.dll' -o -name 'com.morvane.*' \) -print)
if [[ -n $left ]]; then
    echo "left in /usr after apt remove:"
    echo "$left"
    exit 1
fi
echo "nothing of vantelo left in /usr"
