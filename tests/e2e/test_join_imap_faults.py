"""The IMAP join against a scripted server, for the faults a real one does
not make on demand: a connection closed in the middle of a piece, a
literal shorter than announced, and imap:// to a host not written as a
loopback address whose server offers no STARTTLS. A set whose piece did
not come whole is never written and nothing is deleted; the sets fetched
whole before the fault are joined."""
import os
import base64
import random
import signal
import socket
import subprocess
import threading

import pytest

from conftest import BIN, Run
from support import accept_each, wait_until
from test_join_mailbox import big_set

PASSWORD = "fault-Pw-77"


class ScriptedImap:
    """Serves pieces `messages` (UID = index + 1) over clear-text IMAP; the
    fetch of UID `fault_uid` goes wrong as `fault` says."""

    def __init__(self, messages, fault_uid=None, fault=None, sasl=None, accept_sasl=True):
        self.messages, self.fault_uid, self.fault = messages, fault_uid, fault
        self.sasl, self.accept_sasl = sasl, accept_sasl
        self.commands = []
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen()
        self.port = self.listener.getsockname()[1]
        accept_each(self.listener, lambda c: threading.Thread(
            target=self.serve, args=(c,), daemon=True).start())

    def serve(self, conn):
        reader = conn.makefile("rb")
        conn.sendall(b"* OK scripted ready\r\n")
        try:
            for raw in reader:
                line = raw.decode("latin-1").rstrip("\r\n")
                self.commands.append(line)
                tag, _, command = line.partition(" ")
                if command.upper().startswith("AUTHENTICATE"):
                    conn.sendall(b"+ \r\n")
                    self.commands.append(reader.readline().decode("latin-1").strip())
                    accept = (self.accept_sasl(self.commands[-1]) if callable(self.accept_sasl)
                              else self.accept_sasl)
                    conn.sendall(("%s OK in\r\n" % tag if accept else
                                  "%s NO [AUTHENTICATIONFAILED] token expired\r\n" % tag
                                  ).encode())
                elif not self.answer(conn, tag, command.upper(), command):
                    break
        finally:
            conn.close()

    def answer(self, conn, tag, upper, command):
        ok = ("%s OK done\r\n" % tag).encode()
        if upper.startswith("CAPABILITY"):
            sasl = (" AUTH=" + self.sasl) if self.sasl else ""
            conn.sendall(("* CAPABILITY IMAP4rev1 UIDPLUS%s\r\n" % sasl).encode() + ok)
        elif upper.startswith("SELECT"):
            conn.sendall(b"* FLAGS (\\Seen \\Deleted)\r\n* OK [UIDVALIDITY 7] x\r\n" + ok)
        elif upper.startswith("UID SEARCH UNSEEN"):
            conn.sendall(b"* SEARCH\r\n" + ok)
        elif upper.startswith("UID SEARCH"):
            uids = " ".join(str(i + 1) for i in range(len(self.messages)))
            conn.sendall(("* SEARCH %s\r\n" % uids).encode() + ok)
        elif upper.startswith("UID FETCH"):
            return self.fetch(conn, int(command.split()[2]), ok)
        elif upper.startswith("LOGOUT"):
            conn.sendall(b"* BYE\r\n" + ok)
            return False
        else:  # LOGIN, STORE, EXPUNGE
            conn.sendall(ok)
        return True

    def fetch(self, conn, uid, ok):
        body = self.messages[uid - 1]
        head = b"* %d FETCH (UID %d BODY[] {%d}\r\n" % (uid, uid, len(body))
        if uid != self.fault_uid:
            conn.sendall(head + body + b")\r\n" + ok)
            return True
        if self.fault == "close":
            conn.sendall(head + body[:len(body) // 2])
            return False
        conn.sendall(head + body[:-40] + b")\r\n" + ok)  # short, then silence
        return True


def crlf(message):
    return message.replace(b"\n", b"\r\n")


def join(url, out, *extra, secret=PASSWORD):
    env = dict(os.environ, POSTRUNNER_MAIL_PASSWORD=secret)
    proc = subprocess.run([BIN, "/Join:" + url, "/JoinTo:" + str(out), "/Timeout:2"] +
                          list(extra), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          stdin=subprocess.DEVNULL, env=env, timeout=60, cwd=str(out))
    return Run(proc)


@pytest.fixture
def out(tmp_path):
    folder = tmp_path / "out"
    folder.mkdir()
    return folder


@pytest.mark.parametrize("fault", ["close", "short"])
def test_a_piece_not_fetched_whole_writes_nothing_for_its_set(out, fault):
    data = random.Random(3).randbytes(200000)
    first = [crlf(p.replace(b'filename="big.bin"', b'filename="first.bin"'))
             for p in big_set(data)]
    second = [crlf(p.replace(b"9f3c0a1b", b"77777777")) for p in big_set(data)]
    server = ScriptedImap(first + second, fault_uid=5, fault=fault)
    run = join("imap://rcv@127.0.0.1:%d/INBOX" % server.port, out, "/JoinDelete")
    assert run.code == 5
    assert run.lines[0] == "Joined first.bin from 3 pieces, %d bytes" % len(data)
    assert "Incomplete set" in run.lines[1] and "77777777" in run.lines[1]
    assert sorted(os.listdir(out)) == ["first.bin"]
    assert (out / "first.bin").read_bytes() == data
    assert not [c for c in server.commands if "STORE" in c.upper() or "EXPUNGE" in c.upper()]
    assert PASSWORD not in run.stdout + run.stderr


def test_imap_to_a_host_not_written_as_loopback_demands_starttls(out):
    server = ScriptedImap([])
    run = join("imap://rcv@0x7f.0.0.1:%d/INBOX" % server.port, out)
    assert run.code == 5, run.stderr
    assert not [c for c in server.commands if "LOGIN" in c.upper()]
    run = join("imap://rcv@127.0.0.1:%d/INBOX" % server.port, out)
    assert run.code == 0, run.stderr
    assert run.lines == ["No message/partial pieces found in imap://rcv@127.0.0.1:%d/INBOX"
                         % server.port]


def test_a_signal_during_a_fetch_removes_the_spool_folder(out, tmp_path):
    data = random.Random(4).randbytes(200000)
    server = ScriptedImap([crlf(p) for p in big_set(data)], fault_uid=2, fault="short")
    spool = tmp_path / "tmp"
    spool.mkdir()
    env = dict(os.environ, POSTRUNNER_MAIL_PASSWORD=PASSWORD, TMPDIR=str(spool))
    proc = subprocess.Popen([BIN, "/Join:imap://rcv@127.0.0.1:%d/INBOX" % server.port,
                             "/JoinTo:" + str(out), "/Timeout:60"], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            stdin=subprocess.DEVNULL)
    # Piece 1 is in the spool and piece 2 on its way when the signal comes.
    assert wait_until(lambda: any(c.upper().startswith("UID FETCH 2")
                                  for c in (x.partition(" ")[2] for x in server.commands)),
                      timeout=20)
    folders = os.listdir(spool)
    assert len(folders) == 1 and os.stat(spool / folders[0]).st_mode & 0o777 == 0o700
    assert "1.eml" in os.listdir(spool / folders[0])
    proc.send_signal(signal.SIGTERM)
    proc.communicate(timeout=30)
    assert proc.returncode == 128 + signal.SIGTERM
    assert os.listdir(spool) == [] and os.listdir(out) == []


@pytest.mark.parametrize("mechanism,expected", [
    ("xoauth2", "user=rcv\x01auth=Bearer {token}\x01\x01"),
    ("oauthbearer", "n,a=rcv,\x01host=127.0.0.1\x01port={port}\x01auth=Bearer {token}\x01\x01"),
])
def test_bearer_tokens_go_in_the_sasl_mechanism_asked_for(out, mechanism, expected):
    token = "ya29.token-Value_123"
    server = ScriptedImap([], sasl=mechanism.upper())
    run = join("imap://rcv@127.0.0.1:%d/INBOX" % server.port, out, "/MailAuth:" + mechanism,
               secret=token)
    assert run.code == 0, run.stderr
    sent = server.commands[server.commands.index(next(
        c for c in server.commands if "AUTHENTICATE" in c.upper())) + 1]
    assert base64.b64decode(sent).decode() == expected.format(token=token, port=server.port)
    refusing = ScriptedImap([], sasl=mechanism.upper(), accept_sasl=False)
    run = join("imap://rcv@127.0.0.1:%d/INBOX" % refusing.port, out, "/MailAuth:" + mechanism,
               secret=token)
    assert run.code == 5
    assert run.stderr.strip() == ("postrunner: IMAP server 127.0.0.1:%d refused: "
                                  "[AUTHENTICATIONFAILED] token expired" % refusing.port)
    assert token not in run.stdout + run.stderr


def test_a_token_endpoint_gives_the_bearer_token_of_the_join(out, tmp_path):
    """No password given: the token comes from the endpoint, with the
    provider's IMAP scope, and goes as XOAUTH2; a cached token the server
    refuses is renewed once; a fresh one refused ends the run."""
    from oauth_util import CLIENT_ID, CLIENT_SECRET, AuthServer
    from smtp_tls_util import make_certificates
    (tmp_path / "certs").mkdir()
    certs = make_certificates(tmp_path / "certs")
    auth = AuthServer(certs)
    revoked = set()

    def token_of(line):
        return base64.b64decode(line).decode().split("auth=Bearer ")[1].rstrip("\x01")

    def join_by_token(server):
        env = dict(os.environ, XDG_CACHE_HOME=str(tmp_path / "cache"),
                   POSTRUNNER_OAUTH_CLIENT_SECRET=CLIENT_SECRET)
        env.pop("POSTRUNNER_MAIL_PASSWORD", None)
        proc = subprocess.run(
            [BIN, "/Join:imap://rcv@127.0.0.1:%d/INBOX" % server.port, "/JoinTo:" + str(out),
             "/CAFile:" + str(certs / "ca.pem"), "/OAuthTokenURL:" + auth.base + "/token",
             "/OAuthClientID:" + CLIENT_ID, "/OAuthGrant:client_credentials",
             "/OAuthProvider:microsoft"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            stdin=subprocess.DEVNULL, env=env, timeout=60, cwd=str(out))
        run = Run(proc)
        assert not any(s in run.stdout + run.stderr for s in auth.all_secrets())
        return run

    try:
        server = ScriptedImap([], sasl="XOAUTH2",
                              accept_sasl=lambda line: token_of(line) not in revoked)
        run = join_by_token(server)
        assert run.code == 0, run.stderr
        assert auth.requests == ["client_credentials"] and auth.scopes == [
            "https://outlook.office.com/IMAP.AccessAsUser.All offline_access"]
        sent = [c for c in server.commands if c.startswith(("dXNlcj1", "user="))]
        assert base64.b64decode(sent[0]).decode() == \
            "user=rcv\x01auth=Bearer %s\x01\x01" % auth.issued[-1]
        # The cached token revoked: renewed once, silently.
        revoked.add(auth.issued[-1])
        run = join_by_token(server)
        assert (run.code, run.stderr) == (0, "")
        assert len(auth.requests) == 2
        # A fresh token refused: no second request, the server's text.
        revoked.add(auth.issued[-1])
        (tmp_path / "cache").rename(tmp_path / "old-cache")
        auth.override = None
        server.accept_sasl = False
        run = join_by_token(server)
        assert run.code == 5 and len(auth.requests) == 3
        assert run.stderr == ("postrunner: IMAP server 127.0.0.1:%d refused: "
                              "[AUTHENTICATIONFAILED] token expired\n" % server.port)
    finally:
        auth.stop()
