"""The bridge on its own: this test plays the agent on the line and checks what the bridge puts
on the wire and which replies it hands to which manager."""

import os
import random
import socket
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402


class StubAgentTest(unittest.TestCase):
    bridge_args = ()

    def setUp(self):
        self.bridge = h.Bridge(*self.bridge_args)
        self.line = os.open(self.bridge.agent_line, os.O_RDWR | os.O_NOCTTY)
        h.make_raw(self.line)
        self.reader = h.SlipReader()
        self.managers = []
        self.stopped = False

    def tearDown(self):
        if not self.stopped:
            self.bridge.stop()
        os.close(self.line)
        for m in self.managers:
            m.close()

    def stop_bridge(self):
        """Stops the bridge and returns what it wrote on standard error."""
        self.stopped = True
        self.assertEqual(self.bridge.stop(), 0)
        return self.bridge.errors()

    def manager(self):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(("127.0.0.1", 0))
        s.settimeout(h.REPLY_SECONDS)
        self.managers.append(s)
        return s

    def send(self, manager, payload):
        manager.sendto(payload, ("127.0.0.1", self.bridge.port))

    def requests(self, count):
        frames = h.read_frames(self.line, self.reader, count)
        self.assertEqual(len(frames), count, "%d of %d frames came" % (len(frames), count))
        return [h.parse_datagram(f) for f in frames]

    def answer(self, request, payload, **changes):
        """A reply as the agent builds it; `changes` override its fields."""
        fields = dict(src=request["dst"], dst=request["src"], sport=request["dport"],
                      dport=request["sport"], ident=request["id"], ttl=254,
                      udp_checksum=request["udp_checksum"] != 0)
        fields.update(changes)
        return h.build_datagram(payload, **fields)

    def write_line(self, data):
        os.write(self.line, data)


