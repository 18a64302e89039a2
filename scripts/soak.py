"""The soak run behind scripts/soak.sh: the whole suite under load and faults for some minutes,
with every request accounted for.

Four lines: COM1 and COM2 each behind a farlink-bridge (the script is a UDP manager), COM3 and
COM4 pseudo-terminals the script drives itself, with noise, cut frames, bad checksums and
oversized runs between its requests. One worker per line keeps one request in flight: GETs,
GET-NEXT walk steps and SETs of the key that line owns (one writer per key keeps the order of
the values known). A controller meanwhile changes fields with `koru-inband set`, restarts
koru-inband, walks with net-snmp's snmpwalk, and kills farlink with SIGKILL at random moments,
starting it again as systemd would and waiting for its READY=1 on a notify socket.

A request that gets no answer is an expected loss when farlink was down at some moment between
its sending and its deadline (killed, or started and not yet ready), and a failure otherwise.
TESSEL.INI is checked after every kill, before every koru-inband restart and at the end: it must
parse, keep every section and key it ever held, hold the last acknowledged SET values (after a
kill, a value acknowledged too short a time before it may be the one before: the write-back runs
a few milliseconds after the reply), and have no temporary copies left once farlink is up again.
"""

import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import traceback

REPOSITORY = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
sys.path.insert(0, os.path.join(REPOSITORY, "tests", "e2e"))
import harness as h  # noqa: E402

E = h.ENTERPRISE
REPLY_TIMEOUT = 3.0
READY_TIMEOUT = 60.0
# How long after its acknowledgement a SET value must be in the file, even across a kill.
WRITE_BACK_SECONDS = 1.0
SAMPLE_EVERY = 5.0

# The key each line's worker sets: (key in TESSEL.INI, object, text or number).
SET_KEYS = [
    ("OfficePhone", E + ".4.18.1.2.0", "text"),
    ("HomePhone", E + ".4.18.1.4.0", "text"),
    ("Pager", E + ".4.18.1.6.0", "text"),
    ("Volume Usage", E + ".4.28.0", "number"),
]
SET_SECTIONS = {"OfficePhone": "manager.1", "HomePhone": "manager.1", "Pager": "manager.1",
                "Volume Usage": "threshold"}
GETS = [[E + ".2.1.0"], [E + ".4.18.1.1.0"], [E + ".4.16.0"], [E + ".3.3.0"],
        [E + ".1.2.0", E + ".1.4.0", E + ".1.6.0"], [E + ".4.55.1.0", E + ".4.55.2.0"]]
WALKS = [E + ".4.55.52.1", E + ".4.18.1", E + ".3.1.1"]
EMAIL = E + ".4.18.1.7.0"

INI_TEXT = """; The soak run's configuration: four lines, the sample machine's driver.
[environment]
driver=%s

[threshold]
MEMORY=90
I/O BUS=80
Volume Usage=85

[NIC Threshold]
Packets=1000

[Event.1]
Action=1

[manager.1]
name=Soak Operator
OfficePhone=555-0100
OfficeAddr=Server room 2
HomePhone=555-0101
HomeAddr=12 Harbour Lane
Pager=555-0102
EMail=soak@example.net
""" % h.SAMPLE_PRODUCT


def now():
    return time.monotonic()


# ---------------------------------------------------------------------------------------------
# What happened


class Timeline:
    """The spells in which farlink was down: from a kill (or the first start) to its READY=1."""

    def __init__(self):
        self.lock = threading.Lock()
        self.down = [[now(), None]]

    def went_down(self, t):
        with self.lock:
            self.down.append([t, None])

    def came_up(self, t):
        with self.lock:
            self.down[-1][1] = t

    def down_during(self, start, end):
        with self.lock:
            return any(s <= end and (e is None or e >= start) for s, e in self.down)


class Stats:
    def __init__(self):
        self.lock = threading.Lock()
        self.answered = {}
        self.lost_expected = {}
        self.lost_unexpected = 0
        self.latencies = []
        self.failures = []
        self.tolerated = []
        self.noise = 0
        self.restarts = 0
        self.inband_restarts = 0
        self.inband_sets = 0
        self.walks = [0, 0, 0]  # snmpwalk: complete, lost while down, failed
        self.ini_checks = 0
        self.stale_rewrites_after_kill = 0

    def count(self, table, kind):
        with self.lock:
            table[kind] = table.get(kind, 0) + 1

    def fail(self, text):
        with self.lock:
            self.failures.append("%7.1fs %s" % (now() - START, text))
        print("FAILURE: " + text, flush=True)


