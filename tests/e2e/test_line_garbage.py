"""Noise on the line: the agent must drop it, answer every well-formed frame that follows a
resynchronising END, and stay up. This test is the station itself: it owns the pseudo-terminal
and builds the frames byte by byte."""

import os
import random
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

OID = h.ENTERPRISE + ".2.1.0"
# The adapter count of the sample machine, which the line carries in every answer.
SAMPLE_ADAPTERS = 2
STATION_PORT = 40123


def request_frame(ident, request_id, udp_checksum=True):
    message = h.snmp_message(h.GET, request_id, [OID])
    return h.slip_encode(h.build_datagram(message, h.STATION_IP, h.AGENT_IP, STATION_PORT,
                                          h.SNMP_PORT, ident, udp_checksum=udp_checksum))


def garbage(rng, size):
    # Anything but END; ESC and lone escape codes on purpose.
    pool = [b for b in range(256) if b != h.END] + [h.ESC] * 20
    return bytes(rng.choice(pool) for _ in range(size))


class LineGarbageTest(unittest.TestCase):
    def setUp(self):
        self.master, self.slave = os.openpty()
        # Raw before the agent opens it, so nothing is echoed back as if the agent had sent it.
        h.make_raw(self.slave)
        self.agent = h.Agent(os.ttyname(self.slave))
        self.reader = h.SlipReader()
        self.pending = []

    def tearDown(self):
        code = self.agent.stop()
        console = self.agent.console()
        self.agent.cleanup()
        os.close(self.master)
        os.close(self.slave)
        self.assertEqual(code, 0, "agent after SIGTERM; its output:\n" + console)

    def next_reply(self, seconds):
        if not self.pending:
            self.pending = h.read_frames(self.master, self.reader, 1, seconds=seconds)
        return h.parse_datagram(self.pending.pop(0)) if self.pending else None

    def await_reply(self, ident):
        """The reply with this identification; replies to earlier frames are passed over."""
        deadline = time.monotonic() + h.REPLY_SECONDS
        while True:
            reply = self.next_reply(max(0.0, deadline - time.monotonic()))
            self.assertIsNotNone(reply, "no answer to id %#06x" % ident)
            if reply["id"] == ident:
                return reply

    def wait_until_answering(self):
        deadline = time.monotonic() + h.READY_SECONDS
        ident = 0
        while time.monotonic() < deadline and self.agent.alive():
            ident += 1
            os.write(self.master, request_frame(ident, ident))
            reply = self.next_reply(1.0)
            if reply is not None:
                # Probes sent before the agent came up are answered in order, so once the last
                # one is answered the agent holds nothing more.
                if reply["id"] != ident:
                    self.await_reply(ident)
                return
        self.fail("the agent never answered; its output:\n" + self.agent.console())

    def wait_until_read(self):
        """Waits until the agent has taken every byte off the line."""
        deadline = time.monotonic() + h.REPLY_SECONDS
        while h.unread_bytes(self.slave) > 0:
            self.assertLess(time.monotonic(), deadline, "the agent stopped reading its line")
            time.sleep(0.02)
        # The reader drops what it holds right after the read that brought it; give it that
        # moment so the next frame does not arrive in the same read as the noise.
        time.sleep(0.2)

    def exchange(self, ident, request_id, udp_checksum=True):
        os.write(self.master, request_frame(ident, request_id, udp_checksum))
        return self.await_reply(ident)

    def test_frames_after_noise_are_answered(self):
        self.wait_until_answering()
        # The identification and request-id contain END and ESC bytes, so the frames carry
        # escapes too.
        rounds = [(0xC0DB, 0x00C0DB01, True), (0x0102, 7, True), (0xDBC0, 0x7FC0C0C0, False),
                  (0x4242, 12345, True), (0x00C0, 99, False), (0xFFFF, 1, True)]
        rng = random.Random(1995)
        sizes = [1, 17, 200, 511, 1500, 3]
        for (ident, request_id, with_checksum), size in zip(rounds, sizes):
            os.write(self.master, garbage(rng, size) + bytes([h.END]))
            self.wait_until_read()
            reply = self.exchange(ident, request_id, with_checksum)
            self.assertTrue(self.agent.alive())
            self.assertEqual(reply["id"], ident)
            self.assertEqual(reply["ttl"], 254)
            self.assertEqual((reply["src"], reply["dst"]), (h.AGENT_IP, h.STATION_IP))
            self.assertEqual((reply["sport"], reply["dport"]), (h.SNMP_PORT, STATION_PORT))
            self.assertTrue(reply["ip_checksum_ok"])
            self.assertEqual(reply["udp_checksum"] != 0, with_checksum)
            self.assertTrue(reply["udp_checksum_ok"])
            message = h.decode_message(reply["payload"])
            self.assertEqual(message["type"], h.RESPONSE)
            self.assertEqual(message["request_id"], request_id)
            self.assertEqual(message["error_status"], 0)
            self.assertEqual(message["varbinds"], [(OID, h.TAG_INTEGER, SAMPLE_ADAPTERS)])

    def test_framed_noise_is_refused_and_the_next_frame_answered(self):
        self.wait_until_answering()
        rng = random.Random(7)
        # A framed datagram of noise fails to decode (no reply); one longer than the agent's
        # frame block is dropped whole. Neither may stop the agent.
        for size in (40, 600):
            os.write(self.master, bytes([h.END]) + garbage(rng, size) + bytes([h.END]))
            self.wait_until_read()
            os.write(self.master, request_frame(0x1000 + size, size))
            # Nothing answers the noise: the first reply is the one to the real request.
            reply = self.next_reply(h.REPLY_SECONDS)
            self.assertIsNotNone(reply, "no answer after %d bytes of framed noise" % size)
            self.assertEqual(reply["id"], 0x1000 + size)
            self.assertEqual(h.decode_message(reply["payload"])["request_id"], size)
        self.assertTrue(self.agent.alive())


if __name__ == "__main__":
    unittest.main()