class RequestFramingTest(StubAgentTest):
    def test_request_is_wrapped_in_ipv4_udp_with_both_checksums(self):
        m = self.manager()
        payloads = [b"\x30\x03\xc0\xdb\x01", b"second request, with END \xc0 and ESC \xdb"]
        for p in payloads:
            self.send(m, p)
        first, second = self.requests(2)
        for d, p in zip((first, second), payloads):
            self.assertEqual(d["payload"], p)
            self.assertEqual(d["version_ihl"], 0x45)
            self.assertEqual(d["total_length"], d["size"])
            self.assertEqual(d["udp_length"], 8 + len(p))
            self.assertEqual((d["ttl"], d["protocol"], d["frag"]), (64, 17, 0))
            self.assertEqual((d["src"], d["dst"], d["dport"]), (h.STATION_IP, h.AGENT_IP, 161))
            self.assertTrue(d["ip_checksum_ok"])
            self.assertNotEqual(d["udp_checksum"], 0)
            self.assertTrue(d["udp_checksum_ok"])
        # One manager keeps its line port; the identification counts up.
        self.assertEqual(first["sport"], second["sport"])
        self.assertTrue(40000 <= first["sport"] < 40032)
        self.assertEqual(second["id"], (first["id"] + 1) & 0xFFFF)

    def test_reply_reaches_the_manager_as_its_payload(self):
        m = self.manager()
        self.send(m, b"get")
        (req,) = self.requests(1)
        self.write_line(h.slip_encode(self.answer(req, b"answer \xc0\xdb")))
        data, source = m.recvfrom(65536)
        self.assertEqual(data, b"answer \xc0\xdb")
        self.assertEqual(source, ("127.0.0.1", self.bridge.port))

    def test_line_garbage_and_empty_frames_are_skipped(self):
        m = self.manager()
        self.send(m, b"one")
        self.send(m, b"two")
        one, two = self.requests(2)
        # Noise before a frame is closed by the frame's own opening END and dropped, as is a
        # run longer than any frame may be; END END is an empty frame.
        self.write_line(b"\x01" * 3000 + b"\xc0ATZ\r\nnoise\xdb\x01"
                        + h.slip_encode(self.answer(one, b"reply one"))
                        + b"\xc0\xc0\xc0" + h.slip_encode(self.answer(two, b"reply two")))
        self.assertEqual(m.recvfrom(65536)[0], b"reply one")
        self.assertEqual(m.recvfrom(65536)[0], b"reply two")

    def test_random_line_noise_is_survived(self):
        m = self.manager()
        self.send(m, b"request")
        (req,) = self.requests(1)
        rng = random.Random(42)
        noise = bytes(rng.choice(b"\xc0\xdb\xdc\xdd\x45\x00\x11") if rng.random() < 0.3
                      else rng.randrange(256) for _ in range(20000))
        # Noise cut into datagram-sized pieces too, so the header checks see plausible lengths.
        pieces = b"".join(h.slip_encode(noise[i:i + rng.randrange(1, 80)])
                          for i in range(0, 4000, 40))
        self.write_line(noise + pieces + h.slip_encode(self.answer(req, b"still here")))
        self.assertEqual(m.recvfrom(65536)[0], b"still here")
        self.assertEqual(self.bridge.proc.poll(), None)

    def test_bad_checksums_and_strangers_are_dropped_and_reported(self):
        m = self.manager()
        self.send(m, b"request")
        (req,) = self.requests(1)
        good = self.answer(req, b"the good reply")
        bad_header = bytearray(self.answer(req, b"bad header"))
        bad_header[10] ^= 0x55
        bad_udp = bytearray(self.answer(req, b"bad udp"))
        bad_udp[26] ^= 0x55
        wrong_id = self.answer(req, b"wrong id", ident=(req["id"] + 7) & 0xFFFF)
        wrong_source = self.answer(req, b"wrong source", src="198.51.100.99")
        short = good[:27]
        for d in (bad_header, bad_udp, wrong_id, wrong_source, short, good):
            self.write_line(h.slip_encode(bytes(d)))
        # Replies are handled in line order, so the first datagram the manager sees shows that
        # all those before the good one were dropped.
        self.assertEqual(m.recvfrom(65536)[0], b"the good reply")
        # The reply was taken: a second copy finds nothing pending.
        self.write_line(h.slip_encode(good))
        errors = self.stop_bridge()
        for text in ("bad IPv4 header checksum in reply", "bad UDP checksum in reply",
                     "matches no pending request", "is not the agent's", "too short"):
            self.assertIn(text, errors)
        # Both unmatched replies came in one burst: told once, then counted.
        self.assertEqual(errors.count("matches no pending request"), 1)
        self.assertIn("1 more dropped in that burst: replies that match no pending request",
                      errors)

    def test_a_burst_of_drops_is_one_line_and_a_count(self):
        m = self.manager()
        self.send(m, b"request")
        (req,) = self.requests(1)
        stray = [self.answer(req, b"stray", ident=(req["id"] + 1 + i) & 0xFFFF)
                 for i in range(200)]
        self.write_line(b"".join(h.slip_encode(d) for d in stray))
        self.write_line(h.slip_encode(self.answer(req, b"real")))
        self.assertEqual(m.recvfrom(65536)[0], b"real")
        lines = [line for line in self.stop_bridge().splitlines() if "dropped" in line]
        self.assertEqual(len(lines), 2, lines)
        self.assertIn("199 more dropped in that burst: replies that match no pending request",
                      lines[1])

    def test_reply_without_udp_checksum_is_accepted(self):
        m = self.manager()
        self.send(m, b"request")
        (req,) = self.requests(1)
        self.write_line(h.slip_encode(self.answer(req, b"no checksum", udp_checksum=False)))
        self.assertEqual(m.recvfrom(65536)[0], b"no checksum")


class ChecksumOffTest(StubAgentTest):
    bridge_args = ("--udp-checksum", "off")

    def test_requests_carry_no_udp_checksum(self):
        self.send(self.manager(), b"plain")
        (req,) = self.requests(1)
        self.assertEqual(req["udp_checksum"], 0)
        self.assertTrue(req["ip_checksum_ok"])
        self.assertEqual(req["payload"], b"plain")


