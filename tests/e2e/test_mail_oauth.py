"""Mail with OAuth 2.0 tokens the program gets itself: a local
authorization server over HTTPS with the test CA and an SMTP server that
takes only the tokens it issued. Checked: one token request per run for all
pieces, the cache, a revoked cached token renewed once, a rotated refresh
token stored, client credentials, both SASL mechanisms and their error
challenge, the endpoint's errors, refused files, and that no secret shows
on any output or on the wire."""
import json
import os
import stat
import subprocess
import time

import pytest

from conftest import BIN, Run
from oauth_util import CLIENT_ID, CLIENT_SECRET, MAIL_USER, token_sink
from smtp_tls_util import WireTap
from smtp_util import join_pieces
from test_mail import MIME_TYPES, RECEIVER, SENDER, payload

pytestmark = pytest.mark.filterwarnings("ignore:Requiring AUTH while not requiring TLS")


@pytest.fixture
def sink(certs, auth):
    server = token_sink(certs, auth)
    yield server
    server.stop()


@pytest.fixture
def setup(tmp_path, env, workdir, certs, auth):
    """Files and environment of a mail run: the refresh token file (0600),
    the cache under tmp_path/cache, and run(server, *options)."""
    (tmp_path / "mime.types").write_text(MIME_TYPES)
    refresh = tmp_path / "refresh.txt"
    refresh.write_text(auth.refresh_token + "\n")
    os.chmod(refresh, 0o600)
    cache = tmp_path / "cache"
    e = dict(env, XDG_CACHE_HOME=str(cache))

    def _run(server, *options, extra_env=None, stdin=None, ca=True):
        trust = ["/CAFile:" + str(certs / "ca.pem")] if ca else []
        proc = subprocess.run(
            [BIN, "/Receiver:" + RECEIVER, "/Sender:" + SENDER, "/Mailserver:" + server,
             "/TLS", *trust, "/MailUser:" + MAIL_USER,
             "/OAuthTokenURL:" + auth.base + "/token", "/OAuthClientID:" + CLIENT_ID,
             "/OAuthScope:mail.send offline_access", *options],
            cwd=str(workdir), env=dict(e, **(extra_env or {})), stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, timeout=120, input=stdin)
        return Run(proc)

    _run.refresh = refresh
    _run.cache = cache
    return _run


def assert_no_secret(auth, runs, tap=None, files=()):
    """No token, code, verifier or secret on stdout, stderr or the wire,
    nor in `files` (paths that hold none of their own)."""
    for secret in auth.all_secrets():
        for run in runs:
            assert secret not in run.stdout and secret not in run.stderr, secret
        assert tap is None or secret.encode() not in bytes(tap.log), secret
        for path in files:
            assert secret.encode() not in path.read_bytes(), (secret, path)


def cache_files(setup):
    return sorted(setup.cache.glob("postrunner/*")) if setup.cache.exists() else []


