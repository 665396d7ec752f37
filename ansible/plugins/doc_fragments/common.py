# -*- coding: utf-8 -*-
# Copyright: Nodewarden Developers <team@nodewarden.dev>
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)
# The options every module of nodewarden.fleet takes.

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):

    DOCUMENTATION = r'''
options:
  home:
    description:
      - The console's data folder on the managed host, passed to the command line as
        C(--home). Its C(system.ini) holds the device access password, the NIMP address
        and ports, the TFTP port and the waiting times the operation uses.
      - Without it the command line finds the folder itself (C(NODEWARDEN_HOME), the
        program's folder, or the per-user data folder).
    type: path
  interface:
    description:
      - Local network interfaces the console uses, each passed as C(--interface NAME).
    type: list
    elements: str
    default: []
  parallel:
    description:
      - Devices that transfer files at once in this run (1 to 64), passed as
        C(--parallel). Without it C(ParallelTransfers) of C(system.ini) holds.
    type: int
  executable:
    description:
      - The nodewarden program, as a path or as a name looked up on the managed host's C(PATH).
    type: str
    default: nodewarden
notes:
  - Each managed host is the console of one site; the devices are found by broadcast on
    that host's LAN, so the modules run on the console host (a local connection there, or
    SSH to it).
  - The device password is never a module option; it comes from the console's own
    settings in C(system.ini) of I(home).
  - A device that does not end with the Status C(OK) fails the task; the message names
    each such device's MAC and Status.
requirements:
  - The nodewarden command line on the managed host.
attributes:
  platform:
    description: The system the module runs on.
    support: full
    platforms: posix
    details:
      - The managed host is the console host of a site, where the nodewarden command line
        runs (Debian 12 or another Linux).
'''

    # The devices an operation acts on: nodewarden.fleet.common.devices
    DEVICES = r'''
options:
  macs:
    description:
      - The devices, by MAC address (twelve hex digits, with or without C(:) or C(-)
        separators, either case).
      - Give I(macs) or I(all).
    type: list
    elements: str
  all:
    description:
      - Every device that answers Discover.
    type: bool
'''
