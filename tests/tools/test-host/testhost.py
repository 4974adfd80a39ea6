"""Runs murrelo-test-host (the real phone-link server with scripted approvals and a recording
executor) as a child process and reads its line protocol."""

import json
import os
import queue
import subprocess
import threading
import time


class TestHost:
    def __init__(self, state_dir, *extra_args):
        binary = os.environ["MURRELO_TEST_HOST"]
        self.process = subprocess.Popen(
            [binary, "--state", state_dir, *extra_args],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, bufsize=1)
        self.lines = queue.Queue()
        self.backlog = []
        self.stderr = []
        threading.Thread(target=self._read, args=(self.process.stdout, self.lines.put), daemon=True).start()
        threading.Thread(target=self._read, args=(self.process.stderr, self.stderr.append), daemon=True).start()
        listening = self.expect("listening").split()
        self.port = int(listening[0])
        self.fingerprint = listening[1]
        self.link = self.expect("link")

    @staticmethod
    def _read(stream, sink):
        for line in stream:
            sink(line.rstrip("\n"))

    def expect(self, prefix, timeout=15.0):
        """The rest of the next line starting with `prefix`; other lines stay for later calls."""
        for index, line in enumerate(self.backlog):
            if line.split(" ", 1)[0] == prefix:
                del self.backlog[index]
                return line[len(prefix) + 1:]
        deadline = time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"test host said no '{prefix}' line; it said {self.backlog}, "
                                     f"stderr {self.stderr}")
            try:
                line = self.lines.get(timeout=remaining)
            except queue.Empty:
                continue
            if line.split(" ", 1)[0] == prefix:
                return line[len(prefix) + 1:]
            self.backlog.append(line)

    def expect_command(self, timeout=15.0):
        return json.loads(self.expect("command", timeout))

    def seen(self, prefix):
        """Lines with `prefix` received so far and not yet taken."""
        while True:
            try:
                self.backlog.append(self.lines.get_nowait())
            except queue.Empty:
                break
        return [line for line in self.backlog if line.split(" ", 1)[0] == prefix]

    def tell(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def new_link(self):
        self.tell("token")
        return self.expect("link")

    def stop(self):
        """Stops the host; returns its exit status (sanitizer findings make it non-zero)."""
        if self.process.poll() is None:
            try:
                self.tell("quit")
            except BrokenPipeError:
                pass
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            try:
                stream.close()
            except OSError:
                pass
        return self.process.returncode
