"""Shared pieces of the end-to-end tests: the wire format (SNMP BER, IPv4/UDP, SLIP) written
independently of the agent's code, and the programs under test (agent, bridge, net-snmp tools)."""

import errno
import fcntl
import itertools
import os
import pwd
import select
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import termios
import time
import unittest
import tty

ENTERPRISE = "1.3.6.1.4.1.32473.25"
COMMUNITY = b"kestrl"
STATION_IP = "198.51.100.1"
AGENT_IP = "198.51.100.2"
SNMP_PORT = 161

# Generous bounds for things that must happen eventually; none of them measures speed.
READY_SECONDS = 10.0
REPLY_SECONDS = 10.0
AGENT_STOP_SECONDS = 3.0

# The sample machine's KORU driver reports this product name; the agent refuses to start when
# the configuration names another.
SAMPLE_PRODUCT = "SV-440BX"

PORT_SECTION = """[Serial Port Parameters.1]
PortNumber=COM1
Baud=9600
dataBits=8
stopBits=1
Parity=NONE
Modem=Y
ModemInitString=ATZ
"""

TESSEL_INI = PORT_SECTION + """
[environment]
driver=%s
""" % SAMPLE_PRODUCT

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



def terminate(proc):
    """SIGTERM; the exit code, or None when the process did not end in time (then killed)."""
    if proc.poll() is not None:
        return proc.returncode
    proc.send_signal(signal.SIGTERM)
    try:
        return proc.wait(timeout=AGENT_STOP_SECONDS)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        return None

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


def inband_binary():
    """koru-inband: FARLINK_INBAND_BIN, else beside the agent (one build directory holds both)."""
    if os.environ.get("FARLINK_INBAND_BIN"):
        return os.environ["FARLINK_INBAND_BIN"]
    beside = os.path.join(os.path.dirname(agent_binary()), "koru-inband")
    if os.path.exists(beside):
        return beside
    return _program("FARLINK_INBAND_BIN", "koru-inband")


REPOSITORY = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
SAMPLE_MACHINE = os.path.join(REPOSITORY, "machines", "sample")


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


_block_numbers = itertools.count(1)


def unique_block_name():
    """A shared agent block name of this test process alone, so tests never meet each other's."""
    return "farlink-e2e-%d-%d" % (os.getpid(), next(_block_numbers))


def remove_block(name):
    """Removes a shared agent block a test made; it outlives both agents by design."""
    try:
        os.unlink("/dev/shm/" + name)
    except OSError:
        pass


class InBand:
    """koru-inband serving a shared agent block filled from WINDIR's TESSEL.INI; `user` runs it
    (and its show and set commands) as that user."""

    def __init__(self, windir, block_name=None, env=None, user=None):
        self.windir = windir
        self.user = user
        self.block_name = block_name or unique_block_name()
        self.env = dict(env if env is not None else os.environ, WINDIR=windir,
                        FARLINK_SHM_NAME=self.block_name)
        self.env.pop("NOTIFY_SOCKET", None)
        self.stderr = tempfile.TemporaryFile()
        self.proc = subprocess.Popen([inband_binary()], env=self.env, stdout=subprocess.PIPE,
                                     stderr=self.stderr, stdin=subprocess.DEVNULL,
                                     **self._as_user())
        ready, _, _ = select.select([self.proc.stdout], [], [], READY_SECONDS)
        line = self.proc.stdout.readline().decode().strip() if ready else ""
        if line != "ready":
            self.stop()
            raise RuntimeError("koru-inband did not get ready: %r %s" % (line, self.errors()))

    def _as_user(self):
        """The options that run a program as self.user with that user's groups alone."""
        if self.user is None:
            return {}
        entry = pwd.getpwnam(self.user)
        return {"user": entry.pw_uid, "group": entry.pw_gid, "extra_groups": []}

    def errors(self):
        if self.stderr.closed:
            return self.saved_errors
        self.stderr.seek(0)
        return self.stderr.read().decode(errors="replace")

    def run(self, *args):
        """Runs `koru-inband ARGS` on this block; (exit code, stdout, stderr)."""
        done = subprocess.run([inband_binary(), *args], env=self.env, capture_output=True,
                              text=True, timeout=30, **self._as_user())
        return done.returncode, done.stdout, done.stderr

    def show(self):
        """The block's fields as a dict of name -> shown value; raises when there is no block."""
        code, out, err = self.run("show")
        if code != 0:
            raise RuntimeError("koru-inband show: exit %d: %s" % (code, err))
        return dict(line.split("=", 1) for line in out.splitlines())

    def set(self, field, value):
        code, _, err = self.run("set", field, str(value))
        if code != 0:
            raise RuntimeError("koru-inband set %s: exit %d: %s" % (field, code, err))

    def alive(self):
        return self.proc.poll() is None

    def stop(self, keep_block=False):
        """SIGTERM; the exit code, or None when it did not end in time (then killed). The block
        stays when the program ends; the test removes it unless keep_block is set."""
        code = terminate(self.proc)
        self.proc.stdout.close()
        if not self.stderr.closed:
            self.saved_errors = self.errors()
            self.stderr.close()
        if not keep_block:
            remove_block(self.block_name)
        return code


