#!/usr/bin/env bash
# The console on a PC with two access-point networks and no default route: three network
# namespaces of this run's own, the console's in the middle with one veth pair into each of
# the two others, and a simulated fleet in each of those. The console's system.ini names no
# address, so requests go to 255.255.255.255, which the routing table sends nowhere here;
# Discover must go out of each interface and every later request out of the device's own.
# The veth pairs join only these namespaces: no packet leaves them.
#
#   interfaces_test.sh NODEWARDEN KTR4200-SIM
# Exit 0 when every check holds, 77 (skipped) where namespaces or veth pairs cannot be made.
set -euo pipefail
nw=$1
sim=$2
per=3 # devices in each fleet

if ! command -v ip >/dev/null || ! command -v python3 >/dev/null; then
  echo "SKIPPED: ip (iproute2) or python3 is not installed"
  exit 77
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: network namespaces need root here"
  exit 77
fi

tag=nwif$$
con=${tag}c
fa=${tag}a
fb=${tag}b
work=$(mktemp -d)
sims=()
made=()
cleanup() {
  for pid in "${sims[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  for ns in "${made[@]}"; do
    ip netns del "$ns" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

for ns in "$con" "$fa" "$fb"; do
  if ! ip netns add "$ns" 2>"$work/netns.err"; then
    echo "SKIPPED: cannot make a network namespace: $(cat "$work/netns.err")"
    exit 77
  fi
  made+=("$ns")
  ip -n "$ns" link set lo up
done
if ! ip -n "$con" link add lana type veth peer name eth0 netns "$fa" 2>"$work/veth.err"; then
  echo "SKIPPED: cannot make a veth pair: $(cat "$work/veth.err")"
  exit 77
fi
ip -n "$con" link add lanb type veth peer name eth0 netns "$fb"
ip -n "$con" addr add 10.81.1.1/24 dev lana
ip -n "$con" addr add 10.81.2.1/24 dev lanb
ip -n "$fa" addr add 10.81.1.2/24 dev eth0
ip -n "$fb" addr add 10.81.2.2/24 dev eth0
for link in "$con lana" "$con lanb" "$fa eth0" "$fb eth0"; do
  set -- $link
  ip -n "$1" link set "$2" up
done
echo "console: $(ip -n "$con" -brief addr | tr '\n' ';') routes: $(ip -n "$con" route | tr '\n' ';')"

fail() {
  echo "FAIL: $*"
  for f in "$work"/sim-*.err; do
    [ -f "$f" ] && tail -5 "$f"
  done
  exit 1
}

# Two fleets with real ports, told apart by their MACs: 021A2B0A.... on lana, 021A2B0B.... on
# lanb.
start_fleet() {
  local ns=$1 name=$2 mac=$3 ip=$4
  shift 4
  ip netns exec "$ns" "$sim" "$@" --devices $per --base-mac "$mac" --base-ip "$ip" --flash-time 200 \
    --reboot-time 300 --factory-reset-time 300 --tftp-timeout 300 \
    --state-file "$work/state-$name.json" 2>"$work/sim-$name.err" &
  sims+=($!)
}
start_fleet "$fa" a 021A2B0A0001 10.81.1.50
start_fleet "$fb" b 021A2B0B0001 10.81.2.50
sleep 1
for pid in "${sims[@]}"; do
  kill -0 "$pid" 2>/dev/null || fail "ktr4200-sim did not start"
done

home=$work/home
mkdir -p "$home/Config/Temp" "$home/firmware"
# Every waiting time at its smallest; no NimpAddress, NimpPort, TftpPort: the defaults.
write_ini() {
  printf '[System]\r\n' >"$home/system.ini"
  for key in NimpSetTimeout RebootTime ConfigUploadTime ConfigDownloadTime ConfigFlashUpdateTime \
    FactoryResetTime FWDownloadTime FWFlashUpdateTime DiscoveryTimeout; do
    printf '%s=1\r\n' "$key" >>"$home/system.ini"
  done
  printf 'TimingTolerance=0\r\n' >>"$home/system.ini"
  printf '%s' "$1" >>"$home/system.ini"
}
write_ini ''

# Runs the command line in the console's namespace; $status is its exit status.
run() {
  local name=$1
  shift
  echo "--- nodewarden $*"
  status=0
  ip netns exec "$con" timeout 300 "$nw" --home "$home" "$@" >"$work/$name.out" \
    2>"$work/$name.err" || status=$?
}
must() {
  run "$@"
  if [ "$status" -ne 0 ]; then
    cat "$work/$1.out"
    tail -30 "$work/$1.err"
    fail "nodewarden $2 ended with status $status"
  fi
}
# The rows of a discover --json: "MAC INTERFACE" lines.
rows() {
  python3 -c 'import json,sys
for d in json.load(open(sys.argv[1])): print(d["Mac Address"], d.get("Interface", "-"))' "$1"
}
expect_rows() {
  local name=$1 want=$2
  local got
  got=$(rows "$work/$name.out" | sort)
  echo "$got"
  [ "$got" = "$want" ] || fail "$name listed other rows than expected: $(echo "$want" | tr '\n' ' ')"
}
fleet_rows() { # prefix interface
  for i in 1 2 3; do echo "021A2B${1}000$i $2"; done
}

must discover_all discover --json
expect_rows discover_all "$( (fleet_rows 0A lana; fleet_rows 0B lanb) | sort)"

must discover_a --interface lana discover --json
expect_rows discover_a "$(fleet_rows 0A lana)"

write_ini $'NimpInterface=lanb\r\n'
must discover_b discover --json
expect_rows discover_b "$(fleet_rows 0B lanb)"
write_ini ''

run unknown --interface lanz discover --json
[ "$status" -eq 2 ] || fail "--interface lanz ended with status $status, not 2"
grep -q '"lanz"' "$work/unknown.err" || fail "the error does not name lanz: $(cat "$work/unknown.err")"
[ ! -s "$work/unknown.out" ] || fail "--interface lanz printed a device list"
echo "unknown interface: $(cat "$work/unknown.err")"

printf 'FW_VERSION=2.00.01u\n' >"$home/firmware/ktr.bin"
head -c 30000 /dev/urandom | base64 >>"$home/firmware/ktr.bin"
must upgrade upgrade --all --firmware "$home/firmware/ktr.bin" --yes
cat "$work/upgrade.out"

# The fleets' own account: every device runs the new image, fetched and put only at its own
# side's address.
for pid in "${sims[@]}"; do
  kill -TERM "$pid"
  wait "$pid" || true
done
sims=()
python3 - "$work/state-a.json" 10.81.1.1 "$work/state-b.json" 10.81.2.1 \
  "$(sha256sum "$home/firmware/ktr.bin" | cut -d' ' -f1)" <<'PY' || fail "the fleets' final state differs"
import json, sys
image = sys.argv[5]
for path, server in ((sys.argv[1], sys.argv[2]), (sys.argv[3], sys.argv[4])):
    for d in json.load(open(path))["devices"]:
        assert d["version"] == "2.00.01u", (d["mac"], d["version"])
        assert d["flashedFirmwareSha256"] == image, d["mac"]
        assert d["transferServers"] == [server], (d["mac"], d["transferServers"])
        assert d["lastFileReceived"]["server"] == server, d["mac"]
        print(d["mac"], d["version"], "from", d["transferServers"])
PY

# Replies that come in on another interface than the request went out of are not the answer:
# a relay hands each request that reaches network A to fleet B, and fleet B's replies to the
# console on lanb, from port 64512 as a device answers. Discover on lana alone must list
# nothing (fleet A is gone).
start_fleet "$fb" b2 021A2B0B0001 10.81.2.50 --port 64513
cat >"$work/relay_in.py" <<'RELAY'
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 64512))
s.settimeout(0.2)
open(sys.argv[1], "w").close()
end = time.monotonic() + 8
while time.monotonic() < end:
    try:
        data, (host, port) = s.recvfrom(9000)
    except socket.timeout:
        continue
    print(port, data.hex(), flush=True)
