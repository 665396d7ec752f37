#!/usr/bin/env bash
# Checks the Debian packages as an administrator meets them. lintian on the source and the three
# binary packages (no error, no warning that is not overridden with its reason), and the AppStream
# metainfo; then, in a clean Debian 12 root: `apt-get install` of the three pulls in their
# dependencies; the console runs and gives the package's version; the man pages and the
# completion work; the console has the capability to bind port 69 and a normal user's server
# binds it; root's data folder is not /usr/bin; the systemd unit is installed disabled and its
# user exists; the console finds and reads the simulated fleet of nodewarden-sim; Ansible knows
# every module of the collection and runs one; and a purge leaves nothing behind.
#
#   scripts/package-check.sh [nodewarden_VERSION_ARCH.changes]
#       (as root; without the .changes file, scripts/package.sh first)
#
# The root is made by debootstrap from the Debian mirror this machine uses, and kept as a tarball
# (build-release/debian12-root.tar.gz) for the next run. Nothing the programs do leaves the root's
# private network namespace. Mounts are undone on every way out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${NW_PACKAGE_BUILD_DIR:-$root/build-release}

if [ "$(id -u)" -ne 0 ]; then
  echo "package-check: needs root (debootstrap, chroot, mounts)" >&2
  exit 1
fi
for tool in debootstrap unshare ip lintian appstreamcli dpkg-deb; do
  command -v "$tool" >/dev/null || { echo "package-check: $tool is missing" >&2; exit 1; }
done

