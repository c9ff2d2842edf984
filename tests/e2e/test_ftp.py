"""FTP delivery against a real FTP server on loopback: what arrives, under
which name, in which mode, and which lines and exit codes the user sees when
the upload works and when it fails."""
import os
import re
import subprocess
import zipfile

import pytest

from conftest import BANNER
from ftp_util import (READER, READER_PASSWORD, WRITER, WRITER_PASSWORD,
                      FtpServer, StallingFtpServer)
from support import free_port, listening

PROXY_VARIABLES = ("ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY",
                   "no_proxy", "NO_PROXY", "http_proxy", "https_proxy")
ACTIVE_VERBS = {"PORT", "EPRT"}
PASSIVE_VERBS = {"PASV", "EPSV"}


@pytest.fixture(scope="module")
def ftp_home(tmp_path_factory):
    return tmp_path_factory.mktemp("ftp_home")


@pytest.fixture(scope="module")
def server(ftp_home, tmp_path_factory):
    log = tmp_path_factory.mktemp("ftp_log") / "commands.log"
    with FtpServer(ftp_home, log) as s:
        yield s


@pytest.fixture(autouse=True)
def no_proxy_settings(env):
    """Tests talk to loopback directly whatever the caller's proxy settings."""
    for name in PROXY_VARIABLES:
        env.pop(name, None)


@pytest.fixture
def fresh(server):
    server.clear_log()
    return server


def ftp_args(server, *extra, user=WRITER, password=WRITER_PASSWORD, address=None):
    return ("/FTPServer:" + (address or server.address), "/FTPUser:" + user,
            "/FTPPassword:" + password, *extra)


def assert_secret_kept(r, *passwords):
    for password in (WRITER_PASSWORD, READER_PASSWORD) + passwords:
        assert password not in r.stdout and password not in r.stderr


def ftp_lines(passive, result):
    return ["Starting FTP transfer",
            "Using Passive mode" if passive else "Using Active mode",
            result]


# --- what arrives ----------------------------------------------------------

@pytest.mark.parametrize("passive", [False, True], ids=["active", "passive"])
@pytest.mark.parametrize("size", [0, 1000, 5 * 1024 * 1024 + 7],
                         ids=["empty", "small", "multi-megabyte"])
def test_upload_arrives_byte_exact_in_the_chosen_mode(run, workdir, fresh, ftp_home,
                                                      passive, size):
    name = "data-%d-%s.bin" % (size, "passive" if passive else "active")
    content = os.urandom(size)
    (workdir / name).write_bytes(content)
    extra = ["/FTPPassiveMode"] if passive else []

    r = run(*ftp_args(fresh, "/File:" + name, *extra))

    assert r.code == 0
    assert r.lines == BANNER + ["FILE Mode"] + ftp_lines(passive, "Ftp.PutFile returned TRUE ") + [
        "File %s sent to %s" % (name, fresh.address)]
    assert (ftp_home / name).read_bytes() == content
    verbs = set(fresh.verbs())
    assert "TYPE" in verbs and ("TYPE", "I") in {(v, a) for _, v, a in fresh.commands()}
    if passive:
        assert verbs & PASSIVE_VERBS and not verbs & ACTIVE_VERBS
    else:
        assert verbs & ACTIVE_VERBS and not verbs & PASSIVE_VERBS
    assert_secret_kept(r)


def test_upload_over_ipv6_loopback_in_both_modes(run, workdir, tmp_path):
    home = tmp_path / "home6"
    home.mkdir()
    with FtpServer(home, tmp_path / "log6", host="::1") as server6:
        for mode, extra in (("active", []), ("passive", ["/FTPPassiveMode"])):
            name = "v6-%s.txt" % mode
            (workdir / name).write_bytes(b"over IPv6, " + mode.encode())
            r = run(*ftp_args(server6, "/File:" + name, *extra))
            assert r.code == 0, r.stdout
            assert r.lines[-1] == "File %s sent to [::1]:%d" % (name, server6.port)
            assert (home / name).read_bytes() == b"over IPv6, " + mode.encode()
        verbs = server6.verbs()
    assert "EPRT" in verbs and "EPSV" in verbs


