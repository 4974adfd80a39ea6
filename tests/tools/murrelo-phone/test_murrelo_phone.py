"""murrelo-phone as a person runs it, against the real server in the test host over 127.0.0.1."""

import hashlib
import json
import os
import queue
import signal
import stat
import subprocess
import sys
import tempfile
import struct
import threading
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "test-host"))
from testhost import TestHost  # noqa: E402

PHONE = os.environ.get("MURRELO_PHONE", "murrelo-phone")
# Pushed pictures are passed through untouched, so any bytes will do for them.
PNG = b"\x89PNG\r\n\x1a\n" + os.urandom(100_000)


def real_png(width, height):
    """A decodable PNG of noise."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    rows = b"".join(b"\x00" + os.urandom(width * 3) for _ in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
            + chunk(b"IEND", b""))
# Short enough that a dropped link is noticed within a test, long enough for a sanitizer build.
QUICK = ["--heartbeat", "200", "--deadline", "3000", "--connect-timeout", "3000"]


class PhoneTestCase(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.state = os.path.join(self.folder.name, "host")
        self.config = os.path.join(self.folder.name, "config")
        self.host = TestHost(self.state)

    def tearDown(self):
        status = self.host.stop()
        self.folder.cleanup()
        self.assertEqual(status, 0, "\n".join(self.host.stderr))

    def phone(self, *args, stdin=None):
        environment = dict(os.environ, XDG_CONFIG_HOME=self.config)
        return subprocess.run([PHONE, *args], input=stdin, capture_output=True, text=True, timeout=60,
                              env=environment)

    def pair(self, name="CLI Phone"):
        result = self.phone("pair", self.host.new_link(), "--name", name)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.host.expect("approval"), name)
        return result

    @property
    def pairing_file(self):
        return os.path.join(self.config, "murrelo-phone", "pairing.json")


class Commands(PhoneTestCase):
    def test_pairing_is_stored_privately(self):
        result = self.pair()
        self.assertIn("Paired with Test Host", result.stdout)
        self.assertEqual(stat.S_IMODE(os.stat(self.pairing_file).st_mode), 0o600)
        # The computer's data folder, which the test host made, holds its key and paired phones.
        self.assertEqual(stat.S_IMODE(os.stat(self.state).st_mode), 0o700)
        with open(self.pairing_file) as file:
            pairing = json.load(file)
        self.assertEqual((pairing["host"], pairing["port"], pairing["fingerprint"], pairing["deviceName"]),
                         ("127.0.0.1", self.host.port, self.host.fingerprint, "CLI Phone"))
        self.host.tell("devices")
        self.assertEqual(self.host.expect("devices"), "1")

    def test_text_keys_and_password(self):
        self.pair()
        result = self.phone("text", "Grüße from the command line")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.host.expect_command(), {"type": "text", "payload": "Grüße from the command line"})

        self.assertEqual(self.phone("key", "RETURN").returncode, 0)
        self.assertEqual(self.host.expect_command(), {"type": "key", "payload": "RETURN"})
        self.assertEqual(self.phone("key", "ESCAPE").returncode, 2)

        result = self.phone("secret", "--enter", stdin="correct horse\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.host.expect_command(),
                         {"type": "secret", "sha256": hashlib.sha256(b"correct horse").hexdigest(), "enter": True})
        self.assertEqual(self.phone("secret", "on-the-command-line").returncode, 2)

    def test_refusals_show_the_wire_code(self):
        self.pair()
        result = self.phone("text", "fail:not_password_field")
        self.assertEqual(result.returncode, 1)
        self.assertIn("(not_password_field)", result.stderr)

    def test_pictures(self):
        self.pair()
        picture = os.path.join(self.folder.name, "shot.png")
        image = real_png(300, 200)
        with open(picture, "wb") as file:
            file.write(image)
        result = self.phone("image", picture, "--save", "--original")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Saved on the computer as received.png in Test Pictures.", result.stdout)
        self.assertEqual(self.host.expect_command(),
                         {"type": "image", "format": "png", "size": len(image),
                          "sha256": hashlib.sha256(image).hexdigest(), "save": True})

        # Prepared by default: re-encoded as a JPEG, which for noise is far smaller than the PNG.
        result = self.phone("image", picture)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Sent ", result.stdout)
        received = self.host.expect_command()
        self.assertEqual((received["format"], received["save"]), ("jpeg", False))
        self.assertLess(received["size"], len(image))

        notes = os.path.join(self.folder.name, "notes.txt")
        with open(notes, "w") as file:
            file.write("not a picture")
        result = self.phone("image", notes)
        self.assertEqual(result.returncode, 1)
        self.assertIn("is not a picture this phone can read", result.stderr)
        self.assertEqual(self.host.seen("command"), [])

    def test_unpaired_and_wrongly_pinned(self):
        result = self.phone("text", "hi")
        self.assertEqual(result.returncode, 1)
        self.assertIn("not paired yet", result.stderr)
        self.assertEqual(self.phone("pair", "kestrune://pairing?h=x").returncode, 1)

        self.pair()
        with open(self.pairing_file) as file:
            pairing = json.load(file)
        pairing["fingerprint"] = "0" * 64
        with open(self.pairing_file, "w") as file:
            json.dump(pairing, file)
        result = self.phone("text", "hi")
        self.assertEqual(result.returncode, 1)
        self.assertIn("certificate does not match", result.stderr)
        self.assertEqual(self.host.seen("command"), [])

    def test_typing_arguments_keys_and_local_limits(self):
        self.pair()
        # "--" ends the options: text that looks like one is typed as it stands.
        for text in ("-h", "--name"):
            result = self.phone("text", "--", text)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(self.host.expect_command(), {"type": "text", "payload": text})
        # Key names in any case, sent in the wire's spelling.
        for name, wire in (("tab", "TAB"), ("Return", "RETURN")):
            self.assertEqual(self.phone("key", name).returncode, 0)
            self.assertEqual(self.host.expect_command(), {"type": "key", "payload": wire})

        # Refused here, with the reason, before anything reaches the computer.
        result = self.phone("secret", "--enter", stdin="")
        self.assertEqual(result.returncode, 1)
        self.assertIn("the password is empty", result.stderr)
        result = self.phone("text", "")
        self.assertEqual(result.returncode, 1)
        self.assertIn("the text is empty", result.stderr)
        # Control characters are escaped on the wire: 100,000 of them take 600,000 bytes there.
        result = self.phone("text", "\x01" * 100_000)
        self.assertEqual(result.returncode, 1)
        self.assertIn("too long", result.stderr)
        self.assertIn("262,144", result.stderr)
        self.assertEqual(self.host.seen("command"), [])

    def test_pairing_file_problems_are_named_never_not_paired(self):
        os.makedirs(os.path.dirname(self.pairing_file))
        os.mkdir(self.pairing_file)
        result = self.phone("text", "hi")
        self.assertEqual(result.returncode, 1)
        self.assertIn(self.pairing_file + " is a folder", result.stderr)
        self.assertNotIn("not paired", result.stderr)
        os.rmdir(self.pairing_file)

        def write(content, mode=0o600):
            with open(self.pairing_file, "wb") as file:
                file.write(content)
            os.chmod(self.pairing_file, mode)

        write(b"\xff\xfe\x00garbage")
        result = self.phone("text", "hi")
        self.assertEqual(result.returncode, 1)
        self.assertIn(self.pairing_file + " is damaged: it is not JSON", result.stderr)
        write(b'{"host": "127.0.0.1"}')
        self.assertIn('its "fingerprint" text is missing', self.phone("text", "hi").stderr)
        # Pairing over an unusable file needs --replace too: it may stand for a device the
        # computer still has.
        result = self.phone("pair", self.host.new_link(), "--name", "Second")
        self.assertEqual(result.returncode, 1)
        self.assertIn("--replace", result.stderr)
        os.remove(self.pairing_file)

        self.pair()
        os.chmod(self.pairing_file, 0o644)
        result = self.phone("text", "hi")
        self.assertEqual(result.returncode, 1)
        self.assertIn(f"chmod 600 '{self.pairing_file}'", result.stderr)
        os.chmod(self.pairing_file, 0o600)
        self.assertEqual(self.phone("text", "hi").returncode, 0)
        self.host.expect_command()
        if os.geteuid() != 0:  # permissions do not stop root
            os.chmod(self.pairing_file, 0o000)
            result = self.phone("text", "hi")
            self.assertIn("cannot read the pairing file " + self.pairing_file, result.stderr)
        self.assertEqual(self.host.seen("command"), [])

    def test_pairing_again_or_where_it_cannot_be_stored(self):
        self.pair()
        with open(self.pairing_file) as file:
            first = json.load(file)
        # Without --replace: refused before the computer is asked, naming the device to remove.
        result = self.phone("pair", self.host.new_link(), "--name", "Second")
        self.assertEqual(result.returncode, 1)
        self.assertIn('already paired with 127.0.0.1:%d as "CLI Phone"' % self.host.port, result.stderr)
        self.assertIn("--replace", result.stderr)
        self.assertEqual(self.host.seen("approval"), [])

        result = self.phone("pair", self.host.new_link(), "--name", "Second", "--replace")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.host.expect("approval"), "Second")
        self.assertIn('remove "CLI Phone" from the paired phones', result.stdout)
        with open(self.pairing_file) as file:
            second = json.load(file)
        self.assertEqual(second["deviceName"], "Second")
        self.assertNotEqual(second["secret"], first["secret"])

        # A pairing that could not be stored is not asked for at all.
        blocker = os.path.join(self.folder.name, "a-file")
        with open(blocker, "w") as file:
            file.write("in the way")
        result = self.phone("pair", self.host.new_link(), "--config",
                            os.path.join(blocker, "pairing.json"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("the computer was not asked", result.stderr)
        self.assertEqual(self.host.seen("approval"), [])

    def test_a_wrong_fingerprint_on_first_pairing_blames_the_code(self):
        link = self.host.new_link()
        wrong = link.replace(self.host.fingerprint, "0" * 64)
        self.assertNotEqual(wrong, link)
        result = self.phone("pair", wrong)
        self.assertEqual(result.returncode, 1)
        self.assertIn("certificate does not match the pairing code", result.stderr)
        self.assertFalse(os.path.exists(self.pairing_file))
        self.assertEqual(self.host.seen("approval"), [])

    def test_help(self):
        result = self.phone("--help")
        self.assertEqual(result.returncode, 0)
        self.assertIn("listen [--dir DIR] [--accept-secrets]", result.stdout)


class Listening(PhoneTestCase):
    def start_listening(self, *args):
        environment = dict(os.environ, XDG_CONFIG_HOME=self.config)
        self.received = tempfile.mkdtemp(dir=self.folder.name)
        self.listener = subprocess.Popen([PHONE, "listen", "--dir", self.received, *QUICK, *args],
                                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                         env=environment)
        self.output = queue.Queue()
        self.notes = queue.Queue()
        self.readers = []
        for stream, sink in ((self.listener.stdout, self.output), (self.listener.stderr, self.notes)):
            reader = threading.Thread(target=lambda s=stream, q=sink: [q.put(l.rstrip("\n")) for l in s], daemon=True)
            reader.start()
            self.readers.append(reader)

    def next_line(self, lines, prefix, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                line = lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                break
            if line.startswith(prefix):
                return line
        self.fail(f"murrelo-phone never printed '{prefix}'")

    def stop_listening(self):
        """Ends the listener as a person would; its exit status, and what it printed on stderr."""
        self.listener.send_signal(signal.SIGTERM)
        status = self.listener.wait(timeout=20)
        # The readers end at the end of their streams, having taken the last lines.
        for reader in self.readers:
            reader.join(timeout=20)
        notes = []
        while not self.notes.empty():
            notes.append(self.notes.get())
        self.listener.stdout.close()
        self.listener.stderr.close()
        return status, "\n".join(notes)

    def test_receives_texts_pictures_and_passwords_and_reconnects(self):
        self.pair()
        self.start_listening("--accept-secrets")
        self.next_line(self.notes, "murrelo-phone: connected")

        self.host.tell("push-text pushed text")
        queued = self.host.expect("queued")
        self.assertEqual(self.next_line(self.output, "text:"), "text: pushed text")
        self.assertEqual(self.host.expect("acked"), queued)

        picture = os.path.join(self.folder.name, "outgoing.png")
        with open(picture, "wb") as file:
            file.write(PNG)
        self.host.tell("push-image " + picture)
        queued = self.host.expect("queued")
        stored = self.next_line(self.output, "picture:")[len("picture: "):]
        self.assertEqual(os.path.dirname(stored), self.received)
        with open(stored, "rb") as file:
            self.assertEqual(file.read(), PNG)
        self.assertEqual(self.host.expect("acked"), queued)

        self.host.tell("push-secret s3cret")
        self.assertEqual(self.next_line(self.output, "password:"), "password: s3cret")
        self.host.expect("acked")

        # The computer goes away and comes back on the same port: the phone finds it again.
        port = self.host.port
        self.assertEqual(self.host.stop(), 0, "\n".join(self.host.stderr))
        self.host = TestHost(self.state, "--port", str(port))
        retry = self.next_line(self.notes, "murrelo-phone: retrying in ")
        self.assertRegex(retry, r"retrying in \d+ ms: the (connection to the computer was lost|"
                                r"computer cannot be reached)")
        self.next_line(self.notes, "murrelo-phone: connected")
        self.host.tell("push-text after the restart")
        self.assertEqual(self.next_line(self.output, "text:"), "text: after the restart")

        status, notes = self.stop_listening()
        self.assertEqual(status, 0, notes)

    def test_passwords_are_refused_unless_accepted(self):
        self.pair()
        self.start_listening()
        self.next_line(self.notes, "murrelo-phone: connected")
        self.host.tell("push-secret hidden")
        queued = self.host.expect("queued")
        self.assertEqual(self.host.expect("secret-refused"), queued)
        self.host.tell("push-text visible")
        self.assertEqual(self.next_line(self.output, "text:"), "text: visible")
        status, notes = self.stop_listening()
        self.assertEqual(status, 0, notes)

    def test_a_phone_the_computer_no_longer_knows_gives_up(self):
        self.pair()
        with open(self.pairing_file) as file:
            pairing = json.load(file)
        pairing["secret"] = "forgotten"
        with open(self.pairing_file, "w") as file:
            json.dump(pairing, file)
        self.start_listening()
        self.assertIn("(unknown_device)", self.next_line(self.notes, "murrelo-phone: the computer refused"))
        self.assertEqual(self.listener.wait(timeout=30), 1)
        self.listener.stdout.close()
        self.listener.stderr.close()


if __name__ == "__main__":
    unittest.main()
