#!/usr/bin/env python3
"""Writes a scenario of the scripted service stand-in for the resource
benchmark: TARGETS targets, each with PORTALS portals in groups of 8, every
login succeeding.

    resources_scenario.py TARGETS PORTALS > file.scenario

The portal addresses are of the documentation range: the stand-in answers
every call itself, nothing is ever sent to them.
"""
import sys

PORTALS_PER_GROUP = 8


def quoted(text):
    return '"%s"' % text


def main(argv):
    targets, portals = int(argv[1]), int(argv[2])
    names = ['iqn.2026-12.test.bench:target-%03d' % i for i in range(targets)]
    out = [
        'GetIScsiVersionInformation 0 u32 6 2 9200',
        'GetIScsiInitiatorNodeNameW 0 wide "iqn.2026-12.test.bench:node"',
        'ReportIScsiInitiatorListW 0 list "Root\\ISCSIPRT\\0000_0"',
        'AddIScsiSendTargetPortalW 0',
        'ReportIScsiTargetsW 0 list ' + ' '.join(quoted(name) for name in names),
        'default LoginIScsiTargetW 0',
        'default RemoveIScsiPersistentTargetW 0',
    ]
    for index, name in enumerate(names):
        groups = [list(range(start, min(start + PORTALS_PER_GROUP, portals)))
                  for start in range(0, portals, PORTALS_PER_GROUP)]
        out.append('# ' + name)
        out.append('GetIScsiTargetInformationW 0 list "SendTargets 192.0.2.1:3260"')
        out.append('GetIScsiTargetInformationW 0 u32 0')
        out.append('GetIScsiTargetInformationW 0 wide "alias-%03d"' % index)
        out.append('GetIScsiTargetInformationW 0 u32 %d' % len(groups))
        for group in groups:
            out.append('    group %d' % len(group))
            for portal in group:
                out.append('    portal "192.0.2.%d" %d "portal-%d"' % (portal + 10, 3260 + index,
                                                                   portal))
        out.append('GetIScsiTargetInformationW 0 list "Root\\ISCSIPRT\\0000_0"')
        out.append('GetIScsiTargetInformationW 0 u32 0')
        out.append('GetIScsiTargetInformationW 0 loginoptions info=0xE0 auth=1 flags=2 '
                   'username="%s" password="bench-secret"' % name)
    sys.stdout.write('\n'.join(out) + '\n')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