# --- under which name --------------------------------------------------------

@pytest.mark.parametrize("local_path", [
    "plain.txt",
    "sub/dir/plain.txt",
    "sub\\dir\\plain.txt",      # typed with backslashes: they separate folders
    "ABSOLUTE/deep/plain.txt",
], ids=["bare", "slashes", "backslashes", "absolute"])
def test_remote_name_is_the_bare_name_of_the_local_path(run, workdir, fresh, ftp_home,
                                                         local_path):
    if local_path.startswith("ABSOLUTE/"):
        local_path = str(workdir / local_path[len("ABSOLUTE/"):])
    path = workdir / local_path.replace("\\", "/")
    path.parent.mkdir(parents=True, exist_ok=True)
    content = ("from " + local_path).encode()
    path.write_bytes(content)
    stored = ftp_home / "plain.txt"
    if stored.exists():
        stored.unlink()

    r = run(*ftp_args(fresh, "/File:" + local_path))

    assert r.code == 0, r.stdout
    assert r.lines[-1] == "File plain.txt sent to " + fresh.address
    assert stored.read_bytes() == content
    assert [a for _, v, a in fresh.commands() if v == "STOR"] == ["plain.txt"]


@pytest.mark.parametrize("remote", ["my report #1 ?100% done & more+.txt",
                                    "B\u00fcro \u00e4\u00f6\u00fc;a=b,c@d.txt"],
                         ids=["reserved-characters", "utf-8"])
def test_ftpfilename_is_used_exactly_as_given(run, workdir, fresh, ftp_home, remote):
    (workdir / "local.txt").write_bytes(b"report")

    r = run(*ftp_args(fresh, "/File:local.txt", "/FTPFilename:" + remote))

    assert r.code == 0, r.stdout
    # The result line names the local file, not the remote one.
    assert r.lines[-1] == "File local.txt sent to " + fresh.address
    assert (ftp_home / remote).read_bytes() == b"report"


def test_ftpfilename_with_folders_stores_into_an_existing_folder(run, workdir, fresh, ftp_home):
    (ftp_home / "incoming" / "deeper").mkdir(parents=True, exist_ok=True)
    (workdir / "local.txt").write_bytes(b"nested")

    r = run(*ftp_args(fresh, "/File:local.txt", "/FTPFilename:incoming/deeper/new name.txt"))

    assert r.code == 0, r.stdout
    assert (ftp_home / "incoming" / "deeper" / "new name.txt").read_bytes() == b"nested"


def test_ftpfilename_into_a_missing_folder_fails_without_creating_it(run, workdir, fresh,
                                                                    ftp_home):
    (workdir / "local.txt").write_bytes(b"x")

    r = run(*ftp_args(fresh, "/File:local.txt", "/FTPFilename:nowhere/x.txt"))

    assert r.code == 5
    assert r.lines[-2] == "Ftp.PutFile returned FALSE: Error 25 in PutFile"
    assert r.lines[-1] == "ERROR: File local.txt not sent to " + fresh.address
    assert not (ftp_home / "nowhere").exists()
    assert "MKD" not in fresh.verbs()


def test_line_breaks_in_the_remote_name_never_become_commands(run, workdir, fresh, ftp_home):
    (ftp_home / "keep.txt").write_bytes(b"keep me")
    (workdir / "local.txt").write_bytes(b"x")

    r = run(*ftp_args(fresh, "/File:local.txt", "/FTPFilename:x\r\nDELE keep.txt"))

    assert r.code == 5
    assert r.lines[-2].startswith("Ftp.PutFile returned FALSE: ")
    assert (ftp_home / "keep.txt").read_bytes() == b"keep me"
    assert "DELE" not in fresh.verbs()


# --- failures ------------------------------------------------------------------

