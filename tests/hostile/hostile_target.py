#!/usr/bin/env python3
"""A hostile iSCSI target on loopback: it speaks broken iSCSI on purpose.

    hostile_target.py --mode MODE [--host 127.0.0.1] [--port 0]
                      [--port-file FILE] [--lifetime SECONDS] [--log FILE]

It listens on the loopback address given (127.0.0.0/8 or ::1 only: any other
address is refused), writes the port it got to --port-file (or standard
output), and serves every connection the same way until it has lived
--lifetime seconds (default 60), then stops by itself.  With --log it
appends a line to FILE for each connection it accepts ("connection") and
each discovery login it completes ("discovery").  Modes:

  truncated     the login response is cut after 20 of its 48 header bytes,
                then the connection is closed
  oversized     the login response declares a data segment of 16 MiB - 1
                bytes, sends 1 KiB of it, and closes
  stall         a login request is read and never answered; the connection
                stays open until the initiator gives up
  drop          the first stage of a login is answered; the connection is
                closed when the next login request arrives (at once when
                the first request already asks for the last stage)
  many-targets  a proper discovery session whose SendTargets answer holds
                more target names than fit in 4096 characters
  bad-addresses a proper discovery session whose targets carry TargetAddress
                values without a port or with garbage; normal-session
                logins are refused with "target not found"
  stall-login   a proper discovery session that names one target at this
                portal; a normal-session login to it is never answered
  drop-login    the same target; a normal-session login has its first stage
                answered and the connection closed at the next request
  truncated-answer
                a proper discovery login; the SendTargets answer is cut in
                the middle of its data segment, then the connection closed
  healthy       a proper discovery session naming one target at this
                portal, iqn.2026-12.test.hostile:healthy-<port>; a
                normal-session login to it succeeds
  bad-names     as healthy, with target names before and after the healthy
                one that no initiator may take: not UTF-8, holding escape
                sequences (ESC ] title BEL, ESC [2J), a carriage return, a
                C1 control character, 224 bytes long
  stall-first   the first connection is served as in stall, every later
                one as in healthy
  many-portals  a proper discovery session naming --targets targets, each
                with --portals TargetAddress values 127.0.0.K:port (K = 1
                up; only 127.0.0.1 listens); normal-session logins are
                refused with "target not found" (for the resource benchmark)

Logins of the proper modes need no authentication and accept the first
digest offered among None; the discovery session is kept until the
initiator logs out or closes.
"""
import argparse
import ipaddress
import os
import signal
import socket
import struct
import sys
import threading
import time

BHS_BYTES = 48

OP_LOGIN_REQUEST = 0x03
OP_TEXT_REQUEST = 0x04
OP_LOGOUT_REQUEST = 0x06
OP_NOP_OUT = 0x00
OP_LOGIN_RESPONSE = 0x23
OP_TEXT_RESPONSE = 0x24
OP_LOGOUT_RESPONSE = 0x26
OP_NOP_IN = 0x20

FLAG_TRANSIT = 0x80
STAGE_SECURITY = 0
STAGE_OPERATIONAL = 1
STAGE_FULL_FEATURE = 3

# Names in the answer of many-targets: 40 names of 110 characters are more
# than 4400 characters with their terminators.
MANY_TARGET_COUNT = 40
MANY_TARGET_NAME_CHARS = 110

# TargetAddress values of bad-addresses, each for a target of its own.  The
# host part of each is a numeric loopback address or unparseable: a host
# name would have the initiator ask the name service, off this machine.
BAD_ADDRESSES = [
    ('noport', '127.0.0.1'),
    ('emptyport', '127.0.0.1:'),
    ('wordport', '127.0.0.1:port,1'),
    ('bigport', '127.0.0.1:99999,1'),
    ('openbracket', '[::1:3260,1'),
    ('onlytag', ',7'),
    ('controlport', '127.0.0.1:\x01\x02'),
    ('empty', ''),
]


