"""The real server against the independent Python phone: pairing, commands, pictures and pushes,
all checked on the wire."""

import base64
import hashlib
import os
import tempfile
import unittest

import phone
from phone import WirePhone
from testhost import TestHost

PNG = b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 586  # 150,024 bytes: three chunks


class WireTestCase(unittest.TestCase):
    def setUp(self):
        self.state = tempfile.TemporaryDirectory()
        self.host = TestHost(self.state.name)
        self.phones = []

    def tearDown(self):
        for p in self.phones:
            p.close()
        status = self.host.stop()
        self.state.cleanup()
        self.assertEqual(status, 0, "\n".join(self.host.stderr))

    def connect(self, fingerprint=None):
        p = WirePhone("127.0.0.1", self.host.port, fingerprint or self.host.fingerprint)
        self.phones.append(p)
        return p.open()

    def paired_secret(self, name="Wire Phone"):
        link = phone.parse_link(self.host.new_link())
        self.assertEqual(link["fingerprint"], self.host.fingerprint)
        p = self.connect()
        reply = p.request(phone.pair(link["token"], name))
        self.assertEqual(reply["type"], "paired")
        self.assertEqual(self.host.expect("approval"), name)
        return p, reply["secret"]


class PairingAndCommands(WireTestCase):
    def test_pairs_then_types_keys_and_passwords(self):
        p, secret = self.paired_secret()
        self.assertGreaterEqual(len(secret), 32)

        self.assertEqual(p.request(phone.text("hello from the wire")), {"v": 1, "type": "ack", "ok": True})
        self.assertEqual(self.host.expect_command(), {"type": "text", "payload": "hello from the wire"})
        self.assertTrue(p.request(phone.key("TAB"))["ok"])
        self.assertEqual(self.host.expect_command(), {"type": "key", "payload": "TAB"})
        self.assertTrue(p.request(phone.secret("hunter2", enter=True))["ok"])
        self.assertEqual(self.host.expect_command(),
                         {"type": "secret", "sha256": hashlib.sha256(b"hunter2").hexdigest(), "enter": True})

        # A refusal that leaves the link open.
        busy = p.request(phone.text("fail:busy"))
        self.assertEqual((busy["ok"], busy["error"]), (False, "busy"))
        self.assertTrue(p.request(phone.text("still here"))["ok"])

        # The secret opens later connections.
        again = self.connect()
        self.assertEqual(again.request(phone.hello(secret)), {"v": 1, "type": "ack", "ok": True})
        self.assertTrue(again.request(phone.text("second link"))["ok"])

    def test_refusals_before_authentication_close_the_link(self):
        p = self.connect()
        reply = p.request(phone.text("too early"))
        self.assertEqual((reply["ok"], reply["error"]), (False, "unauthenticated"))
        with self.assertRaises(phone.LinkClosed):
            p.receive(timeout=5)

        stranger = self.connect()
        reply = stranger.request(phone.hello("not a paired phone"))
        self.assertEqual(reply["error"], "unknown_device")
        with self.assertRaises(phone.LinkClosed):
            stranger.receive(timeout=5)

        used = phone.parse_link(self.host.link)
        first = self.connect()
        first.request(phone.pair(used["token"], "First"))
        self.assertEqual(self.host.expect("approval"), "First")
        second = self.connect()
        self.assertEqual(second.request(phone.pair(used["token"], "Second"))["error"], "token_invalid")

    def test_another_certificate_is_refused_before_anything_is_sent(self):
        with self.assertRaises(phone.CertificateMismatch):
            self.connect("0" * 64)
        p, _ = self.paired_secret()
        self.assertTrue(p.request(phone.text("after the refused attempt"))["ok"])
        self.assertEqual(self.host.expect_command()["payload"], "after the refused attempt")


