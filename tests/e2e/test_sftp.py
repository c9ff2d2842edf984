"""SFTP delivery against OpenSSH's sshd on loopback: key login (with and
without a passphrase), relative and absolute remote names, byte-exact; an
unknown, changed or revoked host key, a key listed only for port 22, a
private key other users may read and a folder without write permission fail
with a reason on stderr and no secret anywhere."""
import os
import pwd
import shutil
import subprocess

import pytest

from conftest import BANNER
from ssh_util import SshServer, keygen

PASSPHRASE = "key-Passphrase-42"


@pytest.fixture(scope="module")
def keys(tmp_path_factory):
    folder = tmp_path_factory.mktemp("keys")
    return {"plain": keygen(folder / "id_plain"),
            "locked": keygen(folder / "id_locked", PASSPHRASE)}


@pytest.fixture(scope="module")
def sshd(tmp_path_factory, keys):
    home = tmp_path_factory.mktemp("sftp_home")
    with SshServer(tmp_path_factory.mktemp("sshd"), home,
                   [k + ".pub" for k in keys.values()]) as server:
        yield server


@pytest.fixture
def known_hosts(tmp_path, sshd):
    path = tmp_path / "known_hosts"
    path.write_text(sshd.known_hosts_line())
    return path


def host_key(sshd):
    """The server's key type and base64 key, as a known hosts line has them."""
    return open(sshd.host_key + ".pub").read().split()[:2]


def hash_names(path):
    """Hashes every host name of the known hosts file at `path` in place."""
    subprocess.run(["ssh-keygen", "-H", "-f", str(path)], check=True, capture_output=True)


def sftp(run, sshd, key, known_hosts, name, *extra, passphrase=None):
    env = {"POSTRUNNER_SSH_PASSPHRASE": passphrase} if passphrase else {}
    return run("/FTPServer:sftp://127.0.0.1:%d" % sshd.port, "/SSHKey:" + key,
               "/KnownHosts:" + str(known_hosts), "/File:" + name, *extra,
               env_override=env, timeout=60)


@pytest.mark.parametrize("key,size,remote", [
    ("plain", 0, None),
    ("plain", 3 * 1024 * 1024 + 5, "in/renamed.bin"),
    ("locked", 1000, "ABSOLUTE"),
])
def test_key_login_uploads_byte_exact(run, workdir, sshd, keys, known_hosts, key, size, remote):
    content = os.urandom(size)
    (workdir / "f.bin").write_bytes(content)
    os.makedirs(os.path.join(sshd.home, "in"), exist_ok=True)
    extra = []
    if remote == "ABSOLUTE":
        remote = os.path.join(sshd.home, "abs.bin")
    if remote:
        extra.append("/FTPFilename:" + remote)

    r = sftp(run, sshd, keys[key], known_hosts, "f.bin", *extra,
             passphrase=PASSPHRASE if key == "locked" else None)

    assert r.code == 0, r.stdout + r.stderr
    assert r.lines == BANNER + ["FILE Mode", "Starting FTP transfer", "Using Active mode",
                                "Ftp.PutFile returned TRUE ",
                                "File f.bin sent to sftp://127.0.0.1:%d" % sshd.port]
    assert r.stderr == ""
    with open(os.path.join(sshd.home, remote or "f.bin"), "rb") as stored:
        assert stored.read() == content
    assert PASSPHRASE not in r.stdout + r.stderr


