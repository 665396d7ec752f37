#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Nodewarden Developers <team@nodewarden.dev>
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: devices
short_description: List the access points that answer the console's Discover
description:
  - Runs C(nodewarden discover) on the console host and returns the devices that
    answered, as the console's device list shows them.
  - Never changes anything, on the devices or on the console.
  - No device answering is not a failure; the list is then empty and a warning says so.
version_added: 1.0.0
author:
  - Nodewarden Developers <team@nodewarden.dev> (@nodewarden)
options: {}
attributes:
  check_mode:
    description: Can run in check mode and return the changes it would make.
    support: full
    details:
      - Lists the devices; nothing is changed in either mode.
  diff_mode:
    description: Returns details on what changed (or, in check mode, would change) with C(--diff).
    support: N/A
    details:
      - The module changes nothing, so there is nothing to show.
extends_documentation_fragment:
  - nodewarden.fleet.common
'''

EXAMPLES = r'''
- name: List the access points of the site
  nodewarden.fleet.devices:
    home: /srv/nodewarden
  register: found

- name: Show each device's MAC and version
  ansible.builtin.debug:
    msg: "{{ found.devices | map(attribute='mac') | zip(found.devices | map(attribute='firmware')) | list }}"
'''

RETURN = r'''
devices:
  description: The devices in the order in which they answered.
  returned: always
  type: list
  elements: dict
  contains:
    model:
      description: The model name the device reports.
      type: str
      sample: KTR-4200
    mac:
      description: The MAC address, twelve upper-case hex digits.
      type: str
      sample: 021A2B000001
    ip:
      description: The IP address.
      type: str
      sample: 192.168.0.50
    netmask:
      description: The netmask.
      type: str
      sample: 255.255.255.0
    firmware:
      description: The firmware version the device reports.
      type: str
      sample: 1.02.07u
    name:
      description: The device name.
      type: str
      sample: AP-000001
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.nodewarden.fleet.plugins.module_utils.nodewarden import (
    COMMON_ARGUMENT_SPEC,
    Console,
)


def main():
    module = AnsibleModule(argument_spec=dict(COMMON_ARGUMENT_SPEC), supports_check_mode=True)
    devices = Console(module).discover(allow_none=True)
    if not devices:
        module.warn('no device answered Discover')
    module.exit_json(changed=False, devices=devices)


if __name__ == '__main__':
    main()
