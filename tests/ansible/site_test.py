#!/usr/bin/env python3
"""The collection's example playbook as an administrator runs it: two sites, each a console
host (a local connection with its own data folder) over its own simulated fleet on 127.0.0.1
with ports of its own.

  site_test.py NODEWARDEN KTR4200-SIM

Checks, on the fleets' own state: a run in check mode changes nothing on any device; the first
run changes both sites, gives every device the playbook's two settings and the version, and
leaves the device already on the version without a firmware upgrade; the second run changes
nothing; a WEP key given to the config module is set and shows in neither the diff nor the
result, in check mode or not; a site whose devices have another password fails with the device's MAC and Status
while the other site goes on. The address module is run the same way (set, again, check mode).

Exit 0 when every check holds, 1 when one does not, 77 (skipped) without ansible-playbook.
"""

import ctypes
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

from ansible_python import run_under_ansibles_python

run_under_ansibles_python()

import yaml  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
COLLECTION = os.path.join(ROOT, 'ansible')
SITE_PLAYBOOK = os.path.join(COLLECTION, 'examples', 'site.yml')
ADDRESS_PLAYBOOK = os.path.join(HERE, 'address.yml')
KEY_PLAYBOOK = os.path.join(HERE, 'key.yml')

VERSION = '2.00.01u'
WEP_KEY = '0x5E 0xC4 0x1A 0x7B 0x93'
OLD_VERSION = '1.02.07u'
PASSWORD_STATUS = 'Password Error!'
PLAYBOOK_SECONDS = 400

# What a device keeps: a run that changes nothing leaves all of it as it was. Reads count in
# "get", "set" and "put"; these counters only move when a device is written to.
KEPT_FIELDS = ('ip', 'netmask', 'version', 'config', 'password', 'deviceName',
               'flashedFirmwareSha256')
KEPT_COUNTERS = ('setIp', 'fetch', 'flash', 'reset', 'factoryReset')

SITES = {
    'north': dict(devices=3, base_mac='021A2B000001', base_ip='10.0.1.20', extra=[]),
    # Its second device is on the version already: the upgrade must leave it alone.
    'south': dict(devices=2, base_mac='021A2B100001', base_ip='10.0.2.20',
                  extra=['--fw-version-at', '1=' + VERSION]),
}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def die_with_parent():
    """Children end with this process, however it ends (prctl PR_SET_PDEATHSIG)."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)
    except (OSError, AttributeError):
        pass


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class Fleet:
    """One site's ktr4200-sim on 127.0.0.1."""

    def __init__(self, sim, work, name, site):
        self.sim = sim
        self.name = name
        self.site = site
        self.state_file = os.path.join(work, name + '-state.json')
        self.work = work
        self.log = None
        self.starts = 0
        self.tftp_port = free_udp_port()
        self.nimp_port = 0
        self.process = None

    def start(self, extra=()):
        args = [self.sim, '--bind', '127.0.0.1', '--port', str(self.nimp_port),
                '--devices', str(self.site['devices']), '--base-mac', self.site['base_mac'],
                '--base-ip', self.site['base_ip'], '--tftp-port', str(self.tftp_port),
                '--flash-time', '150', '--reboot-time', '300', '--factory-reset-time', '300',
                '--tftp-timeout', '300', '--state-file', self.state_file]
        args += self.site['extra'] + list(extra)
        self.starts += 1
        self.log = os.path.join(self.work, '%s-sim-%d.log' % (self.name, self.starts))
        with open(self.log, 'wb') as log:
            self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=log,
                                            preexec_fn=die_with_parent)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            with open(self.log, errors='replace') as f:
                found = re.findall(r'devices on 127\.0\.0\.1:(\d+),', f.read())
            if found:
                self.nimp_port = int(found[0])
                return
            check(self.process.poll() is None, '%s: ktr4200-sim ended at its start' % self.name)
            time.sleep(0.05)
        raise Failure('%s: ktr4200-sim did not start' % self.name)

    def state(self):
        """Every device's state now (the simulator writes it on SIGUSR1)."""
        if os.path.exists(self.state_file):
            os.unlink(self.state_file)
        self.process.send_signal(signal.SIGUSR1)
        deadline = time.monotonic() + 20
        while not os.path.exists(self.state_file):
            check(time.monotonic() < deadline, '%s: no state from ktr4200-sim' % self.name)
            time.sleep(0.05)
        with open(self.state_file) as f:
            return json.load(f)['devices']

    def stop(self):
        if self.process is None:
            return
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(20)
        self.process = None


