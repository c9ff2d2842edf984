"""A real SMTP server on loopback for the mail tests, and the receiver's side
of a delivery: parsing a message with Python's email package, unpacking it
with munpack, and joining the pieces of a split file.

SmtpSink runs aiosmtpd (Debian's python3-aiosmtpd, so /usr/bin/python3) on an
ephemeral port of 127.0.0.1 in a thread of its own and keeps every message it
accepts.
"""
import asyncio
import email
import email.policy
import re
import subprocess
import threading

from aiosmtpd.smtp import SMTP


class Received:
    def __init__(self, mail_from, rcpt_tos, content):
        self.mail_from = mail_from
        self.rcpt_tos = list(rcpt_tos)
        self.content = content  # bytes as received, dot-unstuffed, CR LF ends


class Keeper:
    def __init__(self, sink):
        self.sink = sink

    async def handle_DATA(self, server, session, envelope):
        if self.sink.refuse_from is not None and self.sink.offered >= self.sink.refuse_from:
            self.sink.offered += 1
            return "554 5.6.0 Message refused"
        self.sink.offered += 1
        self.sink._add(Received(envelope.mail_from, envelope.rcpt_tos, envelope.content))
        return "250 OK"


class SmtpSink:
    """SMTP server on host (127.0.0.1 or ::1) and an ephemeral port; .address
    is the "/Mailserver:" value for it; .messages holds what arrived.
    With refuse_from = n, the (n+1)-th message and all after it are refused
    at the end of their data. `keeper` is the handler class (a Keeper
    subclass, made with the sink), `ssl` makes it speak TLS from the first byte, and
    `smtp_options` go to aiosmtpd's SMTP (tls_context, authenticator, ...)."""

    def __init__(self, host="127.0.0.1", keeper=None, ssl=None, **smtp_options):
        self.messages = []
        self.offered = 0
        self.refuse_from = None
        self._lock = threading.Lock()
        self._loop = asyncio.new_event_loop()
        self._server = None
        started = threading.Event()
        errors = []

        def serve():
            asyncio.set_event_loop(self._loop)
            try:
                options = dict(data_size_limit=None, hostname="sink.test")
                options.update(smtp_options)
                factory = lambda: SMTP((keeper or Keeper)(self), **options)
                self._server = self._loop.run_until_complete(
                    self._loop.create_server(factory, host, 0, ssl=ssl))
            except Exception as e:  # pragma: no cover - reported below
                errors.append(e)
                started.set()
                return
            started.set()
            self._loop.run_forever()
            self._server.close()
            self._loop.run_until_complete(self._server.wait_closed())
            self._loop.close()

        self._thread = threading.Thread(target=serve, daemon=True)
        self._thread.start()
        started.wait(10)
        if errors:
            raise errors[0]
        self.port = self._server.sockets[0].getsockname()[1]
        self.address = ("[%s]:%d" if ":" in host else "%s:%d") % (host, self.port)

    def _add(self, message):
        with self._lock:
            self.messages.append(message)

    def stop(self):
        self._loop.call_soon_threadsafe(self._loop.stop)
        self._thread.join(10)


def raw_body(content):
    """The bytes after the header block of a message."""
    at = content.find(b"\r\n\r\n")
    assert at >= 0, "message without header end"
    return content[at + 4:]


def all_defects(message):
    found = []
    for part in message.walk():
        found.extend(part.defects)
    return found


def single_attachment(content):
    """Parses a one-message delivery with the default policy and returns
    (filename, content type, decoded bytes) of its one attachment. Fails when
    the parser reports any defect."""
    msg = email.message_from_bytes(content, policy=email.policy.default)
    assert all_defects(msg) == [], all_defects(msg)
    attachments = [p for p in msg.iter_attachments()]
    assert len(attachments) == 1
    part = attachments[0]
    data = part.get_payload(decode=True)
    assert all_defects(msg) == [], all_defects(msg)  # decoding adds defects too
    return part.get_filename(), part.get_content_type(), data


def munpack(content, folder):
    """Unpacks `content` with munpack into `folder`; returns {name: bytes}."""
    folder.mkdir(parents=True, exist_ok=True)
    source = folder / "message.eml"
    source.write_bytes(content)
    out = subprocess.run(["munpack", "-q", "-t", "-C", str(folder), str(source)],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    assert out.returncode == 0, out.stdout
    source.unlink()
    return {p.name: p.read_bytes() for p in folder.iterdir()}


_PARAM = re.compile(r";\s*(id|number|total)=([^;\s]+)", re.I)


def partial_params(content):
    """(id, number, total) from the message/partial header of a piece."""
    msg = email.message_from_bytes(content, policy=email.policy.compat32)
    ctype = msg.get("Content-Type", "")
    assert ctype.startswith("message/partial;"), ctype
    params = {k.lower(): v for k, v in _PARAM.findall(ctype)}
    return params["id"], int(params["number"]), int(params["total"])


def join_pieces(contents):
    """Joins the bodies of message/partial pieces in number= order (RFC 2046)
    and returns (content type, decoded bytes) of the message they form."""
    pieces = sorted((partial_params(c), c) for c in contents)
    ids = {p[0][0] for p in pieces}
    assert len(ids) == 1, ids
    numbers = [p[0][1] for p in pieces]
    total = pieces[0][0][2]
    assert numbers == list(range(1, total + 1)), numbers
    assert all(p[0][2] == total for p in pieces)
    joined = b"".join(raw_body(c) for _, c in pieces)
    inner = email.message_from_bytes(joined, policy=email.policy.default)
    data = inner.get_payload(decode=True)
    assert all_defects(inner) == [], all_defects(inner)
    return inner.get_content_type(), data


def _serve(folder, cert=None, key=None):
    """Runs a sink until SIGTERM or SIGINT, storing each message as
    folder/message-NNN.eml; prints the port on the first line of stdout.
    With a certificate and its key the sink offers STARTTLS."""
    import pathlib
    import signal
    import ssl
    folder = pathlib.Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    options = {}
    if cert:
        options["tls_context"] = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        options["tls_context"].load_cert_chain(cert, key)
    sink = SmtpSink(**options)
    stop = threading.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: stop.set())
    print(sink.port, flush=True)
    saved = 0
    while not stop.wait(0.05):
        with sink._lock:
            fresh = sink.messages[saved:]
        for m in fresh:
            saved += 1
            (folder / ("message-%03d.eml" % saved)).write_bytes(m.content)
    sink.stop()


if __name__ == "__main__":
    import sys
    if len(sys.argv) in (3, 5) and sys.argv[1] == "serve":
        _serve(*sys.argv[2:])
    else:
        raise SystemExit("usage: smtp_util.py serve FOLDER [CERT KEY]")