@pytest.mark.parametrize("case", ["unknown", "changed", "no-file"])
def test_host_key_not_known_fails_and_says_how_to_add_it(run, workdir, tmp_path, sshd, keys,
                                                         case):
    path = tmp_path / "known_hosts"
    if case == "unknown":
        path.write_text("[127.0.0.1]:1 " + open(sshd.host_key + ".pub").read())
    elif case == "changed":
        other = keygen(tmp_path / "other_host_key")
        fields = open(other + ".pub").read().split()
        path.write_text("[127.0.0.1]:%d %s %s\n" % (sshd.port, fields[0], fields[1]))
    (workdir / "never.bin").write_bytes(b"never sent")

    r = sftp(run, sshd, keys["plain"], path, "never.bin")

    assert r.code == 5
    assert r.lines[-2].startswith("Ftp.PutFile returned FALSE: ")
    assert r.lines[-1] == "ERROR: File never.bin not sent to sftp://127.0.0.1:%d" % sshd.port
    assert r.stderr.count("\n") == 1
    assert "ssh-keyscan -p %d 127.0.0.1 >> %s" % (sshd.port, path) in r.stderr
    assert ("differs" in r.stderr) == (case == "changed")
    assert not os.path.exists(os.path.join(sshd.home, "never.bin"))


@pytest.mark.parametrize("case", ["revoked", "bare-host", "hashed-bare-host"])
def test_host_key_revoked_or_listed_for_port_22_is_refused(run, workdir, tmp_path, sshd, keys,
                                                           case):
    kind, key = host_key(sshd)
    path = tmp_path / "known_hosts"
    if case == "revoked":
        # Listed for this very server too: the revocation still wins.
        path.write_text(sshd.known_hosts_line() + "@revoked * %s %s\n" % (kind, key))
    else:
        # A bare host names port 22, not the port this server listens on.
        path.write_text("127.0.0.1 %s %s\n" % (kind, key))
        if case == "hashed-bare-host":
            hash_names(path)
    (workdir / "never.bin").write_bytes(b"never sent")

    r = sftp(run, sshd, keys["plain"], path, "never.bin")

    assert r.code == 5, r.stdout + r.stderr
    assert r.lines[-1] == "ERROR: File never.bin not sent to sftp://127.0.0.1:%d" % sshd.port
    assert r.stderr.count("\n") == 1
    if case == "revoked":
        assert "is marked @revoked in %s" % path in r.stderr
    else:
        assert "is not in %s" % path in r.stderr
        assert "ssh-keyscan -p %d 127.0.0.1 >> %s" % (sshd.port, path) in r.stderr
    assert not os.path.exists(os.path.join(sshd.home, "never.bin"))


@pytest.mark.parametrize("hashed", [False, True], ids=["plain", "hashed"])
def test_host_key_found_among_other_entries(run, workdir, tmp_path, sshd, keys, hashed):
    """Comments, host lists, markers and other keys for this host's other
    ports do not hide the entry that names this server's port."""
    kind, key = host_key(sshd)
    other_kind, other_key = open(keygen(tmp_path / "other") + ".pub").read().split()[:2]
    path = tmp_path / "known_hosts"
    path.write_text("\n".join([
        "# servers of the test",
        "127.0.0.1 %s %s" % (other_kind, other_key),
        "[127.0.0.1]:1 %s %s" % (other_kind, other_key),
        "@revoked * %s %s" % (other_kind, other_key),
        "@cert-authority * %s %s" % (other_kind, other_key),
        "",
        "other.test,[127.0.0.1]:%d %s %s comment" % (sshd.port, kind, key), ""]))
    if hashed:
        hash_names(path)
        assert "127.0.0.1" not in path.read_text()
    (workdir / "f.bin").write_bytes(b"found")

    r = sftp(run, sshd, keys["plain"], path, "f.bin")

    assert (r.code, r.stderr) == (0, ""), r.stdout
    with open(os.path.join(sshd.home, "f.bin"), "rb") as stored:
        assert stored.read() == b"found"


def test_private_key_readable_by_others_is_refused(run, workdir, tmp_path, sshd, keys,
                                                    known_hosts):
    shared = tmp_path / "id_shared"
    shutil.copy(keys["plain"], shared)
    os.chmod(shared, 0o640)
    (workdir / "never.bin").write_bytes(b"never sent")

    r = sftp(run, sshd, str(shared), known_hosts, "never.bin")

    assert r.code == 5
    assert r.stderr == ("postrunner: the SSH key file %s is accessible by other users "
                        "(mode 0640); allow only its owner (chmod 600)\n" % shared)
    assert not os.path.exists(os.path.join(sshd.home, "never.bin"))