START = now()
timeline = Timeline()
stats = Stats()


class Ledger:
    """Every SET of every key, in the order its one writer sent them."""

    def __init__(self, initial):
        self.lock = threading.Lock()
        self.entries = {key: [{"value": value, "sent": 0.0, "acked": 0.0}]
                        for key, value in initial.items()}

    def sent(self, key, value, t):
        with self.lock:
            entry = {"value": value, "sent": t, "acked": None}
            self.entries[key].append(entry)
            return entry

    def acked(self, entry, t):
        with self.lock:
            entry["acked"] = t

    def expected(self, key):
        """The last acknowledged value."""
        with self.lock:
            return [e for e in self.entries[key] if e["acked"] is not None][-1]["value"]

    def acked_at(self, key):
        with self.lock:
            return [e for e in self.entries[key] if e["acked"] is not None][-1]["acked"]

    def allowed_after_kill(self, key, killed):
        """The values the file may hold after a kill: the last one acknowledged well before it,
        and every later one sent before it (acknowledged or not: the agent may have applied
        it)."""
        with self.lock:
            entries = self.entries[key]
            settled = max(i for i, e in enumerate(entries)
                          if e["acked"] is not None and e["acked"] <= killed - WRITE_BACK_SECONDS)
            return {entries[settled]["value"]} | {e["value"] for e in entries[settled + 1:]
                                                  if e["sent"] < killed}


# ---------------------------------------------------------------------------------------------
# Lines


class UdpLine:
    """A line behind a farlink-bridge: the script is one of the bridge's managers."""

    def __init__(self, bridge):
        self.bridge = bridge
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.connect(("127.0.0.1", bridge.port))

    def exchange(self, message, request_id):
        self.sock.send(message)
        deadline = now() + REPLY_TIMEOUT
        while True:
            left = deadline - now()
            if left <= 0:
                return None
            self.sock.settimeout(left)
            try:
                data = self.sock.recv(2048)
            except socket.timeout:
                return None
            try:
                reply = h.decode_message(data)
            except (ValueError, IndexError):
                continue
            if reply["request_id"] == request_id:
                return reply

    def noise(self, rng):
        # The bridge relays any datagram: the agent gets a well-framed message it cannot decode.
        self.sock.send(bytes(rng.randrange(256) for _ in range(rng.randrange(1, 200))))
        return True


class PtyLine:
    """A pseudo-terminal line the script drives as the station, frame by frame. The script keeps
    the agent's side open too, so the line outlives every kill of the agent."""

    def __init__(self, port):
        self.master, self.slave = os.openpty()
        h.make_raw(self.slave)
        os.set_blocking(self.master, False)
        self.path = os.ttyname(self.slave)
        self.port = port
        self.reader = h.SlipReader()
        self.ident = 0
        self.pending = []
        self.last_noise = None

    def write(self, data):
        """Writes what the line takes; False when it is full (no agent reads it)."""
        try:
            return os.write(self.master, data) == len(data)
        except BlockingIOError:
            return False

    def exchange(self, message, request_id):
        self.ident = self.ident % 0xFFFF + 1
        ident = self.ident
        datagram = h.build_datagram(message, h.STATION_IP, h.AGENT_IP, self.port, h.SNMP_PORT,
                                    ident)
        if not self.write(h.slip_encode(datagram)):
            time.sleep(REPLY_TIMEOUT)
            return None
        deadline = now() + REPLY_TIMEOUT
        while True:
            if not self.pending:
                left = deadline - now()
                if left <= 0:
                    return None
                self.pending = h.read_frames(self.master, self.reader, 1, seconds=left)
                continue
            frame = self.pending.pop(0)
            try:
                reply = h.parse_datagram(frame)
                if not (reply["ip_checksum_ok"] and reply["udp_checksum_ok"]):
                    stats.fail("%s: a reply with a bad checksum" % self.path)
                    continue
                if reply["id"] != ident:
                    continue  # a late answer to a request already given up
                message = h.decode_message(reply["payload"])
            except (ValueError, IndexError) as e:
                stats.fail("%s: an undecodable reply (%s)" % (self.path, e))
                continue
            if message["request_id"] == request_id:
                return message

    def noise(self, rng):
        """Something between two requests that is not a request. The agent's reader cuts frames
        at END bytes and takes the closing END with the frame, and drops whatever it holds when
        the first byte is not END. So, as a station that keeps to the framing must: a frame cut
        short is closed with an END, and bytes outside any frame are left to be read (and
        dropped) before the next request goes out; otherwise that request is lost by design."""
        shape = rng.randrange(5)
        self.last_noise = ["line noise", "a noise frame", "an overlong frame", "a cut request",
                           "a bad IPv4 checksum"][shape]
        body = lambda size: bytes(rng.choice([rng.randrange(1, 192), h.ESC]) for _ in range(size))
        if shape == 0:
            if not self.write(body(rng.randrange(1, 64))):
                return False
            deadline = now() + 1.0
            while h.unread_bytes(self.slave) and now() < deadline:
                time.sleep(0.002)
            return True
        if shape == 1:
            return self.write(bytes([h.END]) + body(rng.randrange(1, 100)) + bytes([h.END]))
        if shape == 2:  # longer than any frame may be
            return self.write(bytes([h.END]) + body(rng.randrange(600, 1200)) + bytes([h.END]))
        message = h.snmp_message(h.GET, 7, GETS[0])
        datagram = bytearray(h.build_datagram(message, h.STATION_IP, h.AGENT_IP, self.port,
                                              h.SNMP_PORT, 0xFFFF))
        if shape == 3:
            frame = h.slip_encode(bytes(datagram))
            return self.write(frame[:rng.randrange(2, len(frame) - 1)] + bytes([h.END]))
        datagram[10] ^= 0x5A
        return self.write(h.slip_encode(bytes(datagram)))


