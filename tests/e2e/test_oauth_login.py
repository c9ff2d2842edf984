"""The first sign-in, "postrunner /OAuthLogin", against the local
authorization server: the device flow (pending, slow_down, refusals) and the
authorization code flow with PKCE, its redirect taken on the loopback
listener or pasted on standard input, the state checked. The refresh token
file is written 0600 and no secret shows on any output."""
import os
import ssl
import stat
import subprocess
import time
import urllib.request

import pytest

from conftest import BIN, Run
from oauth_util import CLIENT_ID, CLIENT_SECRET


class Login:
    """One /OAuthLogin run with its standard input and output as pipes."""

    def __init__(self, env, workdir, certs, auth, refresh, *options):
        self.proc = subprocess.Popen(
            [BIN, "/OAuthLogin", "/CAFile:" + str(certs / "ca.pem"),
             "/OAuthTokenURL:" + auth.base + "/token", "/OAuthClientID:" + CLIENT_ID,
             "/OAuthScope:mail.send offline_access", "/OAuthRefreshTokenFile:" + str(refresh),
             *options],
            cwd=str(workdir), env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE)
        self.seen = []

    def line_starting(self, prefix):
        """Reads standard output up to the first line that starts with
        `prefix`; returns it."""
        while True:
            line = self.proc.stdout.readline().decode()
            assert line, self.seen
            self.seen.append(line)
            if line.startswith(prefix):
                return line.strip()

    def finish(self, stdin=b""):
        out, err = self.proc.communicate(stdin, timeout=60)

        class Proc:
            returncode = self.proc.returncode
            stdout = "".join(self.seen).encode() + out
            stderr = err
        return Run(Proc)


@pytest.fixture
def login(env, workdir, certs, auth, tmp_path):
    refresh = tmp_path / "refresh.txt"
    e = dict(env, POSTRUNNER_OAUTH_CLIENT_SECRET=CLIENT_SECRET)

    def _login(*options):
        return Login(e, workdir, certs, auth, refresh, *options)
    _login.refresh = refresh
    return _login


def browser_redirect(certs, url):
    """Follows the authorization URL as a browser would, up to the redirect
    it is sent to; returns that address."""
    context = ssl.create_default_context(cafile=str(certs / "ca.pem"))

    class NoRedirect(urllib.request.HTTPRedirectHandler):
        def redirect_request(self, *args):
            return None
    opener = urllib.request.build_opener(urllib.request.HTTPSHandler(context=context), NoRedirect)
    try:
        opener.open(url)
    except urllib.error.HTTPError as e:
        assert e.code == 302
        return e.headers["Location"]
    raise AssertionError("no redirect")


def assert_stored(login, auth, run):
    assert run.code == 0, run.stderr
    assert run.stderr == ""
    token = login.refresh.read_text().strip()
    assert token in auth.refresh
    assert stat.S_IMODE(os.stat(login.refresh).st_mode) == 0o600
    assert "Signed in; the refresh token is stored in " + str(login.refresh) in run.lines
    for secret in auth.all_secrets():
        assert secret not in run.stdout and secret not in run.stderr, secret


def test_device_flow_waits_out_pending_and_slow_down(login, auth):
    auth.device_script = ["authorization_pending", "slow_down"]
    run = login("/OAuthDeviceURL:" + auth.base + "/device").finish()
    assert_stored(login, auth, run)
    assert ("To sign in, open %s/verify and enter the code %s" % (auth.base, auth.user_code)
            in run.lines)
    assert "Or open %s/verify?c=1" % auth.base in run.lines
    polls = auth.poll_times
    assert len(polls) == 3
    # The server's interval (1 s) until slow_down, then 5 s more.
    assert 0.9 <= polls[1] - polls[0] < 3
    assert polls[2] - polls[1] >= 5.9


@pytest.mark.parametrize("error,text", [
    ("access_denied", "the sign-in was denied"),
    ("expired_token", "expired before the sign-in was completed"),
])
def test_device_flow_refusals(login, auth, error, text):
    auth.device_script = [error]
    run = login("/OAuthDeviceURL:" + auth.base + "/device").finish()
    assert run.code == 5
    assert text in run.stderr, run.stderr
    assert not login.refresh.exists()


def test_loopback_redirect_and_pasted_address(login, auth, certs):
    # A browser on this machine: the redirect reaches the listener.
    session = login("/OAuthAuthURL:" + auth.base + "/authorize")
    url = session.line_starting(auth.base + "/authorize?")
    assert "code_challenge_method=S256" in url and "state=" in url
    target = browser_redirect(certs, url)
    assert target.startswith("http://127.0.0.1:")
    with urllib.request.urlopen(target, timeout=10) as page:
        assert b"Signed in" in page.read()
    run = session.finish()
    assert_stored(login, auth, run)
    assert auth.requests == ["authorization_code"]

    # A browser elsewhere: the address it ends at is pasted.
    session = login("/OAuthAuthURL:" + auth.base + "/authorize")
    target = browser_redirect(certs, session.line_starting(auth.base + "/authorize?"))
    run = session.finish((target + "\n").encode())
    assert_stored(login, auth, run)
    assert auth.requests == ["authorization_code"] * 2


def test_loopback_refuses_a_foreign_state(login, auth, certs):
    session = login("/OAuthAuthURL:" + auth.base + "/authorize")
    target = browser_redirect(certs, session.line_starting(auth.base + "/authorize?"))
    forged = target.replace("state=", "state=x")
    with urllib.request.urlopen(forged, timeout=10) as page:
        assert b"does not match" in page.read()
    run = session.finish()
    assert run.code == 5
    assert "state does not match" in run.stderr
    assert auth.requests == [] and not login.refresh.exists()


def test_missing_options_are_named(env, workdir, run):
    result = run("/OAuthLogin", "/OAuthTokenURL:https://127.0.0.1:9/token",
                 "/OAuthRefreshTokenFile:r.txt", "/OAuthAuthURL:https://127.0.0.1:9/a")
    assert result.code == 1 and "/OAuthClientID:" in result.stderr
    result = run("/OAuthLogin", "/OAuthProvider:google", "/OAuthClientID:x")
    assert result.code == 1 and "/OAuthRefreshTokenFile:" in result.stderr
    result = run("/OAuthLogin", "/OAuthTokenURL:http://example.test/token", "/OAuthClientID:x",
                 "/OAuthRefreshTokenFile:r.txt", "/OAuthAuthURL:https://127.0.0.1:9/a")
    assert result.code == 1 and "https://" in result.stderr
