#!/usr/bin/env python3
"""The hostile target seen by a raw client: each mode sends the broken bytes
it is meant to, on loopback, and the peer stops when asked (by its pid) or
at the end of its lifetime."""
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
PEER = os.path.join(HERE, 'hostile_target.py')
IO_TIMEOUT = 5.0


def start_peer(mode, folder, lifetime=30, log=None):
    """Starts the peer (with its event log in the file log, when given);
    returns (process, port).  Waits at most 10 s."""
    # A file of its own for each peer: a folder may serve several in turn.
    port_file = os.path.join(folder, 'port-%s-%d' % (mode, time.monotonic_ns()))
    command = [sys.executable, PEER, '--mode', mode, '--port-file', port_file,
               '--lifetime', str(lifetime)]
    if log is not None:
        command += ['--log', log]
    process = subprocess.Popen(command)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if os.path.exists(port_file):
            with open(port_file) as source:
                return process, int(source.read())
        if process.poll() is not None:
            break
        time.sleep(0.05)
    stop_peer(process)
    raise AssertionError('hostile target did not start in mode ' + mode)


def stop_peer(process):
    if process.poll() is None:
        os.kill(process.pid, 15)
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            os.kill(process.pid, 9)
            process.wait(timeout=5)


def keys(*pairs):
    return b''.join(('%s=%s' % pair).encode() + b'\0' for pair in pairs)


def parse_keys(data):
    return [tuple(item.decode('latin-1').split('=', 1)) for item in data.split(b'\0') if item]


def request(opcode, flags, data, itt, cmd_sn, immediate=True):
    header = bytearray(48)
    header[0] = opcode | (0x40 if immediate else 0)
    header[1] = flags
    header[5:8] = len(data).to_bytes(3, 'big')
    header[8:14] = b'\x80\x00\x00\x00\x00\x01'     # ISID
    header[16:20] = struct.pack('>I', itt)
    header[24:28] = struct.pack('>I', cmd_sn)
    return bytes(header) + data + b'\0' * (-len(data) % 4)


def login(stage, following, transit, data, itt=1):
    flags = (0x80 if transit else 0) | (stage << 2) | (following if transit else 0)
    return request(0x03, flags, data, itt, 0)


def receive_all(connection):
    """Every byte until the peer closes (bounded by the socket timeout)."""
    chunks = []
    while True:
        chunk = connection.recv(65536)
        if not chunk:
            return b''.join(chunks)
        chunks.append(chunk)


def receive_exact(connection, count):
    data = b''
    while len(data) < count:
        chunk = connection.recv(count - len(data))
        if not chunk:
            raise AssertionError('connection closed after %d of %d bytes' % (len(data), count))
        data += chunk
    return data


def receive_pdu(connection):
    header = receive_exact(connection, 48)
    length = int.from_bytes(header[5:8], 'big')
    data = receive_exact(connection, length + (-length % 4))[:length]
    return header, data


DISCOVERY_KEYS = keys(('InitiatorName', 'iqn.2026-12.test:raw-client'),
                      ('SessionType', 'Discovery'), ('AuthMethod', 'None'))
OPERATIONAL_KEYS = keys(('HeaderDigest', 'None'), ('DataDigest', 'None'),
                        ('MaxRecvDataSegmentLength', '65536'))


