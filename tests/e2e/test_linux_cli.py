"""--help, --version, the manual page, installation and the Debian package."""
import os
import re
import shutil
import subprocess

import pytest

from conftest import BIN, BANNER

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.dirname(BIN) if BIN else None
MAN = os.path.join(ROOT, "doc", "postrunner.1")


def readme_options():
    """Every option named in the first column of the README's option table."""
    text = open(os.path.join(ROOT, "README.md"), encoding="utf-8").read()
    return sorted(set(re.findall(r"^\| `(/[A-Za-z]+:?)`", text, re.M)))


def rendered_man():
    proc = subprocess.run(["groff", "-man", "-Tutf8", "-ww", MAN], capture_output=True)
    assert proc.returncode == 0
    assert proc.stderr == b"", proc.stderr.decode()
    return re.sub(r".\x08", "", proc.stdout.decode("utf-8"))


@pytest.mark.parametrize("args", [["--help"], ["-h"], ["/Receiver:a@b", "--help"]])
def test_help_is_printed_alone_and_exits_zero(run, args):
    r = run(*args)
    assert r.code == 0
    assert r.lines[0].startswith("Usage: postrunner")
    assert BANNER[1] not in r.stdout


def test_version_names_the_one_version():
    r = subprocess.run([BIN, "--version"], capture_output=True, text=True)
    assert r.returncode == 0 and r.stderr == ""
    assert re.fullmatch(r"postrunner \d+\.\d+\.\d+\n", r.stdout)
    version = r.stdout.split()[1]
    assert BANNER[1] == "Veltrona Postrunner " + version.rsplit(".", 1)[0]
    cmake = open(os.path.join(ROOT, "CMakeLists.txt")).read()
    assert f"VERSION {version} " in cmake


def test_missing_option_gets_the_error_line_not_the_help_text(run):
    r = run()
    assert r.code == 1
    assert r.lines[3] == "ERROR: Set the receiver"
    assert "Usage: postrunner" not in r.stdout


def test_every_option_is_in_help_and_man_page(run):
    options = readme_options()
    assert len(options) >= 16
    help_text = run("--help").stdout
    man = rendered_man()
    for option in options:
        assert option in help_text, option
        assert option in man, option
    # The preset key reads as a preset file spells it.
    assert "Software\\Veltrona\\Dropcart" in man and "\\\\" not in man


def test_install_puts_binary_man_page_and_sample_in_place(tmp_path):
    prefix = tmp_path / "p"
    subprocess.run(["cmake", "--install", BUILD, "--prefix", str(prefix)], check=True,
                   capture_output=True)
    out = subprocess.run([str(prefix / "bin" / "postrunner"), "--version"],
                         capture_output=True, text=True)
    assert out.returncode == 0
    assert (prefix / "share" / "man" / "man1" / "postrunner.1.gz").is_file()
    doc = prefix / "share" / "doc" / "postrunner"
    for place, hive in (("machine", "LOCAL_MACHINE"), ("user", "CURRENT_USER")):
        sample = (doc / (place + "-registry.reg.sample")).read_text()
        assert "\n[HKEY_%s\\Software\\Veltrona\\Dropcart]\n" % hive in sample


@pytest.mark.skipif(shutil.which("dpkg-deb") is None, reason="needs dpkg-deb")
def test_debian_package_unpacks_runs_and_passes_lintian(tmp_path):
    pkg_dir = tmp_path / "pkg"
    proc = subprocess.run(["cpack", "-G", "DEB", "-B", str(pkg_dir)], cwd=BUILD,
                          capture_output=True, text=True)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    debs = list(pkg_dir.glob("*.deb"))
    assert len(debs) == 1
    fields = subprocess.run(["dpkg-deb", "-f", str(debs[0])], capture_output=True,
                            text=True).stdout
    assert re.search(r"^Depends:.*libcurl4", fields, re.M)
    assert re.search(r"^Depends:.*libssl3", fields, re.M)
    root = tmp_path / "root"
    subprocess.run(["dpkg-deb", "-x", str(debs[0]), str(root)], check=True)
    out = subprocess.run([str(root / "usr" / "bin" / "postrunner"), "--version"],
                         capture_output=True, text=True)
    assert out.returncode == 0 and out.stdout.startswith("postrunner ")
    assert (root / "usr" / "share" / "man" / "man1" / "postrunner.1.gz").is_file()
    # The folder of the machine presets, with no preset file in it.
    assert list((root / "etc" / "postrunner").iterdir()) == []
    if shutil.which("lintian"):
        lint = subprocess.run(["lintian", "--no-tag-display-limit", str(debs[0])],
                              capture_output=True, text=True)
        errors = [l for l in lint.stdout.splitlines() if l.startswith("E:")]
        assert errors == [], lint.stdout


def run_with_terminal_stderr(args, cwd, env):
    """Runs the binary with stderr on a pseudo-terminal; returns
    (exit code, stdout bytes, what the terminal received)."""
    import pty
    import threading
    master, slave = pty.openpty()
    seen = []

    def drain():
        while True:
            try:
                data = os.read(master, 4096)
            except OSError:
                return
            if not data:
                return
            seen.append(data)

    reader = threading.Thread(target=drain)
    reader.start()
    proc = subprocess.run([BIN, *args], cwd=cwd, env=env, stdout=subprocess.PIPE,
                          stderr=slave, stdin=subprocess.DEVNULL, timeout=120)
    os.close(slave)
    reader.join(timeout=10)
    os.close(master)
    return proc.returncode, proc.stdout, b"".join(seen).decode("utf-8", "replace")


def test_progress_line_only_on_a_terminal(workdir, env):
    with open(workdir / "big.bin", "wb") as f:
        f.write(os.urandom(1 << 20) * 24)
    args = ["/CreateOnly", "/Zip:a.zip", "/File:big.bin"]
    code, out, terminal = run_with_terminal_stderr(args, workdir, env)
    assert code == 0
    assert "Archiving big.bin" in terminal and "MB" in terminal
    plain = subprocess.run([BIN, *args], cwd=workdir, env=env, capture_output=True)
    assert plain.returncode == 0 and plain.stderr == b""
    assert out == plain.stdout
    code, out, terminal = run_with_terminal_stderr(args + ["/Quiet"], workdir, env)
    assert code == 0 and terminal == "" and out == plain.stdout