if [ $# -ge 1 ]; then
  changes=$(readlink -f "$1")
else
  changes=$(bash "$root/scripts/package.sh" | tail -n 1)
fi
[ -f "$changes" ] || { echo "package-check: no .changes file at $changes" >&2; exit 1; }
mkdir -p "$work"

fail() {
  echo "package-check: FAILED: $*" >&2
  exit 1
}
note() { echo "package-check: $*" >&2; }

# The binary packages the .changes file lists (its Files section: checksum size section
# priority name), the debug symbols aside.
mapfile -t debs < <(awk '/^Files:/ { f = 1; next } /^[^ ]/ { f = 0 }
    f && $5 ~ /\.deb$/ && $3 != "debug" { print $5 }' "$changes")
dir=$(dirname "$changes")
names=$(for d in "${debs[@]}"; do dpkg-deb -f "$dir/$d" Package; done | sort | tr '\n' ' ')
[ "$names" = "nodewarden nodewarden-ansible nodewarden-sim " ] ||
  fail "the .changes file lists the packages '$names'"
deb_of() { # package name -> its file
  local d
  for d in "${debs[@]}"; do
    [ "$(dpkg-deb -f "$dir/$d" Package)" = "$1" ] && { echo "$dir/$d"; return; }
  done
}

# lintian: no error, and every warning that stays is overridden in debian/ with its reason
# (--show-overrides would count the overridden ones as failures).
if ! lintian --fail-on error,warning --display-level '>=warning' "$changes" \
  >"$work/lintian.log" 2>&1; then
  cat "$work/lintian.log" >&2
  fail "lintian"
fi
note "lintian: no error, no warning but the overridden ones"

# The AppStream metainfo as installed.
unpacked=$work/unpacked
rm -rf "$unpacked"
dpkg-deb -x "$(deb_of nodewarden)" "$unpacked"
for f in "$unpacked"/usr/share/metainfo/*.xml; do
  appstreamcli validate --no-net "$f" >"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log" >&2; fail "appstreamcli validate $(basename "$f")"; }
done
[ -n "$(ls "$unpacked"/usr/share/metainfo/ 2>/dev/null)" ] || fail "no AppStream metainfo"
rm -rf "$unpacked"
note "the AppStream metainfo is valid"

# The Debian mirror of this machine's own sources (deb822 or one-line form).
mirror_for() { # suite
  local suite=$1 uri
  uri=$(awk -v s="$suite" '
      /^URIs:/ { u = $2 } /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == s) f = 1 }
      /^$/ { if (f && u) { print u; exit } u = ""; f = 0 }
      END { if (f && u) print u }' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
  if [ -z "$uri" ]; then
    uri=$(awk -v s="$suite" '$1 == "deb" && $3 == s { print $2; exit }' \
      /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | head -n 1)
  fi
  printf '%s\n' "$uri"
}
mirror=${NW_DEBIAN_MIRROR:-$(mirror_for bookworm)}
mirror=${mirror:-http://deb.debian.org/debian}
security=${NW_DEBIAN_SECURITY_MIRROR:-$(mirror_for bookworm-security)}

rootfs=$work/debian12-root
cache=$work/debian12-root.tar.gz
mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -l "${mounted[i]}" 2>/dev/null || true
  done
  mounted=()
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

in_root() { chroot "$rootfs" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }
# Runs in the root inside a private network namespace whose only link is its own loopback.
in_root_offline() { unshare -n sh -c 'ip link set lo up && exec "$@"' sh \
  chroot "$rootfs" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

# A clean root: from the cached tarball, or made now (and cached).
if findmnt -rn -o TARGET | grep -q "^$rootfs/"; then
  fail "something is still mounted under $rootfs"
fi
rm -rf --one-file-system "$rootfs"
mkdir -p "$rootfs"
if [ -f "$cache" ]; then
  note "unpacking the cached root $cache"
  tar -C "$rootfs" -xzf "$cache"
else
  note "making a Debian 12 root from $mirror"
  # The tools of the checks (man, completion) belong to the root, not to the package.
  debootstrap --variant=minbase --include=man-db,bash-completion bookworm "$rootfs" "$mirror" \
    >"$work/debootstrap.log" 2>&1 || { tail -n 20 "$work/debootstrap.log" >&2; fail "debootstrap"; }
  tar -C "$rootfs" -czf "$cache.part" . && mv "$cache.part" "$cache"
fi

{
  echo "deb $mirror bookworm main"
  echo "deb $mirror bookworm-updates main"
  [ -n "$security" ] && echo "deb $security bookworm-security main"
} >"$rootfs/etc/apt/sources.list"
cp -L /etc/resolv.conf "$rootfs/etc/resolv.conf"
# No service may start inside the root.
printf '#!/bin/sh\nexit 101\n' >"$rootfs/usr/sbin/policy-rc.d"
chmod 755 "$rootfs/usr/sbin/policy-rc.d"
mount -t proc proc "$rootfs/proc"
mounted+=("$rootfs/proc")
in_root apt-get update -qq

# The dependencies first, as the packages' Depends lines name them, so that the snapshot below
# holds them and the comparison after the purge sees the packages' own traces alone.
files=()
depends=()
for d in "${debs[@]}"; do
  cp "$dir/$d" "$rootfs/tmp/"
  files+=("./$d")
  depends+=("$(dpkg-deb -f "$dir/$d" Depends)")
done
depends_line=$(IFS=,; echo "${depends[*]}")
in_root apt-get satisfy -y -q "$depends_line" >"$work/install.log" 2>&1 ||
  { tail -n 30 "$work/install.log" >&2; fail "the dependencies cannot be installed: $depends_line"; }

# What the root holds before the packages: paths, and the user and group files.
snapshot() { # name
  in_root sh -c 'find / -xdev \( -path /proc -o -path /tmp -o -path /var/cache -o -path /var/log \
      -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /run -o -path /root/.cache \) -prune \
      -o -print' | grep -v -e '^/etc/ld.so.cache$' | sort >"$work/$1.files"
  cat "$rootfs/etc/passwd" "$rootfs/etc/group" >"$work/$1.users"
}
snapshot before

# --- install --------------------------------------------------------------------------------
in_root sh -c 'cd /tmp && apt-get install -y -q "$@"' sh "${files[@]}" >>"$work/install.log" 2>&1 ||
  { tail -n 30 "$work/install.log" >&2; fail "apt-get install ${files[*]}"; }
for d in "${debs[@]}"; do rm -f "$rootfs/tmp/$d"; done
note "installed ${debs[*]} and their dependencies"
: >"$work/package.files"
for p in nodewarden nodewarden-sim nodewarden-ansible; do
  in_root dpkg -L "$p" >>"$work/package.files"
done
sort -u -o "$work/package.files" "$work/package.files"

# The version: one number in --version and the package.
# shellcheck disable=SC2016 # the format is dpkg-query's
version=$(in_root dpkg-query -W -f='${Version}' nodewarden)
said=$(in_root nodewarden --version)
[ "$said" = "nodewarden $version" ] || fail "--version says '$said', the package is $version"

# The man pages.
for page in nodewarden ktr4200-sim; do
  in_root man -P cat "$page" 2>/dev/null | grep -q "^NAME" || fail "man $page"
done
in_root sh -c 'MANWIDTH=80 man -P cat nodewarden' | grep -q "discovered-macs.txt" ||
  fail "man nodewarden does not show the page installed"

# Completion through bash-completion's own loader: commands, options, and the MACs of the last
# Discover (the file is the program's; written here by hand as Discover would).
mkdir -p "$rootfs/tmp/home"
printf '021A2B0000A1\n021A2B0000A2\n' >"$rootfs/tmp/home/discovered-macs.txt"
complete_words() {
  # shellcheck disable=SC2016 # expanded by the inner bash
  in_root bash -c 'source /usr/share/bash-completion/bash_completion
    _completion_loader "$1" # 124: "loaded, complete again"
    COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) &&
    $(complete -p "$1" | sed -E "s/.*-F ([^ ]+).*/\1/") && printf "%s\n" "${COMPREPLY[@]}"' _ "$@"
}
complete_words nodewarden "" | grep -qx discover || fail "completion of the commands"
complete_words nodewarden upgrade --f | grep -qx -- --firmware || fail "completion of options"
[ "$(complete_words nodewarden --home /tmp/home upgrade --mac "" | tr '\n' ' ')" = \
  "021A2B0000A1 021A2B0000A2 " ] || fail "completion of the MACs of the last Discover"
complete_words ktr4200-sim --dev | grep -qx -- --devices || fail "completion of ktr4200-sim"
rm -rf "$rootfs/tmp/home"

# Port 69: the capability, and a normal user's server that binds it.
caps=$(in_root getcap /usr/bin/nodewarden || true)
if [[ $caps == *cap_net_bind_service=ep* ]]; then
  out=$(in_root_offline timeout -s INT 3 setpriv --reuid=65534 --regid=65534 --clear-groups \
    /usr/bin/nodewarden tftpd --root /tmp --address 127.0.0.1 2>&1 || true)
  [[ $out == *"Serving /tmp on 127.0.0.1 port 69"* ]] || fail "a normal user could not serve port 69: $out"
  # The window too runs for a normal user under the capability (drawn offscreen over the
  # demo's simulated fleet on the root's own loopback).
  in_root_offline env HOME=/tmp QT_QPA_PLATFORM=offscreen timeout 120 setpriv --reuid=65534 \
    --regid=65534 --clear-groups nodewarden --screenshots /tmp/shots >"$work/window.log" 2>&1 ||
    { cat "$work/window.log" >&2; fail "the window did not run for a normal user"; }
  [ -s "$rootfs/tmp/shots/main-window.png" ] || fail "the window drew nothing"
  rm -rf "$rootfs/tmp/shots"
  note "capability set; a normal user's server binds port 69 and the window runs"
else
  grep -q "setcap cap_net_bind_service=+ep /usr/bin/nodewarden" "$work/install.log" ||
    fail "no capability and the installation did not say what to do"
  note "WARNING: this file system kept no capability; the installation said what to do"
fi

# Root's data folder is its per-user folder, never the folder of the programs.
in_root_offline nodewarden discover >/dev/null 2>&1 || true
[ -d "$rootfs/root/.local/share/nodewarden/Config" ] || fail "root's data folder is not ~/.local/share/nodewarden"
for left in system.ini Config firmware discovered-macs.txt; do
  [ ! -e "$rootfs/usr/bin/$left" ] || fail "a run as root left /usr/bin/$left"
done
rm -rf "$rootfs/root/.local"

# The stand-alone TFTP server: its unit installed disabled, its user and its folder.
unit=/usr/lib/systemd/system/nodewarden-tftpd.service
[ -f "$rootfs$unit" ] || fail "no $unit"
if command -v systemctl >/dev/null; then
  state=$(systemctl --root="$rootfs" is-enabled nodewarden-tftpd.service 2>/dev/null || true)
  [ "$state" = disabled ] || fail "nodewarden-tftpd.service is '$state', not disabled"
fi
if command -v systemd-analyze >/dev/null; then
  # Any remark on the unit fails; a root without systemd lacks the targets it would start in.
  systemd-analyze verify --root="$rootfs" --man=no "$unit" >"$work/verify.log" 2>&1 || true
  if grep -v -E "Unit [^ ]+ not found" "$work/verify.log" | grep -q .; then
    cat "$work/verify.log" >&2
    fail "systemd-analyze verify $unit"
  fi
fi
in_root getent passwd nodewarden-tftpd >/dev/null || fail "no user nodewarden-tftpd"
[ "$(in_root stat -c %U /srv/tftp)" = nodewarden-tftpd ] || fail "/srv/tftp is not the service's"

# The console over the simulated fleet of nodewarden-sim, on the root's own loopback: Discover
# finds every device, and one device's configuration comes back over TFTP.
mkdir -p "$rootfs/tmp/fleet"
printf '[System]\r\nNimpAddress=127.0.0.1\r\nNimpPort=47001\r\nTftpPort=47002\r\n%s\r\n' \
  'TftpServerAddress=127.0.0.1' >"$rootfs/tmp/fleet/system.ini"
for key in DiscoveryTimeout NimpSetTimeout ConfigUploadTime; do
  printf '%s=2\r\n' "$key" >>"$rootfs/tmp/fleet/system.ini"
done
# shellcheck disable=SC2016 # expanded by the inner shell
in_root_offline sh -c 'ktr4200-sim --bind 127.0.0.1 --port 47001 --tftp-port 47002 --devices 3 \
    --base-ip 192.168.0.50 >/tmp/fleet/sim.state 2>/tmp/fleet/sim.err & sim=$!
  sleep 1
  rc=0
  timeout 60 nodewarden --home /tmp/fleet discover --json >/tmp/fleet/discover.json \
    2>/tmp/fleet/discover.out || rc=1
  [ $rc -ne 0 ] || timeout 60 nodewarden --home /tmp/fleet read-config --mac 021A2B000002 \
    --output /tmp/fleet/one.cfg --yes >/tmp/fleet/read.out 2>&1 || rc=2
  # The collection too: its module that lists the devices, run by Ansible on this machine.
  [ $rc -ne 0 ] || timeout 120 ansible localhost -c local -o -m nodewarden.fleet.devices \
    -a home=/tmp/fleet >/tmp/fleet/ansible.out 2>&1 || rc=3
  kill $sim; wait $sim 2>/dev/null
  exit $rc' || { cat "$rootfs"/tmp/fleet/*.out "$rootfs/tmp/fleet/sim.err" >&2
  fail "the console or the collection over the simulated fleet"; }
