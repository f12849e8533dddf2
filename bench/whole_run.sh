#!/usr/bin/env bash
# Whole-run benchmark: 60 photos of 3000x2000 at 4 s each with the transition effect, high
# quality, 320x240, and a 3-minute MP3, made through the batch front end (render and
# conversion stages timed apart with --timings), next to the one ffmpeg command a power
# user would write for the same movie (each photo fitted with bars, alternating wipe and
# dissolve transitions, photo i coming in over photo i-1 and the first over black, the
# music repeated and cut to the show's length, the same MPEG-4 and audio settings).
#
#   bench/whole_run.sh [BUILD_DIR]        (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
program="$PWD/$build/bin/vantorel"
[ -x "$program" ] || { echo "no program at $program; build first" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/photos" "$work/out" "$work/home" "$work/config" "$work/data" "$work/system"

photos=60 seconds=4
echo "making $photos photos of 3000x2000 and a 3-minute MP3 ..." >&2
ffmpeg -v error -f lavfi -i "testsrc2=size=3000x2000:rate=1" -frames:v $photos -q:v 3 \
    "$work/photos/photo%03d.jpg"
ffmpeg -v error -f lavfi -i "sine=frequency=440:duration=180" -c:a libmp3lame -b:a 192k \
    "$work/music.mp3"

now() { date +%s.%N; }

echo "program (batch front end) ..." >&2
start=$(now)
HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
VANTOREL_WINDOWS_DIR="$work/home" VANTOREL_SYSTEM_DIR="$work/system" \
    "$program" --batch --photos "$work/photos" --music "$work/music.mp3" \
    --output "$work/out/program.mp4" --seconds $seconds --size 320x240 --yes --timings \
    2> "$work/program.log" > /dev/null || { cat "$work/program.log" >&2; exit 1; }
program_s=$(echo "$(now) - $start" | bc)
grep -E '^(startup|render|conversion|whole run):' "$work/program.log" >&2

# The same movie in one ffmpeg command. The show lasts (N+1)*s seconds of music; photo i
# is seen from i*s (its transition) to (i+2)*s, the last one until the video ends s
# seconds after the music.
show=$(( (photos + 1) * seconds ))
fit="scale=320:240:force_original_aspect_ratio=decrease,pad=320:240:(ow-iw)/2:(oh-ih)/2,setsar=1,fps=30000/1001,format=yuv420p"
inputs=(-f lavfi -t $seconds -i "color=black:size=320x240:rate=30000/1001")
filters="[0:v]format=yuv420p,setsar=1[v0];"
for i in $(seq 1 $photos); do
    length=$(( 2 * seconds )); [ "$i" = "$photos" ] && length=$(( 3 * seconds ))
    inputs+=(-loop 1 -framerate 30000/1001 -t $length -i "$(printf '%s/photos/photo%03d.jpg' "$work" "$i")")
    filters+="[$i:v]$fit[p$i];"
done
last="v0"; length=$seconds
for i in $(seq 1 $photos); do
    kind=wiperight; [ $(( i % 2 )) = 0 ] && kind=fade
    offset=$(( length - seconds ))
    filters+="[$last][p$i]xfade=transition=$kind:duration=$seconds:offset=$offset[x$i];"
    last="x$i"
    clip=$(( 2 * seconds )); [ "$i" = "$photos" ] && clip=$(( 3 * seconds ))
    length=$(( length + clip - seconds ))
done
filters+="[$((photos + 1)):a]atrim=0:$show[a]"
inputs+=(-stream_loop -1 -i "$work/music.mp3")

echo "ffmpeg (one command) ..." >&2
start=$(now)
ffmpeg -v error -y "${inputs[@]}" -filter_complex "$filters" -map "[$last]" -map "[a]" \
    -c:v mpeg4 -b:v 1200k -mbd 2 -flags:v +mv4+aic -trellis 1 -cmp 2 -subcmp 2 -r 30000/1001 \
    -c:a aac -b:a 128k "$work/out/ffmpeg.mp4"
ffmpeg_s=$(echo "$(now) - $start" | bc)

for f in program ffmpeg; do
    d=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/out/$f.mp4")
    echo "$f movie: $d s" >&2
done
printf 'program: %.1f s\nffmpeg:  %.1f s\nratio:   %.2f\n' "$program_s" "$ffmpeg_s" \
    "$(echo "$program_s / $ffmpeg_s" | bc -l)"