RELAY
cat >"$work/relay_out.py" <<'RELAY'
import select, socket, sys, time
console, forwarded = sys.argv[1], 0
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 64512))
port, end = None, time.monotonic() + 12
while time.monotonic() < end:
    ready, _, _ = select.select([s, sys.stdin], [], [], 0.2)
    if sys.stdin in ready:
        line = sys.stdin.readline()
        if line:
            p, data = line.split()
            port = int(p)
            s.sendto(bytes.fromhex(data), ("127.0.0.1", 64513))
    if s in ready:
        reply = s.recv(9000)
        if port:
            s.sendto(reply, (console, port))
            forwarded += 1
print(forwarded)
RELAY
sleep 1
ip netns exec "$fa" python3 "$work/relay_in.py" "$work/relay.ready" \
  | ip netns exec "$fb" python3 "$work/relay_out.py" 10.81.2.1 >"$work/relayed" &
relay=$!
for _ in $(seq 50); do
  [ -e "$work/relay.ready" ] && break
  sleep 0.2
done
sleep 0.5 # the other end of the relay
run foreign --interface lana discover --json
wait "$relay" || true
[ "$status" -eq 1 ] || fail "discover with no device to list ended with status $status, not 1"
echo "replies relayed onto lanb: $(cat "$work/relayed")"
[ "$(cat "$work/relayed")" -gt 0 ] || fail "the relay forwarded no reply"
[ -z "$(rows "$work/foreign.out")" ] || fail "replies that came in on lanb were listed for lana"
echo "PASS: Discover on every interface and on the chosen one; an upgrade on both networks, each device served at its own side's address; replies on another interface ignored"
