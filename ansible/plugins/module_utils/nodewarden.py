# -*- coding: utf-8 -*-
# Copyright: Nodewarden Developers <team@nodewarden.dev>
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)
# What the modules of nodewarden.fleet share: the options of every module, running the
# console's command line with them, and reading what it prints.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import re

# The options every module takes (the doc fragment nodewarden.fleet.common describes them).
COMMON_ARGUMENT_SPEC = dict(
    home=dict(type='path'),
    interface=dict(type='list', elements='str', default=[]),
    parallel=dict(type='int'),
    executable=dict(type='str', default='nodewarden'),
)

# The final Status of a device that did what it was asked.
STATUS_OK = 'OK'

# The command line's own words for "nothing answered Discover".
NO_DEVICE_ANSWERED = 'no device answered'

# What a masked key or password shows instead of its value.
MASK = '********'

# Settings whose values are secrets: the WEP keys (as a configuration file names them,
# 80211b_wep64_key, and as the command line numbers them in its changes, 80211a_wep_key1)
# and anything named a password, passphrase or pre-shared key.
_SECRET_SETTING = re.compile(r'(wep\d*_key\d*$|password|passphrase|psk|secret)', re.IGNORECASE)

_NO_KEY_WORDS = ('empty', 'keep')

_MAC_SEPARATORS = re.compile(r'[:\-]')
_MAC = re.compile(r'^[0-9A-F]{12}$')


def normalize_mac(text):
    """Twelve upper-case hex digits from a MAC written with or without ':' or '-'; None when
    the text is not a MAC address."""
    if not isinstance(text, str):
        return None
    mac = _MAC_SEPARATORS.sub('', text.strip()).upper()
    return mac if _MAC.match(mac) else None


def printable(text):
    """Text from the network made safe for a message: characters that do not print are
    written as escapes."""
    out = []
    for ch in str(text):
        code = ord(ch)
        if ch == '\\':
            out.append('\\\\')
        elif code < 0x20 or 0x7F <= code < 0xA0:
            out.append('\\x%02X' % code)
        else:
            out.append(ch)
    return ''.join(out)


def is_secret_setting(name):
    """Whether a configuration setting of that name holds a key or a password."""
    return isinstance(name, str) and _SECRET_SETTING.search(name) is not None


def hide_secret_values(module, values):
    """Adds the values to those AnsibleModule masks wherever they appear in what the task
    returns (results, diffs, warnings, the command line's error output, the module's own
    arguments)."""
    for value in values:
        if value is None:
            continue
        text = str(value).strip()
        # A value this short would mask unrelated text, and no key is that short; the
        # words for "no key" and "keep the key" are no secret and common words.
        if len(text) >= 4 and text.lower() not in _NO_KEY_WORDS:
            module.no_log_values.add(text)


def masked_changes(module, changes):
    """The command line's changes of a write with the values of secret settings masked:
    "before" and "after" are MASK (null stays null, so that a key set where there was none
    still shows), and "masked" is true. The values themselves are kept from the output."""
    out = []
    for change in changes:
        if not isinstance(change, dict):
            continue
        change = dict(change)
        if is_secret_setting(change.get('name')):
            hide_secret_values(module, (change.get('before'), change.get('after')))
            for side in ('before', 'after'):
                if change.get(side) is not None:
                    change[side] = MASK
            change['masked'] = True
        out.append(change)
    return out


def device_from_row(row):
    """A device of the module results from one row of the command line's JSON output."""
    mac = row.get('Mac Address', '')
    return dict(
        model=row.get('Model Name', ''),
        mac=normalize_mac(mac) or mac,
        ip=row.get('IP Address', ''),
        netmask=row.get('Netmask', ''),
        firmware=row.get('F/W Version', ''),
        name=row.get('Device Name', ''),
    )


def failed_rows_message(rows):
    """'MAC: Status' of every row that did not end "OK", joined; empty when all did."""
    failed = []
    for row in rows:
        status = row.get('Status', '')
        if status != STATUS_OK:
            failed.append('%s: %s' % (printable(row.get('Mac Address', '?')),
                                      printable(status or 'no Status')))
    return '; '.join(failed)


class Console:
    """The nodewarden command line of one console host, run with the module's options."""

    def __init__(self, module):
        self.module = module
        params = module.params
        executable = params['executable']
        if '/' not in executable:
            executable = module.get_bin_path(executable, required=True)
        self.executable = executable
        self.global_options = []
        if params.get('home'):
            self.global_options += ['--home', params['home']]
        for name in params.get('interface') or []:
            self.global_options += ['--interface', name]
        if params.get('parallel') is not None:
            self.global_options += ['--parallel', str(params['parallel'])]

    def run(self, command, args):
        """Runs one command; returns (exit status, standard output, standard error)."""
        argv = [self.executable] + self.global_options + [command] + list(args)
        return self.module.run_command(argv, check_rc=False)

    def fail(self, message, rc=None, err='', **extra):
        """Ends the task as failed, with the command line's own error lines."""
        reason = command_errors(err)
        if reason:
            message = '%s: %s' % (message, reason)
        self.module.fail_json(msg=message, rc=rc, stderr=printable(err), **extra)

    def run_json(self, command, args, what):
        """Runs a command with --json; returns (exit status, the parsed rows, standard
        error). Fails the task on a usage error or when the output is no JSON array."""
        rc, out, err = self.run(command, list(args) + ['--json'])
        if rc == 2:
            self.fail('%s was refused' % what, rc=rc, err=err)
        rows = parse_rows(out)
        if rows is None:
            self.fail('%s failed' % what, rc=rc, err=err)
        return rc, rows, err

    def discover(self, allow_none=False):
        """The devices that answer Discover, as module results (see device_from_row)."""
        rc, out, err = self.run('discover', ['--json'])
        rows = parse_rows(out)
        if rows is None or (rc != 0 and not (rows == [] and NO_DEVICE_ANSWERED in err)):
            self.fail('Discover failed', rc=rc, err=err)
        if not rows and not allow_none:
            self.fail('no device answered Discover', rc=rc, err=err)
        return [device_from_row(row) for row in rows]


def parse_rows(out):
    """The JSON array of rows that a command printed, or None."""
    try:
        rows = json.loads(out)
    except ValueError:
        return None
    if not isinstance(rows, list) or not all(isinstance(r, dict) for r in rows):
        return None
    return rows


def command_errors(err):
    """The command line's own error lines from its standard error (the log lines left out),
    escaped, joined."""
    lines = [line for line in (err or '').splitlines() if line.startswith('nodewarden')]
    return printable(' '.join(lines))


def choose_devices(module, found):
    """The discovered devices that the task's macs or all names, in the order of the device
    list; fails the task for a MAC that Discover did not find."""
    if module.params.get('all'):
        return list(found)
    wanted = []
    for text in module.params['macs']:
        mac = normalize_mac(text)
        if mac is None:
            module.fail_json(msg="'%s' is not a MAC address" % printable(text))
        if mac not in wanted:
            wanted.append(mac)
    by_mac = dict((d['mac'], d) for d in found)
    missing = [mac for mac in wanted if mac not in by_mac]
    if missing:
        module.fail_json(msg='not found by Discover: %s' % ', '.join(missing))
    return [d for d in found if d['mac'] in wanted]


def mac_arguments(module):
    """--mac MAC... or --all for a command line that chooses devices itself."""
    if module.params.get('all'):
        return ['--all']
    macs = []
    for text in module.params['macs']:
        mac = normalize_mac(text)
        if mac is None:
            module.fail_json(msg="'%s' is not a MAC address" % printable(text))
        macs.append(mac)
    return ['--mac'] + macs
