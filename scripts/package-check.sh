#!/usr/bin/env bash
# Checks the Debian package as a user meets it: the package and its desktop files pass Debian's
# checkers, then it installs into a fresh Debian 12 root with apt, runs there (--version, --help,
# a real conversion with the installed converter) and removes without a trace in /usr.
# Usage: scripts/package-check.sh <build folder>   (as root; needs mmdebstrap and lintian)
set -euo pipefail

build=$(realpath "${1:-build}")
source_dir=$(realpath "$(dirname "$0")/..")
started=$SECONDS

deb=$(ls -t "$build"/vantelo_*_*.deb 2>/dev/null | head -n 1 || true)
if [[ -z $deb ]]; then
    echo "package-check: no vantelo_*.deb in $build (run make package)" >&2
    exit 1
fi
echo "== $(basename "$deb")"

echo "== desktop entry, metainfo, lintian"
desktop-file-validate "$source_dir/packaging/com.morvane.Vantelo.desktop"
appstreamcli validate --no-net "$source_dir/packaging/com.morvane.Vantelo.metainfo.xml"
# Errors and warnings fail the check; notes (informational tags) are printed for the reader.
lintian --fail-on error,warning "$deb"

# Debian's own mirror, as this machine's apt sources name it.
mirror=$(sed -n 's/^URIs:[[:space:]]*\(http[^[:space:]]*\/debian\)[[:space:]]*$/\1/p' \
    /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1 || true)
if [[ -z $mirror ]]; then
    mirror=$(sed -n 's/^deb[[:space:]]\+\(http[^[:space:]]*\/debian\)[[:space:]].*/\1/p' \
        /etc/apt/sources.list 2>/dev/null | head -n 1 || true)
fi
mirror=${mirror:-http://deb.debian.org/debian}
security=${mirror%/debian}/debian-security
echo "== fresh Debian 12 root from $mirror"

work=$(mktemp -d /tmp/vantelo-package-check.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$deb" "$work/vantelo.deb"
cp "$source_dir/scripts/package-check-inside.sh" "$work/inside.sh"

# Everything runs in mmdebstrap's hooks, which mount /proc, /sys and /dev for the root; the
# root itself is thrown away.
mmdebstrap --variant=apt --quiet \
    --customize-hook='copy-in "'"$work"'/vantelo.deb" "'"$work"'/inside.sh" /tmp' \
    --customize-hook='chroot "$1" bash /tmp/inside.sh /tmp/vantelo.deb' \
    bookworm /dev/null \
    "deb $mirror bookworm main" \
    "deb $mirror bookworm-updates main" \
    "deb $security bookworm-security main"

echo "== package-check passed in $((SECONDS - started)) s"
