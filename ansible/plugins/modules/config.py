#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Nodewarden Developers <team@nodewarden.dev>
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: config
short_description: Make access points hold configuration settings
description:
  - Reads the configuration of every chosen device in one run, compares it with the
    settings given, and writes only the devices on which a setting differs, with
    C(nodewarden write-config --changed-only). Each write is flashed, the device reset and
    its configuration read back and verified as the console's C(system.ini) says
    (C(ApplyReset), C(Verify)).
  - A setting differs when the device holds another value or none; an access control list
    given differs when the device's list holds other entries. Settings not given stay as
    the device has them.
  - In check mode the configurations are read (the devices send them to the console) and
    nothing is written; the result says what would change.
  - With C(--diff) the output shows, for each device, the settings before and after.
  - The values of keys (the WEP keys, C(80211a_wep64_key) and the like) never show; they
    are masked as C(********) in the diff, the result (the module's own arguments
    included), warnings and error messages, and the module's invocation is not logged on
    the managed host.
version_added: 1.0.0
author:
  - Nodewarden Developers <team@nodewarden.dev> (@nodewarden)
options:
  settings:
    description:
      - Configuration file names and their values, for example C(80211a_ssid) or
        C(80211b_dtim). Values are given as the configuration window shows them (an SSID
        without quotes, an access control mode as C(accept), C(reject) or C(disable)).
      - A list value gives one line per item, for the names a file repeats
        (C(80211a_acl_mac_add), C(80211b_acl_mac_add), the 802.11b keys). An empty list
        for an C(_acl_mac_add) name empties that access control list.
      - A name the console does not know fails the task before anything is sent.
      - C(device_name), C(ip) and C(mask) are written to one device at a time only; with
        several devices they are left alone (a warning says so).
      - Give I(settings) or I(src).
    type: dict
  src:
    description:
      - A configuration file on the managed host, as the configuration window saves it
        (one C(name =value) line per setting), instead of I(settings).
    type: path
attributes:
  check_mode:
    description: Can run in check mode and return the changes it would make.
    support: full
    details:
      - Reads the configurations (the devices send them to the console) and reports what would change; nothing is written.
  diff_mode:
    description: Returns details on what changed (or, in check mode, would change) with C(--diff).
    support: full
    details:
      - Shows each device's settings before and after; keys are masked.
extends_documentation_fragment:
  - nodewarden.fleet.common
  - nodewarden.fleet.common.devices
'''

EXAMPLES = r'''
- name: Two settings on every access point of the site
  nodewarden.fleet.config:
    home: /srv/nodewarden
    all: true
    settings:
      80211a_beacon_interval: 200
      80211b_dtim: 3

- name: The lobby devices' SSID and access list
  nodewarden.fleet.config:
    home: /srv/nodewarden
    macs: [021A2B000007, 021A2B000008]
    settings:
      80211b_ssid: Lobby
      80211b_acl_mode: accept
      80211b_acl_mac_add: ['02:1A:2B:12:34:56', '02:1A:2B:12:34:57']

- name: A saved configuration on one device
  nodewarden.fleet.config:
    home: /srv/nodewarden
    macs: [021A2B000007]
    src: /srv/nodewarden/Config/lobby.cfg
'''

RETURN = r'''
devices:
  description: Every chosen device, in the order of the device list.
  returned: when the devices were read
  type: list
  elements: dict
  contains:
    mac:
      description: The MAC address, twelve upper-case hex digits.
      type: str
    ip:
      description: The IP address.
      type: str
    name:
      description: The device name.
      type: str
    status:
      description: The device's final Status (C(OK) when it was read, and written where
        it had to be).
      type: str
    changed:
      description: Whether the device was written (in check mode, would be) and ended C(OK).
      type: bool
    changes:
      description: The settings that were (in check mode, would be) changed on the device.
      type: list
      elements: dict
      contains:
        name:
          description: The setting's name in the configuration file.
          type: str
        before:
          description: The device's value as its file holds it, null when it held none;
            C(********) for a key.
          type: str
        after:
          description: The value written, null for an access control entry removed;
            C(********) for a key.
          type: str
        masked:
          description: Present and true for a key, whose values are masked.
          type: bool
          returned: for a key
  sample:
    - mac: 021A2B000001
      ip: 192.168.0.50
      name: AP-000001
      status: OK
      changed: true
      changes:
        - {name: 80211b_dtim, before: "1", after: "3"}