def test_refused_login_reports_the_library_description(run, workdir, fresh, ftp_home):
    (workdir / "local.txt").write_bytes(b"x")
    wrong = "Wrong:Secret@42"

    r = run(*ftp_args(fresh, "/File:local.txt", password=wrong))

    assert r.code == 5
    assert r.lines[:-2] == BANNER + ["FILE Mode", "Starting FTP transfer", "Using Active mode"]
    prefix = "Ftp.PutFile returned FALSE: "
    assert r.lines[-2].startswith(prefix)
    assert "530" in r.lines[-2][len(prefix):]          # libcurl: "Access denied: 530"
    assert r.stderr == "postrunner: Access denied: 530; server replied: 530 Authentication failed.\n"
    assert r.lines[-1] == "ERROR: File local.txt not sent to " + fresh.address
    assert_secret_kept(r, wrong)
    assert "STOR" not in fresh.verbs()


def test_store_refused_for_a_read_only_user(run, workdir, fresh, ftp_home):
    (workdir / "denied.txt").write_bytes(b"x")

    r = run(*ftp_args(fresh, "/File:denied.txt", "/FTPPassiveMode",
                      user=READER, password=READER_PASSWORD))

    assert r.code == 5
    assert r.lines == BANNER + ["FILE Mode"] + ftp_lines(
        True, "Ftp.PutFile returned FALSE: Error 25 in PutFile") + [
        "ERROR: File denied.txt not sent to " + fresh.address]
    # The server's own words reach the user on stderr.
    assert r.stderr.endswith("; server replied: 550 Not enough privileges.\n")
    assert not (ftp_home / "denied.txt").exists()
    assert_secret_kept(r)


def test_server_that_is_not_there(run, workdir):
    (workdir / "local.txt").write_bytes(b"x")
    port = free_port()
    address = "127.0.0.1:%d" % port

    r = run("/FTPServer:" + address, "/FTPUser:u", "/FTPPassword:pw-not-shown",
            "/File:local.txt", timeout=30)

    assert r.code == 5
    status = r.lines[-2][len("Ftp.PutFile returned FALSE: "):]
    assert r.lines[-2].startswith("Ftp.PutFile returned FALSE: ") and str(port) in status
    assert r.lines[-1] == "ERROR: File local.txt not sent to " + address
    assert "pw-not-shown" not in r.stdout


def test_server_without_port_means_port_21(run, workdir):
    if listening(21):
        pytest.skip("something listens on port 21 here")
    (workdir / "local.txt").write_bytes(b"x")

    r = run("/FTPServer:127.0.0.1", "/FTPUser:u", "/FTPPassword:p", "/File:local.txt",
            timeout=30)

    assert r.code == 5
    assert "port 21" in r.lines[-2]
    assert r.lines[-1] == "ERROR: File local.txt not sent to 127.0.0.1"


@pytest.mark.parametrize("address", ["127.0.0.1:abc", "127.0.0.1:0", "127.0.0.1:65536",
                                     "evil@127.0.0.1", "host/path", "[::1", "", "a b"])
def test_malformed_server_text_gets_no_connection(run, workdir, address):
    (workdir / "local.txt").write_bytes(b"x")

    r = run("/FTPServer:" + address, "/FTPUser:u", "/FTPPassword:p", "/File:local.txt")

    assert r.code == 5
    assert r.lines[-2:] == ["Ftp.PutFile returned FALSE: Error creating FTP Connection",
                            "ERROR: File local.txt not sent to " + address]
    assert r.stderr.startswith('postrunner: Cannot use FTP server "')


def test_missing_local_file_fails_before_connecting(run, fresh):
    r = run(*ftp_args(fresh, "/File:absent.txt"))

    assert r.code == 5
    assert r.lines[-2:] == [
        "Ftp.PutFile returned FALSE: Cannot open local file absent.txt: No such file or directory",
        "ERROR: File absent.txt not sent to " + fresh.address]
    assert fresh.commands() == []