def write_home(home, fleet):
    """The console's data folder: system.ini pointing at the fleet with short waits, and the
    firmware image."""
    os.makedirs(os.path.join(home, 'Config', 'Temp'))
    os.makedirs(os.path.join(home, 'firmware'))
    keys = dict(NimpAddress='127.0.0.1', NimpPort=fleet.nimp_port, TftpPort=fleet.tftp_port,
                TftpServerAddress='127.0.0.1', DiscoveryTimeout=1, NimpSetTimeout=1,
                TimingTolerance=0, RebootTime=1, FactoryResetTime=1,
                # Longest waits for a transfer or a flash update, which end when the devices
                # are done: room for a sanitizer build.
                ConfigUploadTime=5, ConfigDownloadTime=5, ConfigFlashUpdateTime=5,
                FWDownloadTime=10, FWFlashUpdateTime=5)
    if os.environ.get('NW_TEST_PARALLEL_TRANSFERS'):
        keys['ParallelTransfers'] = os.environ['NW_TEST_PARALLEL_TRANSFERS']
    with open(os.path.join(home, 'system.ini'), 'wb') as f:
        f.write(b'[System]\r\n')
        for key, value in keys.items():
            f.write(('%s=%s\r\n' % (key, value)).encode())
    image = os.path.join(home, 'firmware', 'ktr4200-%s.bin' % VERSION)
    with open(image, 'wb') as f:
        f.write(('FW_VERSION=%s\n' % VERSION).encode() + b'x' * 20000)
    return image


def hex_digits(key):
    return re.sub(r'0x|[^0-9a-f]', '', key.lower())


def kept(devices):
    return [dict([(k, d[k]) for k in KEPT_FIELDS] + [(k, d['counters'][k]) for k in KEPT_COUNTERS])
            for d in devices]


def config_value(device, name):
    for line in device['config']:
        if '=' in line and line.split('=', 1)[0].strip() == name:
            return line.split('=', 1)[1].strip()
    return None


class Playbooks:
    def __init__(self, work, inventory):
        self.work = work
        self.inventory = inventory
        self.env = dict(os.environ)
        collections = os.path.join(work, 'collections')
        os.makedirs(os.path.join(collections, 'ansible_collections', 'nodewarden'))
        os.symlink(COLLECTION, os.path.join(collections, 'ansible_collections', 'nodewarden',
                                            'fleet'))
        config = os.path.join(work, 'ansible.cfg')
        with open(config, 'w') as f:
            f.write('[defaults]\nretry_files_enabled = False\n')
        self.env.update(
            ANSIBLE_CONFIG=config,
            ANSIBLE_COLLECTIONS_PATH=collections,
            ANSIBLE_LOCAL_TEMP=os.path.join(work, 'ansible-local'),
            ANSIBLE_REMOTE_TEMP=os.path.join(work, 'ansible-remote'),
            ANSIBLE_NOCOLOR='1',
            ANSIBLE_FORCE_COLOR='0',
            ANSIBLE_HOST_KEY_CHECKING='0',
        )
        self.runs = 0

    def run(self, playbook, *options):
        """Runs a playbook to its end (bounded); returns (exit status, output, recap)."""
        self.runs += 1
        log = os.path.join(self.work, 'run%d.log' % self.runs)
        argv = ['ansible-playbook', '-i', self.inventory, playbook] + list(options)
        print('--- %s' % ' '.join(argv[3:]), flush=True)
        with open(log, 'wb') as out:
            p = subprocess.Popen(argv, cwd=self.work, env=self.env, stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=subprocess.STDOUT, start_new_session=True,
                                 preexec_fn=die_with_parent)
            try:
                rc = p.wait(PLAYBOOK_SECONDS)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()
                rc = None
        with open(log, errors='replace') as f:
            output = f.read()
        recap = {}
        for m in re.finditer(r'^(\S+)\s*:\s*ok=(\d+)\s+changed=(\d+)\s+unreachable=(\d+)\s+'
                             r'failed=(\d+)', output, re.MULTILINE):
            recap[m.group(1)] = dict(ok=int(m.group(2)), changed=int(m.group(3)),
                                     failed=int(m.group(5)))
        print('    exit %s, %s' % (rc, recap), flush=True)
        if rc is None:
            raise Failure('ansible-playbook did not end in %d s:\n%s' % (PLAYBOOK_SECONDS, output))
        return rc, output, recap


