#!/usr/bin/env python3
"""The real targetlogin over the Linux service against the hostile target.

Each run prints its failure line with its text, ends within the service's
step time bound (shortened here through ISCSI_TOOLS_TIMEOUT_MS) with the
exit code of the run sequence, and leaves the service's store (a private
one, ISCSI_TOOLS_STATE_DIR) usable by the next run.  HOSTILE_TARGETLOGIN
names the executable."""
import os
import subprocess
import tempfile
import time
import unittest

from test_hostile_target import start_peer, stop_peer

EXECUTABLE = os.environ.get('HOSTILE_TARGETLOGIN')
STEP_TIMEOUT_MS = 1000
# A run makes a handful of bounded steps; far below this even on a busy CI.
RUN_LIMIT_SECONDS = 20

NOT_ISCSI = 'The target portal does not answer as an iSCSI target. '
CLOSED = 'The target portal closed the connection. '
NO_DISCOVERY = 'The target portal did not complete SendTargets discovery. '
# A peer that sends a broken answer and closes may be seen as either.
BROKEN = (NOT_ISCSI, CLOSED)
NO_ANSWER = 'The target portal did not answer in time. '
TOO_SMALL = 'The data area passed to a system call is too small. '
NO_SUCH_TARGET = 'The target refused the login: it has no target of this name. '
REFUSED = 'The target portal refused the connection. '

LOGIN_TARGET = 'iqn.2026-12.test.hostile:login'
# Bytes that no report line may carry: escape, bell, carriage return, C1
# controls (as UTF-8) and bytes that are not UTF-8.
CONTROL_BYTES = [b'\x1b', b'\x07', b'\r', b'\xc2\x9b', b'\xff', b'\xfe']


def healthy_name(port):
    return 'iqn.2026-12.test.hostile:healthy-%d' % port


def read_events(path):
    """The events a peer logged so far (none while its log does not exist)."""
    try:
        with open(path) as events:
            return events.read().split()
    except FileNotFoundError:
        return []