# ---------------------------------------------------------------------------------------------
# Load


class SetGate:
    """Lets the controller hold the SETs back and wait until none is in flight."""

    def __init__(self):
        self.cond = threading.Condition()
        self.open = True
        self.in_flight = 0

    def enter(self):
        with self.cond:
            if not self.open:
                return False
            self.in_flight += 1
            return True

    def leave(self):
        with self.cond:
            self.in_flight -= 1
            self.cond.notify_all()

    def close(self):
        with self.cond:
            self.open = False
            self.cond.wait_for(lambda: self.in_flight == 0)

    def reopen(self):
        with self.cond:
            self.open = True


gate = SetGate()
stop_load = threading.Event()
# Set as a SET goes out, so that some kills land inside the write-back that follows it.
set_sent = threading.Event()


def request(line, kind, pdu, oids, request_id, values=None):
    """One request, accounted; the reply, or None."""
    message = h.snmp_message(pdu, request_id, oids, values=values)
    noise = getattr(line, "last_noise", None)
    sent = now()
    reply = line.exchange(message, request_id)
    done = now()
    line.last_noise = None
    if reply is None:
        if timeline.down_during(sent, done):
            stats.count(stats.lost_expected, kind)
        else:
            with stats.lock:
                stats.lost_unexpected += 1
            stats.fail("%s %s on %s: no answer within %.0f s while farlink was up%s"
                       % (kind, oids[0], getattr(line, "path", "bridge"), REPLY_TIMEOUT,
                          ", after " + noise if noise else ""))
        return None
    ended_walk = pdu == h.GETNEXT and reply["error_status"] == 2
    if reply["type"] != h.RESPONSE or (reply["error_status"] != 0 and not ended_walk):
        stats.fail("%s %s: error-status %d index %d" % (kind, oids[0], reply["error_status"],
                                                        reply["error_index"]))
        return None
    stats.count(stats.answered, kind)
    if not timeline.down_during(sent, done):  # an answer from the next start is no round trip
        with stats.lock:
            stats.latencies.append(done - sent)
    return reply


def set_value(line, key, oid, kind, value, request_id):
    """A SET of one key, entered in the ledger; True when acknowledged with the value."""
    if kind == "number":
        binding = (h.TAG_INTEGER, int(value).to_bytes(4, "big", signed=True).lstrip(b"\0") or b"\0")
    else:
        binding = (h.TAG_OCTETS, value.encode())
    entry = ledger.sent(key, value, now())
    set_sent.set()
    reply = request(line, "set", h.SET, [oid], request_id, values=[binding])
    if reply is None:
        return False
    got = reply["varbinds"][0][2]
    if (int(value) if kind == "number" else value.encode()) != got:
        stats.fail("SET %s=%s answered with %r" % (key, value, got))
        return False
    ledger.acked(entry, now())
    return True


