#!/usr/bin/env bash
# Makes a test video with ffmpeg from its own generated patterns (nothing is downloaded), for the demo, the
# tests and the benchmarks.
#   scripts/make-clip.sh [options] OUT
#     --codec h264|vp9|vp8|av1|hevc   (default h264; h264 and hevc go in MP4, the others in WebM)
#     --size WxH                      (default 1920x1080)
#     --seconds S                     (default 10)
#     --rate R                        frames per second (default 30)
#     --pattern code|first-green      code: a moving test picture under a strip of 16 grey (0) or white (1)
#                                     cells across its top that spell the frame's number in binary, lowest
#                                     bit at the left (a reader of the screen finds which frame is shown;
#                                     black there is no frame at all);
#                                     first-green: the first frame all green, every later one all red
#     --audio                         adds a quiet 440 Hz tone (AAC in MP4, Opus in WebM)
# The clips are made the way the README advises for the kiosk: 8-bit 4:2:0, a key frame every second, the
# index at the front of an MP4 file.
set -euo pipefail

codec=h264 size=1920x1080 seconds=10 rate=30 pattern=code audio=no out=
while [ $# -gt 0 ]; do
  case "$1" in
    --codec) shift; codec=${1:?} ;;
    --size) shift; size=${1:?} ;;
    --seconds) shift; seconds=${1:?} ;;
    --rate) shift; rate=${1:?} ;;
    --pattern) shift; pattern=${1:?} ;;
    --audio) audio=yes ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) out=$1 ;;
  esac
  shift
done
[ -n "$out" ] || { sed -n '2,14p' "$0" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "ffmpeg is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }

width=${size%x*} height=${size#*x}
case "$pattern" in
  code)
    cell_h=$(( (height / 16 + 1) / 2 * 2 ))
    picture="testsrc2=size=${size}:rate=${rate}:duration=${seconds}[bg];"
    # 16 pixels, one per bit of the frame number, widened to cells of the clip's width.
    picture+="color=black:size=16x1:rate=${rate}:duration=${seconds},format=gray,"
    picture+="geq=lum='64+191*mod(floor(N/pow(2\\,X))\\,2)',scale=${width}:${cell_h}:flags=neighbor[code];"
    picture+="[bg][code]overlay=0:0:shortest=1,format=yuv420p[v]"
    ;;
  first-green)
    picture="color=black:size=${size}:rate=${rate}:duration=${seconds},format=rgb24,"
    picture+="geq=r='if(eq(N\\,0)\\,0\\,255)':g='if(eq(N\\,0)\\,255\\,0)':b=0,format=yuv420p[v]"
    ;;
  *) echo "unknown pattern $pattern" >&2; exit 2 ;;
esac

gop=$rate
case "$codec" in
  h264) video=(-c:v libx264 -preset veryfast -profile:v high -g "$gop") audio_codec=aac ;;
  hevc) video=(-c:v libx265 -preset veryfast -tag:v hvc1 -g "$gop" -x265-params log-level=error) audio_codec=aac ;;
  vp9) video=(-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -row-mt 1 -b:v 4M -g "$gop") audio_codec=libopus ;;
  vp8) video=(-c:v libvpx -deadline realtime -cpu-used 8 -b:v 4M -g "$gop") audio_codec=libopus ;;
  av1) video=(-c:v libsvtav1 -preset 10 -g "$gop") audio_codec=libopus ;;
  *) echo "unknown codec $codec" >&2; exit 2 ;;
esac

inputs=(-f lavfi -i "nullsrc=size=16x16:duration=${seconds}")
maps=(-map "[v]")
if [ "$audio" = yes ]; then
  inputs+=(-f lavfi -i "sine=frequency=440:duration=${seconds},volume=0.1")
  maps+=(-map 1:a -c:a "$audio_codec")
fi
mkdir -p "$(dirname "$out")"
nice ffmpeg -hide_banner -loglevel error -nostdin "${inputs[@]}" -filter_complex "$picture" "${maps[@]}" \
  "${video[@]}" -pix_fmt yuv420p -r "$rate" -movflags +faststart -y "$out"
