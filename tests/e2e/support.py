"""Small helpers the end-to-end tests share: loopback ports, polling for a
condition, a listener that hands each connection to a function, and
certificates for TLS servers on loopback (a test CA and the server
certificates it signs)."""
import datetime
import ipaddress
import os
import socket
import threading
import time

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID

LOOPBACK_NAMES = ("localhost", "127.0.0.1")


def free_port():
    """A port of 127.0.0.1 that nothing listens on (just released)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port, host="127.0.0.1"):
    """Whether something accepts connections on host:port."""
    with socket.socket() as probe:
        return probe.connect_ex((host, port)) == 0


def wait_until(predicate, timeout=5.0):
    """Polls `predicate` until it holds or `timeout` seconds pass; returns
    whether it held."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.02)
    return predicate()


def accept_each(listener, handle):
    """Calls handle(connection) on a daemon thread for each connection the
    listening socket accepts, until the socket is closed."""
    def loop():
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            handle(conn)
    threading.Thread(target=loop, daemon=True).start()


def make_ca(folder, name="ca"):
    """Writes a self-signed test CA to <name>.pem and <name>.key in `folder`;
    returns (certificate path, key path)."""
    return _issue(folder, name, "Postrunner Test CA", (), None, is_ca=True)


def make_server_cert(folder, name, ca, names=LOOPBACK_NAMES, expired=False):
    """Writes <name>.pem and <name>.key in `folder`: a server certificate for
    `names` (host names and IP addresses), signed by `ca` (a pair from
    make_ca) or self-signed when `ca` is None, valid for 30 days from now or,
    when `expired`, only in January 2020; returns (certificate path, key path)."""
    return _issue(folder, name, names[0], names, ca, expired=expired)


def _issue(folder, name, common_name, names, ca, is_ca=False, expired=False):
    key = ec.generate_private_key(ec.SECP256R1())
    subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, common_name)])
    issuer, signer = subject, key
    if ca:
        with open(ca[0], "rb") as f:
            issuer = x509.load_pem_x509_certificate(f.read()).subject
        with open(ca[1], "rb") as f:
            signer = serialization.load_pem_private_key(f.read(), None)
    now = datetime.datetime.now(datetime.timezone.utc)
    start, end = now - datetime.timedelta(minutes=5), now + datetime.timedelta(days=30)
    if expired:
        start = datetime.datetime(2020, 1, 1, tzinfo=datetime.timezone.utc)
        end = datetime.datetime(2020, 2, 1, tzinfo=datetime.timezone.utc)
    builder = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer)
               .public_key(key.public_key()).serial_number(x509.random_serial_number())
               .not_valid_before(start).not_valid_after(end)
               .add_extension(x509.BasicConstraints(ca=is_ca, path_length=None), True)
               .add_extension(x509.SubjectKeyIdentifier.from_public_key(key.public_key()), False)
               .add_extension(x509.AuthorityKeyIdentifier.from_issuer_public_key(
                   signer.public_key()), False))
    if is_ca:
        builder = builder.add_extension(x509.KeyUsage(
            digital_signature=False, content_commitment=False, key_encipherment=False,
            data_encipherment=False, key_agreement=False, key_cert_sign=True, crl_sign=True,
            encipher_only=False, decipher_only=False), True)
    if names:
        builder = builder.add_extension(x509.SubjectAlternativeName(
            [_general_name(n) for n in names]), False)
    base = os.path.join(str(folder), name)
    with open(base + ".pem", "wb") as f:
        f.write(builder.sign(signer, hashes.SHA256()).public_bytes(serialization.Encoding.PEM))
    with open(base + ".key", "wb") as f:
        f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                  serialization.NoEncryption()))
    return base + ".pem", base + ".key"


def _general_name(name):
    try:
        return x509.IPAddress(ipaddress.ip_address(name))
    except ValueError:
        return x509.DNSName(name)