def worker(index, line, set_key, seed):
    rng = random.Random(seed)
    key, oid, kind = set_key
    request_id = index * 100_000_000
    walk = None
    while not stop_load.is_set():
        request_id += 1
        choice = rng.random()
        if choice < 0.15 and gate.enter():
            try:
                value = (str(rng.randrange(1, 100)) if kind == "number"
                         else "555-%04d" % rng.randrange(10000))
                set_value(line, key, oid, kind, value, request_id)
            finally:
                gate.leave()
        elif choice < 0.55:
            request(line, "get", h.GET, rng.choice(GETS), request_id)
        else:
            table = walk[0] if walk else rng.choice(WALKS)
            cursor = walk[1] if walk else table
            reply = request(line, "getnext", h.GETNEXT, [cursor], request_id)
            walk = None
            if reply is not None and reply["error_status"] == 0:
                name = reply["varbinds"][0][0]
                if name.startswith(table + "."):
                    walk = (table, name)
        if rng.random() < 0.25 and line.noise(rng):
            with stats.lock:
                stats.noise += 1
        time.sleep(rng.uniform(0.02, 0.08))


# ---------------------------------------------------------------------------------------------
# The file


def parse_ini(path):
    """{section: {key: value}} with the names as written; raises ValueError on a line that is
    neither blank, a comment, a section nor a key."""
    sections = {}
    current = None
    with open(path, encoding="latin-1") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\r\n").strip()
            if not line or line.startswith(";"):
                continue
            if line.startswith("[") and line.endswith("]"):
                current = sections.setdefault(line[1:-1].strip().lower(), {})
            elif "=" in line and current is not None:
                k, v = line.split("=", 1)
                current.setdefault(k.strip().lower(), v.strip())
            else:
                raise ValueError("line %d is not INI: %r" % (number, raw))
    return sections


held_keys = set()


def rewrites_left(windir):
    return sorted(name for name in os.listdir(windir) if name.startswith(".TESSEL.INI."))


def check_ini(path, when, allowed=None, killed=None):
    """Checks the file; allowed maps a SET key to the values it may hold (default: exactly the
    last acknowledged one). False on damage (reported)."""
    stats.ini_checks += 1
    try:
        sections = parse_ini(path)
    except (OSError, ValueError) as e:
        stats.fail("TESSEL.INI %s: %s" % (when, e))
        return False
    ok = True
    keys = {(s, k) for s, entries in sections.items() for k in entries}
    for section, key in sorted(held_keys - keys):
        stats.fail("TESSEL.INI %s: [%s] %s is gone" % (when, section, key))
        ok = False
    held_keys.update(keys)
    for key, _, _ in SET_KEYS:
        value = sections.get(SET_SECTIONS[key], {}).get(key.lower())
        expected = ledger.expected(key)
        may = allowed[key] if allowed else {expected}
        if value not in may:
            stats.fail("TESSEL.INI %s: %s=%r, not the acknowledged %r%s"
                       % (when, key, value, expected,
                          " (nor any of %s)" % sorted(may) if allowed else ""))
            ok = False
        elif value != expected:
            acked = ledger.acked_at(key)
            with stats.lock:
                stats.tolerated.append("%s: %s=%s, not yet %s (acknowledged %.0f ms before the"
                                       " kill)" % (when, key, value, expected,
                                                   1000 * (killed - acked)))
    return ok


def wait_for_write_back(path, when):
    """While farlink is up every acknowledged SET reaches the file within WRITE_BACK_SECONDS."""
    deadline = now() + WRITE_BACK_SECONDS
    while now() < deadline:
        try:
            sections = parse_ini(path)
            if all(sections.get(SET_SECTIONS[k], {}).get(k.lower()) == ledger.expected(k)
                   for k, _, _ in SET_KEYS):
                break
        except (OSError, ValueError):
            pass
        time.sleep(0.05)
    return check_ini(path, when)


# ---------------------------------------------------------------------------------------------
# The programs


