#!/bin/bash
# Runs a command with the file system confinement of the kiosk unit, as far as a mount namespace of its own can
# give it without the service manager (the tests run where no systemd is): ProtectSystem=strict (every file
# system read-only but the API ones and the writable folders), ReadWritePaths= for the application folder,
# ProtectHome=yes, PrivateTmp=yes, NoNewPrivileges=yes. The memory, task, system call, address family and
# namespace bounds need the service manager's cgroup and seccomp filters and are not applied here.
#   confined.sh APPLICATION_FOLDER KEEP -- COMMAND [ARGUMENT ...]
# APPLICATION_FOLDER appears as /var/lib/vitrellecenter (the host's /var/lib is hidden, as the host's
# /var/lib/vitrellecenter is never touched); KEEP (the test's own folder) stays where it is and writable.
# Needs root or unprivileged user namespaces.
set -euo pipefail
if [ $# -lt 4 ] || [ "$3" != "--" ]; then
  echo "usage: $0 APPLICATION_FOLDER KEEP -- COMMAND [ARGUMENT ...]" >&2
  exit 2
fi
application=$(realpath "$1")
keep=$(realpath "$2")
shift 3
namespace=(--mount --propagation private)
[ "$(id -u)" = 0 ] || namespace=(--map-root-user "${namespace[@]}")

exec unshare "${namespace[@]}" -- bash -euo pipefail -c '
application=$1 keep=$2
shift 2
# ProtectSystem=strict: every mount read-only, but /dev, /proc and /sys (their own settings decide there).
while read -r point; do
  case "$point" in /dev|/dev/*|/proc|/proc/*|/sys|/sys/*) continue ;; esac
  mount -n -o remount,bind,ro "$point" 2>/dev/null || true
done < <(awk "{ print \$5 }" /proc/self/mountinfo | sort -u)
# The host'"'"'s /var/lib is hidden: only the application folder is there, writable (ReadWritePaths=). The
# X server'"'"'s compiled keymaps go to /tmp when /var/lib/xkb cannot be written.
mount -n -t tmpfs -o mode=0755 tmpfs /var/lib
mkdir /var/lib/vitrellecenter /var/lib/.keep
mount -n --bind "$application" /var/lib/vitrellecenter
mount -n -o remount,bind,rw /var/lib/vitrellecenter
mount -n --bind "$keep" /var/lib/.keep
mount -n -o remount,bind,rw /var/lib/.keep
# PrivateTmp=yes: a /tmp and /var/tmp of its own; the test'"'"'s folder is put back in place.
mount -n -t tmpfs -o mode=1777 tmpfs /tmp
mount -n -t tmpfs -o mode=1777 tmpfs /var/tmp
mkdir -p "$keep"
mount -n --move /var/lib/.keep "$keep"
rmdir /var/lib/.keep
# ProtectHome=yes: the users'"'"' homes and runtime folders are out of reach.
for home in /home /root /run/user; do
  [ -d "$home" ] && [ "${keep#"$home"/}" = "$keep" ] && mount -n -t tmpfs -o mode=000 tmpfs "$home"
done
exec setpriv --no-new-privs -- "$@"
' confined "$application" "$keep" "$@"
