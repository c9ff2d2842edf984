"""Shared helpers for end-to-end tests of the postrunner binary.

Every test runs the real binary in a temporary working folder with its
registry files redirected there, so no test reads /etc or the real home.
"""
import os
import subprocess

import pytest

BIN = os.environ.get("POSTRUNNER_BIN")

RULE = "=" * 36
BANNER = [RULE, "Veltrona Postrunner 1.2", RULE]


class Run:
    def __init__(self, proc):
        self.code = proc.returncode
        self.stdout = proc.stdout.decode("latin-1")
        self.stderr = proc.stderr.decode("latin-1")
        self.lines = self.stdout.split("\n")
        if self.lines and self.lines[-1] == "":
            self.lines.pop()


def unprivileged():
    """A prefix that runs the binary without the root powers that read any
    file or folder, so that mode 000 fails as it does for other users."""
    if os.geteuid() != 0:
        return []
    prefix = ["setpriv", "--bounding-set=-all", "--inh-caps=-all", "--"]
    if subprocess.run(prefix + ["true"], stderr=subprocess.DEVNULL).returncode != 0:
        pytest.skip("root's powers cannot be dropped here; "
                    "FolderWalkTest injects the failure instead")
    return prefix


@pytest.fixture(scope="module")
def certs(tmp_path_factory):
    """A test authority and a loopback server certificate, one set per module."""
    from smtp_tls_util import make_certificates
    return make_certificates(tmp_path_factory.mktemp("certs"))


@pytest.fixture
def auth(certs):
    """A local HTTPS authorization server, stopped after the test."""
    from oauth_util import AuthServer
    server = AuthServer(certs)
    yield server
    server.stop()


@pytest.fixture
def workdir(tmp_path):
    d = tmp_path / "work"
    d.mkdir()
    return d


@pytest.fixture
def env(tmp_path):
    """Environment with the registry hives pointing at files under tmp_path."""
    e = dict(os.environ)
    e["POSTRUNNER_MACHINE_REGISTRY"] = str(tmp_path / "machine.reg")
    e["POSTRUNNER_USER_REGISTRY"] = str(tmp_path / "user.reg")
    e["POSTRUNNER_MIME_TYPES"] = str(tmp_path / "mime.types")
    e["HOME"] = str(tmp_path / "home")
    e.pop("XDG_CONFIG_HOME", None)
    return e


@pytest.fixture
def run(workdir, env):
    """run(*args, cwd=None, env=None, timeout=60, prefix=()) -> Run"""
    assert BIN, "POSTRUNNER_BIN must name the binary under test"

    def _run(*args, cwd=None, env_override=None, timeout=60, stdin=None,
             stderr_ok=False, prefix=()):
        e = dict(env)
        if env_override:
            e.update(env_override)
        proc = subprocess.run([*prefix, BIN, *args], cwd=str(cwd or workdir), env=e,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=timeout, stdin=subprocess.DEVNULL)
        r = Run(proc)
        if not stderr_ok:
            # Standard error carries only reasons, one line each, prefixed,
            # and only when something failed.
            assert all(line.startswith("postrunner: ")
                       for line in r.stderr.splitlines()), r.stderr
            assert r.code != 0 or r.stderr == "", r.stderr
        return r

    return _run
