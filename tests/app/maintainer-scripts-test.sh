#!/bin/bash
# The package's maintainer scripts on a scratch root (DPKG_ROOT) with the account commands faked over its own
# passwd and group files, so that the machine running the test is never touched: what a fresh machine gets,
# and what they leave alone of what an administrator had before (a person's account named "vitrelle", group
# memberships, an application folder with data), at install and at purge.
set -uo pipefail
scripts=$(cd "$(dirname "$0")/../../packaging/debian" && pwd)
failures=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The fakes: getent, adduser, deluser and delgroup over $DPKG_ROOT/etc/{passwd,group}; chown records.
fakes="$scratch/bin"
mkdir -p "$fakes"
cat >"$fakes/getent" <<'FAKE'
#!/bin/bash
grep "^$2:" "$DPKG_ROOT/etc/$1"
FAKE
cat >"$fakes/adduser" <<'FAKE'
#!/bin/bash
echo "adduser $*" >>"$DPKG_ROOT/calls"
names=()
system=no
while [ $# -gt 0 ]; do
  case "$1" in
    --system) system=yes ;;
    --home|--gecos) shift ;;
    --*) ;;
    *) names+=("$1") ;;
  esac
  shift
done
if [ "$system" = yes ]; then
  echo "${names[0]}:x:120:120::/var/lib/vitrellecenter:/usr/sbin/nologin" >>"$DPKG_ROOT/etc/passwd"
  echo "${names[0]}:x:120:" >>"$DPKG_ROOT/etc/group"
else
  sed -i -E "s/^(${names[1]}:[^:]*:[^:]*:)(.+)\$/\\1\\2,${names[0]}/; s/^(${names[1]}:[^:]*:[^:]*:)\$/\\1${names[0]}/" \
    "$DPKG_ROOT/etc/group"
fi
FAKE
cat >"$fakes/deluser" <<'FAKE'
#!/bin/bash
echo "deluser $*" >>"$DPKG_ROOT/calls"
args=("$@")
names=()
system=no
for a in "${args[@]}"; do case "$a" in --system) system=yes ;; --*) ;; *) names+=("$a") ;; esac; done
if [ "$system" = yes ]; then
  sed -i "/^${names[0]}:/d" "$DPKG_ROOT/etc/passwd"
else
  sed -i -E "/^${names[1]}:/ { s/([:,])${names[0]}(,|\$)/\\1\\2/; s/,\$//; s/,,/,/; s/:,/:/ }" "$DPKG_ROOT/etc/group"
