#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests, the benchmarks, the demo and the package need
# (dpkg-dev: dpkg-shlibdeps; systemd: systemd-analyze, which checks the package's units; clang-format and
# clang-tidy: the formatting check of CI and scripts/tidy.sh; ffmpeg: the test videos of the demo,
# the tests and the benchmarks, scripts/make-clip.sh).
# mosquitto and openssl: the fleet link's tests start a broker of their own, with certificates made there;
# chromium and node's puppeteer-core (tests/web, from the npm registry by its lockfile): the fleet page's test.
#   scripts/install-deps.sh          what the build and the test suite need
#   scripts/install-deps.sh --fuzz   that, and clang with libFuzzer (scripts/fuzz.sh)
# Idempotent: quiet when everything is present; runs `apt-get update` once when something is missing.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools qt6-serialport-dev
  qt6-declarative-dev
  libqt6opengl6-dev libgl-dev
  libxml2-dev libxslt1-dev
  libcurl4-openssl-dev libsqlite3-dev
  mosquitto mosquitto-clients libmosquitto-dev openssl
  chromium
  libx11-dev libxrandr-dev libxext-dev libxss-dev
  googletest libgtest-dev libgmock-dev libcpp-httplib-dev
  libbenchmark-dev
  xvfb xauth x11-apps x11-xserver-utils imagemagick dbus-daemon
  fonts-dejavu-core
  dpkg-dev systemd
  clang-format clang-tidy
  ffmpeg
)
if [ "${1:-}" = "--fuzz" ]; then
  # clang 16: the older clang of Debian 12 cannot compile libstdc++ 12's std::source_location.
  PACKAGES+=(clang-16 libclang-rt-16-dev)
fi

# node and npm for the fleet page's test: Debian's, unless the machine has them already.
if ! command -v npm >/dev/null; then
  PACKAGES+=(nodejs npm)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# The fleet page's test drives Chromium from node: its packages by the committed lockfile, in tests/web.
install_web_test_packages() {
  local web
  web="$(cd "$(dirname "$0")/.." && pwd)/tests/web"
  if [ ! -d "$web/node_modules/puppeteer-core" ] || [ "$web/package-lock.json" -nt "$web/node_modules" ]; then
    (cd "$web" && npm ci --no-audit --no-fund --loglevel=error)
  fi
}

if [ ${#missing[@]} -eq 0 ]; then
  install_web_test_packages
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
install_web_test_packages