@pytest.mark.parametrize("kind", ["fifo", "folder"])
def test_only_regular_files_are_uploaded(run, workdir, fresh, kind):
    if kind == "fifo":
        os.mkfifo(workdir / "special")
    else:
        (workdir / "special").mkdir()

    r = run(*ftp_args(fresh, "/File:special"), timeout=20)

    assert r.code == 5
    assert r.lines[-2:] == [
        "Ftp.PutFile returned FALSE: Local file special is not a regular file",
        "ERROR: File special not sent to " + fresh.address]
    assert fresh.commands() == []


@pytest.mark.parametrize("stall_at,passive,expected", [
    ("GREETING", False, None),                  # libcurl's time-out description
    ("STOR", True, "Error 28 in PutFile"),      # data never read: stalled transfer
    ("STOR", False, "Error 28 in PutFile"),     # active: server never connects back
], ids=["no-greeting", "passive-data-stalls", "active-no-connect-back"])
def test_stalled_server_ends_the_run_with_a_failure(run, workdir, stall_at, passive, expected):
    (workdir / "big.bin").write_bytes(os.urandom(8 * 1024 * 1024))
    extra = ["/FTPPassiveMode"] if passive else []
    with StallingFtpServer(stall_at) as stalling:
        r = run("/FTPServer:" + stalling.address, "/FTPUser:u", "/FTPPassword:p",
                "/File:big.bin", *extra, env_override={"POSTRUNNER_FTP_TIMEOUT": "1"},
                timeout=30)

    assert r.code == 5
    assert r.lines[-2].startswith("Ftp.PutFile returned FALSE: ")
    if expected:
        assert r.lines[-2] == "Ftp.PutFile returned FALSE: " + expected
    else:
        assert len(r.lines[-2]) > len("Ftp.PutFile returned FALSE: ")
    assert r.lines[-1] == "ERROR: File big.bin not sent to " + stalling.address


def test_server_hanging_up_during_the_transfer_fails_the_store(run, workdir):
    (workdir / "big.bin").write_bytes(os.urandom(8 * 1024 * 1024))
    with StallingFtpServer("STOR", hang_up=True) as closing:
        r = run("/FTPServer:" + closing.address, "/FTPUser:u", "/FTPPassword:p",
                "/File:big.bin", "/FTPPassiveMode", env_override={"POSTRUNNER_FTP_TIMEOUT": "5"},
                timeout=30)

    assert r.code == 5
    assert re.fullmatch(r"Ftp\.PutFile returned FALSE: Error \d+ in PutFile", r.lines[-2])
    assert r.lines[-1] == "ERROR: File big.bin not sent to " + closing.address


def test_proxy_settings_from_the_environment_apply(run, workdir, fresh):
    (workdir / "local.txt").write_bytes(b"x")
    proxy_port = free_port()

    r = run(*ftp_args(fresh, "/File:local.txt"),
            env_override={"all_proxy": "http://127.0.0.1:%d" % proxy_port}, timeout=30)

    assert r.code == 5
    assert str(proxy_port) in r.lines[-2]
    assert fresh.commands() == []
    assert_secret_kept(r)


# --- archives --------------------------------------------------------------------

def test_zip_upload_sends_the_archive_and_deletes_it(run, workdir, fresh, ftp_home):
    content = os.urandom(300000) + b"text " * 20000
    (workdir / "payload.dat").write_bytes(content)
    stored = ftp_home / "Compressed.zip"
    if stored.exists():
        stored.unlink()

    r = run(*ftp_args(fresh, "/Zip", "/File:payload.dat", "/FTPPassiveMode"))

    assert r.code == 0, r.stdout
    assert r.lines == BANNER + ["ZIP Mode", "FILE Mode"] + ftp_lines(
        True, "Ftp.PutFile returned TRUE ") + ["File payload.dat sent to " + fresh.address]
    with zipfile.ZipFile(stored) as archive:
        assert archive.namelist() == ["payload.dat"]
        assert archive.read("payload.dat") == content
    assert not (workdir / "Compressed.zip").exists()


