"""TLS for the mail tests: a private CA and server certificates, aiosmtpd
sinks that speak STARTTLS or TLS from the first byte with PLAIN, LOGIN and
XOAUTH2, and a wire tap that records every byte between the client and the
server (the socket log the tests search for secrets)."""
import base64
import socket
import ssl
import threading

from aiosmtpd.smtp import AuthResult, LoginPassword

from smtp_util import Keeper, SmtpSink
from support import accept_each, make_ca, make_server_cert

USER = "mailer@src.test"
PASSWORD = "s3cret-Pa55"
TOKEN = "ya29.bearer-token-XYZ"


def make_certificates(folder):
    """Makes in `folder`, each with its .key: ca.pem (the trusted CA),
    good.pem (localhost and 127.0.0.1, signed by the CA), other.pem (for
    other.test only), expired.pem (localhost, expired in 2020) and self.pem
    (localhost, self-signed)."""
    ca = make_ca(folder)
    make_server_cert(folder, "good", ca)
    make_server_cert(folder, "other", ca, ["other.test"])
    make_server_cert(folder, "expired", ca, expired=True)
    make_server_cert(folder, "self", None)
    return folder


def server_context(folder, stem):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(str(folder / (stem + ".pem")), str(folder / (stem + ".key")))
    return context


def _check_password(server, session, envelope, mechanism, auth_data):
    ok = (isinstance(auth_data, LoginPassword) and auth_data.login == USER.encode()
          and auth_data.password == PASSWORD.encode())
    return AuthResult(success=ok, handled=False)


class OAuthKeeper(Keeper):
    """Keeps messages; takes XOAUTH2 with TOKEN for USER."""

    async def auth_XOAUTH2(self, server, args):
        expected = "user=%s\x01auth=Bearer %s\x01\x01" % (USER, TOKEN)
        got = base64.b64decode(args[1]).decode() if len(args) == 2 else ""
        if got == expected:
            return AuthResult(success=True, handled=False)
        await server.challenge_auth('{"status":"401"}')
        return AuthResult(success=False, handled=False, message="535 5.7.8 token refused")


def tls_sink(certs, mode, stem="good", context=None, **options):
    """A sink with certificate `stem` (or the server `context` given): mode
    "starttls" offers STARTTLS, "tls" speaks TLS from the first byte, "plain"
    offers neither (AUTH then only over loopback without TLS)."""
    context = context or server_context(certs, stem)
    options.setdefault("authenticator", _check_password)
    if mode == "starttls":
        return SmtpSink(keeper=OAuthKeeper, tls_context=context, **options)
    if mode == "tls":
        return SmtpSink(keeper=OAuthKeeper, ssl=context, auth_require_tls=False, **options)
    return SmtpSink(keeper=OAuthKeeper, auth_require_tls=False, **options)


def own_outside_address():
    """An IPv4 address of this machine that is not a loopback address, or
    None. A connection to it never leaves the machine, but its peer is not
    loopback. (Connecting a UDP socket sends nothing; it only picks the
    interface a packet would take.)"""
    try:
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
            probe.connect(("192.0.2.1", 9))
            address = probe.getsockname()[0]
    except OSError:
        return None
    return None if address.startswith("127.") else address


class WireTap:
    """Listens on `host` (127.0.0.1 by default), relays each connection to
    `port` on 127.0.0.1 and records every byte both ways in .log."""

    def __init__(self, port, host="127.0.0.1"):
        self.log = bytearray()
        self._lock = threading.Lock()
        self._listener = socket.create_server((host, 0))
        self.port = self._listener.getsockname()[1]
        self._target = port
        accept_each(self._listener, self._relay)

    def _relay(self, client):
        server = socket.create_connection(("127.0.0.1", self._target))
        for a, b in ((client, server), (server, client)):
            threading.Thread(target=self._pump, args=(a, b), daemon=True).start()

    def _pump(self, source, sink):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                with self._lock:
                    self.log += data
                sink.sendall(data)
        except OSError:
            pass
        finally:
            try:
                sink.shutdown(socket.SHUT_WR)
            except OSError:
                pass

    def close(self):
        self._listener.close()


def secret_forms():
    """Every form in which the password or token could leak."""
    forms = [PASSWORD, TOKEN]
    for text in ("\0%s\0%s" % (USER, PASSWORD), PASSWORD,
                 "user=%s\x01auth=Bearer %s\x01\x01" % (USER, TOKEN)):
        forms.append(base64.b64encode(text.encode()).decode())
    return [f.encode() for f in forms]
