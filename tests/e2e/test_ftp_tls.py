"""FTPS delivery against a pyftpdlib TLS server on loopback with a CA and
certificates the tests make: explicit (/FTPTLS) and implicit (ftps://), in
both modes, byte-exact; and every way the TLS set-up can fail, each with a
reason on stderr and no credential sent in clear."""
import os
import re
import subprocess

import pytest

from conftest import BANNER
from ftp_util import WRITER, WRITER_PASSWORD, FtpServer
from support import make_ca, make_server_cert


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    folder = tmp_path_factory.mktemp("pki")
    ca = make_ca(folder)
    return {
        "ca": ca[0],
        "good": make_server_cert(folder, "server", ca),
        "other-name": make_server_cert(folder, "elsewhere", ca, ["elsewhere.example"]),
    }


@pytest.fixture
def ftp_server(tmp_path, pki):
    """ftp_server(tls, cert="good") -> a started FtpServer; stopped after the test."""
    servers = []

    def start(tls, cert="good"):
        home = tmp_path / ("home%d" % len(servers))
        home.mkdir()
        server = FtpServer(home, tmp_path / ("log%d" % len(servers)), tls=tls,
                           cert=pki[cert] if tls else ("", "")).__enter__()
        servers.append(server)
        return server

    yield start
    for server in servers:
        server.__exit__(None, None, None)


def upload(run, server, name, *extra, scheme="", ca=None):
    args = ["/FTPServer:" + scheme + server.address, "/FTPUser:" + WRITER,
            "/File:" + name, *extra]
    if ca:
        args.append("/CAFile:" + ca)
    # The password comes from the environment, off the command line.
    return run(*args, env_override={"POSTRUNNER_FTP_PASSWORD": WRITER_PASSWORD}, timeout=120)


def libcurl_version():
    out = subprocess.run(["curl", "--version"], capture_output=True, text=True).stdout
    return tuple(int(n) for n in re.search(r"libcurl/(\d+)\.(\d+)", out).groups())


# These libcurl releases send active-mode FTPS data in clear; the upload is
# refused before connecting.
ACTIVE_TLS_LEAKS = (7, 87) <= libcurl_version() < (8, 0)


def assert_no_secret(r, server):
    assert WRITER_PASSWORD not in r.stdout + r.stderr


@pytest.mark.parametrize("size", [0, 1000, 50 * 1024 * 1024], ids=["empty", "small", "50MB"])
@pytest.mark.parametrize("passive", [False, True], ids=["active", "passive"])
@pytest.mark.parametrize("tls", ["explicit", "implicit"])
def test_upload_over_tls_arrives_byte_exact(run, workdir, ftp_server, pki, tls, passive, size):
    server = ftp_server(tls)
    content = os.urandom(size)
    (workdir / "f.bin").write_bytes(content)
    extra = (["/FTPTLS"] if tls == "explicit" else []) + (["/FTPPassiveMode"] if passive else [])

    r = upload(run, server, "f.bin", *extra, scheme="ftps://" if tls == "implicit" else "",
               ca=pki["ca"])

    target = ("ftps://" if tls == "implicit" else "") + server.address
    if not passive and ACTIVE_TLS_LEAKS:
        assert r.code == 5
        assert r.stderr.startswith("postrunner: libcurl ") and "/FTPPassiveMode" in r.stderr
        assert server.commands() == []
        return
    assert r.code == 0, r.stdout + r.stderr
    assert r.lines == BANNER + ["FILE Mode", "Starting FTP transfer",
                                "Using Passive mode" if passive else "Using Active mode",
                                "Ftp.PutFile returned TRUE ", "File f.bin sent to " + target]
    assert r.stderr == ""
    assert (server.home and open(os.path.join(server.home, "f.bin"), "rb").read()) == content
    commands = [(v, a) for _, v, a in server.commands()]
    assert ("PROT", "P") in commands
    assert (("AUTH", "TLS") in commands) == (tls == "explicit")
    assert_no_secret(r, server)


@pytest.mark.parametrize("case,tls,cert,use_ca,reason", [
    ("untrusted", "implicit", "good", False, "give its certificate with /CAFile:PATH"),
    ("wrong-name", "explicit", "other-name", True, "127.0.0.1"),
    ("no-auth-tls", "", "good", True, "refused AUTH TLS, which /FTPTLS requires; "
                                      "server replied: 500"),
])
def test_tls_that_cannot_be_set_up_fails_before_the_login(run, workdir, ftp_server, pki,
                                                          case, tls, cert, use_ca, reason):
    server = ftp_server(tls, cert)
    (workdir / "f.bin").write_bytes(b"never sent")
    implicit = tls == "implicit"

    r = upload(run, server, "f.bin", "/FTPPassiveMode", *([] if implicit else ["/FTPTLS"]),
               scheme="ftps://" if implicit else "", ca=pki["ca"] if use_ca else None)

    assert r.code == 5
    assert r.lines[-2].startswith("Ftp.PutFile returned FALSE: ")
    assert r.lines[-1].startswith("ERROR: File f.bin not sent to ")
    assert r.stderr.startswith("postrunner: ") and reason in r.stderr
    verbs = server.verbs()
    assert "USER" not in verbs and "PASS" not in verbs and "STOR" not in verbs
    assert not os.path.exists(os.path.join(server.home, "f.bin"))
    assert_no_secret(r, server)


def test_server_requiring_tls_tells_why_a_plain_login_failed(run, workdir, ftp_server):
    server = ftp_server("required")
    (workdir / "f.bin").write_bytes(b"x")

    r = upload(run, server, "f.bin")

    assert r.code == 5
    assert r.lines[-2].startswith("Ftp.PutFile returned FALSE: ")
    assert r.stderr.endswith("server replied: 550 SSL/TLS required on the control channel.\n")
    assert_no_secret(r, server)