found=$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))))' \
  "$rootfs/tmp/fleet/discover.json")
[ "$found" -eq 3 ] || fail "Discover found $found of the 3 simulated devices"
grep -q . "$rootfs/tmp/fleet/one.cfg" || fail "read-config wrote no configuration"
[ "$(grep -o '021A2B00000[123]' "$rootfs/tmp/fleet/ansible.out" | sort -u | wc -l)" -eq 3 ] ||
  { cat "$rootfs/tmp/fleet/ansible.out" >&2; fail "nodewarden.fleet.devices did not list the 3 devices"; }
rm -rf "$rootfs/tmp/fleet" "$rootfs/root/.ansible"
note "the console found and read the simulated fleet; the collection listed it"

# Every module of the collection has its documentation where ansible-doc looks.
modules=$(grep -o 'nodewarden/fleet/plugins/modules/[a-z_]*\.py$' "$work/package.files" |
  sed 's|.*/||; s|\.py$||')
[ -n "$modules" ] || fail "nodewarden-ansible holds no module"
for m in $modules; do
  if ! in_root ansible-doc "nodewarden.fleet.$m" >"$work/ansible-doc.log" 2>&1 ||
    ! grep -q "nodewarden.fleet.$m" "$work/ansible-doc.log"; then
    cat "$work/ansible-doc.log" >&2
    fail "ansible-doc nodewarden.fleet.$m"
  fi
done
rm -rf "$rootfs/root/.ansible"
note "ansible-doc knows every module: $(tr '\n' ' ' <<<"$modules")"

# --- purge ----------------------------------------------------------------------------------
in_root apt-get purge -y -q nodewarden nodewarden-sim nodewarden-ansible >"$work/purge.log" 2>&1 ||
  { tail -n 30 "$work/purge.log" >&2; fail "apt-get purge"; }
while read -r path; do
  [ -d "$rootfs$path" ] && continue
  [ ! -e "$rootfs$path" ] || fail "the purge left $path"
done <"$work/package.files"
snapshot after
if ! diff -u "$work/before.users" "$work/after.users" >&2; then
  fail "the purge left users or groups"
fi
if ! diff -u "$work/before.files" "$work/after.files" >&2; then
  fail "the root holds other files after the purge than before the installation"
fi
note "purged: nothing is left"
cleanup
rm -rf --one-file-system "$rootfs"
note "all checks passed for ${debs[*]}"