@unittest.skipUnless(EXECUTABLE, 'HOSTILE_TARGETLOGIN names no targetlogin')
class TargetloginAgainstHostileTarget(unittest.TestCase):

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.environment = dict(os.environ)
        self.environment['ISCSI_TOOLS_STATE_DIR'] = os.path.join(self.folder.name, 'state')
        self.environment['ISCSI_TOOLS_TIMEOUT_MS'] = str(STEP_TIMEOUT_MS)

    def run_tool(self, *arguments, step_ms=STEP_TIMEOUT_MS):
        """(exit code, standard output, seconds taken) of one bounded run;
        the output's bytes are kept in self.raw_output."""
        started = time.monotonic()
        environment = dict(self.environment, ISCSI_TOOLS_TIMEOUT_MS=str(step_ms))
        result = subprocess.run([EXECUTABLE] + list(arguments), env=environment,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=RUN_LIMIT_SECONDS, stdin=subprocess.DEVNULL)
        elapsed = time.monotonic() - started
        self.assertEqual(result.stderr, b'', 'nothing on standard error')
        self.raw_output = result.stdout
        return result.returncode, result.stdout.decode('utf-8', 'replace'), elapsed

    def start_up_report(self):
        """The start-up report of this store: what a run with "-a" prints."""
        code, output, _ = self.run_tool('-a')
        self.assertEqual(code, 0)
        lines = output.split('\n')
        self.assertEqual(len(lines), 5, output)   # version, blank, node, instance, end
        self.assertTrue(lines[0].startswith('iSCSI Initiator version '), output)
        return output

    def peer(self, mode, log=None):
        process, port = start_peer(mode, self.folder.name, log=log)
        self.addCleanup(stop_peer, process)
        return process, port

    def reported_targets(self, output):
        prefix = 'Get Target information for '
        return [line[len(prefix):] for line in output.split('\n') if line.startswith(prefix)]

    def assert_no_control_bytes(self, raw):
        for byte in CONTROL_BYTES:
            self.assertNotIn(byte, raw)

    def one_target_report(self, port, instance, login_failure):
        return ''.join(line + '\n' for line in [
            'Get Target information for ' + LOGIN_TARGET,
            'Discovery Mechanism: SendTargets 127.0.0.1:%d' % port,
            '    Protocol Type        : iSCSI TCP Protocol',
            '    Target Alias         : ',
            '    PortalGroups         : 1 portal groups',
            '        Group 0 has 1 portals',
            '            Address and Socket    : 127.0.0.1 %d' % port,
            '            Symbolic Name         : ',
            '    Initiator Name       : ' + instance,
            '    Target Flags         : 0x0',
            '    Version              : 0',
            '    Information Specified: 0x0',
            '    Login Flags          : 0x0',
            '>           Address and Socket    : 127.0.0.1 %d' % port,
            'LoginTarget to %s on %s to 127.0.0.1/%d' % (LOGIN_TARGET, instance, port),
            '    Login Failed : ' + login_failure])

    def test_broken_logins_to_the_portal_then_a_usable_store(self):
        start_up = self.start_up_report()
        cases = [('truncated', BROKEN), ('oversized', BROKEN), ('stall', (NO_ANSWER,)),
                 ('drop', BROKEN), ('truncated-answer', (NO_DISCOVERY,))]
        for mode, texts in cases:
            with self.subTest(mode=mode):
                process, port = self.peer(mode)
                code, output, elapsed = self.run_tool('127.0.0.1', '-p', str(port))
                stop_peer(process)
                self.assertIn(output, [start_up + 'Error adding target portal 127.0.0.1: %s\n' % text
                                       for text in texts])
                self.assertEqual(code, 1)
                if mode == 'stall':
                    self.assertGreaterEqual(elapsed, STEP_TIMEOUT_MS / 1000.0 * 0.9)
                self.assertLess(elapsed, 3 * STEP_TIMEOUT_MS / 1000.0 + 2)

        # The failed registrations left nothing behind: a proper discovery in
        # the same store reports every target the peer names.
        _, port = self.peer('bad-addresses')
        code, output, elapsed = self.run_tool('127.0.0.1', '-p', str(port), '-a')
        self.assertEqual(code, 0, output)
        self.assertTrue(output.startswith(start_up), output)
        reports = [line for line in output.split('\n') if line.startswith('Get Target information')]
        self.assertEqual(len(reports), 8, output)
        failures = [line for line in output.split('\n') if line.startswith('    Login Failed : ')]
        self.assertEqual(len(failures), 8, output)
        for line in failures:
            self.assertIn(line[len('    Login Failed : '):], (NO_SUCH_TARGET, REFUSED))
        self.assertNotIn('Connection complete', output)
        self.assertLess(elapsed, RUN_LIMIT_SECONDS)

    def test_target_list_longer_than_its_buffer(self):
        start_up = self.start_up_report()
        _, port = self.peer('many-targets')
        for _ in range(2):   # the second run finds the store as the first left it
            code, output, elapsed = self.run_tool('127.0.0.1', '-p', str(port))
            self.assertEqual(output, start_up + 'Error getting target list: %s\n' % TOO_SMALL)
            self.assertEqual(code, 1)
            self.assertLess(elapsed, 3 * STEP_TIMEOUT_MS / 1000.0 + 2)
        self.assertEqual(self.start_up_report(), start_up)

    def login_failure_twice(self, mode, texts, at_least):
        start_up = self.start_up_report()
        instance = start_up.split('\n')[3]
        _, port = self.peer(mode)
        for _ in range(2):   # the failed login's clean-up leaves the store as before
            code, output, elapsed = self.run_tool('127.0.0.1', '-p', str(port))
            self.assertIn(output, [start_up + self.one_target_report(port, instance, text)
                                   for text in texts])
            self.assertEqual(code, 0)
            self.assertGreaterEqual(elapsed, at_least)
            self.assertLess(elapsed, 4 * STEP_TIMEOUT_MS / 1000.0 + 2)

    def test_login_response_that_never_completes(self):
        self.login_failure_twice('stall-login', (NO_ANSWER,), STEP_TIMEOUT_MS / 1000.0 * 0.9)

    def test_connection_dropped_in_the_middle_of_a_login(self):
        self.login_failure_twice('drop-login', BROKEN, 0)


    def test_target_names_that_are_not_utf8_or_hold_control_characters(self):
        start_up = self.start_up_report()
        _, port = self.peer('bad-names')
        code, output, _ = self.run_tool('127.0.0.1', '-p', str(port))
        self.assertEqual(code, 0, output)
        self.assertTrue(output.startswith(start_up), output)
        self.assertEqual(self.reported_targets(output), [healthy_name(port)])
        self.assertIn('Connection complete\n', output)
        self.assert_no_control_bytes(self.raw_output)

        # A later run that names only a healthy portal re-asks both and
        # reports both healthy targets.
        _, other = self.peer('healthy')
        code, output, _ = self.run_tool('127.0.0.1', '-p', str(other))
        self.assertEqual(code, 0, output)
        self.assertEqual(self.reported_targets(output), [healthy_name(port), healthy_name(other)])
        self.assert_no_control_bytes(self.raw_output)

    def test_a_failed_registration_leaves_the_one_another_run_made_meanwhile(self):
        self.start_up_report()
        log = os.path.join(self.folder.name, 'events')
        _, port = self.peer('stall-first', log=log)
        # The first run's discovery is never answered; while it waits, a
        # second run registers the same portal.
        slow_step_ms = 6000
        slow = subprocess.Popen([EXECUTABLE, '127.0.0.1', '-p', str(port)],
                                env=dict(self.environment, ISCSI_TOOLS_TIMEOUT_MS=str(slow_step_ms)),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                stdin=subprocess.DEVNULL)
        self.addCleanup(lambda: slow.poll() is None and (slow.kill(), slow.wait()))
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and not read_events(log):
            time.sleep(0.02)
        code, output, _ = self.run_tool('127.0.0.1', '-p', str(port))
        self.assertEqual(code, 0, output)
        self.assertEqual(self.reported_targets(output), [healthy_name(port)])
        self.assertIsNone(slow.poll(), 'the second run outlasted the first one\'s wait')
        slow_output, _ = slow.communicate(timeout=RUN_LIMIT_SECONDS)
        self.assertEqual(slow.returncode, 1)
        self.assertTrue(slow_output.decode().endswith(
            'Error adding target portal 127.0.0.1: %s\n' % NO_ANSWER), slow_output)

        # The registration of the second run outlived the first run's clean-up.
        _, other = self.peer('healthy')
        code, output, _ = self.run_tool('127.0.0.1', '-p', str(other))
        self.assertEqual(code, 0, output)
        self.assertEqual(self.reported_targets(output), [healthy_name(port), healthy_name(other)])

    def test_a_portal_registered_in_this_run_is_discovered_once(self):
        self.start_up_report()
        log = os.path.join(self.folder.name, 'events')
        _, port = self.peer('healthy', log=log)
        _, stalled = self.peer('stall')
        # The stalled portal's registration holds the run for over 5 s
        # before the target list is asked for.
        code, output, elapsed = self.run_tool('127.0.0.1', '-p', str(port), '127.0.0.1', '-p',
                                              str(stalled), step_ms=5300)
        self.assertEqual(code, 0, output)
        self.assertGreater(elapsed, 5.3)
        self.assertIn('Error adding target portal 127.0.0.1: %s\n' % NO_ANSWER, output)
        self.assertEqual(self.reported_targets(output), [healthy_name(port)])
        self.assertIn('Connection complete\n', output)
        self.assertEqual(read_events(log).count('discovery'), 1)


if __name__ == '__main__':
    unittest.main()