@pytest.mark.skipif(os.geteuid() == 0, reason="root may write into any folder")
def test_folder_without_write_permission(run, workdir, sshd, keys, known_hosts):
    locked = os.path.join(sshd.home, "locked")
    os.makedirs(locked, exist_ok=True)
    os.chmod(locked, 0o555)
    (workdir / "f.bin").write_bytes(b"x")

    r = sftp(run, sshd, keys["plain"], known_hosts, "f.bin", "/FTPFilename:locked/f.bin")

    assert r.code == 5
    assert r.lines[-2].startswith("Ftp.PutFile returned FALSE: Error ")
    assert "Permission denied" in r.stderr



def test_failures_name_what_to_change(run, workdir, tmp_path, sshd, keys, known_hosts):
    (workdir / "f.bin").write_bytes(b"x")
    stranger = keygen(tmp_path / "id_stranger")
    user = pwd.getpwuid(os.geteuid()).pw_name
    r = sftp(run, sshd, stranger, known_hosts, "f.bin")
    assert r.code == 5
    assert r.lines[-2] == "Ftp.PutFile returned FALSE: Authentication failure"
    assert r.stderr.startswith("postrunner: Authentication failure")
    assert ("the server refused user %s with the key %s" % (user, stranger)) in r.stderr
    assert "RSA" not in r.stderr
    # This libssh2 signs with SHA-1 ssh-rsa, which OpenSSH 8.8 and later
    # refuse: an RSA key, in either file format, gets the advice to change it.
    for form in (["-m", "PEM"], []):
        rsa = tmp_path / ("id_rsa" + "".join(form))
        subprocess.run(["ssh-keygen", "-q", "-t", "rsa", "-b", "2048", "-N", "", "-C", "",
                        *form, "-f", str(rsa)], check=True)
        r = sftp(run, sshd, str(rsa), known_hosts, "f.bin")
        assert r.code == 5
        assert "(an RSA key, which this libssh2 signs with SHA-1 (ssh-rsa), refused by " \
               "OpenSSH 8.8 and later: use an ed25519 or ECDSA key;" in r.stderr, form
    # A known hosts file that lists only an ssh-rsa key for the server makes
    # libcurl ask for that type alone: the key exchange fails, and the reason
    # says to list the server's ed25519 or ECDSA key.
    rsa_only = tmp_path / "known_hosts_rsa"
    rsa_only.write_text("[127.0.0.1]:%d %s\n" % (
        sshd.port, " ".join(open(str(tmp_path / "id_rsa.pub")).read().split()[:2])))
    r = sftp(run, sshd, keys["plain"], rsa_only, "f.bin")
    assert r.code == 5
    assert ("%s lists only an ssh-rsa host key for [127.0.0.1]:%d" % (rsa_only, sshd.port)) \
        in r.stderr
    assert "ssh-keyscan -t ed25519,ecdsa -p %d 127.0.0.1" % sshd.port in r.stderr
    r = sftp(run, sshd, keys["plain"], known_hosts, "f.bin", "/FTPFilename:no/such/f.bin")
    assert r.code == 5
    assert 'is there a folder for "no/such/f.bin" on the server?' in r.stderr
    missing = str(tmp_path / "no_key")
    r = run("/FTPServer:sftp://127.0.0.1:%d" % sshd.port, "/SSHKey:" + missing,
            "/KnownHosts:" + str(known_hosts), "/File:f.bin")
    assert r.code == 5
    assert r.stderr == ("postrunner: cannot open the SSH key file %s: No such file or "
                        "directory\n" % missing)