class Notifications:
    """The socket systemd would hand farlink as NOTIFY_SOCKET; READY=1 marks it up."""

    def __init__(self, path):
        self.path = path
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(path)
        self.ready = threading.Event()
        self.ready_at = None
        self.status = ""
        threading.Thread(target=self.listen, daemon=True).start()

    def listen(self):
        while True:
            try:
                data = self.sock.recv(4096).decode(errors="replace")
            except OSError:
                return
            for line in data.splitlines():
                if line == "READY=1":
                    self.ready_at = now()
                    self.ready.set()
                elif line.startswith("STATUS="):
                    self.status = line[7:]


class Suite:
    def __init__(self, tmp):
        self.tmp = tmp
        self.windir = os.path.join(tmp, "windir")
        os.mkdir(self.windir)
        self.ini = os.path.join(self.windir, "TESSEL.INI")
        sections = [("Serial Port Parameters.%d" % n, "COM%d" % n) for n in range(1, 5)]
        with open(self.ini, "w") as f:
            for section, com in sections:
                f.write(h.PORT_SECTION.replace("Serial Port Parameters.1", section)
                        .replace("COM1", com) + "\n")
            f.write(INI_TEXT)
        shutil.copy(os.path.join(REPOSITORY, "packaging", "MODEL.KORU"), self.windir)
        self.events = os.path.join(tmp, "events.log")
        self.notify = Notifications(os.path.join(tmp, "notify"))
        self.block = "farlink-soak-%d" % os.getpid()
        self.bridges = [h.Bridge(), h.Bridge()]
        self.ptys = [PtyLine(40123), PtyLine(40124)]
        self.inband = h.InBand(self.windir, self.block)
        self.agent = None
        self.agent_dirs = []

    def lines(self):
        return [b.agent_line for b in self.bridges] + [p.path for p in self.ptys]

    def start_agent(self):
        """Starts farlink and waits for READY=1; False when it does not come."""
        self.notify.ready.clear()
        coms = {"FARLINK_COM%d" % n: line for n, line in enumerate(self.lines(), 1)}
        self.agent = h.Agent(self.lines()[0], ini_text=None, inband=self.inband,
                             notify_socket=self.notify.path,
                             env=dict(coms, WINDIR=self.windir, FARLINK_EVENTLOG=self.events))
        self.agent_dirs.append(self.agent.dir)
        if not self.notify.ready.wait(READY_TIMEOUT):
            stats.fail("farlink sent no READY=1 within %.0f s (exit %s); its output:\n%s"
                       % (READY_TIMEOUT, self.agent.proc.poll(), self.agent.console()))
            return False
        timeline.came_up(self.notify.ready_at)
        return True

    def processes(self):
        named = [("farlink", self.agent.proc.pid if self.agent else None),
                 ("koru-inband", self.inband.proc.pid)]
        return named + [("bridge%d" % n, b.proc.pid) for n, b in enumerate(self.bridges, 1)]

    def stop(self):
        if self.agent and self.agent.alive():
            self.agent.stop()
        self.inband.stop()
        for bridge in self.bridges:
            bridge.stop()
        for directory in self.agent_dirs:
            shutil.rmtree(directory, ignore_errors=True)


samples = []


def sampler(suite):
    while not stop_load.wait(SAMPLE_EVERY):
        row = {"t": now() - START}
        for name, pid in suite.processes():
            try:
                with open("/proc/%d/status" % pid) as f:
                    rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
                row[name] = (rss, len(os.listdir("/proc/%d/fd" % pid)))
            except (OSError, StopIteration, TypeError):
                row[name] = None
        samples.append(row)


# ---------------------------------------------------------------------------------------------
# Faults