def test_refresh_grant_one_request_cache_revocation_and_rotation(setup, auth, sink, workdir):
    data = payload(25000)
    (workdir / "big.bin").write_bytes(data)
    tap = WireTap(sink.port)
    auth.rotate = True
    old_refresh = auth.refresh_token
    refresh_option = "/OAuthRefreshTokenFile:" + str(setup.refresh)
    first = setup("127.0.0.1:%d" % tap.port, refresh_option, "/File:big.bin", "/SplitSize:9000")
    assert first.code == 0, first.stderr
    assert first.stderr == ""
    # Three pieces, one token request, and each piece authenticated with it.
    assert len(sink.messages) == 3
    assert join_pieces([m.content for m in sink.messages])[1] == data
    assert auth.requests == ["refresh_token"]
    assert sink.auth_tries == [auth.issued[0]] * 3
    # The rotated refresh token replaced the file, which stays 0600.
    rotated = setup.refresh.read_text().strip()
    assert rotated != old_refresh and rotated in auth.refresh
    assert stat.S_IMODE(os.stat(setup.refresh).st_mode) == 0o600
    assert [p.name for p in setup.refresh.parent.iterdir()
            if p.name.startswith(".")] == []
    (folder,) = setup.cache.glob("postrunner")
    assert stat.S_IMODE(os.stat(folder).st_mode) == 0o700
    (cached,) = cache_files(setup)
    assert stat.S_IMODE(os.stat(cached).st_mode) == 0o600

    # A second run takes the cached token and asks the endpoint nothing.
    second = setup("127.0.0.1:%d" % tap.port, refresh_option, "/File:big.bin",
                   "/MailAuth:oauthbearer")
    assert second.code == 0, second.stderr
    assert auth.requests == ["refresh_token"]
    assert sink.mechanisms[-1] == "OAUTHBEARER:127.0.0.1:%d" % tap.port

    # A cached token within 60 seconds of its expiry is not used.
    entry = json.loads(cached.read_text())
    entry["expires_at"] = int(time.time()) + 55
    cached.write_text(json.dumps(entry))
    expiring = setup("127.0.0.1:%d" % tap.port, refresh_option, "/File:big.bin")
    assert expiring.code == 0, expiring.stderr
    assert auth.requests == ["refresh_token"] * 2
    assert sink.auth_tries[-1] == auth.issued[1]
    rotated = setup.refresh.read_text().strip()

    # A cached token the server revoked is refreshed once and the piece
    # sent again; the rotated refresh token is stored again.
    auth.valid.clear()
    third = setup("127.0.0.1:%d" % tap.port, refresh_option, "/File:big.bin")
    assert third.code == 0, third.stderr
    assert third.stderr == ""
    assert auth.requests == ["refresh_token"] * 3
    assert sink.auth_tries[-2:] == [auth.issued[1], auth.issued[2]]
    assert setup.refresh.read_text().strip() not in (rotated, old_refresh)
    assert sink.challenge_answers == [b""]
    assert_no_secret(auth, [first, second, expiring, third], tap)
    tap.close()


def test_client_credentials_and_a_refused_fresh_token(setup, auth, sink):
    (setup.refresh.parent / "work" / "a.txt").write_text("hello")
    env = {"POSTRUNNER_OAUTH_CLIENT_SECRET": CLIENT_SECRET}
    run = setup(sink.address, "/OAuthGrant:client_credentials", "/MailAuth:oauthbearer",
                "/File:a.txt", extra_env=env)
    assert run.code == 0, run.stderr
    assert auth.requests == ["client_credentials"]
    assert len(sink.messages) == 1

    # The cached token refused, one fresh token is asked for; when that is
    # refused too, no third: the server's final reply after the challenge
    # is the reason. OAUTHBEARER answers each challenge with ^A (AQ==).
    sink.refuse_all = True
    run = setup(sink.address, "/OAuthGrant:client_credentials", "/MailAuth:oauthbearer",
                "/File:a.txt", extra_env=env)
    assert run.code == 5
    assert "refused AUTH OAUTHBEARER for %s: 535 5.7.8 token refused" % MAIL_USER in run.stderr
    assert auth.requests == ["client_credentials"] * 2
    assert sink.challenge_answers == [b"\x01"] * 2
    assert sink.auth_tries == auth.issued[:1] * 2 + auth.issued[1:2]
    assert len(sink.messages) == 1
    assert cache_files(setup) == []
    assert_no_secret(auth, [run])


ERRORS = [
    ("invalid_grant", 400, b'{"error":"invalid_grant","error_description":"token revoked"}',
     ["invalid_grant: token revoked", "/OAuthLogin"]),
    ("invalid_client", 401, b'{"error":"invalid_client","error_description":"who are you"}',
     ["invalid_client: who are you"]),
    ("server_error", 503, b"<html>busy</html>", ["no JSON object (HTTP 503)"]),
    ("not_json", 200, b"access_token=abc", ["no JSON object (HTTP 200)"]),
    ("no_access_token", 200, b'{"token_type":"Bearer","expires_in":3600}', ["no access_token"]),
    ("bad_expiry", 200, b'{"access_token":"at-x","expires_in":"soon"}', ["expires_in"]),
    ("no_error_code", 500, b'{"message":"down"}', ["HTTP 500"]),
]


