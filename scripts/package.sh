#!/usr/bin/env bash
# Builds the Debian package vitrellecenter_<version>_<architecture>.deb: the program, whose application folder
# is fixed to /var/lib/vitrellecenter, VitrelleDisplays, VitrellePlays, the systemd units (the desktop session's and the bare
# kiosk's, with the kiosk's X session starter), the demo content as an example and the README. The package
# makes the user "vitrelle" and its folder; removing it keeps the folder, purging removes both.
#   scripts/package.sh                  builds build-package/ and writes the package there
#   scripts/package.sh --binaries DIR   packages DIR/VitrelleCenter, VitrelleDisplays and VitrellePlays as they are, built
#                                       elsewhere (the test suite packages the binaries it has built)
#   --output DIR                        where the package goes
# Prints the package's path last.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

binaries=""
output=""
while [ $# -gt 0 ]; do
  case "$1" in
    --binaries) shift; binaries=$(realpath -m "${1:?--binaries needs a folder}") ;;
    --output) shift; output=$(realpath -m "${1:?--output needs a folder}") ;;
    *) echo "usage: $0 [--binaries DIR] [--output DIR]" >&2; exit 2 ;;
  esac
  shift
done
cd "$root"

if [ -z "$binaries" ]; then
  bash scripts/install-deps.sh
  cmake -S . -B build-package -G Ninja -DVC_BUILD_TESTS=OFF -DVC_BUILD_BENCHMARKS=OFF \
    -DVC_APPLICATION_FOLDER=/var/lib/vitrellecenter >/dev/null
  cmake --build build-package -j "$(nproc)" --target VitrelleCenter VitrelleDisplays VitrellePlays
  binaries=build-package/bin
  output=${output:-build-package}
fi
output=${output:-.}
mkdir -p "$output"

# A program built without the package's fixed folder would look for its files beside itself in /usr/bin,
# fail, and be restarted by its unit for ever: such binaries are refused here.
folder=/var/lib/vitrellecenter
for program in VitrelleCenter VitrellePlays; do
  if [ ! -x "$binaries/$program" ]; then
    echo "package.sh: $binaries/$program is missing or not executable" >&2
    exit 1
  fi
  found=$(QT_QPA_PLATFORM=offscreen "$binaries/$program" --print-application-folder 2>/dev/null) || found=""
  if [ "$found" != "$folder" ]; then
    echo "package.sh: $binaries/$program keeps its files in '${found:-(it did not say)}', the package needs $folder:" \
      "build it with -DVC_APPLICATION_FOLDER=$folder (scripts/package.sh without --binaries does)" >&2
    exit 1
  fi
done

version=$(sed -n 's/^project(VitrelleCenter VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
architecture=$(dpkg --print-architecture)
deb="$(cd "$output" && pwd)/vitrellecenter_${version}_${architecture}.deb"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# Laid out as dpkg-shlibdeps expects a package being built.
tree="$stage/debian/vitrellecenter"
install -d -m 0755 "$tree/DEBIAN" "$tree/usr/bin" "$tree/usr/lib/vitrellecenter" "$tree/lib/systemd/system" \
  "$tree/usr/lib/systemd/user" "$tree/usr/share/doc/vitrellecenter" "$tree/usr/share/vitrellecenter"

for program in VitrelleCenter VitrelleDisplays VitrellePlays; do
  install -m 0755 "$binaries/$program" "$tree/usr/bin/$program"
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$tree/usr/bin/$program"
done
install -m 0755 packaging/kiosk-session "$tree/usr/lib/vitrellecenter/kiosk-session"
install -m 0644 packaging/systemd/vitrellecenter-kiosk.service "$tree/lib/systemd/system/"
install -m 0644 packaging/systemd/vitrellecenter.service "$tree/usr/lib/systemd/user/"
install -m 0644 README.md "$tree/usr/share/doc/vitrellecenter/README.md"
# The demo: slide types, a cached show and a schedule that plays it, to copy into the application folder.
cp -r scripts/demo "$tree/usr/share/vitrellecenter/demo"
# The video of the demo's video slide is made, not kept in the sources.
bash scripts/make-clip.sh --size 1280x720 --seconds 6 "$tree/usr/share/vitrellecenter/demo/Cache/Video/media/testcard.mp4"
find "$tree/usr/share/vitrellecenter" -type d -exec chmod 0755 {} +
find "$tree/usr/share/vitrellecenter" -type f -exec chmod 0644 {} +
for script in postinst prerm postrm; do
  install -m 0755 "packaging/debian/$script" "$tree/DEBIAN/$script"
done

# The libraries come from the binaries themselves (the web engine's library brings its helper process).
printf 'Source: vitrellecenter\n\nPackage: vitrellecenter\nArchitecture: any\n' >"$stage/debian/control"
libraries=$(cd "$stage" && dpkg-shlibdeps -O -e debian/vitrellecenter/usr/bin/VitrelleCenter \
  -e debian/vitrellecenter/usr/bin/VitrelleDisplays -e debian/vitrellecenter/usr/bin/VitrellePlays | sed -n 's/^shlibs:Depends=//p')
if [ -z "$libraries" ]; then
  echo "dpkg-shlibdeps found no library dependencies" >&2
  exit 1
fi

cat >"$tree/DEBIAN/control" <<CONTROL
Package: vitrellecenter
Version: $version
Architecture: $architecture
Maintainer: VitrelleCenter developers <vitrellecenter@localhost>
Installed-Size: $(du -sk --exclude=DEBIAN "$tree" | cut -f1)
Depends: $libraries, adduser
Recommends: xserver-xorg, xauth
Section: misc
Priority: optional
Description: unattended controller for display screens
 Plays slideshows full screen on every attached monitor or TV, downloads them
 from a content server into a local cache, switches the displays on and off
 over RS-232 and runs a weekly schedule of actions. Runs in a desktop session
 (systemd user unit) or on a bare kiosk with an X server of its own (system
 unit), restarted by systemd when it fails or hangs.
CONTROL

dpkg-deb --root-owner-group -Zxz --build "$tree" "$deb" >/dev/null
echo "$deb"