class Controller:
    def __init__(self, suite, rng):
        self.suite = suite
        self.rng = rng
        self.line = UdpLine(suite.bridges[0])
        self.request_id = 900_000_000
        self.walk_rows = None

    def next_id(self):
        self.request_id += 1
        return self.request_id

    def settle(self, when):
        """Every SET key to a new value by the controller alone, then the file must hold them."""
        for key, oid, kind in SET_KEYS:
            value = str(self.rng.randrange(1, 100)) if kind == "number" else "555-9%03d" % (
                self.rng.randrange(1000))
            if not set_value(self.line, key, oid, kind, value, self.next_id()):
                stats.fail("the controller's SET of %s %s was not acknowledged" % (key, when))
        return wait_for_write_back(self.suite.ini, when)

    def kill_agent(self):
        suite = self.suite
        if self.rng.random() < 0.5:
            set_sent.clear()
            if set_sent.wait(2.0):
                time.sleep(self.rng.uniform(0.0, 0.015))
        killed = now()
        timeline.went_down(killed)
        suite.agent.proc.send_signal(signal.SIGKILL)
        suite.agent.proc.wait()
        suite.agent.output.close()
        stats.restarts += 1
        gate.close()
        try:
            when = "after kill %d" % stats.restarts
            allowed = {key: ledger.allowed_after_kill(key, killed) for key, _, _ in SET_KEYS}
            check_ini(suite.ini, when, allowed, killed)
            stats.stale_rewrites_after_kill += len(rewrites_left(suite.windir))
            if not suite.start_agent():
                return False
            # The write-back removes what a kill left as it starts, which may be a moment
            # after READY=1.
            deadline = now() + 1.0
            while rewrites_left(suite.windir) and now() < deadline:
                time.sleep(0.05)
            left = rewrites_left(suite.windir)
            if left:
                stats.fail("temporary copies left after farlink started again: %s" % left)
            self.settle("after restart %d" % stats.restarts)
        finally:
            gate.reopen()
        return True

    def restart_inband(self):
        suite = self.suite
        gate.close()
        try:
            # The stand-in fills the block from the file when it starts: the file must hold
            # every acknowledged value by now.
            wait_for_write_back(suite.ini, "before koru-inband restart %d"
                                % (stats.inband_restarts + 1))
            code = suite.inband.stop(keep_block=True)
            if code != 0:
                stats.fail("koru-inband ended with %r after SIGTERM" % code)
            suite.inband = h.InBand(suite.windir, suite.block)
            suite.agent.inband = suite.inband
            stats.inband_restarts += 1
        finally:
            gate.reopen()

    def inband_set(self):
        value = "soak%d@example.net" % self.rng.randrange(100000)
        self.suite.inband.set("EMail", value)
        stats.inband_sets += 1
        deadline = now() + 2.0
        while now() < deadline:
            reply = request(self.line, "get", h.GET, [EMAIL], self.next_id())
            if reply and reply["varbinds"][0][2] == value.encode():
                return
            time.sleep(0.1)
        stats.fail("farlink did not serve koru-inband's EMail=%s within 2 s" % value)

    def snmpwalk(self):
        started = now()
        code, out, err = h.snmp("snmpwalk", self.suite.bridges[1].port, WALKS[0], retries=1,
                                timeout=2)
        rows = len(h.walk_lines(out))
        if code == 0 and rows:
            if self.walk_rows is not None and rows != self.walk_rows:
                stats.fail("snmpwalk %s: %d rows, earlier %d" % (WALKS[0], rows, self.walk_rows))
            self.walk_rows = rows
            stats.walks[0] += 1
        elif timeline.down_during(started, now()):
            stats.walks[1] += 1
        else:
            stats.walks[2] += 1
            stats.fail("snmpwalk %s failed while farlink was up: %s" % (WALKS[0], err.strip()))

    def run(self, until):
        while now() < until:
            time.sleep(self.rng.uniform(2.0, 6.0))
            if now() >= until:
                break
            event = self.rng.choices(["kill", "inband-set", "inband-restart", "walk"],
                                     [3, 4, 2, 2])[0]
            print("%7.1fs %s" % (now() - START, event), flush=True)
            if event == "kill":
                if not self.kill_agent():
                    return False
            elif event == "inband-set":
                self.inband_set()
            elif event == "inband-restart":
                self.restart_inband()
            else:
                self.snmpwalk()
            if not self.suite.agent.alive():
                stats.fail("farlink ended on its own; its output:\n" + self.suite.agent.console())
                return False
        return True


# ---------------------------------------------------------------------------------------------
# The report


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p))] if values else 0.0


