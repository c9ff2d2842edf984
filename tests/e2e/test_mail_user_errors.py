"""What a user meets when a delivery goes wrong: the /Timeout: bound on every
wait, temporary refusals that say so, several receivers in one message, and
reasons that name the option that mends a mix-up."""
import re
import socket
import threading
import time

import pytest

from conftest import BANNER
from ftp_util import StallingFtpServer
from support import accept_each
from test_main_flow import USAGE, write_reg
from smtp_tls_util import PASSWORD, USER, tls_sink
from smtp_util import Keeper, SmtpSink, single_attachment
from test_mail import PIECE, RECEIVER, SENDER, join_pieces, mail, payload, smtp  # noqa: F401


class ScriptedSmtp:
    """An SMTP peer on loopback: sends `greeting` (None: nothing at all) to
    each connection, then answers each command line with the reply that
    `replies` gives for its verb, else "250 OK". Records the command lines."""

    def __init__(self, greeting="220 scripted.test ESMTP", replies=None):
        self.greeting = greeting
        self.replies = replies or {}
        self.commands = []
        self.sock = socket.create_server(("127.0.0.1", 0), backlog=4)
        self.port = self.sock.getsockname()[1]
        self.address = "127.0.0.1:%d" % self.port
        self.conns = []
        accept_each(self.sock, self._start)

    def _start(self, conn):
        self.conns.append(conn)
        threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        try:
            if self.greeting is None:
                return
            conn.sendall(self.greeting.encode() + b"\r\n")
            pending = b""
            while True:
                chunk = conn.recv(4096)
                if not chunk:
                    return
                pending += chunk
                while b"\r\n" in pending:
                    line, pending = pending.split(b"\r\n", 1)
                    text = line.decode("latin-1")
                    self.commands.append(text)
                    verb = text.split(" ")[0].split(":")[0].upper()
                    conn.sendall(self.replies.get(verb, "250 OK").encode() + b"\r\n")
                    if verb == "QUIT":
                        return
        except OSError:
            return

    def close(self):
        for c in self.conns:
            c.close()
        self.sock.close()


@pytest.fixture
def scripted():
    servers = []

    def make(*args, **kw):
        servers.append(ScriptedSmtp(*args, **kw))
        return servers[-1]
    yield make
    for s in servers:
        s.close()


def timed(run, *args, **kw):
    start = time.monotonic()
    r = run(*args, timeout=60, **kw)
    return r, time.monotonic() - start


# --- /Timeout: ------------------------------------------------------------

def test_timeout_bounds_the_wait_for_a_silent_mail_and_ftp_server(run, workdir, scripted):
    (workdir / "a.txt").write_bytes(b"a")
    silent = scripted(greeting=None)
    r, took = timed(run, "/Receiver:" + RECEIVER, "/Sender:" + SENDER,
                    "/Mailserver:" + silent.address, "/Timeout:2", "/File:a.txt")
    assert r.code == 5 and took < 10, (r.code, took)
    assert r.lines[-1] == "ERROR: File a.txt not sent to " + RECEIVER
    assert "sent no greeting" in r.stderr
    with StallingFtpServer("GREETING") as ftp:
        r, took = timed(run, "/FTPServer:" + ftp.address, "/FTPUser:u", "/FTPPassword:p",
                        "/Timeout:2", "/File:a.txt")
    assert r.code == 5 and took < 10, (r.code, took)


@pytest.mark.parametrize("value", ["0", "x", "86401", "", "-5"])
def test_a_bad_timeout_is_a_usage_error(run, workdir, tmp_path, value):
    (workdir / "a.txt").write_bytes(b"a")
    r = run("/Receiver:" + RECEIVER, "/Sender:" + SENDER, "/Timeout:" + value, "/File:a.txt")
    assert r.code == 1
    assert r.lines == BANNER + USAGE
    assert r.stderr == ("postrunner: /Timeout: takes a whole number of seconds "
                        "from 1 to 86400\n")
    write_reg(tmp_path / "user.reg", "CURRENT_USER", {"Timeout": "soon"})
    r = run("/Receiver:" + RECEIVER, "/Sender:" + SENDER, "/File:a.txt")
    assert r.code == 1
    assert r.stderr.startswith("postrunner: the Timeout preset takes")


@pytest.mark.parametrize("verb,reply,temporary", [
    ("MAIL", "421 4.3.2 shutting down", True),
    ("RCPT", "450 4.2.0 mailbox busy", True),
    ("RCPT", "550 5.1.1 no such user", False)])
def test_a_temporary_refusal_says_so(run, workdir, scripted, verb, reply, temporary):
    (workdir / "a.txt").write_bytes(b"a")
    server = scripted(replies={verb: reply})
    r = run("/Receiver:" + RECEIVER, "/Sender:" + SENDER, "/Mailserver:" + server.address,
            "/File:a.txt")
    assert r.code == 5
    note = "; temporary: the server asks to try again later"
    assert r.stderr.rstrip("\n").endswith(reply + (note if temporary else ""))
    assert r.stderr.count("\n") == 1


# --- several receivers ----------------------------------------------------

OTHER = "second@far.test"


