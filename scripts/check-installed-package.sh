#!/usr/bin/env bash
# Installs the Debian package as a user would, uses it, purges it and checks that nothing of
# it is left. Meant for a clean root (scripts/in-clean-root.sh); it changes the machine it
# runs on, so run it by hand only where that is wanted.
#   scripts/check-installed-package.sh DEB
set -euo pipefail
deb=$(realpath "$1")
fail() { echo "check-installed-package: $*" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive

# man-db and the movie's inspector are the user's, not the package's.
apt-get update -qq
apt-get install -y -qq man-db >/dev/null
apt-get install -y -qq "$deb" >/dev/null
echo "installed $(dpkg-query -W -f='${Package} ${Version}' vantorel)"
mapfile -t files < <(dpkg -L vantorel | grep -v '^/\.$')

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
version=$(env -u DISPLAY vantorel --version)
[[ $version == "vantorel "* ]] || fail "--version printed '$version'"
env -u DISPLAY vantorel --help | grep -q -- '--batch' || fail "--help does not list --batch"
man -w vantorel | grep -q 'vantorel.1' || fail "man -w vantorel finds no manual page"
# The help engine and the other modules are loaded at run time, not linked to the program:
# their libraries must come with the package's dependencies all the same.
for module in $(printf '%s\n' "${files[@]}" | grep -E '\.(ocx|dll)$'); do
    ! ldd "$module" | grep 'not found' || fail "$module needs libraries the package did not bring"
done

# One movie, made the way a script would, checked with ffprobe (ffmpeg is a dependency).
mkdir photos
for colour in red green blue; do
    ffmpeg -v error -f lavfi -i "color=$colour:size=800x600" -frames:v 1 "photos/$colour.jpg"
done
ffmpeg -v error -f lavfi -i 'sine=frequency=440:duration=5' -c:a libmp3lame music.mp3
env -u DISPLAY vantorel --batch --photos photos --music music.mp3 --output "$work/m.mp4" --seconds 2 --quiet --yes ||
    fail "the batch run failed"
streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 m.mp4 | sort | tr '\n' ' ')
[ "$streams" = "audio video " ] || fail "the movie has streams '$streams', not one audio and one video"
length=$(ffprobe -v error -show_entries format=duration -of csv=p=0 m.mp4)
# Three photos at 2 s each overlap by one step: the last is shown from 4 s to 10 s.
awk -v l="$length" 'BEGIN { exit !(l > 9.9 && l < 10.1) }' || fail "the movie lasts $length s, not 10 s"
echo "made a movie of $length s with streams: $streams"

apt-get purge -y -qq vantorel >/dev/null
! dpkg -s vantorel >/dev/null 2>&1 || fail "the package is still known after purge"
for f in "${files[@]}"; do
    # Folders the package shares with others (/usr, /usr/share/...) stay, its own go.
    if [ -d "$f" ] && [ ! -L "$f" ]; then
        [[ $f == */vantorel* ]] && fail "$f is left after purge"
        continue
    fi
    [ ! -e "$f" ] && [ ! -L "$f" ] || fail "$f is left after purge"
done
echo "purged: none of the package's ${#files[@]} paths is left"
