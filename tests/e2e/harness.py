"""Shared pieces of the end-to-end tests: the wire format (SNMP BER, IPv4/UDP, SLIP) written
independently of the agent's code, and the programs under test (agent, bridge, net-snmp tools)."""

import errno
import fcntl
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import termios
import time
import tty

ENTERPRISE = "1.3.6.1.4.1.32473.25"
COMMUNITY = b"kestrl"
STATION_IP = "192.0.2.1"
AGENT_IP = "192.0.2.2"
SNMP_PORT = 161

# Generous bounds for things that must happen eventually; none of them measures speed.
READY_SECONDS = 10.0
REPLY_SECONDS = 10.0
AGENT_STOP_SECONDS = 3.0

TESSEL_INI = """[Serial Port Parameters.1]
PortNumber=COM1
Baud=9600
dataBits=8
stopBits=1
Parity=NONE
Modem=Y
ModemInitString=ATZ
"""

TAG_INTEGER = 0x02
TAG_OCTETS = 0x04
TAG_NULL = 0x05
TAG_OID = 0x06
TAG_SEQUENCE = 0x30
GET, GETNEXT, RESPONSE, SET = 0xA0, 0xA1, 0xA2, 0xA3


# ---------------------------------------------------------------------------------------------
# SNMP (BER)

def ber_length(n):
    if n < 0x80:
        return bytes([n])
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def tlv(tag, content):
    return bytes([tag]) + ber_length(len(content)) + content


def ber_integer(value):
    size = 1
    while not -(1 << (8 * size - 1)) <= value < (1 << (8 * size - 1)):
        size += 1
    return tlv(TAG_INTEGER, value.to_bytes(size, "big", signed=True))


def ber_oid(dotted):
    parts = [int(p) for p in dotted.strip(".").split(".")]
    body = bytearray([parts[0] * 40 + parts[1]])
    for sub in parts[2:]:
        chunk = [sub & 0x7F]
        sub >>= 7
        while sub:
            chunk.append(0x80 | (sub & 0x7F))
            sub >>= 7
        body += bytes(reversed(chunk))
    return tlv(TAG_OID, bytes(body))


def snmp_message(pdu_type, request_id, oids, community=COMMUNITY, values=None):
    """An SNMPv1 message; values (tag, bytes) per OID default to NULL."""
    binds = b""
    for i, oid in enumerate(oids):
        tag, raw = values[i] if values else (TAG_NULL, b"")
        binds += tlv(TAG_SEQUENCE, ber_oid(oid) + tlv(tag, raw))
    pdu = tlv(pdu_type, ber_integer(request_id) + ber_integer(0) + ber_integer(0)
              + tlv(TAG_SEQUENCE, binds))
    return tlv(TAG_SEQUENCE, ber_integer(0) + tlv(TAG_OCTETS, community) + pdu)


def read_tlv(data, pos):
    """(tag, content, next position); raises ValueError on a malformed or short element."""
    if pos + 2 > len(data):
        raise ValueError("short element")
    tag, first = data[pos], data[pos + 1]
    pos += 2
    if first & 0x80:
        count = first & 0x7F
        if count == 0 or pos + count > len(data):
            raise ValueError("bad length")
        length = int.from_bytes(data[pos:pos + count], "big")
        pos += count
    else:
        length = first
    if pos + length > len(data):
        raise ValueError("content runs past the message")
    return tag, data[pos:pos + length], pos + length


