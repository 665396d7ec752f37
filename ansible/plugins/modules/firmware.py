#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Nodewarden Developers <team@nodewarden.dev>
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: firmware
short_description: Upgrade access points that are not yet on a firmware version
description:
  - Discovers the devices and upgrades, with C(nodewarden upgrade), those of the chosen
    devices whose reported firmware version is not I(version). Devices that already
    report it are left alone, and nothing is sent to them.
  - The upgrade keeps each device's configuration across the factory reset it includes
    (saved, flashed, factory reset, written back and verified), all devices side by side.
  - Afterwards the upgraded devices are discovered again, and each must report
    I(version); one that reports another version fails the task (the image does not carry
    I(version), and the next run would upgrade it again).
  - In check mode only the Discover runs, and the result says which devices would be
    upgraded, from which version to which.
  - With C(--diff) the output shows, for each device upgraded (in check mode, to be
    upgraded), its firmware version before and after.
version_added: 1.0.0
author:
  - Nodewarden Developers <team@nodewarden.dev> (@nodewarden)
options:
  image:
    description:
      - The firmware image, a file on the managed host.
    type: path
    required: true
  version:
    description:
      - The firmware version the image carries, as the devices report it after the upgrade
        (for example C(2.00.01u)).
    type: str
    required: true
  force:
    description:
      - Upgrade devices whose last upgrade was interrupted after their factory reset too
        (C(nodewarden upgrade --force)). Without it such devices fail the task until their
        saved configuration was written back.
    type: bool
    default: false
notes:
  - After the factory reset the devices answer to the factory default password, and keep
    it (the access password cannot be set over NIMP); a warning names the devices.
attributes:
  check_mode:
    description: Can run in check mode and return the changes it would make.
    support: full
    details:
      - Discovers the devices and reports which would be upgraded, from which version to which; nothing is sent to them.
  diff_mode:
    description: Returns details on what changed (or, in check mode, would change) with C(--diff).
    support: full
    details:
      - Shows each upgraded device's firmware version before and after.
extends_documentation_fragment:
  - nodewarden.fleet.common
  - nodewarden.fleet.common.devices
'''

EXAMPLES = r'''
- name: Every access point of the site on 2.00.01u
  nodewarden.fleet.firmware:
    home: /srv/nodewarden
    all: true
    image: /srv/nodewarden/firmware/ktr4200-2.00.01u.bin
    version: 2.00.01u

- name: Two devices first
  nodewarden.fleet.firmware:
    home: /srv/nodewarden
    macs: [021A2B000007, 021A2B000008]
    image: /srv/nodewarden/firmware/ktr4200-2.00.01u.bin
    version: 2.00.01u
    parallel: 2
'''

RETURN = r'''
devices:
  description: Every chosen device, in the order of the device list.
  returned: always
  type: list
  elements: dict
  contains:
    mac:
      description: The MAC address, twelve upper-case hex digits.
      type: str
    ip:
      description: The IP address.
      type: str
    firmware_before:
      description: The version the device reported before.
      type: str
    firmware:
      description: The version the device reports now (in check mode, before).
      type: str
    before:
      description: The version the device reported before the upgrade.
      type: str
    after:
      description: The version the device reports after the upgrade; in check mode the
        version it would report (I(version) for a device to be upgraded). Null for a
        device whose upgrade failed, as what it runs then is not known.
      type: str
    upgraded:
      description: Whether the device was upgraded (in check mode, would be).
      type: bool
    status:
      description: The device's final Status of the upgrade; null for a device left alone
        (and in check mode).
      type: str
  sample:
    - {mac: 021A2B000001, ip: 192.168.0.50, firmware_before: 1.02.07u, firmware: 2.00.01u,
       before: 1.02.07u, after: 2.00.01u, upgraded: true, status: OK}
    - {mac: 021A2B000002, ip: 192.168.0.51, firmware_before: 2.00.01u, firmware: 2.00.01u,
       before: 2.00.01u, after: 2.00.01u, upgraded: false, status: null}
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.nodewarden.fleet.plugins.module_utils.nodewarden import (
    COMMON_ARGUMENT_SPEC,
    STATUS_OK,
    Console,
    choose_devices,
    failed_rows_message,
    normalize_mac,
    printable,
)