def report(minutes, elapsed):
    answered = sum(stats.answered.values())
    expected = sum(stats.lost_expected.values())
    unexpected = stats.lost_unexpected
    print()
    print("=== soak report: %.1f of %s minutes ===" % (elapsed / 60, minutes))
    print("requests sent       %d" % (answered + expected + unexpected))
    print("  answered          %d  (%s)" % (answered, ", ".join(
        "%s %d" % kv for kv in sorted(stats.answered.items()))))
    print("  lost, farlink down %d  (%s)" % (expected, ", ".join(
        "%s %d" % kv for kv in sorted(stats.lost_expected.items())) or "none"))
    print("  lost, farlink up  %d" % unexpected)
    print("round trip          median %.1f ms, 99%% %.1f ms, max %.1f ms"
          % (1000 * percentile(stats.latencies, 0.5), 1000 * percentile(stats.latencies, 0.99),
             1000 * max(stats.latencies, default=0)))
    print("noise between requests %d times" % stats.noise)
    print("snmpwalk            %d complete, %d lost while down, %d failed" % tuple(stats.walks))
    print("farlink kill -9 and restart %d; koru-inband restarts %d; koru-inband sets %d"
          % (stats.restarts, stats.inband_restarts, stats.inband_sets))
    print("TESSEL.INI checks   %d; temporary copies found right after a kill %d (removed at the"
          " restart)" % (stats.ini_checks, stats.stale_rewrites_after_kill))
    print("  SET values the write-back had not reached at a kill: %d" % len(stats.tolerated))
    for line in stats.tolerated[:5]:
        print("    " + line)
    print("resident memory (KB) / open files over time:")
    names = ["farlink", "bridge1", "bridge2", "koru-inband"]
    print("    time " + "".join("%18s" % n for n in names))
    rows = samples[::max(1, len(samples) // 12)]
    if rows and rows[-1] is not samples[-1]:
        rows.append(samples[-1])
    for row in rows:
        print("  %5.0fs " % row["t"] + "".join(
            "%18s" % ("%d / %d" % row[n] if row.get(n) else "-") for n in names))
    for name in names:
        values = [row[name] for row in samples if row.get(name)]
        if values:
            print("  %-12s RSS %d..%d KB, open files %d..%d" % (
                name, min(v[0] for v in values), max(v[0] for v in values),
                min(v[1] for v in values), max(v[1] for v in values)))
    if stats.failures:
        print("FAILURES (%d):" % len(stats.failures))
        for line in stats.failures[:30]:
            print("  " + line)
    else:
        print("no unexpected loss, no damage to TESSEL.INI")


def main():
    global ledger
    minutes = float(sys.argv[1]) if len(sys.argv) > 1 else 10.0
    rng = random.Random(int(os.environ.get("FARLINK_SOAK_SEED", str(int(time.time())))))
    tmp = tempfile.mkdtemp(prefix="farlink-soak-")
    suite = None
    ok = False
    started = now()
    try:
        suite = Suite(tmp)
        initial = parse_ini(suite.ini)
        ledger = Ledger({k: initial[SET_SECTIONS[k]][k.lower()] for k, _, _ in SET_KEYS})
        held_keys.update((s, k) for s, entries in initial.items() for k in entries)
        print("soak: %s minutes; lines %s; files in %s" % (minutes, ", ".join(suite.lines()),
                                                          tmp), flush=True)
        if not suite.start_agent():
            raise SystemExit(1)
        started = now()
        workers = [UdpLine(b) for b in suite.bridges] + suite.ptys
        threads = [threading.Thread(target=worker, args=(n, line, SET_KEYS[n],
                                                         rng.randrange(1 << 30)), daemon=True)
                   for n, line in enumerate(workers)]
        threads.append(threading.Thread(target=sampler, args=(suite,), daemon=True))
        for t in threads:
            t.start()
        controller = Controller(suite, rng)
        running = controller.run(started + minutes * 60)
        stop_load.set()
        for t in threads:
            t.join(timeout=2 * REPLY_TIMEOUT + 1)
        if running:
            wait_for_write_back(suite.ini, "at the end, farlink up")
            code = suite.agent.stop()
            if code != 0:
                stats.fail("farlink ended with %r after SIGTERM" % code)
            check_ini(suite.ini, "at the end, farlink stopped")
            if rewrites_left(suite.windir):
                stats.fail("temporary copies left at the end: %s" % rewrites_left(suite.windir))
        report(minutes, now() - started)
        ok = running and not stats.failures
    except Exception:
        traceback.print_exc()
    finally:
        stop_load.set()
        if suite is not None:
            suite.stop()
            h.remove_block(suite.block)
        if ok:
            shutil.rmtree(tmp, ignore_errors=True)
        else:
            print("files kept in %s" % tmp)
    return 0 if ok else 1


ledger = None

if __name__ == "__main__":
    sys.exit(main())