def test_endpoint_errors_send_nothing_and_keep_the_refresh_token(setup, auth, sink, workdir):
    (workdir / "a.txt").write_text("hello")
    before = setup.refresh.read_bytes()
    for name, status, body, expected in ERRORS:
        auth.override = (status, body)
        run = setup(sink.address, "/OAuthRefreshTokenFile:" + str(setup.refresh), "/File:a.txt")
        assert run.code == 5, name
        assert "ERROR: File a.txt not sent to " + RECEIVER in run.lines, name
        for text in expected:
            assert text in run.stderr, (name, run.stderr)
        assert len(run.stderr.splitlines()) == 1, run.stderr
        assert run.stderr.startswith("postrunner: the token endpoint " + auth.base + "/token")
        assert setup.refresh.read_bytes() == before, name
        assert_no_secret(auth, [run])
    # The endpoint's certificate is verified as the mail server's is.
    run = setup(sink.address, "/OAuthRefreshTokenFile:" + str(setup.refresh), "/File:a.txt",
                ca=False)
    assert run.code == 5 and "/CAFile:" in run.stderr, run.stderr
    assert run.stderr.startswith("postrunner: cannot reach " + auth.base + "/token: ")
    assert sink.auth_tries == [] and sink.messages == []
    assert cache_files(setup) == []
    assert auth.requests == ["refresh_token"] * len(ERRORS)


def test_refused_secret_files(setup, auth, sink, workdir, tmp_path):
    (workdir / "a.txt").write_text("hello")
    option = "/OAuthRefreshTokenFile:" + str(setup.refresh)
    # A refresh token file open to others, a link to one, a FIFO, a folder.
    link = tmp_path / "link.txt"
    link.symlink_to(setup.refresh)
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo, 0o600)
    os.chmod(setup.refresh, 0o640)
    cases = [(option, "accessible by other users (mode 0640)")]
    for path, text in ((link, "symbolic link"), (fifo, "not a regular file"),
                       (tmp_path, "not a regular file")):
        cases.append(("/OAuthRefreshTokenFile:" + str(path), text))
    for refresh_option, text in cases:
        run = setup(sink.address, refresh_option, "/File:a.txt")
        assert run.code == 5 and text in run.stderr, run.stderr
    os.chmod(setup.refresh, 0o600)
    assert setup("127.0.0.1:%d" % sink.port, option, "/File:a.txt").code == 0
    # A cache file replaced by a link, or a cache folder open to others.
    (cached,) = cache_files(setup)
    target = tmp_path / "elsewhere.json"
    cached.rename(target)
    cached.symlink_to(target)
    run = setup(sink.address, option, "/File:a.txt")
    assert run.code == 5 and "token cache file" in run.stderr and "symbolic link" in run.stderr
    cached.unlink()
    os.chmod(cached.parent, 0o755)
    run = setup(sink.address, option, "/File:a.txt")
    assert run.code == 0 and "token cache folder" in run.stderr and "0755" in run.stderr
    assert auth.requests == ["refresh_token"] * 2
    assert len(sink.messages) == 2


def test_presets_and_provider_shortcut(tmp_path, env, workdir, certs, auth, sink):
    """A cron line of one option: everything else in the user's presets,
    the provider's scope from its shortcut, its endpoints overridden."""
    (tmp_path / "mime.types").write_text(MIME_TYPES)
    refresh = tmp_path / "refresh.txt"
    refresh.write_text(auth.refresh_token + "\n")
    os.chmod(refresh, 0o600)
    secret = tmp_path / "client-secret.txt"
    secret.write_text(CLIENT_SECRET + "\n")
    os.chmod(secret, 0o600)
    values = {"Receiver": RECEIVER, "Sender": SENDER, "Mailserver": sink.address,
              "Security": "tls", "CAFile": str(certs / "ca.pem"), "MailUser": MAIL_USER,
              "OAuthProvider": "microsoft", "OAuthTenant": "contoso.example",
              "OAuthTokenURL": auth.base + "/token", "OAuthClientID": CLIENT_ID,
              "OAuthClientSecretFile": str(secret), "OAuthRefreshTokenFile": str(refresh),
              "OAuthGrant": "refresh_token"}
    lines = "".join('"%s"="%s"\n' % (k, v.replace("\\", "\\\\")) for k, v in values.items())
    (tmp_path / "user.reg").write_text(
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Veltrona\\Dropcart]\n" + lines)
    (workdir / "a.txt").write_text("hello")
    proc = subprocess.run([BIN, "/File:a.txt"], cwd=str(workdir),
                          env=dict(env, XDG_CACHE_HOME=str(tmp_path / "cache")),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    run = Run(proc)
    assert run.code == 0, run.stderr
    assert run.stderr == ""
    assert auth.requests == ["refresh_token"]
    assert auth.scopes == ["https://outlook.office.com/SMTP.Send offline_access"]
    assert sink.mechanisms == ["XOAUTH2"] and len(sink.messages) == 1
    assert_no_secret(auth, [run])
