"""What an administrator meets when setting up a nightly job: "~" in the
values of options and presets, the shipped preset samples, and preset files
whose sections or value names would otherwise be ignored without a word."""
import os
import pwd
import re
import zipfile

import pytest
from aiosmtpd.smtp import AuthResult, LoginPassword

from smtp_util import SmtpSink

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
KEY = "Software\\Veltrona\\Dropcart"
PASSWORD = "nightly-Pa55"

# AUTH to a loopback server without TLS is what the program allows.
pytestmark = pytest.mark.filterwarnings("ignore:Requiring AUTH while not requiring TLS")


@pytest.fixture
def smtp():
    def check(server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and auth_data.password == PASSWORD.encode()
        return AuthResult(success=ok, handled=False)

    sink = SmtpSink(auth_require_tls=False, authenticator=check)
    yield sink
    sink.stop()


def filled_sample(name, values):
    """The shipped sample `name` with the ';' taken off `values`' lines and
    their examples replaced."""
    text = open(os.path.join(ROOT, "doc", name), encoding="utf-8").read()
    for key, value in values.items():
        text, n = re.subn(r'^;"%s"=".*"$' % key, '"%s"="%s"' % (key, value), text, flags=re.M)
        assert n == 1, key
    return text


def test_a_leading_tilde_is_the_home_folder(run, smtp, tmp_path, workdir):
    home = tmp_path / "admin home"
    (home / "reports").mkdir(parents=True)
    (home / "reports" / "a.txt").write_text("report")
    (home / ".postrunner-pass").write_text(PASSWORD + "\n")
    (home / ".postrunner-pass").chmod(0o600)
    tilde = {"HOME": str(home)}
    mail = ["/Receiver:r@dst.test", "/Sender:s@src.test", "/Mailserver:" + smtp.address,
            "/MailUser:backup", "/Dir:~/reports"]
    r = run(*mail, "/MailPasswordFile:~/.postrunner-pass", env_override=tilde)
    assert (r.code, r.lines[-1]) == (0, "File  sent to r@dst.test")
    # The same from a preset.
    (tmp_path / "user.reg").write_text('REGEDIT4\n[HKEY_CURRENT_USER\\%s]\n'
                                       '"MailPasswordFile"="~/.postrunner-pass"\n' % KEY)
    assert run(*mail, env_override=tilde).code == 0
    assert len(smtp.messages) == 2

    r = run("/CreateOnly", "/Zip:~/out.zip", "/Dir:~/reports", env_override=tilde)
    assert r.code == 0
    assert zipfile.ZipFile(home / "out.zip").namelist() == ["a.txt"]

    # An empty HOME: the user database's home folder. "~user/" stays as typed.
    missing = "no-such-folder-%d" % os.getpid()
    r = run("/CreateOnly", "/Dir:~/" + missing, env_override={"HOME": ""})
    database_home = pwd.getpwuid(os.geteuid()).pw_dir.rstrip("/")
    assert r.code == 3
    assert r.stderr.startswith("postrunner: %s/%s: " % (database_home, missing)), r.stderr
    r = run("/CreateOnly", "/Dir:~root/" + missing, env_override=tilde)
    assert r.stderr.startswith("postrunner: ~root/%s: " % missing), r.stderr


def test_the_shipped_samples_filled_in_deliver(run, smtp, tmp_path, workdir):
    (workdir / "db.dump").write_bytes(b"dump" * 1000)
    (tmp_path / "machine.reg").write_text(filled_sample(
        "machine-registry.reg.sample",
        {"Mailserver": smtp.address, "Sender": "machine@src.test"}))
    r = run("/Receiver:ops@dst.test", "/Zip", "/File:db.dump")
    assert (r.code, r.lines[-1]) == (0, "File db.dump sent to ops@dst.test")
    # The user's sample, filled in, wins over the machine's.
    (tmp_path / "user.reg").write_text(filled_sample(
        "user-registry.reg.sample", {"Sender": "user@src.test"}))
    assert run("/Receiver:ops@dst.test", "/File:db.dump").code == 0
    assert [m.mail_from for m in smtp.messages] == ["machine@src.test", "user@src.test"]


def test_preset_files_name_what_they_cannot_hold(run, smtp, tmp_path, workdir):
    machine, user = tmp_path / "machine.reg", tmp_path / "user.reg"
    machine.write_text('REGEDIT4\n\n[HKEY_CURRENT_USER\\%s]\n"Sender"="s@src.test"\n' % KEY)
    user.write_text('REGEDIT4\n[HKEY_CURRENT_USER\\%s]\n\n"Securty"="starttls"\n'
                    '[HKEY_LOCAL_MACHINE\\%s]\n' % (KEY, KEY))
    r = run("/Receiver:r@dst.test", "/File:a.txt", stderr_ok=True)
    assert (r.code, r.lines[3]) == (1, "ERROR: Set the sender")
    presets = ("Mailserver, Sender, Security, MailUser, MailPasswordFile, MailAuth, CAFile, "
               "FTPServer, FTPUser, FTPPasswordFile, SSHKey, KnownHosts, Receiver, Timeout, "
               "SplitSize, OAuthTokenURL, OAuthAuthURL, OAuthDeviceURL, OAuthClientID, "
               "OAuthClientSecretFile, OAuthScope, OAuthRefreshTokenFile, OAuthGrant, "
               "OAuthProvider, OAuthTenant")
    assert r.stderr.splitlines() == [
        "postrunner: %s:3: section [HKEY_CURRENT_USER\\%s] is ignored: the machine registry "
        "file holds only HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT keys" % (machine, KEY),
        "postrunner: %s:5: section [HKEY_LOCAL_MACHINE\\%s] is ignored: the user registry "
        "file holds only HKEY_CURRENT_USER keys" % (user, KEY),
        'postrunner: %s:4: "Securty" is not a preset and is ignored; the presets are %s'
        % (user, presets),
        "postrunner: no sender: give /Sender:ADDRESS or the registry preset Sender"]

    # A warning never changes the exit code of a run that succeeds.
    (workdir / "a.txt").write_text("x")
    machine.write_text('REGEDIT4\n[HKEY_LOCAL_MACHINE\\%s]\n"Sender"="s@src.test"\n'
                       '"Mailserver"="%s"\n"mailserver"="%s"\n"SSHkey"="k"\n"Recipient"="r"\n'
                       % (KEY, smtp.address, smtp.address))
    user.unlink()
    r = run("/Receiver:r@dst.test", "/File:a.txt", stderr_ok=True)
    assert (r.code, r.lines[-1]) == (0, "File a.txt sent to r@dst.test")
    assert r.stderr == ('postrunner: %s:7: "Recipient" is not a preset and is ignored; the '
                        'presets are %s\n' % (machine, presets))
