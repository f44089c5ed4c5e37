#!/usr/bin/env bash
# Pictures of the operator's window for the README: the program's window on the demo content (served by the
# local test content server), on a virtual X server with two displays side by side, each page and both
# serial dialogs of the first display, saved as PNG files to docs/screenshots/.
#   scripts/screenshots.sh [output folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=$(realpath -m "${1:-docs/screenshots}")

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target VitrelleCenter PageScreenshots TestContentServer

source scripts/demo-folder.sh
app="$root/build/screenshots"
rm -rf "$app"
lay_out_demo_folder "$app" build/bin/VitrelleCenter
port=18080
build/bin/TestContentServer "$(demo_content)" "$port" &
server_pid=$!
trap 'kill -TERM "$server_pid" 2>/dev/null || true' EXIT
write_demo_settings "$app" "http://127.0.0.1:$port"

export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
# A fixed look, whatever the desktop of the machine that makes the pictures.
export QT_STYLE_OVERRIDE=Fusion
# -noreset: the monitors set with xrandr would go with the server reset after xrandr disconnects.
xvfb-run -a -s "-screen 0 3200x1080x24 -noreset" bash -c '
  xrandr --setmonitor Left 1920/508x1080/286+0+0 screen >/dev/null
  xrandr --setmonitor Right 1280/338x1024/270+1920+0 none >/dev/null
  "$0" "$1" "$2"
' "$root/build/bin/PageScreenshots" "$app" "$out" 2> "$app/screenshots.log" || {
  cat "$app/screenshots.log" >&2
  echo "The pictures could not be made" >&2
  exit 1
}
grep -E '^(saved|could not)' "$app/screenshots.log" || true
