#!/usr/bin/env bash
# Installs a package made by scripts/build-deb.sh with `apt install ./...deb`
# in a clean Debian 12 chroot and tries it as a user would: the menu entry is
# there and valid, its Exec line starts the window on a file under Xvfb (a
# screenshot is saved), and quellmark-cli converts to and from Monkey's
# Audio with the packaged codec library.
# Usage (as root): scripts/check-deb-in-chroot.sh DEB [CHROOT_DIR] [SCREENSHOT.png]
# CHROOT_DIR is made with debootstrap when it does not exist yet, and is
# reused as it is otherwise (make a fresh one for a clean result).
set -euo pipefail
deb=$(realpath "$1")
chroot_dir=${2:-/var/tmp/quellmark-bookworm}
shot=${3:-$PWD/chroot-window.png}
root=$(cd "$(dirname "$0")/.." && pwd)

for tool in debootstrap ffmpeg; do
  command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
done
if [[ ! -x "$chroot_dir/usr/bin/apt-get" ]]; then
  debootstrap --variant=minbase bookworm "$chroot_dir" http://deb.debian.org/debian
fi

mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[$i]}" || true; done
}
trap cleanup EXIT
mount -t proc proc "$chroot_dir/proc" && mounted+=("$chroot_dir/proc")
mount --bind /dev "$chroot_dir/dev" && mounted+=("$chroot_dir/dev")
mount --bind /dev/pts "$chroot_dir/dev/pts" && mounted+=("$chroot_dir/dev/pts")
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf" 2>/dev/null || true

work=$chroot_dir/tmp/quellmark-check
rm -rf "$work" && mkdir -p "$work/music"
cp "$deb" "$work/"
# A test file from sox when it is there, else from ffmpeg.
if command -v sox >/dev/null; then
  sox -n -r 44100 -c 2 -b 16 "$work/music/tone.wav" synth 3 sine 440 sine 660
else
  ffmpeg -v error -f lavfi -i "sine=frequency=440:duration=3" -ac 2 -ar 44100 -c:a pcm_s16le "$work/music/tone.wav"
fi

in_chroot() { chroot "$chroot_dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
  DEBIAN_FRONTEND=noninteractive "$@"; }

echo "== apt install ./$(basename "$deb")"
in_chroot apt-get update -qq
in_chroot apt install -y -q "/tmp/quellmark-check/$(basename "$deb")"
# Tools for the check itself and a font, as any desktop has one.
in_chroot apt-get install -y -q --no-install-recommends desktop-file-utils xvfb xauth x11-apps fonts-dejavu-core

echo "== the menu entry"
entry=$(ls "$chroot_dir"/usr/share/applications/*quellmark*.desktop)
in_chroot desktop-file-validate "${entry#"$chroot_dir"}"
grep -E '^(Name|Exec|Icon|MimeType)=' "$entry"
icon=$(sed -n 's/^Icon=//p' "$entry")
ls "$chroot_dir/usr/share/icons/hicolor/"*/apps/"$icon".*
exec_line=$(sed -n 's/^Exec=//p' "$entry")

echo "== quellmark-cli"
in_chroot quellmark-cli --version
in_chroot quellmark-cli --probe /tmp/quellmark-check/music
in_chroot quellmark-cli --set outputType=4 /tmp/quellmark-check/music/tone.wav
in_chroot quellmark-cli --set outputType=0 --set asInput=0 --set OutputDir=/tmp/quellmark-check \
  /tmp/quellmark-check/music/tone.ape
a=$(ffmpeg -v error -i "$work/music/tone.wav" -f s16le - | md5sum)
b=$(ffmpeg -v error -i "$work/music/tone.ape" -f s16le - | md5sum)
c=$(ffmpeg -v error -i "$work/tone.wav" -f s16le - | md5sum)
echo "PCM md5: source $a, APE $b, decoded again $c"
[[ "$a" == "$b" && "$a" == "$c" ]]

echo "== the window, started by the menu entry's Exec line on a file"
command=${exec_line/\%F//tmp/quellmark-check/music/tone.wav}
in_chroot xvfb-run -a -s "-screen 0 1024x768x24" sh -c \
  "($command) & pid=\$!; sleep 6; xwd -root -silent > /tmp/quellmark-check/screen.xwd; \
   kill -0 \$pid && echo 'the window is running'; kill \$pid"
ffmpeg -v error -y -i "$work/screen.xwd" "$shot"
echo "screenshot: $shot"
echo "== the package works in a clean Debian 12"