def decode_oid(content):
    first = content[0]
    parts = [first // 40, first % 40]
    value = 0
    for b in content[1:]:
        value = (value << 7) | (b & 0x7F)
        if not b & 0x80:
            parts.append(value)
            value = 0
    return ".".join(str(p) for p in parts)


def decode_message(data):
    """A dict with the fields of an SNMPv1 message; varbinds as (oid, tag, value)."""
    tag, body, end = read_tlv(data, 0)
    if tag != TAG_SEQUENCE or end != len(data):
        raise ValueError("not one message")
    _, version, pos = read_tlv(body, 0)
    _, community, pos = read_tlv(body, pos)
    pdu_type, pdu, _ = read_tlv(body, pos)
    fields = []
    pos = 0
    for _ in range(3):
        _, content, pos = read_tlv(pdu, pos)
        fields.append(int.from_bytes(content, "big", signed=True))
    _, binds, _ = read_tlv(pdu, pos)
    varbinds = []
    pos = 0
    while pos < len(binds):
        _, bind, pos = read_tlv(binds, pos)
        _, oid, inner = read_tlv(bind, 0)
        vtag, raw, _ = read_tlv(bind, inner)
        value = int.from_bytes(raw, "big", signed=True) if vtag == TAG_INTEGER else raw
        varbinds.append((decode_oid(oid), vtag, value))
    return {"version": int.from_bytes(version, "big"), "community": community,
            "type": pdu_type, "request_id": fields[0], "error_status": fields[1],
            "error_index": fields[2], "varbinds": varbinds}


# ---------------------------------------------------------------------------------------------
# IPv4 / UDP / SLIP

def ones_sum(data):
    if len(data) % 2:
        data += b"\x00"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total


def build_datagram(payload, src, dst, sport, dport, ident, ttl=64, udp_checksum=True):
    udp_len = 8 + len(payload)
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + udp_len, ident, 0, ttl, 17, 0,
                         socket.inet_aton(src), socket.inet_aton(dst))
    header = header[:10] + struct.pack("!H", ~ones_sum(header) & 0xFFFF) + header[12:]
    udp = struct.pack("!HHHH", sport, dport, udp_len, 0) + payload
    if udp_checksum:
        pseudo = socket.inet_aton(src) + socket.inet_aton(dst) + struct.pack("!BBH", 0, 17, udp_len)
        value = ~ones_sum(pseudo + udp) & 0xFFFF or 0xFFFF
        udp = udp[:6] + struct.pack("!H", value) + udp[8:]
    return header + udp


def parse_datagram(d):
    """The header fields of an IPv4/UDP datagram, with both checksums verified."""
    if len(d) < 28:
        raise ValueError("datagram of %d bytes" % len(d))
    ihl = (d[0] & 0x0F) * 4
    (ver_ihl, tos, total, ident, frag, ttl, proto, _csum, src, dst) = struct.unpack(
        "!BBHHHBBH4s4s", d[:20])
    sport, dport, udp_len, udp_csum = struct.unpack("!HHHH", d[ihl:ihl + 8])
    udp = d[ihl:ihl + udp_len]
    pseudo = src + dst + struct.pack("!BBH", 0, 17, udp_len)
    return {
        "version_ihl": ver_ihl, "tos": tos, "total_length": total, "id": ident,
        "frag": frag, "ttl": ttl, "protocol": proto, "src": socket.inet_ntoa(src),
        "dst": socket.inet_ntoa(dst), "sport": sport, "dport": dport, "udp_length": udp_len,
        "udp_checksum": udp_csum, "ip_checksum_ok": ones_sum(d[:ihl]) == 0xFFFF,
        "udp_checksum_ok": udp_csum == 0 or ones_sum(pseudo + udp) == 0xFFFF,
        "payload": d[ihl + 8:ihl + udp_len], "size": len(d),
    }


END, ESC, ESC_END, ESC_ESC = 0xC0, 0xDB, 0xDC, 0xDD


def slip_encode(data):
    body = data.replace(bytes([ESC]), bytes([ESC, ESC_ESC])).replace(bytes([END]),
                                                                     bytes([ESC, ESC_END]))
    return bytes([END]) + body + bytes([END])


class SlipReader:
    """Cuts the frames out of a byte stream; empty frames are skipped."""

    def __init__(self):
        self.raw = bytearray()

    def feed(self, data):
        frames = []
        for b in data:
            if b != END:
                self.raw.append(b)
                continue
            if self.raw:
                out = bytearray()
                it = iter(self.raw)
                for c in it:
                    if c == ESC:
                        c = next(it, None)
                        if c is None:
                            break
                        c = {ESC_END: END, ESC_ESC: ESC}.get(c, c)
                    out.append(c)
                frames.append(bytes(out))
                self.raw.clear()
        return frames


def read_frames(fd, reader, want, seconds=REPLY_SECONDS):
    """Reads until `want` frames have come (or the time is up); returns the frames read."""
    frames = []
    deadline = time.monotonic() + seconds
    while len(frames) < want:
        left = deadline - time.monotonic()
        if left <= 0:
            break
        ready, _, _ = select.select([fd], [], [], left)
        if not ready:
            continue
        try:
            data = os.read(fd, 4096)
        except OSError as e:
            if e.errno in (errno.EAGAIN, errno.EINTR):
                continue
            raise
        frames += reader.feed(data)
    return frames


def make_raw(fd):
    tty.setraw(fd)
    attrs = termios.tcgetattr(fd)
    attrs[3] &= ~termios.ECHO
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


def unread_bytes(fd):
    """Bytes waiting in the input queue of a terminal."""
    return struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"))[0]


# ---------------------------------------------------------------------------------------------
# Programs

