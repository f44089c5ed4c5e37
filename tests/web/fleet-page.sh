#!/usr/bin/env bash
# The fleet page in Debian's headless Chromium (driven by puppeteer-core) against a real Mosquitto with a
# WebSocket listener and two simulated kiosks: the page shows both, a command reaches the right kiosk only and
# its answer appears on the page.
#   tests/web/fleet-page.sh <FleetKioskSimulator> [mosquitto]
set -euo pipefail
simulator=$1
mosquitto=${2:-/usr/sbin/mosquitto}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
if [ ! -d "$here/node_modules/puppeteer-core" ]; then
  echo "tests/web/node_modules is missing: run scripts/install-deps.sh" >&2
  exit 1
fi
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'; }
mqtt_port=$(free_port)
ws_port=$(free_port)
{
  [ "$(id -u)" -eq 0 ] && echo "user root"
  echo "persistence false"
  echo "allow_anonymous true"
  echo "listener $mqtt_port 127.0.0.1"
  echo "listener $ws_port 127.0.0.1"
  echo "protocol websockets"
} > "$work/mosquitto.conf"
"$mosquitto" -c "$work/mosquitto.conf" > "$work/mosquitto.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  (echo > /dev/tcp/127.0.0.1/$ws_port) 2>/dev/null && break
  sleep 0.05
done
# Kiosk k2's second display is off: k2 has trouble and comes first.
"$simulator" "$mqtt_port" lyon k1 > "$work/k1.out" 2> "$work/k1.err" &
pids+=($!)
"$simulator" "$mqtt_port" lyon k2 off > "$work/k2.out" 2> "$work/k2.err" &
pids+=($!)

status=0
node "$here/fleet-page.test.mjs" "file://$root/web/fleet/index.html?broker=ws://127.0.0.1:$ws_port" || status=$?
# The stop of k2's display 1 reached k2, and k1 got no command.
if ! grep -qx "COMMAND stop 1" "$work/k2.out"; then
  echo "FAIL: kiosk k2 did not get the stop command" >&2
  status=1
fi
if [ -s "$work/k1.out" ]; then
  echo "FAIL: kiosk k1 got a command it was not sent:" >&2
  cat "$work/k1.out" >&2
  status=1
fi
[ $status -eq 0 ] && echo "PASS: the fleet page shows both kiosks, and a command reaches the right kiosk and is answered"
exit $status
