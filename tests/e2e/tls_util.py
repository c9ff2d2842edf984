"""Certificates for TLS tests, made with the openssl command: a test CA and
server certificates it signs for chosen names."""
import os
import subprocess

_EC = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=str(cwd), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_ca(folder, name):
    """Writes <name>.pem and <name>.key, a self-signed CA; returns the .pem path."""
    _openssl("req", "-x509", *_EC, "-keyout", name + ".key", "-out", name + ".pem",
             "-days", "2", "-subj", "/CN=" + name, cwd=folder)
    return os.path.join(str(folder), name + ".pem")


def make_server_cert(folder, ca, name, alt_names):
    """Writes <name>.pem and <name>.key signed by the CA whose .pem is `ca`, for
    the subject alternative names `alt_names` ("DNS:localhost", "IP:127.0.0.1");
    returns (certificate path, key path)."""
    ca_base = os.path.splitext(ca)[0]
    with open(os.path.join(str(folder), name + ".ext"), "w") as ext:
        ext.write("subjectAltName=" + ",".join(alt_names) + "\n")
    _openssl("req", *_EC, "-keyout", name + ".key", "-out", name + ".csr",
             "-subj", "/CN=" + name, cwd=folder)
    _openssl("x509", "-req", "-in", name + ".csr", "-CA", ca, "-CAkey", ca_base + ".key",
             "-CAcreateserial", "-out", name + ".pem", "-days", "2",
             "-extfile", name + ".ext", cwd=folder)
    base = os.path.join(str(folder), name)
    return base + ".pem", base + ".key"