# Target names of bad-names that no initiator may take, as bytes: each is
# named with a TargetAddress of this portal.
BAD_NAMES = [
    b'iqn.2026-01.evil:\xff\xfe',
    b'iqn.2026-12.test.hostile:\x1b]0;owned\x07',
    b'iqn.2026-12.test.hostile:\x1b[2J',
    b'iqn.2026-12.test.hostile:cr\rGet Target information for iqn.2026-12.test.hostile:fake',
    'iqn.2026-12.test.hostile:c1-\u009b31m'.encode('utf-8'),
    b'iqn.2026-12.test.hostile:' + b'x' * 199,
]


def healthy_name(port):
    return 'iqn.2026-12.test.hostile:healthy-%d' % port


def pad4(data):
    return data + b'\0' * (-len(data) % 4)


def parse_keys(data):
    """Key=value texts of a data segment, in order."""
    keys = []
    for item in data.split(b'\0'):
        if b'=' in item:
            key, value = item.split(b'=', 1)
            keys.append((key.decode('latin-1'), value.decode('latin-1')))
    return keys


def key_data(pairs):
    return b''.join(('%s=%s' % pair).encode('latin-1') + b'\0' for pair in pairs)


def read_exact(connection, count):
    """count bytes, or None when the peer closes first."""
    chunks = []
    while count > 0:
        chunk = connection.recv(count)
        if not chunk:
            return None
        chunks.append(chunk)
        count -= len(chunk)
    return b''.join(chunks)


def read_pdu(connection):
    """(header, data) of the next PDU, or None at the end of the stream."""
    header = read_exact(connection, BHS_BYTES)
    if header is None:
        return None
    ahs_bytes = header[4] * 4
    data_bytes = int.from_bytes(header[5:8], 'big')
    rest = read_exact(connection, ahs_bytes + data_bytes + (-data_bytes % 4))
    if rest is None:
        return None
    return header, rest[ahs_bytes:ahs_bytes + data_bytes]


class Session:
    """Sequence numbers of one connection."""

    def __init__(self):
        self.stat_sn = 1
        self.discovery = False

    def numbers(self, header):
        """StatSN, ExpCmdSN, MaxCmdSN for the answer to header."""
        cmd_sn = struct.unpack('>I', header[24:28])[0]
        immediate = header[0] & 0x40
        expected = cmd_sn if immediate else cmd_sn + 1
        stat_sn = self.stat_sn
        self.stat_sn += 1
        return struct.pack('>III', stat_sn, expected & 0xFFFFFFFF, (expected + 16) & 0xFFFFFFFF)


def login_response(request, session, data, transit, current, following, status=(0, 0),
                   tsih=0):
    flags = (FLAG_TRANSIT if transit else 0) | (current << 2) | (following if transit else 0)
    header = bytearray(BHS_BYTES)
    header[0] = OP_LOGIN_RESPONSE
    header[1] = flags
    header[2] = 0x00
    header[3] = 0x00
    header[5:8] = len(data).to_bytes(3, 'big')
    header[8:14] = request[8:14]                 # ISID
    header[14:16] = struct.pack('>H', tsih)
    header[16:20] = request[16:20]               # ITT
    header[24:36] = session.numbers(request)
    header[36] = status[0]
    header[37] = status[1]
    return bytes(header) + pad4(data)


def negotiate(keys, session):
    """Answers to the keys of one login request."""
    answers = []
    for key, value in keys:
        if key == 'SessionType':
            session.discovery = value == 'Discovery'
        elif key == 'AuthMethod':
            answers.append((key, 'None'))
        elif key in ('HeaderDigest', 'DataDigest'):
            offered = value.split(',')
            answers.append((key, 'None' if 'None' in offered else offered[0]))
        elif key in ('InitiatorName', 'InitiatorAlias', 'TargetName', 'TargetAlias'):
            continue
        elif key == 'MaxRecvDataSegmentLength':
            answers.append((key, '262144'))
        else:
            answers.append((key, value))
    return answers


class EventLog:
    """The --log file: one line per event, from any connection's thread."""

    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()

    def add(self, event):
        if self.path is None:
            return
        with self.lock:
            with open(self.path, 'a') as out:
                out.write(event + '\n')


