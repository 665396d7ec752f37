#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Nodewarden Developers <team@nodewarden.dev>
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: address
short_description: Give one access point its IP address and netmask
description:
  - Discovers the devices and compares the address and netmask the device reports with
    the ones given. Only when they differ is the device set, with
    C(nodewarden set-ip); otherwise nothing is sent and C(changed) is false.
  - In check mode only the Discover runs, and the result says whether the device would
    be set.
version_added: 1.0.0
author:
  - Nodewarden Developers <team@nodewarden.dev> (@nodewarden)
options:
  mac:
    description:
      - The device, by MAC address (twelve hex digits, with or without C(:) or C(-)
        separators, either case).
    type: str
    required: true
  ip:
    description:
      - The address, in dotted form.
    type: str
    required: true
  netmask:
    description:
      - The netmask, in dotted form (a run of ones followed by zeros).
    type: str
    required: true
attributes:
  check_mode:
    description: Can run in check mode and return the changes it would make.
    support: full
    details:
      - Discovers the device and reports whether its address would change; nothing is sent to set it.
  diff_mode:
    description: Returns details on what changed (or, in check mode, would change) with C(--diff).
    support: full
    details:
      - Shows the device's address and netmask before and after.
extends_documentation_fragment:
  - nodewarden.fleet.common
'''

EXAMPLES = r'''
- name: The lobby access point on its fixed address
  nodewarden.fleet.address:
    home: /srv/nodewarden
    mac: 02:1A:2B:00:00:07
    ip: 10.20.0.17
    netmask: 255.255.255.0
'''

RETURN = r'''
mac:
  description: The device's MAC address, twelve upper-case hex digits.
  returned: always
  type: str
  sample: 021A2B000007
before:
  description: The address and netmask the device reported before.
  returned: when the device was found
  type: dict
  contains:
    ip:
      description: The address.
      type: str
    netmask:
      description: The netmask.
      type: str
  sample: {ip: 192.168.0.56, netmask: 255.255.255.0}
after:
  description: The address and netmask the device has now (in check mode, would have).
  returned: when the device was found
  type: dict
  sample: {ip: 10.20.0.17, netmask: 255.255.255.0}
status:
  description: The device's final Status when it was set, else absent.
  returned: when the device was set
  type: str
  sample: OK
'''

import ipaddress

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.nodewarden.fleet.plugins.module_utils.nodewarden import (
    COMMON_ARGUMENT_SPEC,
    STATUS_OK,
    Console,
    failed_rows_message,
    normalize_mac,
    printable,
)


def dotted(module, text, what):
    """The address in plain dotted form, or fails the task."""
    try:
        return str(ipaddress.IPv4Address(text.strip()))
    except ValueError:
        module.fail_json(msg='%s is not an address in dotted form: %s' % (what, printable(text)))


def main():
    arguments = dict(COMMON_ARGUMENT_SPEC)
    arguments.update(
        mac=dict(type='str', required=True),
        ip=dict(type='str', required=True),
        netmask=dict(type='str', required=True),
    )
    module = AnsibleModule(argument_spec=arguments, supports_check_mode=True)
    mac = normalize_mac(module.params['mac'])
    if mac is None:
        module.fail_json(msg="'%s' is not a MAC address" % printable(module.params['mac']))
    ip = dotted(module, module.params['ip'], 'ip')
    netmask = dotted(module, module.params['netmask'], 'netmask')
    try:
        ipaddress.IPv4Network('0.0.0.0/%s' % netmask)
    except ValueError:
        module.fail_json(msg='netmask %s is not a run of ones followed by zeros' % netmask)

    console = Console(module)
    device = dict((d['mac'], d) for d in console.discover()).get(mac)
    if device is None:
        module.fail_json(msg='not found by Discover: %s' % mac, mac=mac)
    before = dict(ip=device['ip'], netmask=device['netmask'])
    after = dict(ip=ip, netmask=netmask)
    result = dict(mac=mac, before=before, after=after, changed=before != after)
    if module._diff:
        result['diff'] = dict(
            before_header=mac, after_header=mac,
            before='ip: %(ip)s\nnetmask: %(netmask)s\n' % dict((k, printable(v)) for k, v in before.items()),
            after='ip: %(ip)s\nnetmask: %(netmask)s\n' % after)
    if before == after or module.check_mode:
        module.exit_json(**result)

    rc, rows, err = console.run_json(
        'set-ip', ['--mac', mac, '--ip', ip, '--mask', netmask, '--yes'], 'set-ip')
    row = next((r for r in rows if normalize_mac(r.get('Mac Address')) == mac), None)
    if row is None:
        console.fail('set-ip reported no row for %s' % mac, rc=rc, err=err, mac=mac)
    result['status'] = row.get('Status', '')
    if result['status'] != STATUS_OK:
        # Whether the device took the address is not known: it did not confirm it.
        result['changed'] = False
        module.fail_json(msg='set-ip failed: %s' % failed_rows_message([row]), **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