def _program(variable, name):
    path = os.environ.get(variable)
    if path:
        return path
    here = os.path.dirname(os.path.abspath(__file__))
    guess = os.path.join(here, "..", "..", "build", name)
    if os.path.exists(guess):
        return os.path.abspath(guess)
    raise RuntimeError("%s is not set and %s is not built" % (variable, name))


def agent_binary():
    return _program("FARLINK_BIN", "farlink")


def bridge_binary():
    return _program("FARLINK_BRIDGE_BIN", "farlink-bridge")


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Bridge:
    """farlink-bridge on a fresh pseudo-terminal and a free UDP port."""

    def __init__(self, *extra):
        self.port = free_udp_port()
        self.stderr = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(
            [bridge_binary(), "--pty", "--listen", "127.0.0.1:%d" % self.port, *extra],
            stdout=subprocess.PIPE, stderr=self.stderr)
        line = self.proc.stdout.readline().decode().strip()
        if not line.startswith("agent-line: "):
            self.proc.kill()
            self.proc.wait()
            raise RuntimeError("bridge did not report its line: %r %s" % (line, self.errors()))
        self.agent_line = line[len("agent-line: "):]

    def errors(self):
        if self.stderr.closed:
            return self.saved_errors
        self.stderr.seek(0)
        return self.stderr.read().decode(errors="replace")

    def stop(self):
        """Stops the bridge; its exit code."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None
        finally:
            self.proc.stdout.close()
            self.saved_errors = self.errors()
            self.stderr.close()


class Agent:
    """The agent with its own configuration directory, serving COM1 on `line`."""

    def __init__(self, line, ini_text=TESSEL_INI):
        self.dir = tempfile.mkdtemp(prefix="farlink-e2e-")
        self.windir = os.path.join(self.dir, "windir")
        os.mkdir(self.windir)
        with open(os.path.join(self.windir, "TESSEL.INI"), "w") as f:
            f.write(ini_text)
        self.event_log = os.path.join(self.dir, "events.log")
        env = dict(os.environ, WINDIR=self.windir, FARLINK_COM1=line,
                   FARLINK_EVENTLOG=self.event_log)
        self.output = open(os.path.join(self.dir, "farlink.out"), "wb")
        self.proc = subprocess.Popen([agent_binary()], env=env, stdout=self.output,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

    def events(self):
        try:
            with open(self.event_log, encoding="latin-1") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def console(self):
        with open(os.path.join(self.dir, "farlink.out"), "rb") as f:
            return f.read().decode(errors="replace")

    def alive(self):
        return self.proc.poll() is None

    def stop(self):
        """SIGTERM; the exit code, or None when the agent did not end in time (then killed)."""
        code = None
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                code = self.proc.wait(timeout=AGENT_STOP_SECONDS)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        else:
            code = self.proc.returncode
        self.output.close()
        return code

    def cleanup(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def snmp(tool, port, *args, community="kestrl", retries=1, timeout=2):
    """Runs a net-snmp tool against the bridge; (exit code, stdout, stderr)."""
    command = [tool, "-v1", "-c", community, "-On", "-r", str(retries), "-t", str(timeout),
               "127.0.0.1:%d" % port, *args]
    done = subprocess.run(command, capture_output=True, text=True,
                          timeout=(retries + 1) * timeout + 30)
    return done.returncode, done.stdout, done.stderr


def wait_until_answers(port, oid, agent):
    """Retries a get until the agent answers it; raises with the agent's output otherwise."""
    deadline = time.monotonic() + READY_SECONDS
    while time.monotonic() < deadline:
        code, out, _ = snmp("snmpget", port, oid, retries=0, timeout=1)
        if code == 0 and out.strip():
            return
        if not agent.alive():
            break
    raise RuntimeError("the agent never answered (exit %s); its output:\n%s"
                       % (agent.proc.poll(), agent.console()))


def start_stack(testcase_class):
    """Starts a bridge and an agent behind it for a test class and waits until they answer."""
    cls = testcase_class
    cls.bridge = Bridge()
    try:
        cls.agent = Agent(cls.bridge.agent_line)
        wait_until_answers(cls.bridge.port, "." + ENTERPRISE + ".2.1.0", cls.agent)
    except Exception:
        if hasattr(cls, "agent"):
            cls.agent.stop()
            cls.agent.cleanup()
        cls.bridge.stop()
        raise
    cls.port = cls.bridge.port


def stop_stack(testcase_class):
    """Stops the agent (it must end cleanly with code 0) and the bridge."""
    cls = testcase_class
    code = cls.agent.stop()
    cls.bridge.stop()
    console = cls.agent.console()
    cls.agent.cleanup()
    if code != 0:
        raise AssertionError("the agent ended with %r after SIGTERM; its output:\n%s"
                             % (code, console))
