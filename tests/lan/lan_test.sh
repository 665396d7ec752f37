#!/usr/bin/env bash
# The whole program with its real defaults on a private LAN: a network namespace of its
# own holding a tap interface with an address and the default route, the simulated fleet
# on 0.0.0.0:64512 fetching from TFTP port 69, and the command line with a system.ini that
# names no address, so requests go to 255.255.255.255:64512. The namespace's only way out
# is the tap, which nothing reads: no packet leaves it.
#
#   lan_test.sh NODEWARDEN KTR4200-SIM
# Exit 0 when every step ends "OK", 77 (skipped) where namespaces cannot be made.
set -euo pipefail
nw=$1
sim=$2
devices=4

if [ "${NW_LAN_INSIDE:-}" != 1 ]; then
  if ! command -v unshare >/dev/null || ! command -v ip >/dev/null; then
    echo "SKIPPED: unshare or ip (iproute2) is not installed"
    exit 77
  fi
  if [ "$(id -u)" -ne 0 ] || ! unshare -n true 2>/dev/null; then
    echo "SKIPPED: network namespaces are not allowed here (needs root and unshare -n)"
    exit 77
  fi
  NW_LAN_INSIDE=1 exec unshare -n -- bash "$0" "$@"
fi

work=$(mktemp -d)
simpid=
cleanup() {
  if [ -n "$simpid" ]; then
    kill "$simpid" 2>/dev/null || true
    wait "$simpid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

ip link set lo up
if ! ip tuntap add d0 mode tap 2>"$work/tap.err"; then
  echo "SKIPPED: cannot create a tap interface: $(cat "$work/tap.err")"
  exit 77
fi
ip addr add 10.77.0.1/24 dev d0
ip link set d0 up
ip route add default dev d0
echo "namespace: $(ip -brief addr | tr '\n' ';')"

fail() {
  echo "FAIL: $*"
  [ -f "$work/sim.err" ] && tail -20 "$work/sim.err"
  exit 1
}

# Fast devices, real ports.
"$sim" --devices $devices --base-ip 10.77.0.50 --flash-time 200 --reboot-time 300 \
  --factory-reset-time 300 --tftp-timeout 300 --state-file "$work/state.json" 2>"$work/sim.err" &
simpid=$!
sleep 1
kill -0 "$simpid" 2>/dev/null || fail "ktr4200-sim did not start"

home=$work/home
mkdir -p "$home/Config/Temp" "$home/firmware"
# Every waiting time at its smallest; no NimpAddress, NimpPort, TftpPort: the defaults.
printf '[System]\r\n' >"$home/system.ini"
for key in NimpSetTimeout RebootTime ConfigUploadTime ConfigDownloadTime ConfigFlashUpdateTime \
  FactoryResetTime FWDownloadTime FWFlashUpdateTime DiscoveryTimeout; do
  printf '%s=1\r\n' "$key" >>"$home/system.ini"
done
printf 'TimingTolerance=0\r\n' >>"$home/system.ini"

run() {
  local name=$1
  shift
  echo "--- nodewarden $*"
  if ! timeout 300 "$nw" --home "$home" "$@" >"$work/$name.out" 2>"$work/$name.err"; then
    cat "$work/$name.out"
    tail -30 "$work/$name.err"
    fail "nodewarden $1 did not end with every device OK"
  fi
  cat "$work/$name.out"
}

run discover discover --json
listed=$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))))' "$work/discover.out")
[ "$listed" -eq $devices ] || fail "discover listed $listed of $devices devices"

run setip set-ip --all --ip 10.77.0.100 --mask 255.255.255.0 --yes

run readcfg read-config --mac 021A2B000001 --output "$work/device.cfg"
[ -s "$work/device.cfg" ] || fail "read-config wrote no file"
sed -i 's/^80211a_ssid *=[^\r]*/80211a_ssid ="lan-test"/' "$work/device.cfg"
grep -q 'lan-test' "$work/device.cfg" || fail "the configuration read has no 80211a_ssid line"
run writecfg write-config --mac 021A2B000001 021A2B000002 --file "$work/device.cfg" --yes

printf 'FW_VERSION=2.00.01u\n' >"$home/firmware/ktr.bin"
head -c 20000 /dev/zero | tr '\0' 'x' >>"$home/firmware/ktr.bin"
run upgrade upgrade --mac 021A2B000003 021A2B000004 --firmware "$home/firmware/ktr.bin" --yes

# The fleet's own account of what happened.
kill -TERM "$simpid"
wait "$simpid" || true
simpid=
python3 - "$work/state.json" <<'PY' || fail "the fleet's final state differs"
import json, sys
state = json.load(open(sys.argv[1]))
devices = state["devices"]
ips = [d["ip"] for d in devices]
assert ips == ["10.77.0.100", "10.77.0.101", "10.77.0.102", "10.77.0.103"], ips
ssid = [any("lan-test" in line for line in d["config"]) for d in devices]
assert ssid == [True, True, False, False], ssid
versions = [d["version"] for d in devices]
assert versions == ["1.02.07u", "1.02.07u", "2.00.01u", "2.00.01u"], versions
print("fleet state:", ips, ssid, versions)
PY
echo "PASS: discover, set-ip, write-config with verification and upgrade all OK on the private LAN"