def read_ini(path):
    """TESSEL.INI as {section: {key: value}}, names lower-cased as the agent matches them."""
    sections = {}
    current = None
    with open(path, encoding="latin-1") as f:
        for raw in f:
            line = raw.strip()
            if not line or line.startswith(";"):
                continue
            if line.startswith("["):
                name = line[1:line.index("]")].strip().lower() if "]" in line else None
                current = sections.setdefault(name, {}) if name else None
                continue
            if current is not None and "=" in line:
                key, value = line.split("=", 1)
                current.setdefault(key.strip().lower(), value.strip())
    return sections


class Agent:
    """The agent with its own configuration directory, serving COM1 on `line`, beside its own
    in-band stand-in (the agent waits for the stand-in's shared block to start) and with the
    sample machine's KORU driver.

    ini_text None leaves TESSEL.INI out; inband False starts no stand-in, an InBand shares a
    running one (and its block); machine None leaves the agent to the host, which has no KORU
    driver; notify_socket names a socket to hand the agent as systemd's NOTIFY_SOCKET; env
    adds variables."""

    def __init__(self, line, ini_text=TESSEL_INI, inband=True, machine=SAMPLE_MACHINE,
                 notify_socket=None, env=None):
        self.dir = tempfile.mkdtemp(prefix="farlink-e2e-")
        self.windir = os.path.join(self.dir, "windir")
        os.mkdir(self.windir)
        self.ini_path = os.path.join(self.windir, "TESSEL.INI")
        if ini_text is not None:
            with open(self.ini_path, "w") as f:
                f.write(ini_text)
        self.event_log = os.path.join(self.dir, "events.log")
        self.record = os.path.join(self.dir, "requests.log")
        if isinstance(inband, InBand):
            self.block_name = inband.block_name
            self.inband = inband
        else:
            self.block_name = unique_block_name()
            self.inband = InBand(self.windir, self.block_name) if inband else None
        extra = env or {}
        env = dict(os.environ, WINDIR=self.windir, FARLINK_COM1=line,
                   FARLINK_EVENTLOG=self.event_log, FARLINK_SHM_NAME=self.block_name,
                   FARLINK_MACHINE_RECORD=self.record)
        env.update(extra)
        env.pop("NOTIFY_SOCKET", None)
        if notify_socket is not None:
            env["NOTIFY_SOCKET"] = notify_socket
        env.pop("FARLINK_MACHINE", None)
        if machine is not None:
            env["FARLINK_MACHINE"] = machine
        self.output = open(os.path.join(self.dir, "farlink.out"), "wb")
        try:
            self.proc = subprocess.Popen([agent_binary()], env=env, stdout=self.output,
                                         stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        except Exception:
            self.output.close()
            if self.inband:
                self.inband.stop()
            raise

    def requests(self):
        """The lines the machine image recorded: driver requests with values, service calls."""
        try:
            with open(self.record, encoding="latin-1") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def ini(self):
        return read_ini(self.ini_path)

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
        code = terminate(self.proc)
        self.output.close()
        return code

    def cleanup(self):
        """Stops the in-band stand-in as well and removes the agent's files and block."""
        if self.inband:
            self.inband.stop()
        remove_block(self.block_name)
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


def start_stack(testcase_class, ini_text=TESSEL_INI, machine=SAMPLE_MACHINE):
    """Starts a bridge and an agent behind it for a test class and waits until they answer."""
    cls = testcase_class
    cls.bridge = Bridge()
    try:
        cls.agent = Agent(cls.bridge.agent_line, ini_text=ini_text, machine=machine)
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


def walk_lines(out):
    """The objects of a walk; net-snmp ends a v1 walk that meets noSuchName with "End of MIB"."""
    lines = out.splitlines()
    return lines[:-1] if lines and lines[-1] == "End of MIB" else lines


class StackTest(unittest.TestCase):
    """Tests that share one agent and bridge for their class: `ini_text` and `machine` choose."""

    ini_text = TESSEL_INI
    machine = SAMPLE_MACHINE

    @classmethod
    def setUpClass(cls):
        start_stack(cls, ini_text=cls.ini_text, machine=cls.machine)

    @classmethod
    def tearDownClass(cls):
        stop_stack(cls)

    def run_tool(self, tool, *args, **options):
        return snmp(tool, self.port, *args, **options)


# ---------------------------------------------------------------------------------------------
# The group registry

GROUP_REGISTRY_SOURCE = os.path.join(REPOSITORY, "src", "mib", "group_registry.cpp")


def registry_group_suffixes(source=GROUP_REGISTRY_SOURCE):
    """The OIDs of the registry's groups below ENTERPRISE, as integer tuples in table order.

    Read from the rows of the registry table (`/* NN */ {{a, b, c}, ...`), so a test follows
    the table as groups are added or moved. Raises when the row numbers do not run 0, 1, 2, ...
    in order: a row the pattern missed would otherwise drop a group without a word."""
    import re

    with open(source, encoding="utf-8") as f:
        text = f.read()
    rows = re.findall(r"/\*\s*(\d+)\s*\*/\s*\{\{\s*(\d+(?:\s*,\s*\d+)*)\s*\}", text)
    numbers = [int(number) for number, _ in rows]
    if numbers != list(range(len(rows))):
        raise ValueError("registry rows out of sequence in %s: %s" % (source, numbers))
    return [tuple(int(s) for s in oid.split(",")) for _, oid in rows]


def oid_tuple(dotted):
    """A dotted OID as a tuple of integers, which compares as SNMP orders names."""
    return tuple(int(s) for s in dotted.strip(".").split("."))