class Pictures(WireTestCase):
    def test_picture_in_chunks_with_save(self):
        p, _ = self.paired_secret()
        reply = p.send_image(PNG, "png", save=True)
        self.assertEqual(reply, {"v": 1, "type": "ack", "ok": True, "saved": "received.png",
                                 "savedIn": "Test Pictures"})
        self.assertEqual(self.host.expect_command(),
                         {"type": "image", "format": "png", "size": len(PNG),
                          "sha256": hashlib.sha256(PNG).hexdigest(), "save": True})

    def test_out_of_order_chunk_is_refused(self):
        p, _ = self.paired_secret()
        self.assertTrue(p.request(phone.image_begin("X", "jpeg", 10))["ok"])
        reply = p.request(phone.image_chunk("X", 1, b"12345"))
        self.assertEqual(reply["error"], "bad_message")
        self.assertTrue(p.request(phone.text("link survives"))["ok"])


class Subscription(WireTestCase):
    def subscribed(self):
        _, secret = self.paired_secret()
        s = self.connect()
        self.assertTrue(s.request(phone.hello(secret))["ok"])
        self.assertTrue(s.request(phone.subscribe(accepts_secret=True))["ok"])
        return s

    def test_heartbeats_and_pushed_items(self):
        s = self.subscribed()
        self.assertEqual(s.request(phone.heartbeat(0)), {"v": 1, "type": "heartbeat_ack", "n": 0})
        self.assertEqual(s.request(phone.heartbeat(7))["n"], 7)

        self.host.tell("push-text to the phone")
        queued = self.host.expect("queued")
        pushed = s.receive()
        self.assertEqual((pushed["type"], pushed["id"], pushed["text"]), ("push_text", queued, "to the phone"))
        phone.parse_date(pushed["sentAt"])
        s.send(phone.push_ack(queued))
        self.assertEqual(self.host.expect("acked"), queued)

        self.host.tell("push-secret opensesame")
        queued = self.host.expect("queued")
        pushed = s.receive()
        self.assertEqual((pushed["type"], pushed["payload"]), ("push_secret", "opensesame"))
        s.send(phone.push_ack(queued))
        self.assertEqual(self.host.expect("acked"), queued)

        with tempfile.NamedTemporaryFile(suffix=".png") as picture:
            picture.write(PNG)
            picture.flush()
            self.host.tell("push-image " + picture.name)
            queued = self.host.expect("queued")
        begin = s.receive()
        self.assertEqual((begin["type"], begin["id"], begin["format"], begin["size"]),
                         ("push_image_begin", queued, "png", len(PNG)))
        data = b""
        for index in range(3):
            chunk = s.receive()
            self.assertEqual((chunk["type"], chunk["index"]), ("push_image_chunk", index))
            data += base64.b64decode(chunk["data"], validate=True)
        self.assertEqual(s.receive(), {"v": 1, "type": "push_image_end", "id": queued})
        self.assertEqual(data, PNG)
        s.send(phone.push_ack(queued))
        self.assertEqual(self.host.expect("acked"), queued)

    def test_commands_are_refused_on_a_subscription(self):
        s = self.subscribed()
        self.assertEqual(s.request(phone.text("not here"))["error"], "bad_message")


class QuietHost(WireTestCase):
    """--quiet, as the benchmarks run the host: the same answers, no line per command."""

    def setUp(self):
        self.state = tempfile.TemporaryDirectory()
        self.host = TestHost(self.state.name, "--quiet")
        self.phones = []

    def test_commands_and_pictures_are_answered_without_command_lines(self):
        p, _ = self.paired_secret()
        self.assertEqual(p.request(phone.text("hello")), {"v": 1, "type": "ack", "ok": True})
        busy = p.request(phone.text("fail:busy"))
        self.assertEqual((busy["ok"], busy["error"]), (False, "busy"))
        self.assertEqual(p.send_image(PNG, "png", save=True)["saved"], "received.png")
        # Every answer above came after its command line would have been written; a line written
        # after them (here, the answer to "devices") shows everything before it has been read.
        self.host.tell("devices")
        self.assertEqual(self.host.expect("devices"), "1")
        self.assertEqual(self.host.seen("command"), [])


if __name__ == "__main__":
    unittest.main()
