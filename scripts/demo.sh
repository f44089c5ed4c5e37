#!/usr/bin/env bash
# Builds the program, lays out a demo application folder in build/demo/ and starts the program there.
# The demo's schedule plays the "welcome" vitrelle at start (4 s per slide; its video slide, a test card that
# scripts/make-clip.sh makes with ffmpeg when the folder is laid out, stays until its 6 s clip ends). Without a
# DISPLAY the program runs under Xvfb for a bounded time; screenshots of the screen are saved to
# build/demo/screenshot.png (the first slide, 3 s after launch) and build/demo/screenshot-later.png (a later
# slide), and the script checks that the two differ.
#   scripts/demo.sh                 with the demo's VitrelleCenter.xml
#   scripts/demo.sh --no-settings   without a settings file (the program logs that and uses its defaults)
#   scripts/demo.sh --seconds N     how long the program runs under Xvfb (default 15)
#   scripts/demo.sh --server        the cache starts empty: the demo content comes from a local test content
#                                   server (127.0.0.1:8080) through the download path
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

settings=yes
seconds=15
server=no
while [ $# -gt 0 ]; do
  case "$1" in
    --no-settings) settings=no ;;
    --seconds) shift; seconds=${1:?--seconds needs a number} ;;
    --server) server=yes ;;
    *) echo "usage: $0 [--no-settings] [--seconds N] [--server]" >&2; exit 2 ;;
  esac
  shift
done

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target VitrelleCenter

source scripts/demo-folder.sh
demo="$root/build/demo"
lay_out_demo_folder "$demo" build/bin/VitrelleCenter
rm -f "$demo/screenshot.png" "$demo/screenshot-later.png"
if [ "$server" = yes ]; then
  # Everything the cache would hold comes from the server instead.
  cmake --build build -j "$(nproc)" --target TestContentServer
  rm -rf "$demo/Cache" && mkdir -p "$demo/Cache"
  build/bin/TestContentServer "$(demo_content)" 8080 &
  server_pid=$!
  trap 'kill -TERM "$server_pid" 2>/dev/null || true' EXIT
  sleep 1
  write_demo_settings "$demo" http://127.0.0.1:8080
elif [ "$settings" = yes ]; then
  # Only the demo's own folders; no content server yet.
  write_demo_settings "$demo"
else
  rm -f "$demo/VitrelleCenter.xml"
fi

cd "$demo"
if [ -n "${DISPLAY:-}" ]; then
  echo "Starting $demo/VitrelleCenter on $DISPLAY (close the window to end)."
  [ "$server" = yes ] && { ./VitrelleCenter; exit; } # the server is stopped on exit
  exec ./VitrelleCenter
fi

# A virtual X server has no graphics hardware: the web engine renders in software without trying a GPU.
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
echo "No DISPLAY: running under Xvfb for ${seconds}s; the log (standard error where there is no syslog) goes to $demo/VitrelleCenter.log"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  ./VitrelleCenter 2> VitrelleCenter.log &
  pid=$!
  shot() { import -window root "$1" 2>/dev/null || xwd -root -silent | convert xwd:- "$1"; }
  sleep 3
  shot screenshot.png
  sleep 5
  shot screenshot-later.png
  [ "$1" -gt 8 ] && sleep $(( $1 - 8 ))
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid"
  echo "VitrelleCenter exited with status $?" >> VitrelleCenter.log
' demo "$seconds"
cat VitrelleCenter.log
if [ ! -f screenshot.png ] || [ ! -f screenshot-later.png ]; then
  echo "No screenshot could be taken" >&2
  exit 1
fi
echo "Screenshots of the screen saved to $demo/screenshot.png and $demo/screenshot-later.png"
# Pixels that differ between the two: a playing show has changed its slide meanwhile.
changed=$(compare -metric AE screenshot.png screenshot-later.png null: 2>&1 || true)
echo "Pixels changed between the two screenshots: $changed"
if [ "${changed%% *}" = 0 ]; then
  echo "The screen did not change: no slide show is playing" >&2
  exit 1
fi
