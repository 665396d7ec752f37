# -*- coding: utf-8 -*-
# Copyright: Nodewarden Developers <team@nodewarden.dev>
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)
# The module utilities on their own: what reaches a task's output from the network or from
# the command line. Runs with unittest (python3 -m unittest) or pytest.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import unittest

from ansible_collections.nodewarden.fleet.plugins.module_utils.nodewarden import (
    MASK,
    failed_rows_message,
    masked_changes,
    normalize_mac,
    parse_rows,
    printable,
)


class FakeModule:
    def __init__(self):
        self.no_log_values = set()


class TestMaskedChanges(unittest.TestCase):

    def test_keys_masked_and_their_values_kept_from_all_output(self):
        module = FakeModule()
        changes = [
            dict(name='80211a_wep_key1', before='0x5E 0xC4 0x1A 0x7B 0x93', after='empty'),
            dict(name='80211B_WEP128_KEY2', before=None, after='0x01 0x02 0x03 0x04 0x05'),
            dict(name='80211b_ssid', before='Lobby', after='Hall'),
            dict(name='80211b_active_key_index', before='1', after='2'),
        ]
        out = masked_changes(module, changes)
        self.assertEqual(out[0], dict(name='80211a_wep_key1', before=MASK, after=MASK, masked=True))
        # A key set where there was none still says so.
        self.assertEqual((out[1]['before'], out[1]['after']), (None, MASK))
        self.assertEqual(out[2:], changes[2:])
        self.assertEqual(module.no_log_values,
                         set(['0x5E 0xC4 0x1A 0x7B 0x93', '0x01 0x02 0x03 0x04 0x05']))
        # The command line's own list is left as it was.
        self.assertEqual(changes[0]['before'], '0x5E 0xC4 0x1A 0x7B 0x93')


class TestDeviceText(unittest.TestCase):

    def test_macs(self):
        self.assertEqual(normalize_mac(' 02:1a:2b:0a-0B0c '), '021A2B0A0B0C')
        for text in ('021A2B0A0B0', '021A2B0A0B0C0', '021A2B0A0B0G', '', None, 55):
            self.assertIsNone(normalize_mac(text), text)

    def test_text_from_the_network_cannot_forge_lines(self):
        self.assertEqual(printable('AP\r\nok: [x]\x1b[2J\\\x9b'), 'AP\\x0D\\x0Aok: [x]\\x1B[2J\\\\\\x9B')
        rows = [{'Mac Address': '021A2B000001', 'Status': 'OK'},
                {'Mac Address': '021A2B000002\n', 'Status': 'Password Error!'},
                {'Mac Address': '021A2B000003'}]
        self.assertEqual(failed_rows_message(rows),
                         '021A2B000002\\x0A: Password Error!; 021A2B000003: no Status')

    def test_rows(self):
        self.assertEqual(parse_rows('[{"Status": "OK"}]'), [{'Status': 'OK'}])
        for out in ('', 'nodewarden: no device answered', '{"Status": "OK"}', '[1]', '[[]]'):
            self.assertIsNone(parse_rows(out), out)


if __name__ == '__main__':
    unittest.main()
