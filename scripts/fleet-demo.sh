#!/usr/bin/env bash
# The program on the demo content as a kiosk of a fleet: a local Mosquitto, the program under Xvfb with a Fleet
# element, a subscriber that records everything in build/fleet-demo/broker.log, and three commands sent as an
# operator would (stop, play, play again while playing), answered on vitrelle/v1/operator/answers.
#   scripts/fleet-demo.sh [port]      (default 18831; needs build/bin/VitrelleCenter, mosquitto-clients)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
port=${1:-18831}
source scripts/demo-folder.sh
demo="$root/build/fleet-demo"
rm -rf "$demo" && mkdir -p "$demo"
lay_out_demo_folder "$demo" build/bin/VitrelleCenter
write_demo_settings "$demo"
sed -i "s#</VitrelleCenter>#<Fleet><Host>127.0.0.1</Host><Port>$port</Port><Site>demo</Site><KioskId>kiosk1</KioskId><User/><Password/><CaFile/><CertFile/><KeyFile/><AllowInsecure>0</AllowInsecure></Fleet></VitrelleCenter>#" \
  "$demo/VitrelleCenter.xml"
{
  [ "$(id -u)" -eq 0 ] && echo "user root"
  echo "listener $port 127.0.0.1"
  echo "allow_anonymous true"
} > "$demo/mosquitto.conf"
/usr/sbin/mosquitto -c "$demo/mosquitto.conf" > "$demo/mosquitto.log" 2>&1 &
broker=$!
sleep 0.5
mosquitto_sub -h 127.0.0.1 -p "$port" -V mqttv5 -t 'vitrelle/v1/#' -v > "$demo/broker.log" 2>&1 &
subscriber=$!
trap 'kill $subscriber $broker 2>/dev/null || true' EXIT
# What an operator sends: send-command <command> <payload> <correlation>.
cat > "$demo/send-command" <<SH
#!/bin/sh
exec mosquitto_pub -h 127.0.0.1 -p $port -V mqttv5 -t "vitrelle/v1/demo/kiosk1/cmd/\$1" -m "\$2" \\
  -D publish response-topic vitrelle/v1/operator/answers -D publish correlation-data "\$3"
SH
chmod +x "$demo/send-command"
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
cd "$demo"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  ./VitrelleCenter 2> VitrelleCenter.log &
  pid=$!
  sleep 20
  ./send-command stop "{\"display\":1}" c1
  sleep 3
  ./send-command play "{\"display\":1,\"vitrelle\":\"welcome\",\"seconds\":2}" c2
  sleep 4
  ./send-command play "{\"display\":1,\"vitrelle\":\"welcome\",\"seconds\":3}" c3
  sleep 6
  kill -TERM "$pid"; wait "$pid"
'
sleep 1
echo "What the broker saw ($demo/broker.log):"
cat "$demo/broker.log"
grep -q '"command":"play","kiosk":"kiosk1","message":"Display 1 plays welcome","ok":true' "$demo/broker.log"
grep -q '"online":false' "$demo/broker.log"