def proper_login(connection, header, data, session, mode, log):
    """Answers login requests until full feature phase; False when the
    connection ends."""
    while True:
        flags = header[1]
        current = (flags >> 2) & 3
        following = flags & 3
        transit = bool(flags & FLAG_TRANSIT)
        keys = parse_keys(data)
        answers = negotiate(keys, session)
        if current == STAGE_SECURITY and not any(k == 'AuthMethod' for k, _ in answers):
            answers.append(('AuthMethod', 'None'))
        if not session.discovery and mode in ('bad-addresses', 'many-portals'):
            connection.sendall(login_response(header, session, b'', False, current, 0,
                                              status=(0x02, 0x03)))
            return False
        if not session.discovery and mode == 'stall-login':
            wait_for_close(connection)
            return False
        if not session.discovery and mode == 'drop-login' and (not transit or following != 1):
            return False   # a request that is not the first stage: dropped unanswered
        if not session.discovery and current == STAGE_SECURITY:
            answers.append(('TargetPortalGroupTag', '1'))
        done = transit and following == STAGE_FULL_FEATURE
        connection.sendall(login_response(header, session, key_data(answers), transit, current,
                                          following, tsih=1 if done else 0))
        if done:
            if session.discovery:
                log.add('discovery')
            return True
        pdu = read_pdu(connection)
        if pdu is None:
            return False
        header, data = pdu
        if not session.discovery and mode == 'drop-login':
            return False


def wait_for_close(connection, stop=None):
    """Reads and ignores everything until the initiator closes."""
    connection.settimeout(0.2)
    while stop is None or not stop.is_set():
        try:
            if not connection.recv(4096):
                return
        except socket.timeout:
            continue


def send_targets_data(mode, port, targets=0, portals=0):
    address = ('TargetAddress=127.0.0.1:%d,1' % port).encode('latin-1') + b'\0'
    if mode == 'healthy':
        return key_data([('TargetName', healthy_name(port))]) + address
    if mode == 'bad-names':
        named = [b'TargetName=' + name + b'\0' + address for name in BAD_NAMES]
        healthy = key_data([('TargetName', healthy_name(port))]) + address
        return named[0] + healthy + b''.join(named[1:])
    if mode == 'many-portals':
        pairs = []
        for i in range(targets):
            pairs.append(('TargetName', 'iqn.2026-12.test.hostile:portals-%03d' % i))
            pairs += [('TargetAddress', '127.0.0.%d:%d,%d' % (k + 1, port, k + 1))
                      for k in range(portals)]
        return key_data(pairs)
    if mode in ('stall-login', 'drop-login', 'truncated-answer'):
        return key_data([('TargetName', 'iqn.2026-12.test.hostile:login'),
                         ('TargetAddress', '127.0.0.1:%d,1' % port)])
    if mode == 'many-targets':
        pairs = []
        for i in range(MANY_TARGET_COUNT):
            prefix = 'iqn.2026-12.test.hostile:many-%02d-' % i
            name = prefix + 'x' * (MANY_TARGET_NAME_CHARS - len(prefix))
            pairs += [('TargetName', name), ('TargetAddress', '127.0.0.1:%d,1' % port)]
        return key_data(pairs)
    pairs = []
    for name, address in BAD_ADDRESSES:
        pairs += [('TargetName', 'iqn.2026-12.test.hostile:' + name), ('TargetAddress', address)]
    return key_data(pairs)