def version_diffs(devices):
    """The --diff of the devices upgraded (in check mode, to be): one entry per device with
    its version before and after ("unknown" after a failed upgrade)."""
    diffs = []
    for d in devices:
        if d['upgraded']:
            after = d['after'] if d['after'] is not None else 'unknown'
            diffs.append(dict(before_header='%s (before)' % d['mac'],
                              after_header='%s (after)' % d['mac'],
                              before='firmware: %s\n' % printable(d['before']),
                              after='firmware: %s\n' % printable(after)))
    return diffs


def exit_with_diff(module, result):
    if module._diff:
        result['diff'] = version_diffs(result['devices'])
    module.exit_json(**result)


def main():
    arguments = dict(COMMON_ARGUMENT_SPEC)
    arguments.update(
        macs=dict(type='list', elements='str'),
        all=dict(type='bool'),
        image=dict(type='path', required=True),
        version=dict(type='str', required=True),
        force=dict(type='bool', default=False),
    )
    module = AnsibleModule(argument_spec=arguments, mutually_exclusive=[('macs', 'all')],
                           supports_check_mode=True)
    if not module.params['all'] and not module.params['macs']:
        module.fail_json(msg='give macs or all: true')
    image = module.params['image']
    version = module.params['version'].strip()
    if not version:
        module.fail_json(msg='version is empty')
    if not os.path.isfile(image) or not os.access(image, os.R_OK):
        module.fail_json(msg='the firmware image %s is not a readable file' % image)

    console = Console(module)
    chosen = choose_devices(module, console.discover())
    devices = []
    for d in chosen:
        upgraded = d['firmware'] != version
        devices.append(dict(mac=d['mac'], ip=d['ip'], firmware_before=d['firmware'],
                            firmware=d['firmware'], before=d['firmware'],
                            after=version if upgraded else d['firmware'],
                            upgraded=upgraded, status=None))
    upgrade = [d for d in devices if d['upgraded']]
    result = dict(changed=bool(upgrade), devices=devices)
    if not upgrade or module.check_mode:
        exit_with_diff(module, result)

    args = ['--mac'] + [d['mac'] for d in upgrade] + ['--firmware', image, '--yes']
    if module.params['force']:
        args.append('--force')
    rc, rows, err = console.run_json('upgrade', args, 'upgrade')
    if not rows:
        result['changed'] = False
        console.fail('upgrade ran on no device', rc=rc, err=err, **result)
    status = dict((normalize_mac(r.get('Mac Address')), r.get('Status', '')) for r in rows)
    for d in upgrade:
        d['status'] = status.get(d['mac'], '')
        if d['status'] != STATUS_OK:
            # What a failed device runs now is not known.
            d['after'] = None
    reset = [d['mac'] for d in upgrade if d['status'] == STATUS_OK]
    if reset:
        module.warn('these devices were factory reset and now use the factory default '
                    'password: %s' % ', '.join(reset))
    failed = failed_rows_message(rows)
    if failed:
        # Only the devices that ended "OK" changed.
        result['changed'] = bool(reset)
        if module._diff:
            result['diff'] = version_diffs(upgrade)
        module.fail_json(msg='upgrade failed: %s' % failed, rc=rc, **result)

    # The devices must now report the version, or the image does not carry it.
    now = dict((d['mac'], d['firmware']) for d in console.discover(allow_none=True))
    wrong = []
    for d in upgrade:
        d['firmware'] = d['after'] = now.get(d['mac'], '')
        if d['firmware'] != version:
            wrong.append('%s reports %s' % (d['mac'], printable(d['firmware'] or 'nothing')))
    if wrong:
        if module._diff:
            result['diff'] = version_diffs(upgrade)
        module.fail_json(msg='after the upgrade %s, not %s: the image does not carry that version'
                         % ('; '.join(wrong), printable(version)), **result)
    exit_with_diff(module, result)


if __name__ == '__main__':
    main()