def expect(result, rc, changed, what):
    """changed: host -> True (changed something), False (nothing), None (failed)."""
    status, output, recap = result
    problems = []
    if status != rc:
        problems.append('exit status %s, not %s' % (status, rc))
    for host, want in changed.items():
        got = recap.get(host)
        if got is None:
            problems.append('%s has no recap line' % host)
        elif want is None and got['failed'] == 0:
            problems.append('%s did not fail' % host)
        elif want is not None and got['failed'] != 0:
            problems.append('%s failed' % host)
        elif want is True and got['changed'] == 0:
            problems.append('%s changed nothing' % host)
        elif want is False and got['changed'] != 0:
            problems.append('%s changed %d task(s)' % (host, got['changed']))
    check(not problems, '%s: %s\n%s' % (what, '; '.join(problems), output))


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    if shutil.which('ansible-playbook') is None:
        print('SKIPPED: ansible-playbook is not installed')
        return 77
    nodewarden, sim = (os.path.abspath(p) for p in sys.argv[1:])
    work = tempfile.mkdtemp(prefix='nw-ansible-')
    fleets = {}
    try:
        inventory = {}
        for name, site in SITES.items():
            fleet = fleets[name] = Fleet(sim, work, name, site)
            fleet.start()
            home = os.path.join(work, name)
            image = write_home(home, fleet)
            inventory[name] = dict(ansible_connection='local',
                                   ansible_python_interpreter=sys.executable,
                                   nodewarden_home=home, nodewarden_executable=nodewarden,
                                   fleet_firmware_image=image, fleet_firmware_version=VERSION)
        inventory_file = os.path.join(work, 'inventory.yml')
        with open(inventory_file, 'w') as f:
            yaml.safe_dump({'all': {'children': {'consoles': {'hosts': inventory}}}}, f)
        with open(SITE_PLAYBOOK) as f:
            settings = yaml.safe_load(f)[0]['vars']['fleet_settings']
        check(len(settings) == 2, 'the example playbook sets %d settings, not 2' % len(settings))
        playbooks = Playbooks(work, inventory_file)
        all_sites = dict((name, True) for name in SITES)

        def states():
            return dict((name, fleet.state()) for name, fleet in fleets.items())

        # Check mode reads, compares and reports; no device is written to.
        before = states()
        for name, devices in before.items():
            check(any(d['version'] == OLD_VERSION for d in devices), '%s: nothing to upgrade' % name)
        result = playbooks.run(SITE_PLAYBOOK, '--check', '--diff')
        expect(result, 0, all_sites, 'check mode')
        check('+80211a_beacon_interval =' in result[1] or '+80211b_dtim =' in result[1],
              'check mode shows no settings after:\n' + result[1])
        check('-firmware: %s' % OLD_VERSION in result[1] and '+firmware: %s' % VERSION in result[1],
              'check mode shows no firmware versions before and after:\n' + result[1])
        after = states()
        for name in SITES:
            check(kept(after[name]) == kept(before[name]),
                  '%s: check mode changed the devices:\n%s\n%s'
                  % (name, kept(before[name]), kept(after[name])))

        # The first run: every device holds the settings and runs the version; the device
        # that ran it before was not upgraded.
        expect(playbooks.run(SITE_PLAYBOOK), 0, all_sites, 'first run')
        first = states()
        for name, devices in first.items():
            for d in devices:
                for setting, value in settings.items():
                    check(config_value(d, setting) == str(value),
                          '%s %s: %s is %s, not %s' % (name, d['mac'], setting,
                                                       config_value(d, setting), value))
                check(d['version'] == VERSION, '%s %s runs %s' % (name, d['mac'], d['version']))
        untouched = first['south'][1]
        check(before['south'][1]['version'] == VERSION, 'south device 1 was not on the version')
        check(untouched['counters']['factoryReset'] == 0 and
              untouched['flashedFirmwareSha256'] == '',
              'the device already on the version was upgraded: %s' % untouched)
        upgraded = first['south'][0]
        check(upgraded['counters']['factoryReset'] == 1 and upgraded['flashedFirmwareSha256'],
              'south device 0 was not upgraded: %s' % upgraded)

        # The second run finds nothing to do and writes nothing.
        expect(playbooks.run(SITE_PLAYBOOK), 0, dict((n, False) for n in SITES), 'second run')
        second = states()
        for name in SITES:
            check(kept(second[name]) == kept(first[name]),
                  '%s: the second run changed the devices' % name)

        # A key, in check mode and then set: the diff and the results (printed with -vvv, the
        # module's arguments included, and registered) mask it in every spelling, and the
        # devices hold it.
        key = ['-e', json.dumps(dict(wep_key=WEP_KEY)), '--limit', 'north', '--diff', '-vvv']
        for options in (['--check'], []):
            result = playbooks.run(KEY_PLAYBOOK, *(key + options))
            expect(result, 0, {'north': True}, 'the key %s' % ' '.join(options))
            flat = re.sub(r'0x|[^0-9a-z]', '', result[1].lower())
            check(hex_digits(WEP_KEY) not in flat and '********' in result[1],
                  'the key shows, or nothing is masked:\n' + result[1])
        for d in fleets['north'].state():
            check(hex_digits(config_value(d, '80211b_wep64_key') or '') == hex_digits(WEP_KEY),
                  'north %s holds the key %s' % (d['mac'], config_value(d, '80211b_wep64_key')))

        # One device's address: set, again, and in check mode another one.
        mac = first['north'][2]['mac']
        address = ['-e', 'address_mac=%s' % mac, '-e', 'address_netmask=255.255.0.0',
                   '--limit', 'north']
        expect(playbooks.run(ADDRESS_PLAYBOOK, '-e', 'address_ip=10.0.7.7', *address), 0,
               {'north': True}, 'address')
        moved = fleets['north'].state()[2]
        check((moved['ip'], moved['netmask']) == ('10.0.7.7', '255.255.0.0'),
              'the address module left %s on %s %s' % (mac, moved['ip'], moved['netmask']))
        expect(playbooks.run(ADDRESS_PLAYBOOK, '-e', 'address_ip=10.0.7.7', *address), 0,
               {'north': False}, 'address again')
        expect(playbooks.run(ADDRESS_PLAYBOOK, '-e', 'address_ip=10.0.7.8', '--check', *address),
               0, {'north': True}, 'address in check mode')
        check(kept([fleets['north'].state()[2]]) == kept([moved]), 'check mode moved the device')

        # South's devices now have a password the console does not know: that site fails with
        # the device's Status, the other goes on and changes nothing.
        fleets['south'].stop()
        fleets['south'].start(['--password', 's3cret'])
        status, output, recap = playbooks.run(SITE_PLAYBOOK)
        expect((status, output, recap), 2, {'north': False, 'south': None}, 'wrong password')
        for d in fleets['south'].state():
            check(re.search(r'%s: %s' % (d['mac'], re.escape(PASSWORD_STATUS)), output),
                  'the failure does not name %s with "%s":\n%s' % (d['mac'], PASSWORD_STATUS,
                                                                    output))
            check(d['counters']['fetch'] == 0 and d['counters']['wrongPassword'] > 0,
                  'south %s: %s' % (d['mac'], d['counters']))
        print('PASS: check mode, first and second run, the device on the version left alone, '
              'a masked key, the address module, a wrong password', flush=True)
        return 0
    except Failure as e:
        print('FAIL: %s' % e, flush=True)
        for fleet in fleets.values():
            if fleet.log and os.path.exists(fleet.log):
                with open(fleet.log, errors='replace') as f:
                    print('%s simulator:\n%s' % (fleet.name, f.read()[-2000:]))
        return 1
    finally:
        for fleet in fleets.values():
            fleet.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
