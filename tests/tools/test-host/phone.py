"""An independent phone for the phone link, written from the wire format alone.

It shares no code with the C++ kit: TLS comes from Python's ssl module with the certificate pinned
here (SHA-256 of the leaf's DER bytes, compared before a single WebSocket byte is sent), the
WebSocket framing from the sans-I/O layer of python3-websockets, and every message is built and
read as plain JSON. Tests use it to check that the real server speaks the documented protocol.

    phone = WirePhone("127.0.0.1", port, fingerprint)
    phone.open()
    reply = phone.request(pair("<code>", "Wire Phone"))   # {"v": 1, "type": "paired", ...}
"""

import base64
import hashlib
import json
import socket
import ssl
import time
import urllib.parse
import uuid
from datetime import datetime, timezone

from websockets.client import ClientConnection
from websockets.frames import Opcode
from websockets.uri import parse_uri

VERSION = 1
CHUNK_BYTES = 65536
# The computer refuses larger messages; nothing this phone sends comes near it.
SERVER_MESSAGE_LIMIT = 262144
LINK_PREFIX = "kestrune://pair?"


class CertificateMismatch(Exception):
    """The computer presented a certificate other than the pinned one."""


class LinkClosed(Exception):
    """The computer closed the connection (or it broke)."""


def message(kind, **fields):
    return {"v": VERSION, "type": kind, **fields}


def text(payload):
    return message("text", payload=payload)


def key(name):
    return message("key", payload=name)


def secret(payload, enter=False):
    return message("secret", payload=payload, enter=enter)


def pair(token, name):
    return message("pair", token=token, name=name)


def hello(secret_value):
    return message("hello", secret=secret_value)


def subscribe(accepts_secret=True):
    return message("subscribe", accepts=["secret"]) if accepts_secret else message("subscribe")


def heartbeat(n):
    return message("heartbeat", n=n)


def push_ack(item_id):
    return message("push_ack", id=item_id)


def image_begin(image_id, fmt, size, save=False):
    fields = {"id": image_id, "format": fmt, "size": size}
    if save:
        fields["save"] = True
    return message("image_begin", **fields)


def image_chunk(image_id, index, data):
    return message("image_chunk", id=image_id, index=index, data=base64.b64encode(data).decode("ascii"))


def image_end(image_id):
    return message("image_end", id=image_id)


def parse_date(value):
    """Reads the wire date form, e.g. 2026-03-01T09:30:05Z."""
    return datetime.strptime(value, "%Y-%m-%dT%H:%M:%SZ").replace(tzinfo=timezone.utc)


def parse_link(link):
    """The fields of a pairing link: host, port, fingerprint, token and name (or None)."""
    if not link.startswith(LINK_PREFIX):
        raise ValueError("not a pairing link")
    pairs = {}
    for part in link[len(LINK_PREFIX):].split("&"):
        if "=" in part:
            name, value = part.split("=", 1)
            pairs[name] = urllib.parse.unquote(value)
    return {
        "host": pairs["h"],
        "port": int(pairs["p"]),
        "fingerprint": pairs["f"],
        "token": pairs["t"],
        "name": pairs.get("n"),
    }


class WirePhone:
    def __init__(self, host, port, fingerprint, timeout=10.0):
        self.host = host
        self.port = port
        self.fingerprint = fingerprint.lower()
        self.timeout = timeout
        self.sock = None
        self.connection = None
        self.pending = []

    def open(self):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        # The pin below is the whole trust decision; no certificate authority takes part.
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        raw = socket.create_connection((self.host, self.port), timeout=self.timeout)
        self.sock = context.wrap_socket(raw, do_handshake_on_connect=True)
        presented = hashlib.sha256(self.sock.getpeercert(binary_form=True)).hexdigest()
        if presented != self.fingerprint:
            self.sock.close()
            self.sock = None
            raise CertificateMismatch(presented)
        self.connection = ClientConnection(parse_uri(f"wss://{self.host}:{self.port}/"), max_size=64 * 1024 * 1024)
        self.connection.send_request(self.connection.connect())
        self._flush()
        deadline = time.monotonic() + self.timeout
        while self.connection.state.name == "CONNECTING":
            self._pump(deadline)
        if self.connection.state.name != "OPEN":
            raise LinkClosed("the WebSocket upgrade was refused")
        return self

    def close(self):
        if self.connection is not None and self.connection.state.name == "OPEN":
            self.connection.send_close(1000)
            try:
                self._flush()
            except OSError:
                pass
        if self.sock is not None:
            self.sock.close()
        self.sock = None

    def send(self, payload):
        self.send_raw(json.dumps(payload, ensure_ascii=False))

    def send_raw(self, text_frame):
        self.connection.send_text(text_frame.encode("utf-8"))
        self._flush()

    def receive(self, timeout=None):
        """The next message as a dict; raises LinkClosed when the computer ends the link."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        while not self.pending:
            self._pump(deadline)
        return self.pending.pop(0)

    def request(self, payload, timeout=None):
        self.send(payload)
        return self.receive(timeout)

    def send_image(self, data, fmt, save=False):
        """Sends a picture in chunks, each acknowledged; returns the final acknowledgement."""
        image_id = str(uuid.uuid4()).upper()
        reply = self.request(image_begin(image_id, fmt, len(data), save))
        if not reply.get("ok"):
            return reply
        for index, offset in enumerate(range(0, len(data), CHUNK_BYTES)):
            reply = self.request(image_chunk(image_id, index, data[offset:offset + CHUNK_BYTES]))
            if not reply.get("ok"):
                return reply
        return self.request(image_end(image_id))

    def _flush(self):
        for data in self.connection.data_to_send():
            if data:
                self.sock.sendall(data)

    def _pump(self, deadline):
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise TimeoutError("no message from the computer in time")
        self.sock.settimeout(remaining)
        try:
            data = self.sock.recv(65536)
        except socket.timeout as error:
            raise TimeoutError("no message from the computer in time") from error
        if not data:
            self.connection.receive_eof()
        else:
            self.connection.receive_data(data)
        for event in self.connection.events_received():
            if getattr(event, "opcode", None) in (Opcode.TEXT, Opcode.BINARY):
                self.pending.append(json.loads(event.data))
        self._flush()
        if not data or self.connection.state.name == "CLOSED":
            if not self.pending:
                raise LinkClosed(self.connection.close_code)