class RefuseOne(Keeper):
    """Refuses RCPT for OTHER and counts RSET."""

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address == OTHER:
            return "550 5.1.1 <%s>: no such user" % OTHER
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_RSET(self, server, session, envelope):
        self.sink.rsets += 1
        return "250 OK"


@pytest.mark.parametrize("size", [5000, PIECE + 100])
def test_several_receivers_get_one_message_each_piece(run, smtp, workdir, size):
    data = payload(size)
    (workdir / "f.bin").write_bytes(data)
    receivers = RECEIVER + ", " + OTHER
    r = run("/Receiver:" + receivers, "/Sender:" + SENDER, "/Mailserver:" + smtp.address,
            "/File:f.bin")
    assert r.code == 0, r.stderr
    assert r.lines[-1] == "File f.bin sent to " + receivers
    pieces = 1 if size < PIECE else 2
    assert len(smtp.messages) == pieces
    for m in smtp.messages:
        assert m.rcpt_tos == [RECEIVER, OTHER]
        assert ("\r\nTo: %s, %s\r\n" % (RECEIVER, OTHER)).encode() in m.content
    if pieces == 1:
        assert single_attachment(smtp.messages[0].content)[2] == data
    else:
        assert join_pieces([m.content for m in smtp.messages])[1] == data


def test_a_refused_receiver_stops_the_message_for_all(run, workdir, tmp_path):
    sink = SmtpSink(keeper=RefuseOne)
    sink.rsets = 0
    try:
        (workdir / "a.txt").write_bytes(b"a")
        write_reg(tmp_path / "user.reg", "CURRENT_USER", {"Receiver": RECEIVER + "," + OTHER})
        r = run("/Sender:" + SENDER, "/Mailserver:" + sink.address, "/File:a.txt")
    finally:
        sink.stop()
    assert r.code == 5
    assert r.lines[-1] == "ERROR: File a.txt not sent to %s,%s" % (RECEIVER, OTHER)
    assert sink.messages == [] and sink.rsets == 1
    assert r.stderr == ("postrunner: the mail server %s refused RCPT TO: <%s>: "
                        "550 5.1.1 <%s>: no such user; nothing was sent to any receiver\n"
                        % (sink.address, OTHER, OTHER))


@pytest.mark.parametrize("receivers", [RECEIVER + ",", RECEIVER + ",x@y.org\x01"])
def test_each_receiver_of_a_list_is_checked(run, smtp, workdir, receivers):
    (workdir / "a.txt").write_bytes(b"a")
    r = run("/Receiver:" + receivers, "/Sender:" + SENDER, "/Mailserver:" + smtp.address,
            "/File:a.txt")
    assert r.code == 1
    assert r.lines == BANNER + ["ERROR: Set the receiver"] + USAGE
    assert "empty address" in r.stderr or "control character 0x01" in r.stderr
    assert smtp.offered == 0


# --- reasons that name the fix ---------------------------------------------

MIXUPS = [
    # (name, sink mode, sink certificate, options, reason pattern)
    ("starttls_to_tls_port", "tls", "good", ["/StartTLS"],
     r"no greeting from 127\.0\.0\.1:\d+; if this port speaks TLS from the first byte "
     r"\(465\), use /TLS$"),
    ("tls_to_plain_port", "starttls", "good", ["/TLS"],
     r"the server speaks plain SMTP first: use /StartTLS$"),
    ("auth_only_after_starttls", "starttls", "good", ["/MailUser:" + USER],
     r"offers no AUTH\); it offers STARTTLS and likely AUTH after it: use /StartTLS$"),
    ("private_ca", "tls", "good", ["/TLS"],
     r"certificate verify failed: .*; if a private CA signed the server's certificate, "
     r"give its certificate with /CAFile:PATH$"),
]


@pytest.mark.filterwarnings("ignore:Requiring AUTH while not requiring TLS")
@pytest.mark.parametrize("case", MIXUPS, ids=[m[0] for m in MIXUPS])
def test_a_mixed_up_option_is_named_within_seconds(certs, run, workdir, case):
    name, mode, stem, options, reason = case
    sink = tls_sink(certs, mode, stem)
    try:
        (workdir / "a.txt").write_bytes(b"a")
        r, took = timed(run, "/Receiver:" + RECEIVER, "/Sender:" + SENDER,
                        "/Mailserver:127.0.0.1:%d" % sink.port, *options, "/File:a.txt",
                        env_override={"POSTRUNNER_MAIL_PASSWORD": PASSWORD})
    finally:
        sink.stop()
    assert r.code == 5 and took < 15, (r.code, took, r.stderr)
    assert r.stderr.count("\n") == 1 and re.search(reason, r.stderr.rstrip("\n")), r.stderr
    assert sink.messages == []


def test_a_refused_connection_names_host_and_port(run, workdir):
    with socket.socket() as probe:
        if probe.connect_ex(("127.0.0.9", 587)) == 0:
            pytest.skip("something listens on 127.0.0.9:587")
    (workdir / "a.txt").write_bytes(b"a")
    r = run("/Receiver:" + RECEIVER, "/Sender:" + SENDER, "/Mailserver:127.0.0.9", "/StartTLS",
            "/File:a.txt")
    assert r.code == 5
    assert r.stderr == ("postrunner: cannot connect to the mail server 127.0.0.9:587: "
                        "Connection refused\n")
