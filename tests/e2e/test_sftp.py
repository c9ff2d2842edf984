"""SFTP delivery against OpenSSH's sshd on loopback: key login (with and
without a passphrase), relative and absolute remote names, byte-exact; an
unknown or changed host key and a folder without write permission fail with
a reason on stderr and no secret anywhere."""
import os

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