class HostileTargetTest(unittest.TestCase):

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.process = None
        self.connection = None

    def tearDown(self):
        if self.connection is not None:
            self.connection.close()
        if self.process is not None:
            stop_peer(self.process)
        self.folder.cleanup()

    def connect(self, mode):
        self.process, port = start_peer(mode, self.folder.name)
        self.port = port
        self.connection = socket.create_connection(('127.0.0.1', port), timeout=IO_TIMEOUT)
        return self.connection

    def discovery_login(self, connection):
        """Security then operational stage; returns the final response."""
        connection.sendall(login(0, 1, True, DISCOVERY_KEYS))
        header, data = receive_pdu(connection)
        self.assertEqual((header[0], header[36], header[37]), (0x23, 0, 0))
        self.assertIn(('AuthMethod', 'None'), parse_keys(data))
        connection.sendall(login(1, 3, True, OPERATIONAL_KEYS))
        header, data = receive_pdu(connection)
        self.assertEqual((header[0], header[1], header[36]), (0x23, 0x80 | (1 << 2) | 3, 0))
        self.assertNotEqual(header[14:16], b'\0\0', 'the last login response names a session')
        self.assertIn(('HeaderDigest', 'None'), parse_keys(data))
        return header

    def send_targets(self, connection, raw=False):
        connection.sendall(request(0x04, 0x80, keys(('SendTargets', 'All')), 2, 1))
        header, data = receive_pdu(connection)
        self.assertEqual((header[0], header[1] & 0xC0), (0x24, 0x80))
        return data if raw else parse_keys(data)

    def test_truncated_login_response(self):
        connection = self.connect('truncated')
        connection.sendall(login(0, 1, True, DISCOVERY_KEYS))
        received = receive_all(connection)
        self.assertEqual(len(received), 20, 'a header cut after 20 of 48 bytes, then the end')
        self.assertEqual(received[0], 0x23)

    def test_oversized_login_response(self):
        connection = self.connect('oversized')
        connection.sendall(login(0, 1, True, DISCOVERY_KEYS))
        header = receive_exact(connection, 48)
        self.assertEqual(header[0], 0x23)
        self.assertEqual(int.from_bytes(header[5:8], 'big'), 0xFFFFFF)
        rest = receive_all(connection)
        self.assertEqual(len(rest), 1024, 'far less data than the header declares')

    def test_login_that_never_completes(self):
        connection = self.connect('stall')
        connection.sendall(login(0, 1, True, DISCOVERY_KEYS))
        connection.settimeout(1.0)
        with self.assertRaises(socket.timeout):
            connection.recv(1)   # neither an answer nor the end of the stream

    def test_connection_dropped_in_the_middle_of_a_login(self):
        connection = self.connect('drop')
        connection.sendall(login(0, 1, True, DISCOVERY_KEYS))
        header, _ = receive_pdu(connection)
        self.assertEqual((header[0], header[36]), (0x23, 0), 'the first stage is answered')
        connection.sendall(login(1, 3, True, OPERATIONAL_KEYS))
        self.assertEqual(receive_all(connection), b'', 'the second stage gets no byte')

    def test_drop_of_a_login_that_asks_for_the_last_stage_at_once(self):
        connection = self.connect('drop')
        connection.sendall(login(1, 3, True, DISCOVERY_KEYS + OPERATIONAL_KEYS))
        self.assertEqual(receive_all(connection), b'')

    def test_send_targets_answer_longer_than_the_target_list(self):
        connection = self.connect('many-targets')
        self.discovery_login(connection)
        answer = self.send_targets(connection)
        names = [value for key, value in answer if key == 'TargetName']
        addresses = [value for key, value in answer if key == 'TargetAddress']
        self.assertEqual(len(names), 40)
        self.assertEqual(len(set(names)), 40, 'every name distinct')
        # As a list of terminated names with its closing empty name.
        self.assertGreater(sum(len(name) + 1 for name in names) + 1, 4096)
        self.assertEqual(addresses, ['127.0.0.1:%d,1' % self.port] * 40)
        connection.sendall(request(0x06, 0x80, b'', 3, 2))
        header, _ = receive_pdu(connection)
        self.assertEqual(header[0], 0x26)

    def test_send_targets_answer_cut_in_its_data(self):
        connection = self.connect('truncated-answer')
        self.discovery_login(connection)
        connection.sendall(request(0x04, 0x80, keys(('SendTargets', 'All')), 2, 1))
        header = receive_exact(connection, 48)
        self.assertEqual(header[0], 0x24)
        declared = int.from_bytes(header[5:8], 'big')
        data = receive_all(connection)
        self.assertGreater(declared, 0)
        self.assertEqual(len(data), declared // 2, 'half the declared data, then the end')
        self.assertTrue(data.startswith(b'TargetName=iqn.2026-12.test'), data)

    def test_target_addresses_without_port_or_with_garbage(self):
        connection = self.connect('bad-addresses')
        self.discovery_login(connection)
        answer = self.send_targets(connection)
        self.assertEqual([value for key, value in answer if key == 'TargetAddress'],
                         ['127.0.0.1', '127.0.0.1:', '127.0.0.1:port,1', '127.0.0.1:99999,1',
                          '[::1:3260,1', ',7', '127.0.0.1:\x01\x02', ''])
        self.assertEqual(len([key for key, _ in answer if key == 'TargetName']), 8)

    def test_normal_login_refused_as_not_found(self):
        connection = self.connect('bad-addresses')
        connection.sendall(login(0, 1, True, keys(
            ('InitiatorName', 'iqn.2026-12.test:raw-client'), ('SessionType', 'Normal'),
            ('TargetName', 'iqn.2026-12.test.hostile:noport'), ('AuthMethod', 'None'))))
        header, _ = receive_pdu(connection)
        self.assertEqual((header[0], header[36], header[37]), (0x23, 0x02, 0x03))

    def test_only_loopback_is_served(self):
        result = subprocess.run([sys.executable, PEER, '--mode', 'stall', '--host', '192.0.2.1',
                                 '--lifetime', '1'], capture_output=True, timeout=30)
        self.assertEqual(result.returncode, 2)
        self.assertIn(b'only loopback', result.stderr)

    def test_stops_by_itself_at_the_end_of_its_lifetime(self):
        process, _ = start_peer('stall', self.folder.name, lifetime=1)
        self.process = process
        self.assertEqual(process.wait(timeout=15), 0)


    def test_target_names_no_initiator_may_take_around_a_healthy_one(self):
        connection = self.connect('bad-names')
        self.discovery_login(connection)
        data = self.send_targets(connection, raw=True)
        names = [item[len(b'TargetName='):] for item in data.split(b'\0')
                 if item.startswith(b'TargetName=')]
        healthy = ('iqn.2026-12.test.hostile:healthy-%d' % self.port).encode()
        self.assertEqual(len(names), 7)
        self.assertEqual(names[1], healthy)
        bad = names[:1] + names[2:]
        self.assertIn(b'\xff\xfe', bad[0])
        for marker in (b'\x1b]0;', b'\x1b[2J', b'\r', '\u009b'.encode('utf-8')):
            self.assertEqual(len([name for name in bad if marker in name]), 1, marker)
        self.assertEqual(len([name for name in bad if len(name) == 224]), 1)
        self.assertEqual(data.count(('TargetAddress=127.0.0.1:%d,1' % self.port).encode()), 7)

    def test_logs_connections_and_discoveries_and_stalls_only_the_first(self):
        log = os.path.join(self.folder.name, 'events')
        self.process, port = start_peer('stall-first', self.folder.name, log=log)
        first = socket.create_connection(('127.0.0.1', port), timeout=IO_TIMEOUT)
        try:
            first.sendall(login(0, 1, True, DISCOVERY_KEYS))
            self.connection = socket.create_connection(('127.0.0.1', port), timeout=IO_TIMEOUT)
            self.port = port
            self.discovery_login(self.connection)
            answer = self.send_targets(self.connection)
            self.assertEqual(answer, [('TargetName', 'iqn.2026-12.test.hostile:healthy-%d' % port),
                                      ('TargetAddress', '127.0.0.1:%d,1' % port)])
            first.settimeout(0.5)
            with self.assertRaises(socket.timeout):
                first.recv(1)   # the first connection is never answered
        finally:
            first.close()
        with open(log) as events:
            self.assertEqual(events.read().split(), ['connection', 'connection', 'discovery'])


if __name__ == '__main__':
    unittest.main()
