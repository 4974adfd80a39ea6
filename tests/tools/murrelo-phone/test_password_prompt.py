"""murrelo-phone's password prompt on a real pseudo-terminal: echo is off while it asks, and back on
however the prompt ends (Return, end of input, Ctrl-C, Ctrl-Z, signals)."""

import fcntl
import json
import os
import select
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

PHONE = os.environ.get("MURRELO_PHONE", "murrelo-phone")

# What a shell does for a foreground job: its own process group, given the terminal; the parent
# stays in the session, so Ctrl-Z can stop the job. Exits with the job's status as a shell reports it.
JOB_CONTROL = """
import os, signal, sys
signal.signal(signal.SIGTTOU, signal.SIG_IGN)
pid = os.fork()
if pid == 0:
    os.setpgid(0, 0)
    os.tcsetpgrp(0, os.getpid())
    signal.signal(signal.SIGTTOU, signal.SIG_DFL)
    os.execv(sys.argv[1], sys.argv[1:])
try:
    os.setpgid(pid, pid)
except OSError:
    pass
_, status = os.waitpid(pid, 0)
sys.exit(os.WEXITSTATUS(status) if os.WIFEXITED(status) else 128 + os.WTERMSIG(status))
"""


class PasswordPrompt(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        # A pairing with a computer that is not there: the prompt comes before any connection.
        self.config = os.path.join(self.folder.name, "pairing.json")
        descriptor = os.open(self.config, os.O_WRONLY | os.O_CREAT, 0o600)
        with os.fdopen(descriptor, "w") as file:
            json.dump({"host": "127.0.0.1", "port": 9, "fingerprint": "0" * 64, "secret": "s",
                       "deviceName": "Prompt"}, file)
        self.master, self.terminal = os.openpty()
        attributes = termios.tcgetattr(self.terminal)
        attributes[3] |= termios.ECHO | termios.ICANON | termios.ISIG
        termios.tcsetattr(self.terminal, termios.TCSANOW, attributes)
        self.output = b""
        self.session = None

    def tearDown(self):
        if self.session and self.session.poll() is None:
            self.session.kill()
            self.session.wait()
        os.close(self.master)
        os.close(self.terminal)
        self.folder.cleanup()

    def start(self):
        """murrelo-phone secret as the foreground job of a session on the pseudo-terminal, under a
        small job-control parent, so that Ctrl-C and Ctrl-Z typed there reach it as in a shell."""
        def take_terminal():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)
        self.output = b""
        self.session = subprocess.Popen(
            [sys.executable, "-c", JOB_CONTROL, PHONE, "secret", "--config", self.config,
             "--connect-timeout", "2000"],
            stdin=self.terminal, stdout=self.terminal, stderr=self.terminal, cwd=self.folder.name,
            preexec_fn=take_terminal)
        self.wait_until(lambda: b"Password: " in self.read_output(), "no prompt")
        with open(f"/proc/{self.session.pid}/task/{self.session.pid}/children") as children:
            self.phone = int(children.read().split()[0])
        self.wait_until(lambda: not self.echoes(), "echo never went off")

    def read_output(self):
        while select.select([self.master], [], [], 0)[0]:
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                break
            if not chunk:
                break
            self.output += chunk
        return self.output

    def echoes(self):
        return bool(termios.tcgetattr(self.terminal)[3] & termios.ECHO)

    def wait_until(self, condition, why, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if condition():
                return
            time.sleep(0.02)
        self.fail(f"{why}; output so far: {self.output!r}")

    def finish(self):
        """The phone's exit status, or 128 plus the signal that ended it, as a shell reports it."""
        status = self.session.wait(timeout=30)
        self.read_output()
        return status

    def test_ctrl_c_and_signals_leave_echo_on(self):
        for end, ended_by in ((lambda: os.write(self.master, b"\x03"), signal.SIGINT),
                              (lambda: os.kill(self.phone, signal.SIGTERM), signal.SIGTERM),
                              (lambda: os.kill(self.phone, signal.SIGHUP), signal.SIGHUP)):
            with self.subTest(signal=ended_by.name):
                self.start()
                end()
                self.assertEqual(self.finish(), 128 + ended_by, self.output)
                self.assertTrue(self.echoes(), "the terminal was left without echo")

    def test_end_of_input_refuses_the_empty_password_and_leaves_echo_on(self):
        self.start()
        os.write(self.master, b"\x04")  # Ctrl-D on an empty line
        self.assertEqual(self.finish(), 1, self.output)
        self.assertTrue(self.echoes())
        self.assertIn(b"the password is empty", self.output)

    def test_suspending_restores_echo_and_resuming_hides_it_again(self):
        self.start()
        os.write(self.master, b"\x1a")  # Ctrl-Z
        self.wait_until(lambda: self.stopped(), "Ctrl-Z did not suspend the prompt")
        self.assertTrue(self.echoes(), "a suspended prompt left the shell without echo")
        os.kill(self.phone, signal.SIGCONT)
        self.wait_until(lambda: not self.echoes(), "echo stayed on after resuming")
        os.write(self.master, b"typed after resuming\n")
        # Read, then sent to a computer that is not there: a failure, with echo back on.
        self.assertEqual(self.finish(), 1, self.output)
        self.assertTrue(self.echoes())
        self.assertNotIn(b"typed after resuming", self.output)

    def stopped(self):
        with open(f"/proc/{self.phone}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] == "T"


if __name__ == "__main__":
    unittest.main()
