#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_target_report into corpus/fuzz_target_report/.

Each seed is a whole run that the fuzz-driven service (fuzz_service.cpp)
answers call by call; this script lays the bytes down in the order that
service takes them, so that the fuzzer starts from runs that reach the
reports, the portal groups, the login options and the logins.  Run it again
after changing the order in which fuzz_service.cpp reads its input.
"""
import os
import struct
import sys

OK, TOO_SMALL, FAIL = 0x00, 0x90, 0xB0          # takeStatus choices
LOGIN_OPTIONS_BYTES = 64                        # 64-bit layout


def text(value, wide=False):
    """appendTakenText: header, length, characters (no terminator)."""
    chars = value.encode('latin-1') if not wide else value.encode('utf-16-le')
    count = len(value)
    header = 0x80 if wide else 0
    if count > 255:
        return bytes([header | 0x40, 0]) + struct.pack('<H', count) + chars
    return bytes([header, count]) + chars


def multi(*names):
    return '\0'.join(names) + '\0\0'


def answer_list(names):
    return bytes([OK]) + text(multi(*names) if names else '') + b'\0'


def info_pair(payload, fixup=b''):
    """A structured payload, 122 with the exact size, then the data."""
    return b'\0' + payload + bytes([TOO_SMALL, 0]) + bytes([OK]) + fixup + b'\0'


def portal(address, socket, symbolic=''):
    return text(symbolic) + text(address) + struct.pack('<H', socket)


def portal_groups(groups):
    out = bytes([len(groups), 0])
    for group in groups:
        out += bytes([len(group)])
        for address, socket in group:
            out += portal(address, socket)
    return out


def login_options(mask, auth, user_name):
    record = struct.pack('<11I', 0, mask, 0x2, auth, 0, 0, 1, 2, 20, len(user_name), 0)
    record += b'\0' * (LOGIN_OPTIONS_BYTES - len(record))
    name = user_name.encode('latin-1')
    return record + bytes([len(name), 1]) + name


def target(mechanism, groups, initiator, user_name, logins):
    out = info_pair(text(mechanism + '\0'))
    out += info_pair(bytes([0, 0]))                       # ProtocolType: TCP
    out += info_pair(text('alias\0'))
    out += info_pair(portal_groups(groups))
    out += info_pair(text(multi(initiator)))
    out += info_pair(bytes([0, 2]))                       # TargetFlags: hidden
    out += info_pair(login_options(0xE0, 1, user_name), fixup=bytes([0x80, 1]))
    for result in logins:
        out += bytes([OK])                                # removal before the logins
        if result == 'ok':
            out += bytes([OK]) + bytes(range(32)) + bytes([OK]) + bytes(range(32, 64))
        else:
            # The persistent login fails (its text from the system's table),
            # the removal after it succeeds.
            out += bytes([FAIL, 0, OK])
    return out


def start(node='iqn.2026-01.test:node', instances=('Root\\ISCSIPRT\\0000_0',)):
    out = bytes([OK]) + struct.pack('<3I', 6, 2, 9200)
    out += bytes([OK]) + text(node + '\0') + b'\0'
    out += answer_list(list(instances))
    return out


def seeds():
    two_groups = [[('192.0.2.1', 3260), ('192.0.2.2', 3260)], [('192.0.2.3', 3261)]]
    yield 'all_portals', bytes([1]) + start() + bytes([OK]) + answer_list(
        ['iqn.2026-01.test:one', 'iqn.2026-01.test:two']) + target(
        'SendTargets 192.0.2.1:3260', two_groups, 'Root\\ISCSIPRT\\0000_0', 'iqn.2026-01.test:one',
        ['ok', 'ok', 'fail']) + target(
        'SendTargets 192.0.2.1:3260', two_groups, 'Root\\ISCSIPRT\\0000_0', 'iqn.2026-01.test:two',
        ['fail', 'ok', 'ok'])
    yield 'matching_portal', bytes([0]) + start() + bytes([OK]) + answer_list(
        ['iqn.2026-01.test:one']) + target(
        'SendTargets 192.0.2.1:3260', [[('192.0.2.1', 3260)]], 'Root\\ISCSIPRT\\0000_0',
        'iqn.2026-01.test:one', ['ok'])
    many = [[('192.0.2.%d' % (i + 1), 3260) for i in range(20)]]
    yield 'more_portals_than_table', bytes([1]) + start() + bytes([OK]) + answer_list(
        ['iqn.2026-01.test:many']) + target(
        'SendTargets 192.0.2.1:3260', many, 'Root\\ISCSIPRT\\0000_0', 'x' * 20, ['ok'] * 16)
    long_name = 'iqn.2026-01.test:' + 'n' * 300
    yield 'long_target_name', bytes([2]) + start() + bytes([OK]) + answer_list(
        [long_name]) + target('SendTargets 192.0.2.1:3260', [[('192.0.2.1', 3260)]], '',
                              'u' * 200, ['ok'])
    yield 'usage', bytes([6]) + start() + bytes([OK]) + text('iqn.2026-01.test:node\0') + b'\0'
    yield 'target_list_fails', bytes([0]) + start() + bytes([OK, TOO_SMALL, 0x00, 0x20])


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus', 'fuzz_target_report')
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(folder, 'seed_' + name), 'wb') as out:
            out.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main())