class ManagersTest(StubAgentTest):
    def test_each_manager_gets_only_its_own_replies(self):
        a, b = self.manager(), self.manager()
        self.send(a, b"from a")
        self.send(b, b"from b")
        ra, rb = self.requests(2)
        self.assertEqual((ra["payload"], rb["payload"]), (b"from a", b"from b"))
        self.assertNotEqual(ra["sport"], rb["sport"])
        # Answered out of order.
        self.write_line(h.slip_encode(self.answer(rb, b"to b")))
        self.write_line(h.slip_encode(self.answer(ra, b"to a")))
        self.assertEqual(a.recvfrom(65536)[0], b"to a")
        self.assertEqual(b.recvfrom(65536)[0], b"to b")

    def test_reused_line_port_never_passes_a_late_reply_to_the_new_manager(self):
        first = self.manager()
        self.send(first, b"old")
        (old,) = self.requests(1)
        # Enough other managers to make the first one's slot the least recently used.
        others = [self.manager() for _ in range(32)]
        for i, m in enumerate(others):
            self.send(m, b"m%d" % i)
        newer = self.requests(32)
        reused = [r for r in newer if r["sport"] == old["sport"]]
        self.assertEqual(len(reused), 1)
        owner = others[[r["payload"] for r in newer].index(reused[0]["payload"])]
        # The late reply to the old request comes first, then the new owner's own reply.
        self.write_line(h.slip_encode(self.answer(old, b"late")))
        self.write_line(h.slip_encode(self.answer(reused[0], b"own")))
        self.assertEqual(owner.recvfrom(65536)[0], b"own")
        self.assertIn("matches no pending request", self.stop_bridge())


class CommandLineTest(unittest.TestCase):
    def test_help_and_bad_options(self):
        done = subprocess.run([h.bridge_binary(), "--help"], capture_output=True, text=True)
        self.assertEqual(done.returncode, 0)
        for option in ("--device", "--baud", "--pty", "--pty-link", "--listen", "--station-ip",
                       "--agent-ip", "--udp-checksum", "--verbose"):
            self.assertIn(option, done.stdout)
        for args in (["--pty", "--udp-checksum", "maybe"], ["--pty", "--listen", "nowhere"],
                     ["--pty", "--device", "/dev/null"], [], ["--pty", "--agent-ip", "1.2.3"],
                     ["--device", "/dev/null", "--baud", "12345x"], ["--bogus"]):
            done = subprocess.run([h.bridge_binary(), *args], capture_output=True, text=True)
            self.assertEqual(done.returncode, 2, args)
            self.assertIn("usage:", done.stderr)

    def test_listening_beyond_loopback_is_warned_about(self):
        for address, warned in (("0.0.0.0", True), ("127.0.0.2", False)):
            bridge = h.Bridge("--listen", "%s:%d" % (address, h.free_udp_port()))
            self.assertEqual(bridge.stop(), 0)
            self.assertEqual("not loopback" in bridge.errors(),
                             warned, bridge.errors())

    def test_pty_link_is_made_and_removed_and_verbose_logs(self):
        with tempfile.TemporaryDirectory() as tmp:
            link = os.path.join(tmp, "line")
            bridge = h.Bridge("--pty-link", link, "--verbose")
            try:
                self.assertEqual(os.path.realpath(link), os.path.realpath(bridge.agent_line))
                line = os.open(link, os.O_RDWR | os.O_NOCTTY)
                h.make_raw(line)
                with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as m:
                    m.settimeout(h.REPLY_SECONDS)
                    m.sendto(b"hello", ("127.0.0.1", bridge.port))
                    frames = h.read_frames(line, h.SlipReader(), 1)
                    self.assertEqual(len(frames), 1)
                    req = h.parse_datagram(frames[0])
                    os.write(line, h.slip_encode(h.build_datagram(
                        b"hi", req["dst"], req["src"], 161, req["sport"], req["id"])))
                    self.assertEqual(m.recvfrom(100)[0], b"hi")
                os.close(line)
            finally:
                self.assertEqual(bridge.stop(), 0)
            self.assertFalse(os.path.lexists(link))
            errors = bridge.errors()
            self.assertIn("request 127.0.0.1:", errors)
            self.assertIn("reply line port", errors)

    def test_missing_device_fails(self):
        done = subprocess.run([h.bridge_binary(), "--device", "/nonexistent/tty",
                               "--listen", "127.0.0.1:%d" % h.free_udp_port()],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 1)
        self.assertIn("/nonexistent/tty", done.stderr)


if __name__ == "__main__":
    unittest.main()