fi
FAKE
cat >"$fakes/delgroup" <<'FAKE'
#!/bin/bash
echo "delgroup $*" >>"$DPKG_ROOT/calls"
for a in "$@"; do case "$a" in --*) ;; *) sed -i "/^$a:/d" "$DPKG_ROOT/etc/group" ;; esac; done
FAKE
cat >"$fakes/chown" <<'FAKE'
#!/bin/bash
echo "chown $*" >>"$DPKG_ROOT/calls"
FAKE
chmod +x "$fakes"/*

# A machine: a person "anna" in dialout, the groups the package uses.
new_root() {
  root="$scratch/root-$1"
  mkdir -p "$root/etc" "$root/var/lib"
  printf 'root:x:0:0::/root:/bin/bash\nanna:x:1000:1000::/home/anna:/bin/bash\n' >"$root/etc/passwd"
  printf 'root:x:0:\ndialout:x:20:anna\nvideo:x:44:\nanna:x:1000:\n' >"$root/etc/group"
  : >"$root/calls"
}
run() { # run SCRIPT ARGUMENTS...: its exit code in $status, its messages in $errors
  errors=$(DPKG_ROOT="$root" PATH="$fakes:$PATH" sh "$scripts/$1" "${@:2}" 2>&1 >/dev/null)
  status=$?
}
check() { # check DESCRIPTION COMMAND...
  if ! "${@:2}"; then
    echo "FAILED ($case): $1" >&2
    failures=$((failures + 1))
  fi
}
not() { ! "$@"; }
members() { grep "^$1:" "$root/etc/group" | cut -d: -f4; }
has_user() { grep -q "^vitrelle:" "$root/etc/passwd"; }

case="a fresh machine"
new_root fresh
run postinst configure ""
check "configured" [ "$status" = 0 ]
check "the system user made" grep -q '^vitrelle:x:120:' "$root/etc/passwd"
check "in dialout and video" [ "$(members dialout)/$(members video)" = "anna,vitrelle/vitrelle" ]
check "the folder made and given to the user" grep -qx "chown vitrelle:vitrelle $root/var/lib/vitrellecenter" "$root/calls"
check "its mode" [ "$(stat -c %a "$root/var/lib/vitrellecenter")" = 2770 ]
run postinst configure 1.0.0
check "an upgrade records nothing twice" [ "$(sort "$root/var/lib/vitrellecenter.created" | uniq -d)" = "" ]
echo data >"$root/var/lib/vitrellecenter/Schedule.xml"
run postrm remove
check "removing keeps the folder" [ -f "$root/var/lib/vitrellecenter/Schedule.xml" ]
run postrm purge
check "purged" [ "$status" = 0 ]
check "the user gone" not has_user
check "the group gone" not grep -q "^vitrelle:" "$root/etc/group"
check "no membership left" [ "$(members dialout)/$(members video)" = "anna/" ]
check "the folder gone" [ ! -e "$root/var/lib/vitrellecenter" ]
check "the marker gone" [ ! -e "$root/var/lib/vitrellecenter.created" ]

case="a person's account named vitrelle"
new_root person
echo 'vitrelle:x:1001:1001::/home/vitrelle:/bin/bash' >>"$root/etc/passwd"
run postinst configure ""
check "refused" [ "$status" != 0 ]
check "with a clear message" grep -q 'the user "vitrelle" exists and is not a system user (uid 1001)' <<<"$errors"
check "no group given" [ "$(members dialout)/$(members video)" = "anna/" ]
check "no folder made" [ ! -e "$root/var/lib/vitrellecenter" ]
check "no account command run" [ ! -s "$root/calls" ]

case="a system user vitrelle already in dialout"
new_root system
echo 'vitrelle:x:130:130::/var/lib/vitrellecenter:/usr/sbin/nologin' >>"$root/etc/passwd"
sed -i 's/^dialout:x:20:anna$/dialout:x:20:anna,vitrelle/' "$root/etc/group"
run postinst configure ""
check "configured" [ "$status" = 0 ]
check "no user made" not grep -q "adduser --system" "$root/calls"
check "added to video only" [ "$(grep -c "^adduser --quiet vitrelle" "$root/calls")" = 1 ]
run postrm purge
check "the user kept" has_user
check "dialout kept, video taken back" [ "$(members dialout)/$(members video)" = "anna,vitrelle/" ]

case="an application folder with data, owned by root"
new_root folder
mkdir -p "$root/var/lib/vitrellecenter"
chmod 0700 "$root/var/lib/vitrellecenter"
echo settings >"$root/var/lib/vitrellecenter/VitrelleCenter.xml"
run postinst configure ""
check "configured" [ "$status" = 0 ]
check "says what to change" grep -q "was there before and is kept as it is.*chown -R vitrelle:vitrelle" <<<"$errors"
check "not given away" not grep -q "^chown" "$root/calls"
check "its mode kept" [ "$(stat -c %a "$root/var/lib/vitrellecenter")" = 700 ]
run postrm purge
check "its data kept at purge" [ "$(cat "$root/var/lib/vitrellecenter/VitrelleCenter.xml")" = settings ]
check "the package's user gone" not has_user

if [ "$failures" != 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "maintainer scripts: all cases passed"