def test_dir_upload_sends_the_archive_and_deletes_it(run, workdir, fresh, ftp_home):
    folder = workdir / "folder"
    folder.mkdir()
    (folder / "a.txt").write_bytes(b"alpha")
    (folder / "b.bin").write_bytes(os.urandom(5000))
    stored = ftp_home / "folder.zip"

    r = run(*ftp_args(fresh, "/Dir:folder", "/Zip:folder.zip"))

    assert r.code == 0, r.stdout
    assert r.lines[-4:] == ftp_lines(False, "Ftp.PutFile returned TRUE ") + [
        "File  sent to " + fresh.address]
    with zipfile.ZipFile(stored) as archive:
        assert sorted(archive.namelist()) == ["a.txt", "b.bin"]
        assert archive.read("a.txt") == b"alpha"
        assert archive.read("b.bin") == (folder / "b.bin").read_bytes()
    assert not (workdir / "folder.zip").exists()


def test_failed_zip_upload_keeps_the_archive(run, workdir, fresh, ftp_home):
    (workdir / "payload.dat").write_bytes(b"keep the archive")

    r = run(*ftp_args(fresh, "/Zip", "/File:payload.dat", user=READER, password=READER_PASSWORD))

    assert r.code == 5
    assert r.lines[-1] == "ERROR: File payload.dat not sent to " + fresh.address
    with zipfile.ZipFile(workdir / "Compressed.zip") as archive:
        assert archive.read("payload.dat") == b"keep the archive"


# --- secrets off the command line --------------------------------------------

@pytest.mark.parametrize("source", ["environment", "file", "preset", "shared-file"])
def test_password_from_the_environment_a_private_file_or_a_preset(run, workdir, tmp_path,
                                                                   fresh, ftp_home, source):
    secret_file = tmp_path / "ftp.secret"
    secret_file.write_bytes(WRITER_PASSWORD.encode() + b"\r\nsecond line ignored\n")
    secret_file.chmod(0o640 if source == "shared-file" else 0o600)
    (workdir / "secret.txt").write_bytes(b"by " + source.encode())
    args, env = ["/File:secret.txt"], {}
    if source == "environment":
        env["POSTRUNNER_FTP_PASSWORD"] = WRITER_PASSWORD
    if source == "preset":
        (tmp_path / "user.reg").write_text(
            'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Veltrona\\Dropcart]\n'
            '"FTPServer"="%s"\n"FTPUser"="%s"\n"FTPPasswordFile"="%s"\n'
            % (fresh.address, WRITER, secret_file))
    else:
        args += ["/FTPServer:" + fresh.address, "/FTPUser:" + WRITER]
    if source in ("file", "shared-file"):
        args.append("/FTPPasswordFile:" + str(secret_file))

    r = run(*args, env_override=env)

    assert_secret_kept(r)
    for written in workdir.iterdir():
        assert WRITER_PASSWORD.encode() not in written.read_bytes()
    if source == "shared-file":
        assert r.code == 5
        assert r.stderr == ("postrunner: the password file %s is accessible by other users "
                            "(mode 0640); allow only its owner (chmod 600)\n" % secret_file)
        assert fresh.commands() == []
        return
    assert r.code == 0, r.stdout + r.stderr
    assert r.lines[-1] == "File secret.txt sent to " + fresh.address
    assert (ftp_home / "secret.txt").read_bytes() == b"by " + source.encode()


def test_only_an_upload_loads_libcurl(workdir, env):
    """Mail and archive runs never map libcurl and its TLS and SSH stack."""
    (workdir / "a.txt").write_bytes(b"x")
    port = free_port()

    def loaded_libraries(*args):
        proc = subprocess.run([os.environ["POSTRUNNER_BIN"], *args], cwd=str(workdir),
                              env=dict(env, LD_DEBUG="libs"), capture_output=True, timeout=30)
        return proc.stderr.decode("latin-1")

    assert "libcurl" not in loaded_libraries("/CreateOnly", "/Zip", "/File:a.txt")
    assert "libcurl" in loaded_libraries("/FTPServer:127.0.0.1:%d" % port, "/FTPUser:u",
                                         "/FTPPassword:p", "/File:a.txt")