'''

import os
import re
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.six import integer_types, string_types
from ansible_collections.nodewarden.fleet.plugins.module_utils.nodewarden import (
    COMMON_ARGUMENT_SPEC,
    STATUS_OK,
    Console,
    failed_rows_message,
    hide_secret_values,
    is_secret_setting,
    mac_arguments,
    masked_changes,
    normalize_mac,
    printable,
)

_NAME = re.compile(r'^[A-Za-z0-9_]+$')
# Written to one device at a time only.
_OWN_SETTINGS = ('device_name', 'ip', 'mask')
_ACL_ADD = re.compile(r'^(80211[ab])_acl_mac_add$', re.IGNORECASE)


def value_text(module, name, value):
    """The text of one value; fails the task for a value no file line can carry."""
    if isinstance(value, bool):
        module.fail_json(msg='%s: give the value as text (quote it in YAML), not as %s'
                         % (name, 'true' if value else 'false'))
    if isinstance(value, float):
        text = repr(value)
    elif isinstance(value, integer_types) or isinstance(value, string_types):
        text = str(value)
    else:
        module.fail_json(msg='%s: a value is text or a number' % name)
    if not text.strip():
        module.fail_json(msg='%s: a setting cannot be given an empty value' % name)
    # One line per value: nothing may start another line or hide in the file.
    for ch in text:
        if ord(ch) < 0x20 or ord(ch) == 0x7F:
            module.fail_json(msg='%s: the value holds the control character \\x%02X'
                             % (name, ord(ch)))
    return text


def settings_lines(module, settings):
    """The lines of a configuration file that holds the settings."""
    lines = []
    for name, value in settings.items():
        if not isinstance(name, string_types) or not _NAME.match(name):
            module.fail_json(msg="'%s' is not a configuration file name" % printable(name))
        if isinstance(value, list):
            acl = _ACL_ADD.match(name)
            if not value and not acl:
                module.fail_json(msg='%s: an empty list only empties an access control list'
                                 % name)
            if acl:
                lines.append('%s_acl_clr =' % acl.group(1))
            lines.extend('%s =%s' % (name, value_text(module, name, v)) for v in value)
        else:
            lines.append('%s =%s' % (name, value_text(module, name, value)))
    if not lines:
        module.fail_json(msg='settings holds no setting')
    return lines


def own_settings_in(lines):
    names = set()
    for line in lines:
        name = line.split('=', 1)[0].strip().lower() if '=' in line else ''
        if name in _OWN_SETTINGS:
            names.add(name)
    return sorted(names)


def secret_values_in(lines):
    """The values of the key and password lines of a configuration file."""
    values = []
    for line in lines:
        if '=' in line:
            name, value = line.split('=', 1)
            if is_secret_setting(name.strip()):
                values.append(value)
    return values


def change_lines(changes, side):
    out = []
    for c in changes:
        if c.get(side) is not None:
            value = printable(c[side])
            # Both sides of a masked key read the same; say that it changes.
            if side == 'after' and c.get('masked') and c.get('before') is not None:
                value += ' (changed)'
            out.append('%s =%s\n' % (printable(c['name']), value))
    return ''.join(out)


def main():
    arguments = dict(COMMON_ARGUMENT_SPEC)
    arguments.update(
        macs=dict(type='list', elements='str'),
        all=dict(type='bool'),
        settings=dict(type='dict'),
        src=dict(type='path'),
    )
    module = AnsibleModule(
        argument_spec=arguments,
        mutually_exclusive=[('macs', 'all'), ('settings', 'src')],
        required_one_of=[('settings', 'src')],
        supports_check_mode=True,
        # The settings may hold keys: no invocation line in the managed host's log.
        no_log=True,
    )
    # Keys given are masked wherever they would show (the module's arguments in its result
    # included), before anything can fail.
    for name, value in (module.params['settings'] or {}).items():
        if is_secret_setting(name):
            hide_secret_values(module, value if isinstance(value, list) else [value])
    if not module.params['all'] and not module.params['macs']:
        module.fail_json(msg='give macs or all: true')
    console = Console(module)

    if module.params['settings'] is not None:
        lines = settings_lines(module, module.params['settings'])
        handle, config_file = tempfile.mkstemp(prefix='settings-', suffix='.cfg',
                                               dir=module.tmpdir)
        with os.fdopen(handle, 'wb') as f:
            f.write(''.join(line + '\r\n' for line in lines).encode('utf-8'))
    else:
        config_file = module.params['src']
        try:
            with open(config_file, 'rb') as f:
                lines = f.read().decode('latin-1').splitlines()
        except (IOError, OSError) as e:
            module.fail_json(msg='cannot read %s: %s' % (config_file, e))

    # The keys of a src file too.
    hide_secret_values(module, secret_values_in(lines))

    args = mac_arguments(module) + ['--file', config_file, '--changed-only', '--yes']
    if module.check_mode:
        args.append('--dry-run')
    rc, rows, err = console.run_json('write-config', args, 'write-config')
    if not rows:
        console.fail('write-config ran on no device', rc=rc, err=err)

    devices = []
    diffs = []
    for row in rows:
        changes = masked_changes(module, row.get('Changes') or [])
        mac = normalize_mac(row.get('Mac Address')) or row.get('Mac Address', '')
        ok = row.get('Status') == STATUS_OK
        changed = ok and bool(changes) and (bool(row.get('Written')) or module.check_mode)
        devices.append(dict(mac=mac, ip=row.get('IP Address', ''), name=row.get('Device Name', ''),
                            status=row.get('Status', ''), changed=changed, changes=changes))
        if changes:
            diffs.append(dict(before_header='%s (device)' % mac, after_header='%s (settings)' % mac,
                              before=change_lines(changes, 'before'),
                              after=change_lines(changes, 'after')))
    result = dict(changed=any(d['changed'] for d in devices), devices=devices)
    if module._diff:
        result['diff'] = diffs
    own = own_settings_in(lines)
    if own and len(rows) > 1:
        module.warn('%s: written to one device at a time only, so left alone on these %d devices'
                    % (', '.join(own), len(rows)))
    failed = failed_rows_message(rows)
    if failed:
        module.fail_json(msg='write-config failed: %s' % failed, rc=rc, **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
