#!/usr/bin/env bash
# Starts the program as on a machine with two monitors: a virtual X server with two RandR monitors, the left
# one on the output with an EDID (a 24" office monitor), the right one a logical monitor. Prints the display
# lines of the log and checks that the start-up wrote nothing into the Devices folder.
#   scripts/two-displays.sh [--seconds N]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=6
[ "${1:-}" = "--seconds" ] && seconds=${2:?}

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target VitrelleCenter VitrelleDisplays SetOutputEdid

work=build/two-displays
rm -rf "$work"
mkdir -p "$work/Devices"
cp build/bin/VitrelleCenter "$work/"
# A settings file for the monitor, as an installer would write one.
cat > "$work/Devices/DEVICE1.xml" <<'XML'
<VitrelleDevice><Name>Lobby</Name><FullScreen>-1</FullScreen></VitrelleDevice>
XML
snapshot() { find "$work/Devices" -printf '%P %s %T@\n' | sort | sha256sum; }
before=$(snapshot)

# The server keeps its state across clients (-noreset) and tells its display number itself (-displayfd).
exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 2560x1024x24 +extension RANDR -nolisten tcp -noreset >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
read -r -t 10 number <&3 || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$number"
xrandr --setmonitor Left 1280/338x1024/270+0+0 screen
xrandr --setmonitor Right 1280/338x1024/270+1280+0 none
build/bin/SetOutputEdid tests/data/edid/office-monitor.bin
echo "== What the discovery sees (build/bin/VitrelleDisplays)"
build/bin/VitrelleDisplays | grep -v '^    '

echo "== The program's start-up (display lines of the log)"
(cd "$work" && exec ./VitrelleCenter) 2>"$work/VitrelleCenter.log" &
program=$!
sleep "$seconds"
kill -TERM $program
wait $program || true
# Entries span several lines; the EDID dumps are cut short.
sed -n '/detected display devices/,/successfully initialized/p' "$work/VitrelleCenter.log" |
  tr -d '\r' | grep -v -E '^(User: .*)?$' | cut -c1-160
after=$(snapshot)
if [ "$before" = "$after" ]; then
  echo "== The Devices folder is as it was"
else
  echo "== The Devices folder changed during the start-up" >&2
  exit 1
fi