def full_feature(connection, session, mode, port, sizes):
    """Text, NOP and logout requests of a logged-in connection."""
    while True:
        pdu = read_pdu(connection)
        if pdu is None:
            return
        header, data = pdu
        opcode = header[0] & 0x3F
        if opcode == OP_TEXT_REQUEST:
            answer = send_targets_data(mode, port, *sizes) if session.discovery else b''
            response = bytearray(BHS_BYTES)
            response[0] = OP_TEXT_RESPONSE
            response[1] = 0x80
            response[5:8] = len(answer).to_bytes(3, 'big')
            response[16:20] = header[16:20]
            response[20:24] = b'\xff\xff\xff\xff'
            response[24:36] = session.numbers(header)
            if mode == 'truncated-answer':
                connection.sendall(bytes(response) + answer[:len(answer) // 2])
                return
            connection.sendall(bytes(response) + pad4(answer))
        elif opcode == OP_NOP_OUT:
            if header[16:20] == b'\xff\xff\xff\xff':
                continue   # a reply to nothing of ours
            response = bytearray(BHS_BYTES)
            response[0] = OP_NOP_IN
            response[1] = 0x80
            response[16:20] = header[16:20]
            response[20:24] = b'\xff\xff\xff\xff'
            response[24:36] = session.numbers(header)
            connection.sendall(bytes(response))
        elif opcode == OP_LOGOUT_REQUEST:
            response = bytearray(BHS_BYTES)
            response[0] = OP_LOGOUT_RESPONSE
            response[1] = 0x80
            response[16:20] = header[16:20]
            response[24:36] = session.numbers(header)
            connection.sendall(bytes(response))
            return
        else:
            return   # anything else ends the connection


def serve(connection, mode, port, stop, sizes, log):
    session = Session()
    try:
        connection.settimeout(None)
        pdu = read_pdu(connection)
        if pdu is None:
            return
        header, data = pdu
        if header[0] & 0x3F != OP_LOGIN_REQUEST:
            return
        flags = header[1]
        current = (flags >> 2) & 3
        if mode == 'truncated':
            whole = login_response(header, session, key_data(negotiate(parse_keys(data), session)),
                                   True, current, flags & 3)
            connection.sendall(whole[:20])
        elif mode == 'oversized':
            response = bytearray(login_response(header, session, b'', True, current, flags & 3))
            response[5:8] = (0xFFFFFF).to_bytes(3, 'big')
            connection.sendall(bytes(response) + b'A' * 1024)
        elif mode == 'stall':
            wait_for_close(connection, stop)   # or the end of the peer's life
        elif mode == 'drop':
            if (flags & FLAG_TRANSIT) and (flags & 3) == STAGE_FULL_FEATURE:
                return
            answers = negotiate(parse_keys(data), session)
            connection.sendall(login_response(header, session, key_data(answers),
                                              bool(flags & FLAG_TRANSIT), current, flags & 3))
            read_pdu(connection)   # the next request: dropped unanswered
        else:
            if proper_login(connection, header, data, session, mode, log):
                full_feature(connection, session, mode, port, sizes)
    except OSError:
        pass
    finally:
        try:
            connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        connection.close()


def loopback_only(host):
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--mode', required=True,
                        choices=['truncated', 'oversized', 'stall', 'drop', 'many-targets',
                                 'bad-addresses', 'stall-login', 'drop-login', 'truncated-answer',
                                 'many-portals', 'healthy', 'bad-names', 'stall-first'])
    parser.add_argument('--targets', type=int, default=60, help='many-portals: targets named')
    parser.add_argument('--portals', type=int, default=16, help='many-portals: portals a target')
    parser.add_argument('--host', default='127.0.0.1')
    parser.add_argument('--port', type=int, default=0)
    parser.add_argument('--port-file')
    parser.add_argument('--lifetime', type=float, default=60.0)
    parser.add_argument('--log', help='file to append accepted connections and discoveries to')
    args = parser.parse_args(argv)
    if not loopback_only(args.host):
        parser.error('only loopback addresses are served')

    family = socket.AF_INET6 if ':' in args.host else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, args.port))
    listener.listen(16)
    port = listener.getsockname()[1]
    if args.port_file:
        temporary = args.port_file + '.part'
        with open(temporary, 'w') as out:
            out.write('%d\n' % port)
        os.replace(temporary, args.port_file)
    else:
        print(port, flush=True)

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    deadline = time.monotonic() + args.lifetime
    listener.settimeout(0.2)
    workers = []
    log = EventLog(args.log)
    while not stop.is_set() and time.monotonic() < deadline:
        try:
            connection, _ = listener.accept()
        except socket.timeout:
            continue
        except OSError:
            break
        log.add('connection')
        mode = args.mode
        if mode == 'stall-first':
            mode = 'stall' if not workers else 'healthy'
        worker = threading.Thread(target=serve, args=(connection, mode, port, stop,
                                                      (args.targets, args.portals), log),
                                  daemon=True)
        worker.start()
        workers.append(worker)
    stop.set()
    listener.close()
    for worker in workers:
        worker.join(timeout=1.0)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
